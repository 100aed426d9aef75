#include "gateway/reply_document.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMText.hpp>
// The node classes themselves (installed with Xerces-C's headers): their link fields are
// public, so nodes of types we created ourselves are linked without the casts of appendChild.
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/dom/impl/DOMTextImpl.hpp>

#include "gateway/xml_reader.h"
#include "gateway/xml_text.h"

namespace nvo::xml {

namespace x = XERCES_CPP_NAMESPACE;

namespace {

// Bytes of names: 1 for a letter (which may start one), 2 for a digit, '-', '_' or '.'.
constexpr auto kNameBytes = [] {
  std::array<unsigned char, 256> kinds{};
  for (int c = 0; c < 256; ++c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      kinds[static_cast<std::size_t>(c)] = 1;
    } else if ((c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.') {
      kinds[static_cast<std::size_t>(c)] = 2;
    }
  }
  return kinds;
}();

// The name at the start of `text` (letters, then letters, digits, '-', '_', '.'), or empty.
std::string_view nameAt(std::string_view text) {
  if (text.empty() || kNameBytes[static_cast<unsigned char>(text[0])] != 1) {
    return {};
  }
  std::size_t end = 1;
  while (end < text.size() && kNameBytes[static_cast<unsigned char>(text[end])] != 0) {
    ++end;
  }
  return text.substr(0, end);
}

// `raw` (element text, or an attribute value when `attribute`) with its references replaced,
// as UTF-16, into `out`; false when it holds anything the reply writer does not write or a
// parser would refuse or normalise. `out` never needs more units than `raw` has bytes, so it
// is sized once and written in place.
bool decode(std::string_view raw, bool attribute, std::u16string& out) {
  out.resize(raw.size());
  char16_t* to = out.data();
  std::size_t i = 0;
  while (i < raw.size()) {
    // The common case: a run of printable ASCII, copied unit for unit.
    for (const std::size_t run = i + plainPrefix(raw.substr(i)); i < run; ++i) {
      *to++ = static_cast<unsigned char>(raw[i]);
    }
    if (i == raw.size()) {
      break;
    }
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c == '\'' || c == 0x7F) {
      *to++ = c;
      ++i;
      continue;
    }
    if (c == '&') {
      const std::size_t end = raw.find(';', i);
      if (end == std::string_view::npos) {
        return false;
      }
      const std::string_view name = raw.substr(i + 1, end - i - 1);
      char16_t decoded = 0;
      if (name == "amp") {
        decoded = '&';
      } else if (name == "lt") {
        decoded = '<';
      } else if (name == "gt") {
        decoded = '>';
      } else if (name == "quot") {
        decoded = '"';
      } else if (name == "apos") {
        decoded = '\'';
      } else if (name == "#13") {
        decoded = '\r';
      } else if (name == "#9") {
        decoded = '\t';
      } else if (name == "#10") {
        decoded = '\n';
      } else {
        return false;
      }
      *to++ = decoded;
      i = end + 1;
      continue;
    }
    if (c == '<' || c == '>' || c == '"' || c == '\r') {
      return false;
    }
    if (c < 0x20) {
      // A parser turns a literal tab or line feed in an attribute value into a space.
      if ((c != '\t' && c != '\n') || attribute) {
        return false;
      }
      *to++ = c;
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t length = utf8SequenceLength(raw.substr(i), code);
    if (length == 0 || code == 0xFFFE || code == 0xFFFF) {
      return false;  // not UTF-8, or U+FFFE / U+FFFF, which XML 1.0 cannot carry
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      *to++ = static_cast<char16_t>(0xD800 | (code >> 10));
      *to++ = static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    } else {
      *to++ = static_cast<char16_t>(code);
    }
    i += length;
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  return true;
}

// The ASCII `name` as UTF-16 in `out`.
const char16_t* utf16Of(std::string_view name, std::u16string& out) {
  out.resize(name.size());  // in place: assign() from chars would build a temporary
  for (std::size_t i = 0; i < name.size(); ++i) {
    out[i] = static_cast<char16_t>(name[i]);
  }
  return out.c_str();
}

// True when the ASCII `name` is the element name `tag`.
bool sameName(std::string_view name, const XMLCh* tag) {
  for (const char c : name) {
    if (*tag++ != static_cast<char16_t>(c)) {
      return false;
    }
  }
  return *tag == 0;
}

// An open element and the link fields of its first and last child.
struct Level {
  x::DOMElementImpl* element = nullptr;
  x::DOMChildNode* first = nullptr;
  x::DOMChildNode* last = nullptr;
  x::DOMNode* lastNode = nullptr;
};

// Appends `child` (whose own fields are `node` and `links`) as the last child of `parent`,
// as DOMParentNode::appendChildFast does.
void append(Level& parent, x::DOMNode* child, x::DOMNodeImpl& node, x::DOMChildNode& links) {
  node.fOwnerNode = parent.element;
  node.isOwned(true);
  if (parent.first == nullptr) {
    parent.element->fParent.fFirstChild = child;
    node.isFirstChild(true);
    links.previousSibling = child;
    parent.first = &links;
  } else {
    parent.last->nextSibling = child;
    links.previousSibling = parent.lastNode;
    parent.first->previousSibling = child;
  }
  parent.last = &links;
  parent.lastNode = child;
}

// Builds the tree of `text` into `document`; false when the text is not of the writer's shape.
bool buildInto(std::string_view text, x::DOMDocument* document) {
  auto* documentImpl = static_cast<x::DOMDocumentImpl*>(document);
  std::vector<Level> open;
  bool rootDone = false;
  std::u16string decoded;
  std::u16string wide;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] != '<') {
      const std::size_t end = text.find('<', at);
      if (open.empty() || end == std::string_view::npos ||
          !decode(text.substr(at, end - at), false, decoded)) {
        return false;
      }
      if (!decoded.empty()) {
        auto* node = static_cast<x::DOMTextImpl*>(documentImpl->createTextNode(decoded.c_str()));
        append(open.back(), node, node->fNode, node->fChild);
      }
      at = end;
      continue;
    }
    if (at + 1 < text.size() && text[at + 1] == '/') {  // an end tag
      const std::string_view name = nameAt(text.substr(at + 2));
      const std::size_t close = at + 2 + name.size();
      if (open.empty() || name.empty() || close >= text.size() || text[close] != '>') {
        return false;
      }
      if (!sameName(name, open.back().element->getTagName())) {
        return false;
      }
      open.pop_back();
      rootDone = open.empty();
      at = close + 1;
      continue;
    }
    // A start tag: the name, then name="value" pairs, then '>'.
    const std::string_view name = nameAt(text.substr(at + 1));
    if (name.empty() || rootDone || open.size() >= SecureReader::kMaxDepth) {
      return false;
    }
    auto* element =
        static_cast<x::DOMElementImpl*>(documentImpl->createElementNoCheck(utf16Of(name, wide)));
    at += 1 + name.size();
    while (at < text.size() && text[at] == ' ') {
      const std::string_view attribute = nameAt(text.substr(at + 1));
      const std::size_t quote = at + 1 + attribute.size() + 1;
      if (attribute.empty() || quote >= text.size() || text[quote - 1] != '=' ||
          text[quote] != '"') {
        return false;
      }
      const std::size_t endQuote = text.find('"', quote + 1);
      if (endQuote == std::string_view::npos ||
          !decode(text.substr(quote + 1, endQuote - quote - 1), true, decoded)) {
        return false;
      }
      const char16_t* attributeName = utf16Of(attribute, wide);
      if (element->hasAttribute(attributeName)) {
        return false;  // a parser refuses a repeated attribute
      }
      element->setAttribute(attributeName, decoded.c_str());
      at = endQuote + 1;
    }
    if (at >= text.size() || text[at] != '>') {
      return false;
    }
    ++at;
    if (open.empty()) {
      document->appendChild(element);
    } else {
      append(open.back(), element, element->fNode, element->fChild);
    }
    open.push_back(Level{element});
  }
  return rootDone && open.empty();
}

}  // namespace

ReplyDocument::~ReplyDocument() {
  clear();
}

void ReplyDocument::clear() {
  if (document_ != nullptr) {
    document_->release();
    document_ = nullptr;
  }
}

bool ReplyDocument::build(std::string_view text) {
  clear();
  ensureXercesInitialized();
  static x::DOMImplementation* const implementation =
      x::DOMImplementationRegistry::getDOMImplementation(u"Core");
  x::DOMDocument* document = implementation->createDocument();
  bool built = false;
  try {
    built = buildInto(text, document);
  } catch (...) {
    document->release();
    throw;
  }
  if (!built) {
    document->release();
    return false;
  }
  document_ = document;
  return true;
}

}  // namespace nvo::xml
