#include "slp/reply_fit.h"

#include <functional>
#include <string>

#include "slp/codec.h"
#include "slp/wire_buffer.h"

namespace vslp {
namespace {

// Splits a list at the commas outside parentheses (an attribute list's top level).
std::vector<std::string> topLevelItems(const std::string& list) {
  std::vector<std::string> items;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i <= list.size(); ++i) {
    if (i == list.size() || (list[i] == ',' && depth == 0)) {
      items.push_back(list.substr(start, i - start));
      start = i + 1;
    } else if (list[i] == '(') {
      ++depth;
    } else if (list[i] == ')' && depth > 0) {
      --depth;
    }
  }
  return items;
}

std::string joinPrefix(const std::vector<std::string>& items, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += (i == 0 ? "" : ",") + items[i];
  }
  return out;
}

// The number of items of a truncatable reply, and a way to keep only the first n.
struct Truncatable {
  size_t count = 0;
  std::function<void(Message&, size_t)> keep;
};

Truncatable truncatableOf(const Message& message) {
  if (const auto* rply = std::get_if<SrvRply>(&message.body)) {
    std::vector<UrlEntry> all = rply->urls;
    return {all.size(), [all](Message& m, size_t n) {
              std::get<SrvRply>(m.body).urls.assign(all.begin(),
                                                    all.begin() + static_cast<long>(n));
            }};
  }
  if (const auto* rply = std::get_if<AttrRply>(&message.body)) {
    std::vector<std::string> items = topLevelItems(rply->attrs);
    return {items.size(), [items](Message& m, size_t n) {
              std::get<AttrRply>(m.body).attrs = joinPrefix(items, n);
            }};
  }
  if (const auto* rply = std::get_if<SrvTypeRply>(&message.body)) {
    std::vector<std::string> items = topLevelItems(rply->types);
    return {items.size(), [items](Message& m, size_t n) {
              std::get<SrvTypeRply>(m.body).types = joinPrefix(items, n);
            }};
  }
  throw WireError("message does not fit and cannot be truncated");
}

}  // namespace

std::vector<uint8_t> encodeWithin(Message message, size_t limit) {
  try {
    std::vector<uint8_t> whole = encode(message);
    if (whole.size() <= limit) {
      return whole;
    }
  } catch (const WireError&) {
    // A field overflowed (a list longer than 65535 bytes): truncate like an oversized reply.
  }
  Truncatable t = truncatableOf(message);
  message.header.flags |= kFlagOverflow;
  // Binary search for the largest prefix that fits; `lo` items always fit once checked.
  size_t lo = 0;
  size_t hi = t.count;
  t.keep(message, 0);
  std::vector<uint8_t> best = encode(message);
  if (best.size() > limit) {
    throw WireError("even an empty reply exceeds the limit");
  }
  while (lo < hi) {
    size_t mid = lo + (hi - lo + 1) / 2;
    t.keep(message, mid);
    std::vector<uint8_t> candidate;
    try {
      candidate = encode(message);
    } catch (const WireError&) {
      candidate.clear();
    }
    if (!candidate.empty() && candidate.size() <= limit) {
      lo = mid;
      best = std::move(candidate);
    } else {
      hi = mid - 1;
    }
  }
  return best;
}

}  // namespace vslp
