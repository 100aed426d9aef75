#include "tarvik/location.h"

#include <utility>

namespace tarvik {

LocationEntry rootEntry() {
  return LocationEntry{"", "Top", ""};
}

LocationState::LocationState() : current_(rootEntry()), stack_{rootEntry()} {}

void LocationState::enter(const LocationEntry& child) {
  current_ = child;
  stack_.push_back(child);
  ++depth_;
}

bool LocationState::up(int levels) {
  if (depth_ == 0) {
    return false;
  }
  for (int i = 0; i < levels && depth_ > 0; ++i) {
    stack_.pop_back();
    --depth_;
  }
  current_ = stack_.back();
  return true;
}

bool LocationState::toRoot() {
  return up(depth_);
}

void ChildListing::store(LocationEntry entry) {
  std::string name = entry.displayName;
  entries_.insert_or_assign(std::move(name), std::move(entry));
}

const LocationEntry* ChildListing::find(const std::string& displayName) const {
  auto it = entries_.find(displayName);
  return it == entries_.end() ? nullptr : &it->second;
}

void ChildListing::discard() {
  entries_.clear();
  loaded_ = false;
}

}  // namespace tarvik
