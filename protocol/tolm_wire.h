// The event wire protocol spoken between tolmd, its signalling clients and its listeners.
//
// Pure functions only: no sockets, no logging, no state. Every packet is a 12-byte header of
// three big-endian 32-bit words (version, function, length-or-result) followed, for requests
// and notifications, by `length` body bytes whose first word is the byte-sum checksum of the
// rest of the body. docs/protocol.md describes every field.
//
// Listener addresses and ports are carried "as received": the four address bytes and the two
// port bytes are copied unchanged into a uint32_t / uint16_t, so the values are in network byte
// order in memory, exactly as the daemon stores and uses them.
//
// Parsers never read outside the span they are given: a field that claims more bytes than the
// body holds makes the whole request invalid.
#ifndef PROTOCOL_TOLM_WIRE_H_
#define PROTOCOL_TOLM_WIRE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolm {

inline constexpr uint32_t kProtocolVersion = 0x00010001;

// Function codes (second header word of a request, probe or notification).
inline constexpr uint32_t kFuncRegister = 0xF0000001;
inline constexpr uint32_t kFuncDeregister = 0xF0000002;
inline constexpr uint32_t kFuncSignal = 0xF0000003;
inline constexpr uint32_t kFuncNotify = 0xF0000004;
inline constexpr uint32_t kFuncPing = 0xF0000006;

// Answer codes (second header word of an answer).
inline constexpr uint32_t kAnswerRegister = 0xE0000001;
inline constexpr uint32_t kAnswerDeregister = 0xE0000002;
inline constexpr uint32_t kAnswerSignal = 0xE0000003;
inline constexpr uint32_t kAnswerBadChecksum = 0xE0000004;
inline constexpr uint32_t kAnswerPing = 0xE0000006;
inline constexpr uint32_t kAnswerUnknown = 0xFFFFFFFF;

// Result codes (third header word of an answer).
inline constexpr int32_t kRcOk = 0;
inline constexpr int32_t kRcBadVersion = -1;
inline constexpr int32_t kRcBadPacket = -3;
inline constexpr int32_t kRcInvalidRequest = -5;
inline constexpr int32_t kRcUnreachable = -12;

// Stagger types of a SIGNAL as the Signaler interprets them; other values mean default.
inline constexpr int32_t kStaggerTimed = 1;
inline constexpr int32_t kStaggerSequential = 2;

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr int32_t kMaxBodyLength = 4096;
inline constexpr int32_t kMinListenerBodyLength = 11;  // REGISTER and DEREGISTER
inline constexpr int32_t kMinSignalBodyLength = 16;
inline constexpr int32_t kMaxRegisterNameLength = 1028;
inline constexpr std::size_t kSequentialAckSize = 4;

using HeaderBytes = std::array<uint8_t, kHeaderSize>;

// The three header words in host byte order. `length` is the body length of a request, probe
// or notification, and the result code of an answer.
struct Header {
  uint32_t version = kProtocolVersion;
  uint32_t function = 0;
  int32_t length = 0;
};

HeaderBytes encodeHeader(const Header& header);
Header decodeHeader(std::span<const uint8_t, kHeaderSize> bytes);

// Big-endian 32-bit load and store at `offset`; the caller guarantees offset + 4 <= size.
uint32_t loadWord(std::span<const uint8_t> bytes, std::size_t offset);
void storeWord(std::span<uint8_t> bytes, std::size_t offset, uint32_t value);

// Sum of every byte (0..255) of `bytes`, wrapping modulo 2^32. Empty input sums to 0.
uint32_t checksum(std::span<const uint8_t> bytes);

// True when `body` holds at least 4 bytes and its first word equals the checksum of the rest.
bool checksumMatches(std::span<const uint8_t> body);

// Log label of a function code: "Event Registration", "Event Deregistration", "Event Signal",
// or "Unknown" for every other code.
const char* functionLabel(uint32_t function);

// Answer code for a request function: kAnswerRegister, kAnswerDeregister, kAnswerSignal, or
// kAnswerUnknown for every other code.
uint32_t answerCodeFor(uint32_t function);

// True when a request of `function` may carry a body of `length` bytes: at most
// kMaxBodyLength for every function, and at least the function's minimum (11 for REGISTER and
// DEREGISTER, 16 for SIGNAL, 0 for unknown functions). Comparisons are signed.
bool bodyLengthAcceptable(uint32_t function, int32_t length);

// Outcome of parsing a request body.
enum class ParseStatus {
  kOk,
  kBadChecksum,  // the checksum word does not match the rest of the body
  kBadName,      // REGISTER only: nameLength outside 0..kMaxRegisterNameLength
  kTruncated,    // a fixed field or a counted field lies (partly) beyond the body, or a count is
                 // negative
};

// REGISTER / DEREGISTER body.
struct ListenerRequest {
  uint32_t address = 0;  // network order, as received
  uint16_t port = 0;     // network order, as received
  std::string name;      // the nameLength name bytes, cut at the first NUL; may be empty
};

// Parses a REGISTER (`isRegister` true) or DEREGISTER body. The checksum is tested first, then
// (REGISTER) the name bound, then that every field lies inside the body.
ParseStatus parseListenerRequest(std::span<const uint8_t> body, bool isRegister,
                                 ListenerRequest& out);

// SIGNAL body.
struct SignalRequest {
  int32_t staggerType = 0;
  int32_t staggerParam = 0;
  std::string name;           // exactly the nameLength name bytes, a counted NUL included
  std::vector<uint8_t> data;  // the dataLength payload bytes
};

// Parses a SIGNAL body: checksum first, then that name, dataLength and data lie inside the body.
ParseStatus parseSignalRequest(std::span<const uint8_t> body, SignalRequest& out);

// The builders below throw std::length_error when a size cannot be stated in a signed 32-bit
// length word; keeping requests within kMaxBodyLength is the caller's business.

// A complete SIGNAL request as the client library builds it: nameLength counts the name's
// characters plus one NUL, staggerParam is 0, and the packet is 33 + name size + data size bytes.
std::vector<uint8_t> buildSignalRequest(std::string_view name, std::span<const uint8_t> data,
                                        int32_t staggerType);

// A complete REGISTER or DEREGISTER request (`function` kFuncRegister or kFuncDeregister) as a
// listener program builds it: address and port in network order, nameLength = name size (no
// NUL is added).
std::vector<uint8_t> buildListenerRequest(uint32_t function, uint32_t address, uint16_t port,
                                          std::string_view name);

// A complete NOTIFY packet for `storedName` (N characters, any embedded NUL kept): length is
// N + data size + 21, nameLength N + 1, the name is followed by one NUL, and the trailing 4-byte
// pad is zero and covered by the checksum.
std::vector<uint8_t> buildNotify(std::string_view storedName, int32_t staggerType,
                                 std::span<const uint8_t> data);

// NOTIFY body as a listener decodes it.
struct Notification {
  int32_t staggerType = 0;
  std::string name;  // the name field cut at its first NUL
  std::vector<uint8_t> data;
};

// Parses the body of a NOTIFY: checksum first, then field bounds.
ParseStatus parseNotify(std::span<const uint8_t> body, Notification& out);

// The 12-byte PING probe: version, kFuncPing, 0.
HeaderBytes buildPing();

// A 12-byte answer: version, `answerCode`, `result`.
HeaderBytes buildAnswer(uint32_t answerCode, int32_t result);

}  // namespace tolm

#endif  // PROTOCOL_TOLM_WIRE_H_
