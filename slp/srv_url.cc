#include "slp/srv_url.h"

namespace vslp {
namespace {

bool isDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

// Parses the optional ":port" at the start of `rest`; returns false on a malformed port.
bool takePort(std::string_view& rest, int& port) {
  port = 0;
  if (rest.empty() || rest.front() != ':') {
    return true;
  }
  rest.remove_prefix(1);
  size_t end = rest.find_first_of("/;?#");
  std::string_view digits = rest.substr(0, end);
  if (!isDigits(digits) || digits.size() > 5) {
    return false;
  }
  for (char c : digits) {
    port = port * 10 + (c - '0');
  }
  if (port > 65535) {
    return false;
  }
  rest.remove_prefix(digits.size());
  return true;
}

}  // namespace

std::string serviceTypeOfUrl(std::string_view url) {
  size_t sep = url.find("://");
  if (sep == std::string_view::npos) {
    return {};
  }
  return std::string(url.substr(0, sep));
}

std::optional<ParsedUrl> parseServiceUrl(std::string_view url) {
  size_t sep = url.find("://");
  if (sep == std::string_view::npos || sep == 0) {
    return std::nullopt;
  }
  ParsedUrl out;
  out.type = std::string(url.substr(0, sep));
  std::string_view rest = url.substr(sep + 3);
  if (!rest.empty() && rest.front() == '[') {
    size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    out.host = std::string(rest.substr(1, close - 1));
    out.family = "v6";
    rest.remove_prefix(close + 1);
  } else {
    size_t end = rest.find_first_of(":/;?#");
    out.host = std::string(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }
  if (!takePort(rest, out.port)) {
    return std::nullopt;
  }
  out.part = std::string(rest);
  return out;
}

}  // namespace vslp
