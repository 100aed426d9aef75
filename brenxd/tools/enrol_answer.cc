#include "brenxd/tools/enrol_answer.h"

#include <algorithm>

#include "brenxd/request_codec.h"

namespace brenxd {

EnrolAnswer readAnswer(std::span<const uint8_t> received) {
  using Kind = EnrolAnswer::Kind;
  if (received.size() < 4) {
    return {Kind::kIncomplete, {}};
  }
  if (std::equal(kRefusal.begin(), kRefusal.end(), received.begin())) {
    return {received.size() == 4 ? Kind::kRefused : Kind::kMalformed, {}};
  }
  const uint32_t length = decodeLength(received.first<4>());
  if (length == 0 || length > kMaxAnswerText + 1) {
    return {Kind::kMalformed, {}};
  }
  std::span<const uint8_t> body = received.subspan(4);
  if (body.size() < length) {
    return {Kind::kIncomplete, {}};
  }
  if (body.size() > length || body[length - 1] != 0) {
    return {Kind::kMalformed, {}};
  }
  std::span<const uint8_t> text = body.first(length - 1);
  if (std::find(text.begin(), text.end(), uint8_t{0}) != text.end()) {
    return {Kind::kMalformed, {}};
  }
  return {Kind::kAnswer, std::string(text.begin(), text.end())};
}

}  // namespace brenxd
