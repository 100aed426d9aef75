// Splitting of service URLs (RFC 2609 "service:" URLs and plain "scheme://" URLs) into the
// parts RFC 2614's SLPParseSrvURL reports. Pure functions; any thread.
#ifndef SLP_SRV_URL_H_
#define SLP_SRV_URL_H_

#include <optional>
#include <string>
#include <string_view>

namespace vslp {

// The parts of a URL. `family` is "" for IP hosts and "v6" for a bracketed IPv6 literal
// (whose brackets are removed from `host`). `port` is 0 when the URL names none.
struct ParsedUrl {
  std::string type;
  std::string host;
  int port = 0;
  std::string family;
  std::string part;
};

// Splits `url`. Empty optional when there is no "scheme://" (type empty or "://" missing), the
// port is not a decimal number up to 65535, or a bracketed host is not closed.
std::optional<ParsedUrl> parseServiceUrl(std::string_view url);

// The service type a registration of `url` is filed under: the text before "://", lower-case
// comparison is left to callers. Empty when `url` has no "://".
std::string serviceTypeOfUrl(std::string_view url);

}  // namespace vslp

#endif  // SLP_SRV_URL_H_
