#include "gateway/plain_document.h"

#include <array>
#include <string>
#include <vector>

#include "gateway/xml_text.h"

namespace nvo::xml {

namespace {

// The XML declarations taken as they are; any other goes to the hardened parser.
constexpr std::array<std::string_view, 4> kDeclarations = {
    "<?xml version='1.0' encoding='UTF-8'?>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
    "<?xml version='1.0'?>", "<?xml version=\"1.0\"?>"};

// The longest character reference taken ("&#x10FFFF;" and leading zeros aside).
constexpr std::size_t kMaxReference = 10;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

bool isNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isNameChar(char c) {
  return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A character XML 1.0 carries and that no parser treats specially here: no control
// characters (C0 but tab and line feed as literals, DEL, C1), no surrogates, no U+FFFE/U+FFFF.
bool isPlainCharacter(char32_t code) {
  return code == '\t' || code == '\n' || (code >= 0x20 && code < 0x7F) ||
         (code >= 0xA0 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
         (code >= 0x10000 && code <= 0x10FFFF);
}

// The character a reference names ("amp", "#65", "#x41"), or 0 when it is not one taken here.
char32_t referenced(std::string_view name) {
  if (name == "amp") {
    return '&';
  }
  if (name == "lt") {
    return '<';
  }
  if (name == "gt") {
    return '>';
  }
  if (name == "quot") {
    return '"';
  }
  if (name == "apos") {
    return '\'';
  }
  if (name.size() < 2 || name[0] != '#') {
    return 0;
  }
  const bool hex = name[1] == 'x';
  std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) {
    return 0;
  }
  char32_t code = 0;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      return 0;
    }
    code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    if (code > 0x10FFFF) {
      return 0;
    }
  }
  // A reference may name a carriage return, which then stays one (no line-end handling).
  return code == '\r' || isPlainCharacter(code) ? code : 0;
}

// Text (or an attribute value when `attribute`) with its references replaced, as UTF-16
// appended to `out`; false when it holds anything not plain.
bool decode(std::string_view raw, bool attribute, std::u16string& out) {
  if (raw.find("]]>") != std::string_view::npos) {
    return false;
  }
  std::size_t i = 0;
  while (i < raw.size()) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c == '&') {
      const std::size_t end = raw.find(';', i);
      if (end == std::string_view::npos || end - i > kMaxReference) {
        return false;
      }
      const char32_t code = referenced(raw.substr(i + 1, end - i - 1));
      if (code == 0) {
        return false;
      }
      appendUtf16(out, code);
      i = end + 1;
      continue;
    }
    if (c < 0x80) {
      // A parser normalises tab and line feed in an attribute value to spaces.
      if (c == '<' || !isPlainCharacter(c) || (attribute && c < 0x20)) {
        return false;
      }
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t length = utf8SequenceLength(raw.substr(i), code);
    if (length == 0 || !isPlainCharacter(code)) {
      return false;
    }
    appendUtf16(out, code);
    i += length;
  }
  return true;
}

class PlainReader {
 public:
  PlainReader(std::string_view text, ElementTree& tree) : text_(text), tree_(tree) {}

  bool read(std::size_t maxDepth) {
    for (const std::string_view declaration : kDeclarations) {
      if (text_.substr(0, declaration.size()) == declaration) {
        at_ = declaration.size();
        break;
      }
    }
    skipSpace();
    if (!startTag(maxDepth)) {
      return false;
    }
    while (!open_.empty()) {
      if (at_ >= text_.size()) {
        return false;
      }
      if (text_[at_] != '<') {
        const std::size_t end = text_.find('<', at_);
        if (end == std::string_view::npos) {
          return false;
        }
        if (!characters(text_.substr(at_, end - at_))) {
          return false;
        }
        at_ = end;
      } else if (at_ + 1 < text_.size() && text_[at_ + 1] == '/') {
        if (!endTag()) {
          return false;
        }
      } else if (!startTag(maxDepth)) {
        return false;
      }
    }
    skipSpace();
    return at_ == text_.size();
  }

 private:
  bool skipSpace() {
    const std::size_t from = at_;
    while (at_ < text_.size() && isSpace(text_[at_])) {
      ++at_;
    }
    return at_ != from;
  }

  // Text between tags into the tree.
  bool characters(std::string_view raw) {
    const std::size_t plain = plainPrefix(raw);
    if (plain == raw.size()) {
      // It stands for itself ("]]>" cannot occur: '>' is not plain).
      wide_.resize(raw.size());
      for (std::size_t i = 0; i < raw.size(); ++i) {
        wide_[i] = static_cast<char16_t>(static_cast<unsigned char>(raw[i]));
      }
    } else {
      wide_.clear();
      if (!decode(raw, false, wide_)) {
        return false;
      }
    }
    tree_.characters(wide_);
    return true;
  }

  std::string_view name() {
    const std::size_t from = at_;
    if (at_ < text_.size() && isNameStart(text_[at_])) {
      ++at_;
      while (at_ < text_.size() && isNameChar(text_[at_])) {
        ++at_;
      }
    }
    return text_.substr(from, at_ - from);
  }

  bool next(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  // At '<': a start tag with its attributes; an empty element is closed at once.
  bool startTag(std::size_t maxDepth) {
    if (!next('<') || open_.size() >= maxDepth) {
      return false;
    }
    const std::string_view tag = name();
    if (tag.empty()) {
      return false;
    }
    tree_.open(std::string(tag));
    attributeNames_.clear();
    for (;;) {
      const bool spaced = skipSpace();
      if (next('>')) {
        tree_.sortAttributes();
        open_.push_back(tag);
        return true;
      }
      if (next('/')) {
        tree_.sortAttributes();
        tree_.close();
        return next('>');
      }
      const std::string_view attribute = name();
      if (!spaced || attribute.empty()) {
        return false;
      }
      for (const std::string_view seen : attributeNames_) {
        if (seen == attribute) {
          return false;
        }
      }
      attributeNames_.push_back(attribute);
      skipSpace();
      if (!next('=')) {
        return false;
      }
      skipSpace();
      if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) {
        return false;
      }
      const char quote = text_[at_++];
      const std::size_t end = text_.find(quote, at_);
      if (end == std::string_view::npos) {
        return false;
      }
      const std::string_view raw = text_.substr(at_, end - at_);
      if (plainPrefix(raw) == raw.size()) {
        tree_.addAttribute(std::string(attribute), std::string(raw));  // stands for itself
      } else {
        wide_.clear();
        if (!decode(raw, true, wide_)) {
          return false;
        }
        tree_.addAttribute(std::string(attribute), toUtf8(std::u16string_view(wide_)));
      }
      at_ = end + 1;
    }
  }

  // At "</": the end tag of the element open now.
  bool endTag() {
    at_ += 2;
    if (name() != open_.back()) {
      return false;
    }
    skipSpace();
    if (!next('>')) {
      return false;
    }
    tree_.close();
    open_.pop_back();
    return true;
  }

  std::string_view text_;
  ElementTree& tree_;
  std::size_t at_ = 0;
  std::vector<std::string_view> open_;
  std::vector<std::string_view> attributeNames_;
  std::u16string wide_;
};

}  // namespace

bool readPlainDocument(std::string_view text, std::size_t maxBytes, std::size_t maxDepth,
                       ElementTree& tree) {
  tree.clear();
  if (text.size() > maxBytes) {
    return false;
  }
  return PlainReader(text, tree).read(maxDepth);
}

}  // namespace nvo::xml
