#include "gateway/xml_writer.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/DOMProcessingInstruction.hpp>

#include "gateway/xml_text.h"

namespace nvo::xml {

namespace x = XERCES_CPP_NAMESPACE;

namespace {

// Visits `root` and its subtree in document order without recursion: enter(node) before a
// node's children, leave(node) after them.
template <typename Enter, typename Leave>
void walk(const x::DOMNode* root, Enter enter, Leave leave) {
  const x::DOMNode* node = root;
  for (;;) {
    enter(node);
    if (const x::DOMNode* child = node->getFirstChild()) {
      node = child;
      continue;
    }
    leave(node);
    while (node != root && node->getNextSibling() == nullptr) {
      node = node->getParentNode();
      leave(node);
    }
    if (node == root) {
      return;
    }
    node = node->getNextSibling();
  }
}

bool isText(const x::DOMNode* node) {
  const auto type = node->getNodeType();
  return type == x::DOMNode::TEXT_NODE || type == x::DOMNode::CDATA_SECTION_NODE;
}

void writeStartTag(std::string& out, const x::DOMNode* element) {
  out += '<';
  out += toUtf8(element->getNodeName());
  if (const x::DOMNamedNodeMap* attributes = element->getAttributes()) {
    for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
      const x::DOMNode* attribute = attributes->item(i);
      out += ' ';
      out += toUtf8(attribute->getNodeName());
      out += "=\"";
      appendEscapedForRoundTrip(out, toUtf8(attribute->getNodeValue()), EscapeContext::kAttribute);
      out += '"';
    }
  }
  out += element->hasChildNodes() ? ">" : "/>";
}

void writeOpening(std::string& out, const x::DOMNode* node) {
  switch (node->getNodeType()) {
    case x::DOMNode::ELEMENT_NODE:
      writeStartTag(out, node);
      break;
    case x::DOMNode::TEXT_NODE:
    case x::DOMNode::CDATA_SECTION_NODE:
      appendEscapedForRoundTrip(out, toUtf8(node->getNodeValue()), EscapeContext::kText);
      break;
    case x::DOMNode::COMMENT_NODE:
      out += "<!--" + toUtf8(node->getNodeValue()) + "-->";
      break;
    case x::DOMNode::PROCESSING_INSTRUCTION_NODE: {
      out += "<?" + toUtf8(node->getNodeName());
      const std::string data = toUtf8(node->getNodeValue());
      if (!data.empty()) {
        out += ' ' + data;
      }
      out += "?>";
      break;
    }
    default:  // the document node and the rest: only their children are written
      break;
  }
}

}  // namespace

std::string writeNode(const x::DOMNode* node) {
  std::string out;
  if (node == nullptr) {
    return out;
  }
  walk(
      node, [&out](const x::DOMNode* n) { writeOpening(out, n); },
      [&out](const x::DOMNode* n) {
        if (n->getNodeType() == x::DOMNode::ELEMENT_NODE && n->hasChildNodes()) {
          out += "</" + toUtf8(n->getNodeName()) + '>';
        }
      });
  return out;
}

std::string textContent(const x::DOMNode* node) {
  std::string out;
  if (node == nullptr) {
    return out;
  }
  const auto type = node->getNodeType();
  if (type != x::DOMNode::ELEMENT_NODE && type != x::DOMNode::DOCUMENT_NODE &&
      type != x::DOMNode::DOCUMENT_FRAGMENT_NODE) {
    return toUtf8(node->getNodeValue());
  }
  // The common case, an element holding one text node, without the walk.
  if (const x::DOMNode* only = node->getFirstChild();
      only != nullptr && only->getNextSibling() == nullptr && isText(only)) {
    return toUtf8(only->getNodeValue());
  }
  walk(
      node,
      [&out](const x::DOMNode* n) {
        if (isText(n)) {
          out += toUtf8(n->getNodeValue());
        }
      },
      [](const x::DOMNode*) {});
  return out;
}

}  // namespace nvo::xml
