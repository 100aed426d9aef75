// Text from outside (the network, the directory) made safe for a log line or a terminal line.
#ifndef OUTSIDE_CONTROL_TEXT_H_
#define OUTSIDE_CONTROL_TEXT_H_

#include <string>
#include <string_view>

namespace teska {

// `text` with every control byte (0x00 to 0x1F and 0x7F) written as "\xNN", two lower-case
// hex digits, so that it can neither end the line it stands in nor steer a terminal. Every
// other byte, a backslash included, is kept: an ordinary text stays as it is, byte for byte.
inline std::string escapeControlBytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace teska

#endif  // OUTSIDE_CONTROL_TEXT_H_
