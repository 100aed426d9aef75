#include "slp/properties.h"

#include <cstdlib>
#include <fstream>

#include "slp/text.h"

namespace vslp {
namespace {

std::optional<long> parseLong(std::string_view text, long min, long max) {
  text = trim(text);
  if (text.empty() || text.size() > 12) {
    return std::nullopt;
  }
  std::string s(text);
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (end == nullptr || *end != '\0' || v < min || v > max) {
    return std::nullopt;
  }
  return v;
}

}  // namespace

Properties::Properties() {
  // Lookups nobody answers end after two quiet rounds (0.5 s + 0.75 s) and never take longer
  // than 2 s, where RFC 2614 would wait 15 s.
  values_ = {
      {"net.slp.port", "427"},
      {"net.slp.multicastTimeouts", "500,750,1000,1500,2000"},
      {"net.slp.multicastMaximumWait", "2000"},
      {"net.slp.unicastMaximumWait", "3000"},
      {"net.slp.MTU", "1400"},
      {"net.slp.useScopes", "DEFAULT"},
      {"net.slp.interfaces", ""},
      {"net.slp.multicastTTL", "255"},
      {"net.slp.locale", "en"},
      {"net.slp.maxResults", "-1"},
      {"net.slp.watchRegistrationPID", "true"},
      {"vslpd.pidFile", "/var/run/vslpd.pid"},
      {"vslpd.user", "nobody"},
      {"vslpd.maxRegistrations", "4096"},
      {"vslpd.maxRegistrationsPerHost", "1024"},
      {"vslpd.maxConnections", "32"},
      {"vslpd.connectionIdleTimeout", "30"},
  };
}

Properties Properties::load(std::string* error) {
  Properties p;
  const char* env = std::getenv(kConfigEnvironment);
  std::string path = (env != nullptr && *env != '\0') ? env : kDefaultConfigFile;
  std::ifstream probe(path);
  if (probe || (env != nullptr && *env != '\0')) {
    p.readFile(path, error);
  }
  return p;
}

bool Properties::readFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error != nullptr) {
      *error = "cannot open " + path;
    }
    return false;
  }
  std::string line;
  int number = 0;
  bool ok = true;
  while (std::getline(in, line) && number < 100000) {
    ++number;
    std::string_view text = trim(line);
    if (text.empty() || text.front() == '#' || text.front() == ';') {
      continue;
    }
    size_t eq = text.find('=');
    std::string_view name = eq == std::string_view::npos ? "" : trim(text.substr(0, eq));
    if (name.empty()) {
      if (error != nullptr) {
        *error = path + ":" + std::to_string(number) + ": expected name = value";
      }
      ok = false;
      continue;
    }
    set(std::string(name), std::string(trim(text.substr(eq + 1))));
  }
  return ok;
}

void Properties::set(const std::string& name, const std::string& value) {
  values_[name] = value;
  explicit_.insert(name);
}

const std::string* Properties::find(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? nullptr : &it->second;
}

std::string Properties::getString(const std::string& name) const {
  const std::string* v = find(name);
  return v == nullptr ? std::string() : *v;
}

long Properties::getInt(const std::string& name, long fallback, long min, long max) const {
  const std::string* v = find(name);
  if (v == nullptr) {
    return fallback;
  }
  return parseLong(*v, min, max).value_or(fallback);
}

bool Properties::getBool(const std::string& name, bool fallback) const {
  const std::string* v = find(name);
  if (v == nullptr) {
    return fallback;
  }
  std::string f = fold(*v);
  if (f == "true") {
    return true;
  }
  if (f == "false") {
    return false;
  }
  return fallback;
}

std::vector<long> Properties::getIntList(const std::string& name, const std::vector<long>& fallback,
                                         long min, long max) const {
  const std::string* v = find(name);
  if (v == nullptr) {
    return fallback;
  }
  std::vector<long> out;
  for (std::string_view item : splitList(*v)) {
    auto n = parseLong(item, min, max);
    if (!n) {
      return fallback;
    }
    out.push_back(*n);
  }
  return out.empty() ? fallback : out;
}

}  // namespace vslp
