#include "protocol/tolm_wire.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace tolm {
namespace {

// Body offsets of the fixed fields.
constexpr std::size_t kChecksumOffset = 0;
constexpr std::size_t kListenerAddressOffset = 4;
constexpr std::size_t kListenerPortOffset = 8;
constexpr std::size_t kListenerNameLengthOffset = 10;
constexpr std::size_t kListenerNameOffset = 14;
constexpr std::size_t kSignalStaggerTypeOffset = 4;
constexpr std::size_t kSignalStaggerParamOffset = 8;
constexpr std::size_t kSignalNameLengthOffset = 12;
constexpr std::size_t kSignalNameOffset = 16;
constexpr std::size_t kNotifyStaggerTypeOffset = 4;
constexpr std::size_t kNotifyNameLengthOffset = 8;
constexpr std::size_t kNotifyNameOffset = 12;
constexpr std::size_t kWordSize = 4;
constexpr std::size_t kNotifyPadSize = 4;

// Whether `count` bytes starting at `offset` lie inside a body of `size` bytes. A negative
// count never fits. Computed in 64 bits so that no claimed count can overflow.
bool fits(std::size_t size, std::size_t offset, int64_t count) {
  return count >= 0 && static_cast<uint64_t>(offset) + static_cast<uint64_t>(count) <= size;
}

int32_t loadSigned(std::span<const uint8_t> bytes, std::size_t offset) {
  return static_cast<int32_t>(loadWord(bytes, offset));
}

// The bytes of `bytes` up to its first NUL (all of it when it holds none).
std::string cutAtNul(std::span<const uint8_t> bytes) {
  std::size_t end = 0;
  while (end < bytes.size() && bytes[end] != 0) {
    ++end;
  }
  return std::string(reinterpret_cast<const char*>(bytes.data()), end);
}

// A signed 32-bit length word for a packet being built; sizes that cannot be stated on the
// wire are a caller error.
int32_t lengthWord(std::size_t value) {
  if (value > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    throw std::length_error("tolm packet too large");
  }
  return static_cast<int32_t>(value);
}

// Writes the header of a packet whose body is the rest of `packet`, then the checksum word of
// that body (body offset 0) over body bytes 4 onwards.
void sealPacket(std::vector<uint8_t>& packet, uint32_t function) {
  const std::size_t bodySize = packet.size() - kHeaderSize;
  const HeaderBytes header = encodeHeader({kProtocolVersion, function, lengthWord(bodySize)});
  std::memcpy(packet.data(), header.data(), header.size());
  std::span<uint8_t> body(packet.data() + kHeaderSize, bodySize);
  storeWord(body, kChecksumOffset, checksum(body.subspan(kWordSize)));
}

void appendBytes(std::vector<uint8_t>& packet, const void* bytes, std::size_t size) {
  const auto* first = static_cast<const uint8_t*>(bytes);
  packet.insert(packet.end(), first, first + size);
}

void appendWord(std::vector<uint8_t>& packet, uint32_t value) {
  const std::size_t at = packet.size();
  packet.resize(at + kWordSize);
  storeWord(packet, at, value);
}

}  // namespace

HeaderBytes encodeHeader(const Header& header) {
  HeaderBytes bytes{};
  storeWord(bytes, 0, header.version);
  storeWord(bytes, 4, header.function);
  storeWord(bytes, 8, static_cast<uint32_t>(header.length));
  return bytes;
}

Header decodeHeader(std::span<const uint8_t, kHeaderSize> bytes) {
  Header header;
  header.version = loadWord(bytes, 0);
  header.function = loadWord(bytes, 4);
  header.length = static_cast<int32_t>(loadWord(bytes, 8));
  return header;
}

uint32_t loadWord(std::span<const uint8_t> bytes, std::size_t offset) {
  return (static_cast<uint32_t>(bytes[offset]) << 24) |
         (static_cast<uint32_t>(bytes[offset + 1]) << 16) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 8) | static_cast<uint32_t>(bytes[offset + 3]);
}

void storeWord(std::span<uint8_t> bytes, std::size_t offset, uint32_t value) {
  bytes[offset] = static_cast<uint8_t>(value >> 24);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 16);
  bytes[offset + 2] = static_cast<uint8_t>(value >> 8);
  bytes[offset + 3] = static_cast<uint8_t>(value);
}

uint32_t checksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t byte : bytes) {
    sum += byte;  // unsigned arithmetic: wraps modulo 2^32 by definition
  }
  return sum;
}

bool checksumMatches(std::span<const uint8_t> body) {
  return body.size() >= kWordSize &&
         loadWord(body, kChecksumOffset) == checksum(body.subspan(kWordSize));
}

const char* functionLabel(uint32_t function) {
  switch (function) {
    case kFuncRegister:
      return "Event Registration";
    case kFuncDeregister:
      return "Event Deregistration";
    case kFuncSignal:
      return "Event Signal";
    default:
      return "Unknown";
  }
}

uint32_t answerCodeFor(uint32_t function) {
  switch (function) {
    case kFuncRegister:
      return kAnswerRegister;
    case kFuncDeregister:
      return kAnswerDeregister;
    case kFuncSignal:
      return kAnswerSignal;
    default:
      return kAnswerUnknown;
  }
}

bool bodyLengthAcceptable(uint32_t function, int32_t length) {
  int32_t minimum = 0;
  if (function == kFuncRegister || function == kFuncDeregister) {
    minimum = kMinListenerBodyLength;
  } else if (function == kFuncSignal) {
    minimum = kMinSignalBodyLength;
  }
  return length >= minimum && length <= kMaxBodyLength;
}

ParseStatus parseListenerRequest(std::span<const uint8_t> body, bool isRegister,
                                 ListenerRequest& out) {
  if (body.size() < kWordSize) {
    return ParseStatus::kTruncated;
  }
  if (!checksumMatches(body)) {
    return ParseStatus::kBadChecksum;
  }
  if (body.size() < kListenerNameOffset) {
    return ParseStatus::kTruncated;
  }
  const int32_t nameLength = loadSigned(body, kListenerNameLengthOffset);
  if (isRegister && (nameLength < 0 || nameLength > kMaxRegisterNameLength)) {
    return ParseStatus::kBadName;
  }
  if (!fits(body.size(), kListenerNameOffset, nameLength)) {
    return ParseStatus::kTruncated;
  }
  ListenerRequest parsed;
  // Address and port are kept byte for byte, i.e. in network order in memory.
  std::memcpy(&parsed.address, body.data() + kListenerAddressOffset, sizeof parsed.address);
  std::memcpy(&parsed.port, body.data() + kListenerPortOffset, sizeof parsed.port);
  parsed.name = cutAtNul(body.subspan(kListenerNameOffset, static_cast<std::size_t>(nameLength)));
  out = std::move(parsed);
  return ParseStatus::kOk;
}

ParseStatus parseSignalRequest(std::span<const uint8_t> body, SignalRequest& out) {
  if (body.size() < kWordSize) {
    return ParseStatus::kTruncated;
  }
  if (!checksumMatches(body)) {
    return ParseStatus::kBadChecksum;
  }
  if (body.size() < kSignalNameOffset) {
    return ParseStatus::kTruncated;
  }
  const int32_t nameLength = loadSigned(body, kSignalNameLengthOffset);
  // The name and the dataLength word after it must both lie inside the body.
  if (!fits(body.size(), kSignalNameOffset, int64_t{nameLength} + int64_t{kWordSize})) {
    return ParseStatus::kTruncated;
  }
  const std::size_t dataLengthOffset = kSignalNameOffset + static_cast<std::size_t>(nameLength);
  const int32_t dataLength = loadSigned(body, dataLengthOffset);
  const std::size_t dataOffset = dataLengthOffset + kWordSize;
  if (!fits(body.size(), dataOffset, dataLength)) {
    return ParseStatus::kTruncated;
  }
  SignalRequest parsed;
  parsed.staggerType = loadSigned(body, kSignalStaggerTypeOffset);
  parsed.staggerParam = loadSigned(body, kSignalStaggerParamOffset);
  // Exactly nameLength bytes: a NUL the client counted stays part of the name, and the daemon
  // forwards the name that way.
  parsed.name.assign(reinterpret_cast<const char*>(body.data() + kSignalNameOffset),
                     static_cast<std::size_t>(nameLength));
  const auto data = body.subspan(dataOffset, static_cast<std::size_t>(dataLength));
  parsed.data.assign(data.begin(), data.end());
  out = std::move(parsed);
  return ParseStatus::kOk;
}

std::vector<uint8_t> buildSignalRequest(std::string_view name, std::span<const uint8_t> data,
                                        int32_t staggerType) {
  std::vector<uint8_t> packet(kHeaderSize + kWordSize);  // header and checksum, filled last
  appendWord(packet, static_cast<uint32_t>(staggerType));
  appendWord(packet, 0);  // staggerParam: the client library always sends 0
  appendWord(packet, static_cast<uint32_t>(lengthWord(name.size() + 1)));
  appendBytes(packet, name.data(), name.size());
  packet.push_back(0);
  appendWord(packet, static_cast<uint32_t>(lengthWord(data.size())));
  appendBytes(packet, data.data(), data.size());
  sealPacket(packet, kFuncSignal);
  return packet;
}

std::vector<uint8_t> buildListenerRequest(uint32_t function, uint32_t address, uint16_t port,
                                          std::string_view name) {
  std::vector<uint8_t> packet(kHeaderSize + kWordSize);
  appendBytes(packet, &address, sizeof address);  // already in network order
  appendBytes(packet, &port, sizeof port);
  appendWord(packet, static_cast<uint32_t>(lengthWord(name.size())));
  appendBytes(packet, name.data(), name.size());
  sealPacket(packet, function);
  return packet;
}

std::vector<uint8_t> buildNotify(std::string_view storedName, int32_t staggerType,
                                 std::span<const uint8_t> data) {
  std::vector<uint8_t> packet(kHeaderSize + kWordSize);
  appendWord(packet, static_cast<uint32_t>(staggerType));
  appendWord(packet, static_cast<uint32_t>(lengthWord(storedName.size() + 1)));
  appendBytes(packet, storedName.data(), storedName.size());
  packet.push_back(0);
  appendWord(packet, static_cast<uint32_t>(lengthWord(data.size())));
  appendBytes(packet, data.data(), data.size());
  packet.resize(packet.size() + kNotifyPadSize, 0);  // pad: zero, covered by the checksum
  sealPacket(packet, kFuncNotify);
  return packet;
}

ParseStatus parseNotify(std::span<const uint8_t> body, Notification& out) {
  if (body.size() < kWordSize) {
    return ParseStatus::kTruncated;
  }
  if (!checksumMatches(body)) {
    return ParseStatus::kBadChecksum;
  }
  if (body.size() < kNotifyNameOffset) {
    return ParseStatus::kTruncated;
  }
  const int32_t nameLength = loadSigned(body, kNotifyNameLengthOffset);
  if (!fits(body.size(), kNotifyNameOffset, int64_t{nameLength} + int64_t{kWordSize})) {
    return ParseStatus::kTruncated;
  }
  const std::size_t dataLengthOffset = kNotifyNameOffset + static_cast<std::size_t>(nameLength);
  const int32_t dataLength = loadSigned(body, dataLengthOffset);
  const std::size_t dataOffset = dataLengthOffset + kWordSize;
  // The trailing pad is ignored by receivers, so a body without it is still complete.
  if (!fits(body.size(), dataOffset, dataLength)) {
    return ParseStatus::kTruncated;
  }
  Notification parsed;
  parsed.staggerType = loadSigned(body, kNotifyStaggerTypeOffset);
  parsed.name = cutAtNul(body.subspan(kNotifyNameOffset, static_cast<std::size_t>(nameLength)));
  const auto data = body.subspan(dataOffset, static_cast<std::size_t>(dataLength));
  parsed.data.assign(data.begin(), data.end());
  out = std::move(parsed);
  return ParseStatus::kOk;
}

HeaderBytes buildPing() {
  return encodeHeader({kProtocolVersion, kFuncPing, 0});
}

HeaderBytes buildAnswer(uint32_t answerCode, int32_t result) {
  return encodeHeader({kProtocolVersion, answerCode, result});
}

}  // namespace tolm
