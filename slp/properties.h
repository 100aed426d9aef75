// Properties: the configuration of the library and the daemon as RFC 2614 properties
// ("net.slp.port = 427"), read from vslp.conf in the configuration directory of the installation
// (VSLP_SYSCONFDIR, /etc for the prefix /usr) or the file named by the environment
// variable VSLP_CONF. Lines are "name = value"; '#' and ';' start comment lines; unknown names
// are kept, so SLPGetProperty can report them. Value, copyable; not thread-safe (the C API
// guards its process-wide instance with a mutex).
#ifndef SLP_PROPERTIES_H_
#define SLP_PROPERTIES_H_

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#ifndef VSLP_SYSCONFDIR
#define VSLP_SYSCONFDIR "/etc"
#endif

namespace vslp {

inline constexpr const char* kDefaultConfigFile = VSLP_SYSCONFDIR "/vslp.conf";
inline constexpr const char* kConfigEnvironment = "VSLP_CONF";

class Properties {
 public:
  // The built-in defaults.
  Properties();

  // Defaults overlaid with the file named by VSLP_CONF, else kDefaultConfigFile. A missing file
  // leaves the defaults; an unreadable or malformed file is reported through `error` (when
  // given) and its good lines still apply.
  static Properties load(std::string* error = nullptr);

  // Applies the properties of file `path`. False (and `error` set) when the file cannot be
  // opened or has malformed lines; the good lines apply in any case.
  bool readFile(const std::string& path, std::string* error);

  void set(const std::string& name, const std::string& value);
  // True when `name` was set by a file or set(), not only by the defaults.
  bool isSet(const std::string& name) const { return explicit_.count(name) != 0; }
  // The value of `name`, or nullptr. The pointer stays valid until `name` is set again.
  const std::string* find(const std::string& name) const;

  std::string getString(const std::string& name) const;
  // Decimal value within [min, max]; `fallback` when absent or malformed.
  long getInt(const std::string& name, long fallback, long min, long max) const;
  // "true"/"false" (any case); `fallback` otherwise.
  bool getBool(const std::string& name, bool fallback) const;
  // Comma list of decimal values within [min, max]; `fallback` when absent or any element
  // malformed.
  std::vector<long> getIntList(const std::string& name, const std::vector<long>& fallback, long min,
                               long max) const;

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> explicit_;
};

}  // namespace vslp

#endif  // SLP_PROPERTIES_H_
