// ListenerIndex: which listeners (address, port) the event database holds for each event, kept
// in memory beside the file so that "is this listener registered for this event?" needs no walk
// through the event's records. A daemon serving a fleet registers thousands of listeners with
// one event; walking them all for every registration made registering quadratic.
//
// Events are named by their key text (up to the first NUL, as the database compares keys);
// addresses and ports are in network order, as stored. The same listener may be held more than
// once (a file written elsewhere may hold duplicates): each entry counts. Not thread safe: the
// owner (EventDb) guards it with the database lock.
#ifndef TOLMD_LISTENER_INDEX_H_
#define TOLMD_LISTENER_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tolmd {

class ListenerIndex {
 public:
  // Records one more registration of (address, port) with `event`. Throws std::bad_alloc.
  void add(const std::string& event, uint32_t address, uint16_t port);
  // Forgets one registration of (address, port) with `event`; nothing when there is none.
  void remove(const std::string& event, uint32_t address, uint16_t port);
  // True when `event` has a registration from `address` (any port).
  bool hasAddress(const std::string& event, uint32_t address) const;
  // True when `event` has any registration.
  bool hasEvent(const std::string& event) const { return events_.contains(event); }
  // True when `event` has a registration of exactly (address, port).
  bool has(const std::string& event, uint32_t address, uint16_t port) const;
  // Forgets everything.
  void clear();
  // The number of registrations held.
  std::size_t size() const { return size_; }

 private:
  // One listener of an event; ordered by address, then port, so one address's entries are
  // neighbours.
  struct Entry {
    uint32_t address;
    uint16_t port;
    auto operator<=>(const Entry&) const = default;
  };

  // Per event, its listeners sorted (duplicates kept next to each other).
  std::unordered_map<std::string, std::vector<Entry>> events_;
  std::size_t size_ = 0;
};

}  // namespace tolmd

#endif  // TOLMD_LISTENER_INDEX_H_
