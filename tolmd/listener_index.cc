#include "tolmd/listener_index.h"

#include <algorithm>

namespace tolmd {
namespace {

void eraseOneSorted(std::vector<ListenerIndex::Entry>& sorted, const ListenerIndex::Entry& entry) {
  auto at = std::lower_bound(sorted.begin(), sorted.end(), entry);
  if (at != sorted.end() && *at == entry) {
    sorted.erase(at);
  }
}

// The stored entry `entry` at `position` when it is there (the position the database's cursor
// knows), else its first occurrence; end() when there is none.
std::vector<ListenerIndex::Entry>::iterator findStored(std::vector<ListenerIndex::Entry>& stored,
                                                       std::size_t position,
                                                       const ListenerIndex::Entry& entry) {
  if (position < stored.size() && stored[position] == entry) {
    return stored.begin() + static_cast<std::ptrdiff_t>(position);
  }
  return std::find(stored.begin(), stored.end(), entry);
}

}  // namespace

void ListenerIndex::add(const std::string& event, uint32_t address, uint16_t port) {
  Listeners& listeners = events_[event];
  const Entry entry{address, port};
  // Room in both first, so that a failure leaves the two alike.
  listeners.stored.reserve(listeners.stored.size() + 1);
  listeners.sorted.insert(std::upper_bound(listeners.sorted.begin(), listeners.sorted.end(), entry),
                          entry);
  listeners.stored.push_back(entry);
  ++size_;
}

void ListenerIndex::remove(const std::string& event, uint32_t address, uint16_t port,
                           std::size_t position) {
  auto found = events_.find(event);
  if (found == events_.end()) {
    return;
  }
  Listeners& listeners = found->second;
  const Entry entry{address, port};
  auto at = findStored(listeners.stored, position, entry);
  if (at == listeners.stored.end()) {
    return;
  }
  listeners.stored.erase(at);
  eraseOneSorted(listeners.sorted, entry);
  --size_;
  if (listeners.stored.empty()) {
    events_.erase(found);
  }
}

void ListenerIndex::replace(const std::string& event, std::size_t position, uint32_t address,
                            uint16_t port, uint32_t newAddress, uint16_t newPort) {
  auto found = events_.find(event);
  if (found == events_.end()) {
    add(event, newAddress, newPort);
    return;
  }
  Listeners& listeners = found->second;
  const Entry old{address, port};
  const Entry entry{newAddress, newPort};
  auto at = findStored(listeners.stored, position, old);
  if (at == listeners.stored.end()) {
    add(event, newAddress, newPort);
    return;
  }
  listeners.sorted.insert(std::upper_bound(listeners.sorted.begin(), listeners.sorted.end(), entry),
                          entry);
  eraseOneSorted(listeners.sorted, old);
  *at = entry;
}

bool ListenerIndex::hasAddress(const std::string& event, uint32_t address) const {
  auto found = events_.find(event);
  if (found == events_.end()) {
    return false;
  }
  const std::vector<Entry>& sorted = found->second.sorted;
  auto at = std::lower_bound(sorted.begin(), sorted.end(), Entry{address, 0});
  return at != sorted.end() && at->address == address;
}

bool ListenerIndex::has(const std::string& event, uint32_t address, uint16_t port) const {
  auto found = events_.find(event);
  return found != events_.end() &&
         std::binary_search(found->second.sorted.begin(), found->second.sorted.end(),
                            Entry{address, port});
}

const std::vector<ListenerIndex::Entry>& ListenerIndex::inFileOrder(
    const std::string& event) const {
  static const std::vector<Entry> kNone;
  auto found = events_.find(event);
  return found == events_.end() ? kNone : found->second.stored;
}

void ListenerIndex::clear() {
  events_.clear();
  size_ = 0;
}

}  // namespace tolmd
