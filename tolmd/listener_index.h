// ListenerIndex: which listeners (address, port) the event database holds for each event, kept
// in memory beside the file so that "is this listener registered for this event?" needs no walk
// through the event's records, and so that a fan-out can go through an event's listeners
// without reading the file. A daemon serving a fleet registers thousands of listeners with one
// event; walking them all for every registration made registering quadratic, and reading them
// from the file for every signal cost a third of the fan-out.
//
// Events are named by their key text (up to the first NUL, as the database compares keys);
// addresses and ports are in network order, as stored. Each event's listeners are held twice:
// sorted, for the lookups, and in the order of the event's run of records in the file (its
// positions), for the fan-out. The same listener may be held more than once (a file written
// elsewhere may hold duplicates): each entry counts. Not thread safe: the owner (EventDb) guards
// it with the database lock and keeps the positions in step with the file.
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
  // One registration of an event; ordered by address, then port, so one address's entries are
  // neighbours.
  struct Entry {
    uint32_t address;
    uint16_t port;
    auto operator<=>(const Entry&) const = default;
  };

  // Records one more registration of (address, port) with `event`, after the event's others
  // (where the database puts a new duplicate). Throws std::bad_alloc.
  void add(const std::string& event, uint32_t address, uint16_t port);
  // Forgets the registration of (address, port) with `event` at `position` of the event's
  // records; when that position holds another listener (or none), the first entry of this one.
  // Nothing when the event has no such entry.
  void remove(const std::string& event, uint32_t address, uint16_t port, std::size_t position);
  // Replaces the registration at `position` of `event`'s records, (address, port), by
  // (newAddress, newPort), keeping its position. Throws std::bad_alloc.
  void replace(const std::string& event, std::size_t position, uint32_t address, uint16_t port,
               uint32_t newAddress, uint16_t newPort);
  // True when `event` has a registration from `address` (any port).
  bool hasAddress(const std::string& event, uint32_t address) const;
  // True when `event` has any registration.
  bool hasEvent(const std::string& event) const { return events_.contains(event); }
  // True when `event` has a registration of exactly (address, port).
  bool has(const std::string& event, uint32_t address, uint16_t port) const;
  // `event`'s registrations in the order of its records; empty when it has none.
  const std::vector<Entry>& inFileOrder(const std::string& event) const;
  // Forgets everything.
  void clear();
  // The number of registrations held.
  std::size_t size() const { return size_; }

 private:
  struct Listeners {
    std::vector<Entry> sorted;  // duplicates kept next to each other
    std::vector<Entry> stored;  // in the order of the event's records
  };

  std::unordered_map<std::string, Listeners> events_;
  std::size_t size_ = 0;
};

}  // namespace tolmd

#endif  // TOLMD_LISTENER_INDEX_H_
