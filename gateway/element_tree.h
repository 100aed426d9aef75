// ElementTree (inside libnvo only): the elements of one parsed document as plain data, for
// readers that only look (the command engine reading a caller's command). Each element keeps
// its name, its attributes and where its text content lies in the document's one text buffer
// (all text and CDATA between its start and end tags, in document order, as the DOM's
// textContent); comments and processing instructions are not kept. Building it costs a vector
// append per element instead of a DOM node with its links, casts and string pool.
//
// Filled by TreeReader (xml_reader.h) straight from the parser's events, or from a DOM subtree
// by fromDom (for callers that hold a DOM already). Both give the same tree for the same
// document. Nodes are handles into the tree and stay valid until it is cleared or filled again.
#ifndef GATEWAY_ELEMENT_TREE_H_
#define GATEWAY_ELEMENT_TREE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace nvo::xml {

class ElementTree {
 public:
  static constexpr std::size_t kNone = SIZE_MAX;

  struct Element {
    std::string name;                                             // UTF-8
    std::vector<std::pair<std::string, std::string>> attributes;  // sorted by name, UTF-8
    std::size_t textBegin = 0;  // the text content: text()[textBegin, textEnd)
    std::size_t textEnd = 0;
    std::size_t firstChild = kNone;
    std::size_t nextSibling = kNone;
    bool operator==(const Element&) const = default;
  };

  // A handle to one element, null when it names none.
  class Node {
   public:
    Node() = default;
    Node(std::nullptr_t) {}  // NOLINT(google-explicit-constructor): null converts, as a pointer
    Node(const ElementTree* tree, std::size_t index) : tree_(tree), index_(index) {}

    bool isNull() const { return tree_ == nullptr || index_ == kNone; }
    bool isElement() const { return !isNull(); }
    friend bool operator==(const Node& a, std::nullptr_t) { return a.isNull(); }

    const std::string& name() const;
    // The text content, UTF-8 (an unpaired surrogate becomes U+FFFD). Empty for null.
    std::string text() const;
    // The value of attribute `name`; empty when absent.
    std::string attribute(std::string_view name) const;
    // The first child element, the next sibling element; with a name, the first of that name.
    Node firstChild() const;
    Node nextSibling() const;
    Node firstChild(std::string_view name) const;
    Node nextSibling(std::string_view name) const;

   private:
    Node from(std::size_t index, std::string_view name) const;
    const Element& element() const { return tree_->elements_[index_]; }

    const ElementTree* tree_ = nullptr;
    std::size_t index_ = kNone;
  };

  // The document element (the first element), or null for an empty tree.
  Node root() const { return elements_.empty() ? Node() : Node(this, 0); }
  bool empty() const { return elements_.empty(); }
  void clear();

  // --- building, in document order ---
  // Opens an element below the element open now (the first one is the root).
  void open(std::string name);
  // Adds an attribute to the element opened last (before any of its children).
  void addAttribute(std::string name, std::string value);
  // Text inside the elements open now.
  void characters(std::u16string_view text) { text_.append(text); }
  // Closes the element open now.
  void close();
  // Sorts the last opened element's attributes by name (after its last addAttribute).
  void sortAttributes();

  // Replaces the tree by the element `element` of a DOM and its subtree (null: empty tree).
  void fromDom(const XERCES_CPP_NAMESPACE::DOMNode* element);

  bool operator==(const ElementTree& other) const {
    return elements_ == other.elements_ && text_ == other.text_;
  }

 private:
  struct Open {
    std::size_t index;
    std::size_t lastChild;
  };

  std::vector<Element> elements_;
  std::u16string text_;
  std::vector<Open> open_;
};

}  // namespace nvo::xml

#endif  // GATEWAY_ELEMENT_TREE_H_
