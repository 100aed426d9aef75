// QRstring: the support library's value string. std::string already offers everything callers
// use (assign, append, compare, find, erase, +), so it is that type.
#ifndef OUTSIDE_QRSTRING_H_
#define OUTSIDE_QRSTRING_H_

#include <string>

namespace teska {

using QRstring = std::string;

}  // namespace teska

#endif  // OUTSIDE_QRSTRING_H_
