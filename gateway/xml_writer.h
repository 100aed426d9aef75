// Reading a DOM subtree out as text (inside libnvo only). Both walks are iterative, so a deep
// tree cannot exhaust the stack.
#ifndef GATEWAY_XML_WRITER_H_
#define GATEWAY_XML_WRITER_H_

#include <string>

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace nvo::xml {

// The XML text (UTF-8, no declaration) of `node` and its subtree: elements with their
// attributes in the DOM's order (Xerces-C keeps them sorted by name; values in double quotes),
// empty elements as <name/>, text and CDATA sections as escaped text, comments and processing
// instructions as they are. A document node gives its children. What the text says parses back to
// the same tree. Empty for null.
std::string writeNode(const XERCES_CPP_NAMESPACE::DOMNode* node);

// All text (text and CDATA nodes) below `node` joined in document order, as the DOM's
// textContent; an attribute, text, comment or processing instruction node gives its value.
std::string textContent(const XERCES_CPP_NAMESPACE::DOMNode* node);

}  // namespace nvo::xml

#endif  // GATEWAY_XML_WRITER_H_
