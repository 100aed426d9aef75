// XMLParser: one XML document, either being built as a gateway command or parsed from text
// (a reply, a configuration file, an authentication document), with static helpers that read
// and change nodes of any document.
//
// Building. initXML() starts an empty command; addCommand(name, category) opens the `command`
// element; addTagString appends an element holding escaped text; addString appends raw XML as
// given (only the whole must be well formed); getXML(true) returns the complete document:
//   <?xml version='1.0' encoding='UTF-8'?><command cat="CATEGORY" name="NAME">BODY</command>
// with the attribute values escaped. A command is built as text; nothing is parsed until the
// gateway reads it.
//
// Parsing. parse(text) and the constructor from text read a document with every external
// reference refused: a document carrying a DOCTYPE (so a DTD, internal or external, and every
// entity declared in one) is rejected, and so is text longer than kMaxDocumentBytes, elements
// nested more than 256 deep, and any XML version but 1.0. A rejected
// or malformed document leaves no root (getRoot() is null) and an error text in lastError();
// parsing never throws and never crashes on any input.
//
// Ownership. The object owns the document it parsed; handles (DOM_Node) into it stay valid
// until the object is destroyed or parses again. Neither copied nor moved. Not thread-safe:
// one object is used by one thread at a time (distinct objects may be used by distinct
// threads).
//
// Static operations take and return handles by value; a null handle in gives a null handle or
// an empty text out. Every trailing bool flag is accepted for callers that pass one and has no
// effect. Texts are UTF-8.
#ifndef GATEWAY_XML_PARSER_H_
#define GATEWAY_XML_PARSER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "gateway/dom_node.h"
#include "gateway/nvo_export.h"

namespace nvo {

class NVO_API XMLParser {
 public:
  static constexpr std::size_t kMaxDocumentBytes = 1024 * 1024;

  XMLParser();
  // Parses `text` as parse() does.
  explicit XMLParser(const std::string& text);
  XMLParser(const XMLParser&) = delete;
  XMLParser& operator=(const XMLParser&) = delete;
  ~XMLParser();

  // --- building a command ---
  void initXML();
  void addCommand(const std::string& name, const std::string& category);
  void addTagString(const std::string& tag, const std::string& value);
  void addString(const std::string& raw);
  // The complete command document (see above). The flag is always true in callers.
  std::string getXML(bool complete = true) const;

  // --- parsing ---
  // Replaces any document held so far. True when `text` was a well-formed document that passed
  // the checks above; false otherwise, with the reason in lastError().
  bool parse(const std::string& text);
  // The document element, or null when there is no parsed document.
  DOM_Node getRoot() const;
  const std::string& lastError() const;

  // --- reading and changing nodes ---
  // The first element named `name` below `node` at any depth, in document order.
  static DOM_Node findChild(DOM_Node node, const std::string& name, bool flag = false);
  // The first child element of `node` named `name`.
  static DOM_Node findFirstChild(DOM_Node node, const std::string& name, bool flag = false);
  // The next sibling element of `node` named `name`.
  static DOM_Node findNextSibling(DOM_Node node, const std::string& name, bool flag = false);
  // The first child element, and the next sibling element, whatever their names.
  static DOM_Node firstChild(DOM_Node node, bool flag = false);
  static DOM_Node nextSibling(DOM_Node node, bool flag = false);
  // A node's name (an element's tag name) and its text content (all text below it, joined).
  static std::string getName(DOM_Node node);
  static std::string getStringValue(DOM_Node node);
  // The text of the first child element named `child`; empty when there is none.
  static std::string getChildStringValue(DOM_Node node, const std::string& child,
                                         bool flag = false);
  // The value of the XML attribute `name` of an element; empty when absent.
  static std::string getAttributeValue(DOM_Node node, const std::string& name);
  // Replaces the text of the first child element named `child` with `text`; creates that
  // child (appended last) when there is none. Does nothing for a null node.
  static void setChildStringValue(DOM_Node node, const std::string& child,
                                  const std::string& text, bool flag = false);
  // Removes `child` from `parent` (and releases it with the document). Does nothing when either
  // is null or `child` is not a child of `parent`.
  static void removeChild(DOM_Node parent, DOM_Node child);
  // Appends a new empty element named `name` as the last child of `parent` and returns it.
  static DOM_Node appendElement(DOM_Node parent, const std::string& name);
  // The XML text of the element and its whole subtree (no declaration): attributes in the
  // DOM's order (Xerces-C keeps them sorted by name) with values in double quotes, an empty
  // element as <name/>, CDATA as escaped text; text and attribute values escaped so that the
  // text parses back to the same tree.
  static std::string buildXMLFromNodes(DOM_Node node, bool flag = false);

  // --- texts ---
  // `text` escaped to stand as XML element content or attribute value: & < > " ' become
  // entity references; everything else is kept.
  static std::string makeXMLString(const std::string& text, bool flag = false);
  // The UTF-8 form of `length` bytes at `chars`, read in the character set of the current
  // locale (LC_CTYPE). Text already valid in that set converts exactly; a byte sequence that is
  // not is kept when it is valid UTF-8 and otherwise replaced by U+FFFD per bad byte, so the
  // result is always valid UTF-8 and nothing typed is silently dropped. In the "C" locale
  // (ASCII) that means: ASCII passes, UTF-8 typed into a UTF-8 terminal passes, and any other
  // byte above 127 becomes U+FFFD. Null `chars` or a length below 1 give an empty text.
  static std::string makeUTF8String(const char* chars, int length);

 private:
  struct Document;
  std::unique_ptr<Document> document_;
  std::string built_;  // body of the command being built
  std::string commandName_;
  std::string category_;
  std::string error_;
};

}  // namespace nvo

#endif  // GATEWAY_XML_PARSER_H_
