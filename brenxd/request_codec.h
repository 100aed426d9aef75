// The workstation request protocol as pure functions, shared by the agent and nvo-enrol.
//
// Request (workstation to agent): a 4-byte length and that many bytes of host name, then a
// 4-byte length and that many bytes of MAC address text; each length 0 to 1023, each text ending
// after its bytes or at the first NUL among them. Reply: four 0xFF bytes (refusal), or a 4-byte
// length N and N bytes: the authentication text and one NUL, which N counts. Every integer is
// big-endian. docs/workstation-protocol.md describes the exchange.
#ifndef BRENXD_REQUEST_CODEC_H_
#define BRENXD_REQUEST_CODEC_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brenxd {

// Longest field the agent accepts; a length of 1024 or more is refused.
inline constexpr uint32_t kMaxFieldLength = 1023;
// The refusal: the value -1 in four bytes.
inline constexpr std::array<uint8_t, 4> kRefusal = {0xFF, 0xFF, 0xFF, 0xFF};

std::array<uint8_t, 4> encodeLength(uint32_t value);
uint32_t decodeLength(std::span<const uint8_t, 4> bytes);

// A field's text: its bytes up to the first NUL, or all of them.
std::string fieldText(std::span<const uint8_t> bytes);

// The computer object's name: the host name with every '.' made '-', then '-' and the MAC text
// unchanged ("a.b.c" and "0A1B" give "a-b-c-0A1B").
std::string computerName(const std::string& hostName, const std::string& mac);

// The answer on the wire: length (text + 1), the text and its NUL.
std::vector<uint8_t> encodeAnswer(const std::string& text);

// A whole request. Fields longer than kMaxFieldLength are sent as they are (the agent refuses
// them); this builder is also the tests' way to send bad lengths.
std::vector<uint8_t> encodeRequest(const std::string& hostName, const std::string& mac);

}  // namespace brenxd

#endif  // BRENXD_REQUEST_CODEC_H_
