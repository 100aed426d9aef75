#include "tolmd/pending_signal.h"

#include <algorithm>

namespace tolmd {

PendingSignal::PendingSignal(teska::QRstring eventName, std::span<const uint8_t> payload,
                             int32_t staggerType, int32_t staggerParam)
    : eventName_(std::move(eventName)),
      payload_(payload.begin(), payload.end()),
      staggerType_(staggerType),
      staggerParam_(staggerParam) {}

bool PendingSignal::sameSignal(const teska::QRstring& eventName, std::span<const uint8_t> payload,
                               int32_t staggerType) const {
  return eventName == eventName_ && staggerType == staggerType_ &&
         std::equal(payload.begin(), payload.end(), payload_.begin(), payload_.end());
}

}  // namespace tolmd
