#include "gateway/ldap_text.h"

#include <algorithm>
#include <cstddef>

#include "gateway/xml_text.h"

namespace nvo {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void appendHexEscape(std::string& out, unsigned char byte) {
  out += '\\';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0f];
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The length of the escape starting at text[i] ('\' then a special or two hex digits), or 0
// when it is not a complete escape.
std::size_t escapeLength(std::string_view text, std::size_t i) {
  if (i + 1 >= text.size()) {
    return 0;
  }
  if (i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
    return 3;
  }
  return 2;
}

// Position of the first unescaped `c` in `text` from `from`, or npos; npos also when an
// escape dangles (the caller checks well-formedness separately).
std::size_t findUnescaped(std::string_view text, char c, std::size_t from = 0) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '\\') {
      std::size_t n = escapeLength(text, i);
      if (n == 0) {
        return std::string_view::npos;
      }
      i += n - 1;
    } else if (text[i] == c) {
      return i;
    }
  }
  return std::string_view::npos;
}

bool wellFormedRdn(std::string_view rdn) {
  // Each attribute-type-and-value of a (possibly multi-valued) RDN: type '=' value.
  std::size_t start = 0;
  while (true) {
    std::size_t plus = findUnescaped(rdn, '+', start);
    std::string_view ava =
        rdn.substr(start, plus == std::string_view::npos ? rdn.npos : plus - start);
    std::size_t eq = ava.find('=');
    if (eq == 0 || eq == std::string_view::npos) {
      return false;
    }
    std::string_view type = ava.substr(0, eq);
    for (char c : type) {
      if (!isAlpha(c) && !isDigit(c) && c != '-' && c != '.') {
        return false;
      }
    }
    std::string_view value = ava.substr(eq + 1);
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\') {
        std::size_t n = escapeLength(value, i);
        if (n == 0) {
          return false;
        }
        i += n - 1;
      } else if (value[i] == '\0') {
        return false;
      }
    }
    if (plus == std::string_view::npos) {
      return true;
    }
    start = plus + 1;
  }
}

}  // namespace

std::string escapeFilterValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
      appendHexEscape(out, static_cast<unsigned char>(c));
    } else {
      out += c;
    }
  }
  return out;
}

std::string wildcardFilterValue(std::string_view pattern) {
  // An escaped piece never ends in a raw '*' (a literal star is "\2a"), so a raw '*' at the
  // end of `out` is always the previous wildcard.
  std::string out;
  for (char c : pattern) {
    if (c != '*') {
      out += escapeFilterValue(std::string_view(&c, 1));
    } else if (out.empty() || out.back() != '*') {
      out += '*';
    }
  }
  return out;
}

std::string escapeRdnValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    bool leading = i == 0 && (c == '#' || c == ' ');
    bool trailing = i + 1 == value.size() && c == ' ';
    if (c == '\0') {
      appendHexEscape(out, 0);
    } else if (leading || trailing || c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' ||
               c == '>' || c == ';' || c == '=') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::vector<std::string>> splitDn(std::string_view dn) {
  std::vector<std::string> rdns;
  if (dn.empty()) {
    return rdns;
  }
  std::size_t start = 0;
  while (true) {
    std::size_t comma = findUnescaped(dn, ',', start);
    std::string_view rdn = dn.substr(start, comma == dn.npos ? dn.npos : comma - start);
    if (!wellFormedRdn(rdn)) {
      return std::nullopt;
    }
    rdns.emplace_back(rdn);
    if (comma == dn.npos) {
      return rdns;
    }
    start = comma + 1;
  }
}

std::string rdnType(std::string_view rdn) {
  return lowerAscii(rdn.substr(0, rdn.find('=')));
}

std::string rdnValue(std::string_view rdn) {
  std::size_t eq = rdn.find('=');
  if (eq == rdn.npos) {
    return {};
  }
  std::string_view value = rdn.substr(eq + 1);
  std::size_t plus = findUnescaped(value, '+');
  value = value.substr(0, plus);
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 >= value.size()) {
      out += value[i];
      continue;
    }
    std::size_t n = escapeLength(value, i);
    if (n == 3) {
      out += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
    } else {
      out += value[i + 1];
    }
    i += n - 1;
  }
  return out;
}

std::string parentDn(std::string_view dn) {
  std::size_t comma = findUnescaped(dn, ',');
  return comma == dn.npos ? std::string() : std::string(dn.substr(comma + 1));
}

std::string displayNameOf(std::string_view dn) {
  std::size_t comma = findUnescaped(dn, ',');
  return rdnValue(dn.substr(0, comma));
}

bool dnIsWithin(std::string_view dn, std::string_view ancestor) {
  auto inner = splitDn(dn);
  auto outer = splitDn(ancestor);
  if (!inner || !outer || outer->size() > inner->size()) {
    return false;
  }
  std::size_t offset = inner->size() - outer->size();
  for (std::size_t i = 0; i < outer->size(); ++i) {
    const std::string& a = (*inner)[offset + i];
    const std::string& b = (*outer)[i];
    if (rdnType(a) != rdnType(b) || lowerAscii(rdnValue(a)) != lowerAscii(rdnValue(b))) {
      return false;
    }
  }
  return true;
}

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

bool isAttributeName(std::string_view name) {
  if (name.empty() || name.size() > 64 || !isAlpha(name[0])) {
    return false;
  }
  for (char c : name) {
    if (!isAlpha(c) && !isDigit(c) && c != '-') {
      return false;
    }
  }
  return true;
}

bool isUuid(std::string_view text) {
  if (text.size() != 36) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : hexDigit(text[i]) < 0) {
      return false;
    }
  }
  return true;
}

std::string xmlText(std::string_view text, bool inAttribute) {
  std::string out;
  appendXmlText(out, text, inAttribute);
  return out;
}

void appendXmlText(std::string& out, std::string_view text, bool inAttribute) {
  if (xml::plainPrefix(text) == text.size()) {
    out.append(text);
    return;
  }
  // The documents layer's serializer escaping wants valid UTF-8: every byte outside a
  // well-formed sequence becomes U+FFFD first.
  std::string valid;
  valid.reserve(text.size());
  while (!text.empty()) {
    std::size_t length = xml::utf8SequenceLength(text);
    valid.append(length == 0 ? std::string_view("\xef\xbf\xbd") : text.substr(0, length));
    text.remove_prefix(length == 0 ? 1 : length);
  }
  xml::appendEscapedForRoundTrip(
      out, valid, inAttribute ? xml::EscapeContext::kAttribute : xml::EscapeContext::kText);
}

}  // namespace nvo
