#include "slp/reply_fit.h"

#include <algorithm>
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

// A lower bound of the encoded size of a truncatable reply: its list bytes alone.
size_t listBytes(const Message& message) {
  if (const auto* rply = std::get_if<SrvRply>(&message.body)) {
    size_t n = 0;
    for (const UrlEntry& e : rply->urls) {
      n += e.url.size();
    }
    return n;
  }
  if (const auto* rply = std::get_if<AttrRply>(&message.body)) {
    return rply->attrs.size();
  }
  if (const auto* rply = std::get_if<SrvTypeRply>(&message.body)) {
    return rply->types.size();
  }
  return 0;
}

}  // namespace

std::vector<uint8_t> encodeWithin(Message message, size_t limit) {
  if (listBytes(message) <= limit) {
    try {
      std::vector<uint8_t> whole = encode(message);
      if (whole.size() <= limit) {
        return whole;
      }
    } catch (const WireError&) {
      // A list longer than its 16-bit field: truncate like an oversized reply.
    }
  }
  Truncatable t = truncatableOf(message);
  message.header.flags |= kFlagOverflow;
  auto fits = [&](size_t n, std::vector<uint8_t>& out) {
    t.keep(message, n);
    try {
      out = encode(message);
    } catch (const WireError&) {
      return false;
    }
    return out.size() <= limit;
  };
  std::vector<uint8_t> best;
  if (!fits(0, best)) {
    throw WireError("even an empty reply exceeds the limit");
  }
  // Gallop to a prefix that does not fit, then bisect: no candidate is encoded much larger
  // than twice the limit, however long the whole reply is. Invariant: `lo` items fit.
  std::vector<uint8_t> candidate;
  size_t lo = 0;
  size_t hi = 1;
  while (hi <= t.count && fits(hi, candidate)) {
    lo = hi;
    best = std::move(candidate);
    hi *= 2;
  }
  hi = std::min(hi, t.count + 1);  // first count known not to fit (or past the end)
  while (hi - lo > 1) {
    size_t mid = lo + (hi - lo) / 2;
    if (fits(mid, candidate)) {
      lo = mid;
      best = std::move(candidate);
    } else {
      hi = mid;
    }
  }
  return best;
}

}  // namespace vslp
