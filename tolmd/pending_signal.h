// PendingSignal: one signalled event waiting in the Signaler's queue, from the SIGNAL request
// until its delivery has ended.
//
// Owns copies of the event name and the payload. The in-progress flag is guarded by the
// Signaler's queue mutex; everything else is fixed at construction.
#ifndef TOLMD_PENDING_SIGNAL_H_
#define TOLMD_PENDING_SIGNAL_H_

#include <cstdint>
#include <span>
#include <vector>

#include "outside/qrstring.h"

namespace tolmd {

class PendingSignal {
 public:
  PendingSignal(teska::QRstring eventName, std::span<const uint8_t> payload, int32_t staggerType,
                int32_t staggerParam);

  // The event name exactly as built from the SIGNAL's name bytes (a counted NUL included).
  const teska::QRstring& eventName() const { return eventName_; }
  std::span<const uint8_t> payload() const { return payload_; }
  int32_t staggerType() const { return staggerType_; }
  int32_t staggerParam() const { return staggerParam_; }

  bool inProgress() const { return inProgress_; }
  void setInProgress() { inProgress_ = true; }

  // True when a new signal (name, payload, type) would be absorbed by this one: same event
  // name, same payload bytes and same stagger type (the stagger parameter does not count).
  bool sameSignal(const teska::QRstring& eventName, std::span<const uint8_t> payload,
                  int32_t staggerType) const;

 private:
  teska::QRstring eventName_;
  std::vector<uint8_t> payload_;
  int32_t staggerType_;
  int32_t staggerParam_;
  bool inProgress_ = false;
};

}  // namespace tolmd

#endif  // TOLMD_PENDING_SIGNAL_H_
