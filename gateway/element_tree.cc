#include "gateway/element_tree.h"

#include <algorithm>

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "gateway/xml_text.h"

namespace nvo::xml {

namespace x = XERCES_CPP_NAMESPACE;

namespace {

const std::string kNoName;

}  // namespace

// --- reading ---

const std::string& ElementTree::Node::name() const {
  return isNull() ? kNoName : element().name;
}

std::string ElementTree::Node::text() const {
  if (isNull()) {
    return std::string();
  }
  const Element& e = element();
  return toUtf8(std::u16string_view(tree_->text_).substr(e.textBegin, e.textEnd - e.textBegin));
}

std::string ElementTree::Node::attribute(std::string_view name) const {
  if (isNull()) {
    return std::string();
  }
  for (const auto& [key, value] : element().attributes) {
    if (key == name) {
      return value;
    }
  }
  return std::string();
}

ElementTree::Node ElementTree::Node::from(std::size_t index, std::string_view name) const {
  while (index != kNone && tree_->elements_[index].name != name) {
    index = tree_->elements_[index].nextSibling;
  }
  return Node(tree_, index);
}

ElementTree::Node ElementTree::Node::firstChild() const {
  return isNull() ? Node() : Node(tree_, element().firstChild);
}

ElementTree::Node ElementTree::Node::nextSibling() const {
  return isNull() ? Node() : Node(tree_, element().nextSibling);
}

ElementTree::Node ElementTree::Node::firstChild(std::string_view name) const {
  return isNull() ? Node() : from(element().firstChild, name);
}

ElementTree::Node ElementTree::Node::nextSibling(std::string_view name) const {
  return isNull() ? Node() : from(element().nextSibling, name);
}

// --- building ---

void ElementTree::clear() {
  elements_.clear();
  text_.clear();
  open_.clear();
}

void ElementTree::open(std::string name) {
  const std::size_t index = elements_.size();
  elements_.push_back(Element{std::move(name), {}, text_.size(), text_.size(), kNone, kNone});
  if (!open_.empty()) {
    Open& parent = open_.back();
    if (parent.lastChild == kNone) {
      elements_[parent.index].firstChild = index;
    } else {
      elements_[parent.lastChild].nextSibling = index;
    }
    parent.lastChild = index;
  }
  open_.push_back({index, kNone});
}

void ElementTree::addAttribute(std::string name, std::string value) {
  elements_.back().attributes.emplace_back(std::move(name), std::move(value));
}

void ElementTree::sortAttributes() {
  auto& attributes = elements_.back().attributes;
  if (attributes.size() > 1) {
    std::sort(attributes.begin(), attributes.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
  }
}

void ElementTree::close() {
  if (!open_.empty()) {
    elements_[open_.back().index].textEnd = text_.size();
    open_.pop_back();
  }
}

void ElementTree::fromDom(const x::DOMNode* element) {
  clear();
  if (element == nullptr || element->getNodeType() != x::DOMNode::ELEMENT_NODE) {
    return;
  }
  // Document order without recursion: enter a node, then its children, then leave it.
  const x::DOMNode* node = element;
  for (;;) {
    const auto type = node->getNodeType();
    if (type == x::DOMNode::ELEMENT_NODE) {
      open(toUtf8(node->getNodeName()));
      if (const x::DOMNamedNodeMap* attributes = node->getAttributes()) {
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
          const x::DOMNode* attribute = attributes->item(i);
          addAttribute(toUtf8(attribute->getNodeName()), toUtf8(attribute->getNodeValue()));
        }
      }
      sortAttributes();
    } else if (type == x::DOMNode::TEXT_NODE || type == x::DOMNode::CDATA_SECTION_NODE) {
      if (const XMLCh* value = node->getNodeValue()) {
        characters(value);
      }
    }
    if (type == x::DOMNode::ELEMENT_NODE && node->getFirstChild() != nullptr) {
      node = node->getFirstChild();
      continue;
    }
    if (type == x::DOMNode::ELEMENT_NODE) {
      close();
    }
    while (node != element && node->getNextSibling() == nullptr) {
      node = node->getParentNode();
      close();  // every parent on the way up is an element
    }
    if (node == element) {
      return;
    }
    node = node->getNextSibling();
  }
}

}  // namespace nvo::xml
