// Text conversions of the command-line tools tolm-signal and tolm-listen: stagger types,
// hexadecimal payloads, result codes, and the printable form of event names and payloads.
// Pure functions; no state.
#ifndef CLIENT_TOOLS_TOOL_TEXT_H_
#define CLIENT_TOOLS_TOOL_TEXT_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vokra {

// "default" 0, "timed" 1, "sequential" 2, or a decimal 32-bit number (negative allowed).
// nullopt for anything else.
std::optional<int32_t> parseStaggerType(std::string_view text);

// Pairs of hexadecimal digits (either case) into bytes; "" gives no bytes. nullopt for an odd
// count or a non-hex character.
std::optional<std::vector<uint8_t>> parseHex(std::string_view text);

// Lower-case hexadecimal, two digits per byte.
std::string toHex(std::span<const uint8_t> bytes);

// True when every byte is printable ASCII (0x20..0x7E); true for no bytes.
bool isPrintable(std::span<const uint8_t> bytes);

// "text=" and the payload itself when it is printable and `forceHex` is false, else "hex=" and
// its hexadecimal form.
std::string formatPayload(std::span<const uint8_t> payload, bool forceHex);

// The event name with every byte outside 0x21..0x7E, and the backslash, written as \xHH, so
// one name is one word on one line.
std::string escapeName(std::string_view name);

// What a signalEvent result means, for example "accepted" for 0 or "no event daemon found" for
// -7; "unknown result" for codes no part of the system gives.
const char* describeResult(int result);

// A decimal number in min..max; nullopt for anything else.
std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t min, uint64_t max);

// Parses "HOST:PORT" (port 1..65535); nullopt when malformed.
struct HostPort {
  std::string host;
  uint16_t port = 0;
};
std::optional<HostPort> parseHostPort(std::string_view text);

}  // namespace vokra

#endif  // CLIENT_TOOLS_TOOL_TEXT_H_
