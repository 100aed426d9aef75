// ReplyDocument (inside libnvo only): turns the reply text the command engine wrote into the
// Xerces-C document a session hands out, without running the general parser over it.
//
// The text comes from our own reply writer, whose shape is narrow: start tags with
// double-quoted attributes, end tags, and text with the five predefined entities and the
// character references &#9; &#10; &#13;, nothing else (no declaration, comment, CDATA, empty-
// element tag or whitespace between elements). build() reads exactly that shape and links the
// nodes directly, which costs a fraction of a general parse (Xerces-C 3.2 pays several
// dynamic_casts for every node it appends). Text of any other shape, or with anything a parser
// would refuse or normalise (a literal carriage return, a tab or line feed inside an attribute
// value, a character XML 1.0 cannot carry, bytes that are not UTF-8, nesting deeper than
// SecureReader::kMaxDepth), is not built: build() returns false and the caller reads the text
// with SecureReader instead. Either way the document is the same as a parse would give.
//
// The object owns its document: document() stays valid until the next build(), clear() or
// destruction. Used by one thread at a time.
#ifndef GATEWAY_REPLY_DOCUMENT_H_
#define GATEWAY_REPLY_DOCUMENT_H_

#include <string_view>

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
XERCES_CPP_NAMESPACE_END

namespace nvo::xml {

class ReplyDocument {
 public:
  ReplyDocument() = default;
  ReplyDocument(const ReplyDocument&) = delete;
  ReplyDocument& operator=(const ReplyDocument&) = delete;
  ~ReplyDocument();

  // Builds the document of `text`; false (and no document) when the text is not of the reply
  // writer's shape. Throws only what Xerces-C throws when it cannot allocate.
  bool build(std::string_view text);
  // The document of the last successful build(), or null.
  XERCES_CPP_NAMESPACE::DOMDocument* document() const { return document_; }
  // Releases the document.
  void clear();

 private:
  XERCES_CPP_NAMESPACE::DOMDocument* document_ = nullptr;
};

}  // namespace nvo::xml

#endif  // GATEWAY_REPLY_DOCUMENT_H_
