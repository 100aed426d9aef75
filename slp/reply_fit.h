// Fitting replies into a size limit: the MTU for UDP (RFC 2608 section 6.1, "a reply that
// does not fit is truncated and flagged OVERFLOW"), or the 24-bit Length field for TCP. Pure
// functions; any thread.
#ifndef SLP_REPLY_FIT_H_
#define SLP_REPLY_FIT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "slp/message.h"

namespace vslp {

// Encodes `message` in at most `limit` bytes. When the whole reply does not fit (or one of its
// lists exceeds its 16-bit length field), trailing URL entries (SrvRply), attributes (AttrRply)
// or service types (SrvTypeRply) are left out whole and OVERFLOW is set; the Length field
// always states the size sent. Throws WireError when even the emptied reply does not fit or
// the message is of another kind and does not fit.
std::vector<uint8_t> encodeWithin(Message message, size_t limit);

}  // namespace vslp

#endif  // SLP_REPLY_FIT_H_
