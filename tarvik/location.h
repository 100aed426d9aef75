// Where the console stands in the directory tree: the current location, the stack of locations
// walked down to reach it, and the cached listing of its children.
//
// LocationEntry is one directory object as the console knows it. LocationState keeps the
// current entry, the stack (bottom always the root entry, top equal to the current entry) and
// the depth counter (entries above the root). ChildListing maps display names, ordered
// byte-wise, to the children of the current location as last fetched.
//
// All three are plain values: copyable and movable, used by one thread.
#ifndef TARVIK_LOCATION_H_
#define TARVIK_LOCATION_H_

#include <map>
#include <string>
#include <vector>

namespace tarvik {

struct LocationEntry {
  std::string objectId;
  std::string displayName;
  std::string objectClass;

  friend bool operator==(const LocationEntry&, const LocationEntry&) = default;
};

// The root of the tree: no object ID, display name "Top", no class.
LocationEntry rootEntry();

class LocationState {
 public:
  // Starts at the root, with the root entry alone on the stack and depth 0.
  LocationState();

  const LocationEntry& current() const { return current_; }
  int depth() const { return depth_; }
  bool atRoot() const { return current_.displayName == "Top"; }

  // Steps down into `child`: it becomes the current entry and the new top of the stack.
  void enter(const LocationEntry& child);
  // Pops up to `levels` entries, stopping at the root. False (nothing changes) when the depth
  // is already 0; otherwise the current entry becomes the new top.
  bool up(int levels);
  // Pops back to the root. False when the depth is already 0.
  bool toRoot();

 private:
  LocationEntry current_;
  std::vector<LocationEntry> stack_;
  int depth_ = 0;
};

class ChildListing {
 public:
  bool loaded() const { return loaded_; }
  void markLoaded() { loaded_ = true; }
  // Stores `entry` under its display name; a later entry of the same name replaces the earlier.
  void store(LocationEntry entry);
  // The entry named exactly `displayName`, or null. Never adds an entry.
  const LocationEntry* find(const std::string& displayName) const;
  // Frees every entry and clears the loaded flag.
  void discard();

  bool empty() const { return entries_.empty(); }
  // Entries in ascending byte-wise order of display name.
  const std::map<std::string, LocationEntry>& entries() const { return entries_; }

 private:
  std::map<std::string, LocationEntry> entries_;
  bool loaded_ = false;
};

}  // namespace tarvik

#endif  // TARVIK_LOCATION_H_
