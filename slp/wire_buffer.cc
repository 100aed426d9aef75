#include "slp/wire_buffer.h"

#include <algorithm>

#include "slp/text.h"

namespace vslp {

void WireReader::need(size_t n, const char* what) const {
  if (n > remaining()) {
    throw WireError(std::string("truncated ") + what);
  }
}

uint8_t WireReader::u8() {
  need(1, "byte");
  return data_[pos_++];
}

uint16_t WireReader::u16() {
  need(2, "16-bit field");
  uint16_t v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
  pos_ += 2;
  return v;
}

uint32_t WireReader::u24() {
  need(3, "24-bit field");
  uint32_t v = (uint32_t{data_[pos_]} << 16) | (uint32_t{data_[pos_ + 1]} << 8) | data_[pos_ + 2];
  pos_ += 3;
  return v;
}

uint32_t WireReader::u32() {
  need(4, "32-bit field");
  uint32_t v = (uint32_t{data_[pos_]} << 24) | (uint32_t{data_[pos_ + 1]} << 16) |
               (uint32_t{data_[pos_ + 2]} << 8) | data_[pos_ + 3];
  pos_ += 4;
  return v;
}

std::vector<uint8_t> WireReader::bytes(size_t n) {
  need(n, "byte string");
  std::vector<uint8_t> v(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                         data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
  pos_ += n;
  return v;
}

std::string WireReader::string() {
  uint16_t length = u16();
  need(length, "string");
  std::string s(reinterpret_cast<const char*>(data_.data() + pos_), length);
  pos_ += length;
  if (!isValidUtf8(s)) {
    throw WireError("string is not UTF-8");
  }
  return s;
}

void WireReader::seek(size_t pos) {
  if (pos > data_.size()) {
    throw WireError("offset outside the message");
  }
  pos_ = pos;
}

void WireWriter::u16(uint32_t v) {
  if (v > 0xffff) {
    throw WireError("value exceeds 16 bits");
  }
  out_.push_back(static_cast<uint8_t>(v >> 8));
  out_.push_back(static_cast<uint8_t>(v));
}

void WireWriter::u24(uint32_t v) {
  if (v > 0xffffff) {
    throw WireError("value exceeds 24 bits");
  }
  out_.push_back(static_cast<uint8_t>(v >> 16));
  out_.push_back(static_cast<uint8_t>(v >> 8));
  out_.push_back(static_cast<uint8_t>(v));
}

void WireWriter::u32(uint32_t v) {
  u16(v >> 16);
  u16(v & 0xffff);
}

void WireWriter::bytes(std::span<const uint8_t> v) {
  out_.insert(out_.end(), v.begin(), v.end());
}

void WireWriter::string(std::string_view s) {
  u16(static_cast<uint32_t>(std::min<size_t>(s.size(), 0x10000)));
  out_.insert(out_.end(), s.begin(), s.end());
}

void WireWriter::patch24(size_t pos, uint32_t v) {
  if (v > 0xffffff || pos + 3 > out_.size()) {
    throw WireError("bad 24-bit patch");
  }
  out_[pos] = static_cast<uint8_t>(v >> 16);
  out_[pos + 1] = static_cast<uint8_t>(v >> 8);
  out_[pos + 2] = static_cast<uint8_t>(v);
}

}  // namespace vslp
