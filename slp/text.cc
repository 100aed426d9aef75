#include "slp/text.h"

#include <cstdint>

namespace vslp {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

int hexValue(char c) {
  if (isDigit(c)) {
    return c - '0';
  }
  char l = lower(c);
  if (l >= 'a' && l <= 'f') {
    return l - 'a' + 10;
  }
  return -1;
}

constexpr std::string_view kServicePrefix = "service:";

}  // namespace

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && isSpace(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

std::string fold(std::string_view s) {
  s = trim(s);
  std::string out;
  out.reserve(s.size());
  bool inSpace = false;
  for (char c : s) {
    if (isSpace(c)) {
      inSpace = true;
      continue;
    }
    if (inSpace) {
      out.push_back(' ');
      inSpace = false;
    }
    out.push_back(lower(c));
  }
  return out;
}

bool equalFolded(std::string_view a, std::string_view b) {
  return fold(a) == fold(b);
}

std::vector<std::string_view> splitList(std::string_view list) {
  std::vector<std::string_view> out;
  while (true) {
    size_t comma = list.find(',');
    std::string_view item = trim(list.substr(0, comma));
    if (!item.empty()) {
      out.push_back(item);
    }
    if (comma == std::string_view::npos) {
      return out;
    }
    list.remove_prefix(comma + 1);
  }
}

bool listsIntersect(std::string_view a, std::string_view b) {
  for (std::string_view x : splitList(a)) {
    for (std::string_view y : splitList(b)) {
      if (equalFolded(x, y)) {
        return true;
      }
    }
  }
  return false;
}

bool listIsSubset(std::string_view subset, std::string_view set) {
  auto items = splitList(subset);
  if (items.empty()) {
    return false;
  }
  for (std::string_view x : items) {
    if (!listsIntersect(x, set)) {
      return false;
    }
  }
  return true;
}

bool isReservedChar(unsigned char c) {
  switch (c) {
    case '(':
    case ')':
    case ',':
    case '\\':
    case '!':
    case '<':
    case '=':
    case '>':
    case '~':
      return true;
    default:
      return c < 0x20 || c == 0x7f;
  }
}

bool isBadTagChar(unsigned char c) {
  return c == '*' || c == '\r' || c == '\n' || c == '\t';
}

std::optional<std::string> escapeText(std::string_view in, bool isTag) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(in.size());
  for (char ch : in) {
    auto c = static_cast<unsigned char>(ch);
    if (isTag && isBadTagChar(c)) {
      return std::nullopt;
    }
    if (isReservedChar(c)) {
      out.push_back('\\');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xf]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::optional<std::string> unescapeText(std::string_view in, bool isTag) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char ch = in[i];
    if (ch == '\\') {
      if (i + 2 >= in.size()) {
        return std::nullopt;
      }
      int hi = hexValue(in[i + 1]);
      int lo = hexValue(in[i + 2]);
      if (hi < 0 || lo < 0) {
        return std::nullopt;
      }
      ch = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (isTag && isBadTagChar(static_cast<unsigned char>(ch))) {
      return std::nullopt;
    }
    out.push_back(ch);
  }
  return out;
}

bool isWellEscaped(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') {
      if (i + 2 >= s.size() || hexValue(s[i + 1]) < 0 || hexValue(s[i + 2]) < 0) {
        return false;
      }
      i += 2;
    } else if (isReservedChar(static_cast<unsigned char>(s[i]))) {
      return false;
    }
  }
  return true;
}

bool isValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<uint8_t>(s[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xe0) == 0xc0) {
      extra = 1;
      cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      extra = 2;
      cp = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) {
      return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
      auto cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xc0) != 0x80) {
        return false;
      }
      cp = (cp << 6) | (cc & 0x3f);
    }
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

bool isValidLanguageTag(std::string_view tag) {
  size_t partLength = 0;
  bool first = true;
  for (char c : tag) {
    if (c == '-') {
      if (partLength == 0) {
        return false;
      }
      first = false;
      partLength = 0;
      continue;
    }
    bool ok = first ? isAlpha(c) : (isAlpha(c) || isDigit(c));
    if (!ok || ++partLength > 8) {
      return false;
    }
  }
  return partLength > 0;
}

std::string primaryLanguage(std::string_view tag) {
  return fold(tag.substr(0, tag.find('-')));
}

std::string normalizeServiceType(std::string_view type) {
  std::string folded = fold(type);
  if (folded.compare(0, kServicePrefix.size(), kServicePrefix) == 0) {
    folded.erase(0, kServicePrefix.size());
  }
  return folded;
}

bool serviceTypeMatches(std::string_view requested, std::string_view registered) {
  std::string req = normalizeServiceType(requested);
  std::string reg = normalizeServiceType(registered);
  if (req.empty()) {
    return false;
  }
  if (req == reg) {
    return true;
  }
  return reg.size() > req.size() && reg.compare(0, req.size(), req) == 0 && reg[req.size()] == ':';
}

std::string namingAuthorityOf(std::string_view type) {
  std::string norm = normalizeServiceType(type);
  std::string abstract = norm.substr(0, norm.find(':'));
  size_t dot = abstract.find('.');
  return dot == std::string::npos ? std::string() : abstract.substr(dot + 1);
}

bool wildcardMatch(std::string_view pattern, std::string_view tag) {
  std::string p = fold(pattern);
  std::string t = fold(tag);
  // Classic greedy glob match with one back-tracking point: O(|p| * |t|) at worst.
  size_t pi = 0;
  size_t ti = 0;
  size_t star = std::string::npos;
  size_t mark = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ti;
    } else if (pi < p.size() && p[pi] == t[ti]) {
      ++pi;
      ++ti;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') {
    ++pi;
  }
  return pi == p.size();
}

}  // namespace vslp
