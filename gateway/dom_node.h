// DOM_Node: a small value handle to one node of a document held by an XMLParser (or by a
// session's reply). It stands where callers of the gateway library expect a DOM node handle:
// passed and returned by value, copyable, and equal to null when there is no node.
//
// A handle does not own its node. The node belongs to its document, and a handle must not be
// used after that document is gone (the XMLParser that parsed or built it was destroyed or
// parsed again, or, for a reply, the next callGateway or the end of the session). Handles are
// not thread-safe; neither is the document under them.
#ifndef GATEWAY_DOM_NODE_H_
#define GATEWAY_DOM_NODE_H_

#include <cstddef>
#include <string>

#include <xercesc/util/XercesDefs.hpp>

#include "gateway/nvo_export.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace nvo {

class NVO_API DOM_Node {
 public:
  DOM_Node() = default;
  DOM_Node(std::nullptr_t) {}  // NOLINT(google-explicit-constructor): null converts, as a pointer would
  explicit DOM_Node(XERCES_CPP_NAMESPACE::DOMNode* node) : node_(node) {}

  bool isNull() const { return node_ == nullptr; }
  explicit operator bool() const { return node_ != nullptr; }
  friend bool operator==(const DOM_Node& a, const DOM_Node& b) { return a.node_ == b.node_; }
  friend bool operator==(const DOM_Node& a, std::nullptr_t) { return a.node_ == nullptr; }

  // The next sibling node of any kind (text nodes included), or null. The document class's
  // nextSibling skips to the next element; this one does not.
  DOM_Node getNextSibling() const;
  // The parent node, or null for the document node and for a null handle.
  DOM_Node getParentNode() const;
  // True for an element node.
  bool isElement() const;

  // The Xerces-C node, for code inside the library. Null for a null handle.
  XERCES_CPP_NAMESPACE::DOMNode* get() const { return node_; }

 private:
  XERCES_CPP_NAMESPACE::DOMNode* node_ = nullptr;
};

}  // namespace nvo

#endif  // GATEWAY_DOM_NODE_H_
