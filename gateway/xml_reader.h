// SecureReader (inside libnvo only): reads untrusted text into a Xerces-C DOM with every
// external reference refused. A document carrying a DOCTYPE is refused as soon as the parser
// meets it (so no DTD, internal or external, and no entity declaration is ever read); text over
// the size limit is refused before parsing; elements nested deeper than kMaxDepth are refused
// as the parser meets them, so that the recursive walks of callers and of Xerces-C stay
// shallow; a document declaring an XML version other than 1.0 is refused after parsing. Errors are
// collected as text; nothing throws out of read().
//
// The reader owns the document it read: document() stays valid until the next read(), clear()
// or destruction. Used by one thread at a time (as TreeReader below).
#ifndef GATEWAY_XML_READER_H_
#define GATEWAY_XML_READER_H_

#include <cstddef>
#include <memory>
#include <string>

#include <xercesc/util/XercesDefs.hpp>

#include "gateway/element_tree.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
XERCES_CPP_NAMESPACE_END

namespace nvo::xml {

// Initialises the Xerces-C platform once per process (thread-safe). Never terminated: documents
// may live until the process ends. Throws std::runtime_error when Xerces-C cannot start.
void ensureXercesInitialized();

class SecureReader {
 public:
  static constexpr std::size_t kMaxDepth = 256;

  SecureReader();
  SecureReader(const SecureReader&) = delete;
  SecureReader& operator=(const SecureReader&) = delete;
  ~SecureReader();

  // Parses `text` (at most `maxBytes` long) and keeps the document. On failure returns false,
  // keeps no document and sets `error` to a one-line reason.
  bool read(const std::string& text, std::size_t maxBytes, std::string& error);
  // The document of the last successful read, or null.
  XERCES_CPP_NAMESPACE::DOMDocument* document() const;
  // Releases the document.
  void clear();

 private:
  class HardenedParser;
  std::unique_ptr<HardenedParser> parser_;
  bool haveDocument_ = false;
};

// TreeReader: the same checks and the same errors as SecureReader for the same text, but the
// document is kept as an ElementTree (elements, attributes, text), without a DOM. For
// documents that are only read, such as a caller's command. A plain document (see
// plain_document.h) is read directly; any other goes through the same hardened Xerces-C
// scanner as SecureReader's, whose events fill the tree.
class TreeReader {
 public:
  TreeReader();
  TreeReader(const TreeReader&) = delete;
  TreeReader& operator=(const TreeReader&) = delete;
  ~TreeReader();

  // As SecureReader::read; the tree is empty after a failure.
  bool read(const std::string& text, std::size_t maxBytes, std::string& error);
  const ElementTree& tree() const { return tree_; }

 private:
  class TreeParser;
  ElementTree tree_;
  std::unique_ptr<TreeParser> parser_;
};

}  // namespace nvo::xml

#endif  // GATEWAY_XML_READER_H_
