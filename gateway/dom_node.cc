#include "gateway/dom_node.h"

#include <xercesc/dom/DOMNode.hpp>

namespace nvo {

DOM_Node DOM_Node::getNextSibling() const {
  return DOM_Node(node_ == nullptr ? nullptr : node_->getNextSibling());
}

DOM_Node DOM_Node::getParentNode() const {
  return DOM_Node(node_ == nullptr ? nullptr : node_->getParentNode());
}

bool DOM_Node::isElement() const {
  return node_ != nullptr && node_->getNodeType() == XERCES_CPP_NAMESPACE::DOMNode::ELEMENT_NODE;
}

}  // namespace nvo
