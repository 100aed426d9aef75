#include "gateway/xml_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>

namespace nvo::xml {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes the well-formed sequence at the start of `bytes` into `code`; returns its length or 0.
std::size_t decodeUtf8(std::string_view bytes, char32_t& code) {
  if (bytes.empty()) {
    return 0;
  }
  const auto b0 = static_cast<unsigned char>(bytes[0]);
  if (b0 < 0x80) {
    code = b0;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;   // range of the second byte, which rules out overlong forms,
  unsigned char high = 0xBF;  // surrogates and values above U+10FFFF
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    code = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    code = b0 & 0x0F;
    low = b0 == 0xE0 ? 0xA0 : 0x80;
    high = b0 == 0xED ? 0x9F : 0xBF;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    code = b0 & 0x07;
    low = b0 == 0xF0 ? 0x90 : 0x80;
    high = b0 == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (bytes.size() < length) {
    return 0;
  }
  const auto b1 = static_cast<unsigned char>(bytes[1]);
  if (b1 < low || b1 > high) {
    return 0;
  }
  code = (code << 6) | (b1 & 0x3F);
  for (std::size_t i = 2; i < length; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (!isContinuation(b)) {
      return 0;
    }
    code = (code << 6) | (b & 0x3F);
  }
  return length;
}

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Moves the first character of `bytes` to `out`: a well-formed UTF-8 sequence as it is, any
// other byte as U+FFFD.
void takeUtf8OrReplacement(std::string& out, std::string_view& bytes) {
  const std::size_t length = utf8SequenceLength(bytes);
  out.append(length == 0 ? kReplacementUtf8 : bytes.substr(0, length));
  bytes.remove_prefix(length == 0 ? 1 : length);
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

bool isUtf8Codeset(const char* codeset) {
  return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

}  // namespace

std::size_t plainPrefix(std::string_view text) {
  static constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c) {
      plain[static_cast<std::size_t>(c)] =
          c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
    }
    return plain;
  }();
  std::size_t i = 0;
  while (i < text.size() && kPlain[static_cast<unsigned char>(text[i])]) {
    ++i;
  }
  return i;
}

std::size_t utf8SequenceLength(std::string_view bytes) {
  char32_t code = 0;
  return decodeUtf8(bytes, code);
}

std::size_t utf8SequenceLength(std::string_view bytes, char32_t& code) {
  return decodeUtf8(bytes, code);
}

void appendUtf16(std::u16string& out, char32_t code) {
  if (code >= 0x10000) {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (code >> 10));
    out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
  } else {
    out += static_cast<char16_t>(code);
  }
}

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    char32_t code = kReplacement;
    std::size_t length = decodeUtf8(utf8, code);
    if (length == 0) {
      code = kReplacement;
      length = 1;
    }
    appendUtf16(out, code);
    utf8.remove_prefix(length);
  }
  return out;
}

std::string toUtf8(const char16_t* utf16) {
  return utf16 == nullptr ? std::string() : toUtf8(std::u16string_view(utf16));
}

std::string toUtf8(std::u16string_view utf16) {
  // The ASCII part at the front (often all of it) is copied unit for unit into place.
  std::size_t ascii = 0;
  while (ascii < utf16.size() && utf16[ascii] < 0x80) {
    ++ascii;
  }
  std::string out(ascii, '\0');
  for (std::size_t i = 0; i < ascii; ++i) {
    out[i] = static_cast<char>(utf16[i]);
  }
  if (ascii == utf16.size()) {
    return out;
  }
  out.reserve(utf16.size() + (utf16.size() - ascii) * 2);
  for (std::size_t i = ascii; i < utf16.size(); ++i) {
    char32_t code = utf16[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;
    }
    appendUtf8(out, code);
  }
  return out;
}

void appendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
}

void appendEscapedForRoundTrip(std::string& out, std::string_view utf8, EscapeContext where) {
  const bool attribute = where == EscapeContext::kAttribute;
  std::size_t plain = 0;  // start of the run not yet copied
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::string_view replacement;
    if (c == '\r') {
      replacement = "&#13;";
    } else if (c == '\t' && attribute) {
      replacement = "&#9;";
    } else if (c == '\n' && attribute) {
      replacement = "&#10;";
    } else if (c < 0x20 && c != '\t' && c != '\n') {
      replacement = kReplacementUtf8;
    } else if (c == 0xEF && utf8.substr(i, 2) == "\xEF\xBF" && i + 2 < utf8.size() &&
               (utf8[i + 2] == '\xBE' || utf8[i + 2] == '\xBF')) {
      out.append(utf8.substr(plain, i - plain));
      out += kReplacementUtf8;
      i += 2;
      plain = i + 1;
      continue;
    } else if (c != '&' && c != '<' && c != '>' && c != '"' && c != '\'') {
      continue;
    }
    out.append(utf8.substr(plain, i - plain));
    if (replacement.empty()) {
      appendEscaped(out, utf8.substr(i, 1));
    } else {
      out += replacement;
    }
    plain = i + 1;
  }
  out.append(utf8.substr(plain));
}

std::string localeToUtf8(const char* chars, std::size_t length) {
  std::string out;
  if (chars == nullptr || length == 0) {
    return out;
  }
  std::string_view rest(chars, length);
  const char* codeset = nl_langinfo(CODESET);
  IconvHandle cd;
  if (codeset != nullptr && !isUtf8Codeset(codeset)) {
    void* raw = iconv_open("UTF-8", codeset);
    if (raw != reinterpret_cast<void*>(static_cast<std::intptr_t>(-1))) {
      cd.reset(raw);
    }
  }
  if (!cd) {
    // A UTF-8 locale, or a character set iconv does not know: keep what is UTF-8.
    while (!rest.empty()) {
      takeUtf8OrReplacement(out, rest);
    }
    return out;
  }
  const auto handle = static_cast<iconv_t>(cd.get());
  char buffer[4096];
  while (!rest.empty()) {
    char* in = const_cast<char*>(rest.data());  // iconv's interface; it does not write there
    std::size_t inLeft = rest.size();
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(handle, &in, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    rest.remove_prefix(rest.size() - inLeft);
    if (result != static_cast<std::size_t>(-1) || error == E2BIG) {
      continue;
    }
    // EILSEQ or EINVAL (a sequence cut off at the end): not text of this character set.
    takeUtf8OrReplacement(out, rest);
    iconv(handle, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
  }
  char* outPtr = buffer;
  std::size_t outLeft = sizeof buffer;
  iconv(handle, nullptr, nullptr, &outPtr, &outLeft);  // a stateful set may end with a reset
  out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
  return out;
}

}  // namespace nvo::xml
