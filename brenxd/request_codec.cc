#include "brenxd/request_codec.h"

#include <algorithm>

namespace brenxd {
namespace {

void appendField(std::vector<uint8_t>& out, const std::string& text) {
  const std::array<uint8_t, 4> length = encodeLength(static_cast<uint32_t>(text.size()));
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::array<uint8_t, 4> encodeLength(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

uint32_t decodeLength(std::span<const uint8_t, 4> bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

std::string fieldText(std::span<const uint8_t> bytes) {
  auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  return std::string(bytes.begin(), end);
}

std::string computerName(const std::string& hostName, const std::string& mac) {
  std::string name = hostName;
  std::replace(name.begin(), name.end(), '.', '-');
  return name + "-" + mac;
}

std::vector<uint8_t> encodeAnswer(const std::string& text) {
  std::vector<uint8_t> out;
  const std::array<uint8_t, 4> length = encodeLength(static_cast<uint32_t>(text.size() + 1));
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
  return out;
}

std::vector<uint8_t> encodeRequest(const std::string& hostName, const std::string& mac) {
  std::vector<uint8_t> out;
  appendField(out, hostName);
  appendField(out, mac);
  return out;
}

}  // namespace brenxd
