#include "tolmd/listener_index.h"

#include <algorithm>

namespace tolmd {

void ListenerIndex::add(const std::string& event, uint32_t address, uint16_t port) {
  std::vector<Entry>& listeners = events_[event];
  const Entry entry{address, port};
  listeners.insert(std::upper_bound(listeners.begin(), listeners.end(), entry), entry);
  ++size_;
}

void ListenerIndex::remove(const std::string& event, uint32_t address, uint16_t port) {
  auto found = events_.find(event);
  if (found == events_.end()) {
    return;
  }
  std::vector<Entry>& listeners = found->second;
  const Entry entry{address, port};
  auto at = std::lower_bound(listeners.begin(), listeners.end(), entry);
  if (at == listeners.end() || *at != entry) {
    return;
  }
  listeners.erase(at);
  --size_;
  if (listeners.empty()) {
    events_.erase(found);
  }
}

bool ListenerIndex::hasAddress(const std::string& event, uint32_t address) const {
  auto found = events_.find(event);
  if (found == events_.end()) {
    return false;
  }
  const std::vector<Entry>& listeners = found->second;
  auto at = std::lower_bound(listeners.begin(), listeners.end(), Entry{address, 0});
  return at != listeners.end() && at->address == address;
}

bool ListenerIndex::has(const std::string& event, uint32_t address, uint16_t port) const {
  auto found = events_.find(event);
  return found != events_.end() &&
         std::binary_search(found->second.begin(), found->second.end(), Entry{address, port});
}

void ListenerIndex::clear() {
  events_.clear();
  size_ = 0;
}

}  // namespace tolmd
