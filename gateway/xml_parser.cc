#include "gateway/xml_parser.h"

#include <algorithm>
#include <string_view>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/DOMText.hpp>

#include "gateway/xml_reader.h"
#include "gateway/xml_text.h"
#include "gateway/xml_writer.h"

namespace nvo {

namespace x = XERCES_CPP_NAMESPACE;

namespace {

// A name asked for by a caller, as UTF-16 for comparing with node names. Short ASCII names
// (every name of the command and reply documents) are widened in place, without allocating:
// readers look names up once per node they visit.
class WideName {
 public:
  explicit WideName(const std::string& name) {
    if (name.size() < kInPlace &&
        std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; })) {
      std::copy(name.begin(), name.end(), inPlace_);
      inPlace_[name.size()] = 0;
      view_ = std::u16string_view(inPlace_, name.size());
    } else {
      allocated_ = xml::toUtf16(name);
      view_ = allocated_;
    }
  }
  WideName(const WideName&) = delete;
  WideName& operator=(const WideName&) = delete;

  std::u16string_view view() const { return view_; }
  const char16_t* c_str() const { return view_.data(); }  // NUL-terminated either way

 private:
  static constexpr std::size_t kInPlace = 48;
  char16_t inPlace_[kInPlace] = {};
  std::u16string allocated_;
  std::u16string_view view_;
};

bool isElement(const x::DOMNode* node) {
  return node != nullptr && node->getNodeType() == x::DOMNode::ELEMENT_NODE;
}

bool isElementNamed(const x::DOMNode* node, std::u16string_view name) {
  return isElement(node) && std::u16string_view(node->getNodeName()) == name;
}

// The first element at or after `node` among its siblings, or null.
x::DOMNode* elementFrom(x::DOMNode* node) {
  while (node != nullptr && !isElement(node)) {
    node = node->getNextSibling();
  }
  return node;
}

x::DOMNode* elementNamedFrom(x::DOMNode* node, std::u16string_view name) {
  while (node != nullptr && !isElementNamed(node, name)) {
    node = node->getNextSibling();
  }
  return node;
}

x::DOMNode* firstChildNamed(x::DOMNode* parent, std::u16string_view name) {
  return parent == nullptr ? nullptr : elementNamedFrom(parent->getFirstChild(), name);
}

x::DOMDocument* documentOf(x::DOMNode* node) {
  if (node->getNodeType() == x::DOMNode::DOCUMENT_NODE) {
    return static_cast<x::DOMDocument*>(node);
  }
  return node->getOwnerDocument();
}

}  // namespace

struct XMLParser::Document {
  xml::SecureReader reader;
};

XMLParser::XMLParser() : document_(std::make_unique<Document>()) {}

XMLParser::XMLParser(const std::string& text) : XMLParser() {
  parse(text);
}

XMLParser::~XMLParser() = default;

// --- building a command ---

void XMLParser::initXML() {
  built_.clear();
  commandName_.clear();
  category_.clear();
}

void XMLParser::addCommand(const std::string& name, const std::string& category) {
  commandName_ = name;
  category_ = category;
}

void XMLParser::addTagString(const std::string& tag, const std::string& value) {
  built_ += '<' + tag + '>';
  xml::appendEscaped(built_, value);
  built_ += "</" + tag + '>';
}

void XMLParser::addString(const std::string& raw) {
  built_ += raw;
}

std::string XMLParser::getXML(bool /*complete*/) const {
  std::string out = "<?xml version='1.0' encoding='UTF-8'?><command cat=\"";
  xml::appendEscaped(out, category_);
  out += "\" name=\"";
  xml::appendEscaped(out, commandName_);
  out += "\">";
  out += built_;
  out += "</command>";
  return out;
}

// --- parsing ---

bool XMLParser::parse(const std::string& text) {
  return document_->reader.read(text, kMaxDocumentBytes, error_);
}

DOM_Node XMLParser::getRoot() const {
  x::DOMDocument* document = document_->reader.document();
  return DOM_Node(document == nullptr ? nullptr : document->getDocumentElement());
}

const std::string& XMLParser::lastError() const {
  return error_;
}

// --- reading and changing nodes ---

DOM_Node XMLParser::findChild(DOM_Node node, const std::string& name, bool /*flag*/) {
  x::DOMNode* root = node.get();
  if (root == nullptr) {
    return DOM_Node();
  }
  const WideName wanted(name);
  // Pre-order walk of the subtree below root, without recursion.
  x::DOMNode* current = root->getFirstChild();
  while (current != nullptr) {
    if (isElementNamed(current, wanted.view())) {
      return DOM_Node(current);
    }
    if (current->getFirstChild() != nullptr) {
      current = current->getFirstChild();
      continue;
    }
    while (current != root && current->getNextSibling() == nullptr) {
      current = current->getParentNode();
    }
    current = current == root ? nullptr : current->getNextSibling();
  }
  return DOM_Node();
}

DOM_Node XMLParser::findFirstChild(DOM_Node node, const std::string& name, bool /*flag*/) {
  return DOM_Node(firstChildNamed(node.get(), WideName(name).view()));
}

DOM_Node XMLParser::findNextSibling(DOM_Node node, const std::string& name, bool /*flag*/) {
  if (node.isNull()) {
    return DOM_Node();
  }
  return DOM_Node(elementNamedFrom(node.get()->getNextSibling(), WideName(name).view()));
}

DOM_Node XMLParser::firstChild(DOM_Node node, bool /*flag*/) {
  return DOM_Node(node.isNull() ? nullptr : elementFrom(node.get()->getFirstChild()));
}

DOM_Node XMLParser::nextSibling(DOM_Node node, bool /*flag*/) {
  return DOM_Node(node.isNull() ? nullptr : elementFrom(node.get()->getNextSibling()));
}

std::string XMLParser::getName(DOM_Node node) {
  return node.isNull() ? std::string() : xml::toUtf8(node.get()->getNodeName());
}

std::string XMLParser::getStringValue(DOM_Node node) {
  return xml::textContent(node.get());
}

std::string XMLParser::getChildStringValue(DOM_Node node, const std::string& child, bool /*flag*/) {
  return xml::textContent(firstChildNamed(node.get(), WideName(child).view()));
}

std::string XMLParser::getAttributeValue(DOM_Node node, const std::string& name) {
  if (!isElement(node.get())) {
    return std::string();
  }
  const auto* element = static_cast<const x::DOMElement*>(node.get());
  return xml::toUtf8(element->getAttribute(WideName(name).c_str()));
}

void XMLParser::setChildStringValue(DOM_Node node, const std::string& child,
                                    const std::string& text, bool /*flag*/) {
  x::DOMNode* parent = node.get();
  if (!isElement(parent)) {
    return;
  }
  try {
    x::DOMDocument* document = documentOf(parent);
    const std::u16string name = xml::toUtf16(child);
    x::DOMNode* target = firstChildNamed(parent, name);
    if (target == nullptr) {
      target = parent->appendChild(document->createElement(name.c_str()));
    }
    // Removed nodes stay allocated until the document goes, so stale handles to them stay
    // harmless.
    while (x::DOMNode* old = target->getFirstChild()) {
      target->removeChild(old);
    }
    if (!text.empty()) {
      target->appendChild(document->createTextNode(xml::toUtf16(text).c_str()));
    }
  } catch (const x::DOMException&) {
    // `child` is not a valid element name: nothing to change.
  }
}

void XMLParser::removeChild(DOM_Node parent, DOM_Node child) {
  if (parent.isNull() || child.isNull() || child.get()->getParentNode() != parent.get()) {
    return;
  }
  parent.get()->removeChild(child.get());
}

DOM_Node XMLParser::appendElement(DOM_Node parent, const std::string& name) {
  x::DOMNode* node = parent.get();
  if (node == nullptr) {
    return DOM_Node();
  }
  try {
    x::DOMDocument* document = documentOf(node);
    return DOM_Node(node->appendChild(document->createElement(xml::toUtf16(name).c_str())));
  } catch (const x::DOMException&) {
    // An invalid name, or a parent that cannot hold an element (a text node, or a document
    // that has its root already).
    return DOM_Node();
  }
}

std::string XMLParser::buildXMLFromNodes(DOM_Node node, bool /*flag*/) {
  return xml::writeNode(node.get());
}

// --- texts ---

std::string XMLParser::makeXMLString(const std::string& text, bool /*flag*/) {
  std::string out;
  out.reserve(text.size());
  xml::appendEscaped(out, text);
  return out;
}

std::string XMLParser::makeUTF8String(const char* chars, int length) {
  return length <= 0 ? std::string() : xml::localeToUtf8(chars, static_cast<std::size_t>(length));
}

}  // namespace nvo
