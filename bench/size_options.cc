#include "bench/size_options.h"

#include <cstdlib>
#include <sstream>

namespace nvo_bench {

bool readSizeOptions(int argc, char** argv, const std::map<std::string, std::size_t*>& sizes,
                     std::set<int>* figures, const std::set<std::string>& zeroAllowed) {
  if (argc % 2 == 0) {
    return false;  // a name without its value
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--figures" && figures != nullptr) {
      figures->clear();
      std::istringstream list(value);
      for (std::string figure; std::getline(list, figure, ',');) {
        figures->insert(std::atoi(figure.c_str()));
      }
      continue;
    }
    const auto target = sizes.find(name);
    char* end = nullptr;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (target == sizes.end() || value.empty() || *end != '\0' || number < 0 ||
        (number == 0 && zeroAllowed.count(name) == 0)) {
      return false;
    }
    *target->second = static_cast<std::size_t>(number);
  }
  return true;
}

}  // namespace nvo_bench
