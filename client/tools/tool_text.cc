#include "client/tools/tool_text.h"

#include <charconv>
#include <limits>

namespace vokra {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

template <typename T>
std::optional<T> parseNumber(std::string_view text) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || at != end) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<int32_t> parseStaggerType(std::string_view text) {
  if (text == "default") {
    return 0;
  }
  if (text == "timed") {
    return 1;
  }
  if (text == "sequential") {
    return 2;
  }
  return parseNumber<int32_t>(text);
}

std::optional<std::vector<uint8_t>> parseHex(std::string_view text) {
  if (text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = hexValue(text[i]);
    const int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

std::string toHex(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const uint8_t byte : bytes) {
    text.push_back(kHexDigits[byte >> 4]);
    text.push_back(kHexDigits[byte & 0x0F]);
  }
  return text;
}

bool isPrintable(std::span<const uint8_t> bytes) {
  for (const uint8_t byte : bytes) {
    if (byte < 0x20 || byte > 0x7E) {
      return false;
    }
  }
  return true;
}

std::string formatPayload(std::span<const uint8_t> payload, bool forceHex) {
  if (!forceHex && isPrintable(payload)) {
    return "text=" + std::string(payload.begin(), payload.end());
  }
  return "hex=" + toHex(payload);
}

std::string escapeName(std::string_view name) {
  std::string text;
  for (const char c : name) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte > 0x20 && byte < 0x7F && c != '\\') {
      text.push_back(c);
    } else {
      text += "\\x";
      text.push_back(kHexDigits[byte >> 4]);
      text.push_back(kHexDigits[byte & 0x0F]);
    }
  }
  return text;
}

const char* describeResult(int result) {
  switch (result) {
    case 0:
      return "accepted";
    case -1:
      return "rejected: protocol version mismatch";
    case -3:
      return "rejected: bad packet or checksum";
    case -5:
      return "rejected: invalid request";
    case -7:
      return "no event daemon found";
    case -9:
      return "empty event name";
    case -10:
      return "request could not be built";
    case -11:
      return "connecting, sending or receiving failed";
    default:
      return "unknown result";
  }
}

std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t min, uint64_t max) {
  const auto value = parseNumber<uint64_t>(text);
  if (!value || *value < min || *value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<HostPort> parseHostPort(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) {
    return std::nullopt;
  }
  const auto port = parseUnsigned(text.substr(colon + 1), 1, std::numeric_limits<uint16_t>::max());
  if (!port) {
    return std::nullopt;
  }
  return HostPort{std::string(text.substr(0, colon)), static_cast<uint16_t>(*port)};
}

}  // namespace vokra
