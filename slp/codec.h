// The SLPv2 wire codec: pure functions from bytes to Message and back (RFC 2608 sections 8-11).
// Decoding checks every length, count and offset against the bytes actually present, the
// version, the reserved flag bits, the language tag, UTF-8 strings, authentication block
// sizes and the extension chain (offsets strictly increasing, inside the message). Any
// thread.
#ifndef SLP_CODEC_H_
#define SLP_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "slp/message.h"

namespace vslp {

// Smallest possible message: the 14 fixed header bytes and an empty language tag.
inline constexpr size_t kHeaderFixedSize = 14;

struct DecodeResult {
  // The message when decoding succeeded.
  std::optional<Message> message;
  // Otherwise the protocol error to answer with (kParseError, kVerNotSupported,
  // kOptionNotUnderstood) and a text for the log.
  uint16_t error = kOk;
  std::string reason;
  // True when the header was sound enough to address an error reply: then `function`, `xid`
  // and `lang` hold the request's values.
  bool replyable = false;
  uint8_t function = 0;
  uint16_t xid = 0;
  uint16_t flags = 0;
  std::string lang;
};

// Decodes one whole message; `data` must be exactly the message (its size must equal the
// header's Length field). Never throws except std::bad_alloc.
DecodeResult decode(std::span<const uint8_t> data);

// The Length field of a message whose first `data.size()` (at least 5) bytes are given; empty
// when fewer bytes are present or the version is not 2.
std::optional<uint32_t> peekLength(std::span<const uint8_t> data);

// Encodes `message`; the function id comes from the body's alternative. Throws WireError
// when a string exceeds 65535 bytes, a count its field or the message 16 MiB.
std::vector<uint8_t> encode(const Message& message);

// True when the extension id lies in the mandatory range (0x4000-0x7FFF).
bool isMandatoryExtension(uint16_t id);

}  // namespace vslp

#endif  // SLP_CODEC_H_
