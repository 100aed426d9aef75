// readPlainDocument (inside libnvo only): the quick way into an ElementTree for the plain
// documents callers send nearly always (a command built by XMLParser's builder): UTF-8,
// elements with attributes and text, the five predefined entities and character references.
//
// It accepts a text only when it is sure a conforming parser accepts it and reads the same
// tree from it; anything else (a DOCTYPE, a comment, a processing instruction but the plain
// XML declaration, CDATA, a carriage return, names outside ASCII letters, digits, '_', '-' and
// '.', a control character, text over the size limit or nested deeper than the limit, and
// every malformed text) makes it answer false, leaving the text to the hardened parser, which
// then gives its verdict and its error. So the quick path never decides what is refused or
// with which reason. TreeReader tries it first.
#ifndef GATEWAY_PLAIN_DOCUMENT_H_
#define GATEWAY_PLAIN_DOCUMENT_H_

#include <cstddef>
#include <string_view>

#include "gateway/element_tree.h"

namespace nvo::xml {

// Fills `tree` with the document `text` and answers true when `text` is a plain document of
// at most `maxBytes` bytes nested at most `maxDepth` deep; answers false otherwise (the tree is
// then unspecified).
bool readPlainDocument(std::string_view text, std::size_t maxBytes, std::size_t maxDepth,
                       ElementTree& tree);

}  // namespace nvo::xml

#endif  // GATEWAY_PLAIN_DOCUMENT_H_
