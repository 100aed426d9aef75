// Bounds-checked big-endian reading and writing of SLP wire fields. WireReader never reads
// outside its span: every read checks the remaining length first and throws WireError
// otherwise. WireWriter appends to a byte vector it owns and throws WireError for values that
// do not fit their field. Not thread-safe; one object per message.
#ifndef SLP_WIRE_BUFFER_H_
#define SLP_WIRE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vslp {

// A message that cannot be decoded or encoded. `code` is the protocol error code an agent
// answers with (2 PARSE_ERROR unless stated otherwise).
class WireError : public std::runtime_error {
 public:
  explicit WireError(const std::string& what, uint16_t code = 2)
      : std::runtime_error(what), code_(code) {}
  uint16_t code() const { return code_; }

 private:
  uint16_t code_;
};

class WireReader {
 public:
  explicit WireReader(std::span<const uint8_t> data) : data_(data) {}

  uint8_t u8();
  uint16_t u16();
  uint32_t u24();
  uint32_t u32();
  // `n` raw bytes.
  std::vector<uint8_t> bytes(size_t n);
  // A 16-bit length followed by that many bytes of valid UTF-8.
  std::string string();
  // Moves to absolute offset `pos`, which must lie within the span.
  void seek(size_t pos);

  size_t position() const { return pos_; }
  size_t remaining() const { return data_.size() - pos_; }

 private:
  void need(size_t n, const char* what) const;

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

class WireWriter {
 public:
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint32_t v);
  void u24(uint32_t v);
  void u32(uint32_t v);
  void bytes(std::span<const uint8_t> v);
  // A 16-bit length and the bytes of `s`; throws when `s` is longer than 65535 bytes.
  void string(std::string_view s);
  // Overwrites the 24-bit field at `pos` (written earlier).
  void patch24(size_t pos, uint32_t v);

  size_t size() const { return out_.size(); }
  std::vector<uint8_t> take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace vslp

#endif  // SLP_WIRE_BUFFER_H_
