#include "gateway/directory.h"

#include <strings.h>

namespace nvo {

const std::vector<std::string>& DirEntry::values(const std::string& name) const {
  static const std::vector<std::string> kNone;
  for (const DirAttribute& a : attributes) {
    if (strcasecmp(a.name.c_str(), name.c_str()) == 0) {
      return a.values;
    }
  }
  return kNone;
}

std::string DirEntry::first(const std::string& name) const {
  const std::vector<std::string>& v = values(name);
  return v.empty() ? std::string() : v.front();
}

}  // namespace nvo
