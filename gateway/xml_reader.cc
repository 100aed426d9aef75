#include "gateway/xml_reader.h"

#include <new>
#include <stdexcept>
#include <string_view>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include "gateway/element_tree.h"
#include "gateway/plain_document.h"
#include "gateway/xml_text.h"

namespace nvo::xml {

namespace x = XERCES_CPP_NAMESPACE;

namespace {

// Thrown through the scanner when it meets a DOCTYPE, before any of it is read.
struct DoctypeRefused {};
// Thrown through the scanner when elements nest deeper than the limit.
struct TooDeep {};

// Keeps the first few error messages of one parse; never throws, so the scanner decides how
// to go on (it stops at the first fatal error).
class ErrorCollector : public x::ErrorHandler {
 public:
  void warning(const x::SAXParseException&) override {}
  void error(const x::SAXParseException& e) override { add(e); }
  void fatalError(const x::SAXParseException& e) override { add(e); }
  void resetErrors() override {
    text_.clear();
    count_ = 0;
  }
  bool empty() const { return count_ == 0; }
  const std::string& text() const { return text_; }

 private:
  static constexpr int kKept = 3;

  void add(const x::SAXParseException& e) noexcept {
    try {
      if (count_++ >= kKept) {
        return;
      }
      if (!text_.empty()) {
        text_ += "; ";
      }
      text_ += "line " + std::to_string(e.getLineNumber()) + ", column " +
               std::to_string(e.getColumnNumber()) + ": " + toUtf8(e.getMessage());
    } catch (...) {  // out of memory: the count still marks the failure
    }
  }

  std::string text_;
  int count_ = 0;
};

// Null without a declaration.
bool isXml10(const XMLCh* version) {
  return version == nullptr || std::u16string_view(version) == u"1.0";
}

// The settings both parsers share for untrusted input: no validation, no namespaces or
// schemas, no external DTD, no default entity resolution, a security manager with a small
// expansion limit.
template <typename Parser>
void harden(Parser& parser, x::SecurityManager& security, x::ErrorHandler& errors) {
  parser.setValidationScheme(Parser::Val_Never);
  parser.setDoNamespaces(false);
  parser.setDoSchema(false);
  parser.setLoadExternalDTD(false);
  parser.setSkipDTDValidation(true);
  parser.setDisableDefaultEntityResolution(true);
  security.setEntityExpansionLimit(64);
  parser.setSecurityManager(&security);
  parser.setErrorHandler(&errors);
}

// Runs `parse` on `text` after the size check, with every exception out of the scanner turned
// into an error text. True when nothing was thrown; the caller then looks at the errors the
// parser collected.
template <typename Parse>
bool guardedParse(const std::string& text, std::size_t maxBytes, std::string& error, Parse parse) {
  error.clear();
  if (text.size() > maxBytes) {
    error = "document refused: " + std::to_string(text.size()) + " bytes, more than the limit of " +
            std::to_string(maxBytes);
    return false;
  }
  try {
    ensureXercesInitialized();
    const x::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                      "document");
    parse(source);
  } catch (const DoctypeRefused&) {
    error = "document refused: it carries a DOCTYPE (no DTD or entity declaration is accepted)";
  } catch (const TooDeep&) {
    error = "document refused: elements nested more than " +
            std::to_string(SecureReader::kMaxDepth) + " levels deep";
  } catch (const x::XMLException& e) {
    error = "XML error: " + toUtf8(e.getMessage());
  } catch (const x::DOMException& e) {
    error = "XML error: " + toUtf8(e.getMessage());
  } catch (const x::OutOfMemoryException&) {
    error = "XML error: out of memory";
  } catch (const std::exception& e) {
    error = std::string("XML error: ") + e.what();
  } catch (...) {
    error = "XML error: the parser failed";
  }
  return error.empty();
}

// The error of a parse that ran to its end, from what the parser collected and saw; empty
// when the document is accepted.
std::string verdict(const ErrorCollector& errors, bool haveRoot, const XMLCh* version) {
  if (!errors.empty()) {
    return "XML parse error at " + errors.text();
  }
  if (!haveRoot) {
    return "XML parse error: no document element";
  }
  if (!isXml10(version)) {
    // The writer and every reader of ours speak XML 1.0, whose characters and line ends
    // differ from 1.1's.
    return "document refused: only XML version 1.0 is accepted";
  }
  return std::string();
}

}  // namespace

void ensureXercesInitialized() {
  static const bool initialized = [] {
    try {
      x::XMLPlatformUtils::Initialize();
    } catch (const x::XMLException& e) {
      throw std::runtime_error("Xerces-C could not start: " + toUtf8(e.getMessage()));
    }
    return true;
  }();
  (void)initialized;
}

// XercesDOMParser set up for untrusted input: no validation, no namespaces or schemas, no
// external DTD, no default entity resolution, no entity reference nodes, a security manager
// with a small expansion limit, and a DOCTYPE ends the parse at once.
class SecureReader::HardenedParser : public x::XercesDOMParser {
 public:
  HardenedParser() {
    harden(*this, security_, errors_);
    setDoXInclude(false);
    setCreateEntityReferenceNodes(false);
  }

  ErrorCollector& errors() { return errors_; }

  void doctypeDecl(const x::DTDElementDecl&, const XMLCh* const, const XMLCh* const, const bool,
                   const bool) override {
    throw DoctypeRefused{};
  }

  // Elements are counted as the scanner opens and closes them, so a deep document is refused
  // before it is built and nothing walks the tree afterwards.
  void startElement(const x::XMLElementDecl& declaration, const unsigned int urlId,
                    const XMLCh* const prefix, const x::RefVectorOf<x::XMLAttr>& attributes,
                    const XMLSize_t attributeCount, const bool isEmpty,
                    const bool isRoot) override {
    if (++depth_ > kMaxDepth) {  // an empty element is ended by endElement too
      throw TooDeep{};
    }
    XercesDOMParser::startElement(declaration, urlId, prefix, attributes, attributeCount, isEmpty,
                                  isRoot);
  }
  void endElement(const x::XMLElementDecl& declaration, const unsigned int urlId, const bool isRoot,
                  const XMLCh* const prefix) override {
    --depth_;
    XercesDOMParser::endElement(declaration, urlId, isRoot, prefix);
  }
  void resetDepth() { depth_ = 0; }

 private:
  x::SecurityManager security_;
  ErrorCollector errors_;
  std::size_t depth_ = 0;
};

SecureReader::SecureReader() = default;
SecureReader::~SecureReader() = default;

x::DOMDocument* SecureReader::document() const {
  return haveDocument_ ? parser_->getDocument() : nullptr;
}

void SecureReader::clear() {
  haveDocument_ = false;
  if (parser_) {
    parser_->resetDocumentPool();  // the parser keeps every document it built until then
  }
}

bool SecureReader::read(const std::string& text, std::size_t maxBytes, std::string& error) {
  clear();
  const bool ran = guardedParse(text, maxBytes, error, [this](const x::InputSource& source) {
    if (!parser_) {
      parser_ = std::make_unique<HardenedParser>();
    }
    parser_->errors().resetErrors();  // the parser does not do it between documents
    parser_->resetDepth();
    parser_->parse(source);
  });
  if (!ran) {
    parser_.reset();  // a parse cut short leaves nothing worth reusing
    return false;
  }
  const x::DOMDocument* document = parser_->getDocument();
  error =
      verdict(parser_->errors(), document != nullptr && document->getDocumentElement() != nullptr,
              document == nullptr ? nullptr : document->getXmlVersion());
  if (error.empty()) {
    haveDocument_ = true;
    return true;
  }
  parser_->resetDocumentPool();
  return false;
}

// SAXParser set up as HardenedParser, whose scanner events fill an ElementTree directly: the
// same scanner with the same settings, so the same documents are refused with the same errors.
class TreeReader::TreeParser : public x::SAXParser {
 public:
  explicit TreeParser(ElementTree& tree) : tree_(tree) {
    harden(*this, security_, errors_);
    // The scanner reports the document and the DOCTYPE to this parser only while it has
    // handlers of these kinds; their own calls are no-ops, since the events are taken here.
    setDocumentHandler(&unused_);
    setDTDHandler(&unused_);
  }

  ErrorCollector& errors() { return errors_; }
  const XMLCh* version() const { return haveVersion_ ? version_.c_str() : nullptr; }

  void start() {
    errors_.resetErrors();
    depth_ = 0;
    haveVersion_ = false;
    version_.clear();
  }

  void doctypeDecl(const x::DTDElementDecl&, const XMLCh* const, const XMLCh* const, const bool,
                   const bool) override {
    throw DoctypeRefused{};
  }

  void XMLDecl(const XMLCh* const version, const XMLCh* const, const XMLCh* const,
               const XMLCh* const) override {
    haveVersion_ = version != nullptr;
    version_ = version == nullptr ? u"" : version;
    // The DOM keeps only the versions it knows and refuses any other with this exception
    // (a scanner lets "1.5" through); the same document gets the same error here.
    if (haveVersion_ && !version_.empty() && version_ != u"1.0" && version_ != u"1.1") {
      throw x::DOMException(x::DOMException::NOT_SUPPORTED_ERR, 0,
                            x::XMLPlatformUtils::fgMemoryManager);
    }
  }

  void startElement(const x::XMLElementDecl& declaration, const unsigned int, const XMLCh* const,
                    const x::RefVectorOf<x::XMLAttr>& attributes, const XMLSize_t attributeCount,
                    const bool isEmpty, const bool) override {
    if (++depth_ > SecureReader::kMaxDepth) {
      throw TooDeep{};
    }
    tree_.open(toUtf8(declaration.getFullName()));
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
      const x::XMLAttr* attribute = attributes.elementAt(i);
      tree_.addAttribute(toUtf8(attribute->getQName()), toUtf8(attribute->getValue()));
    }
    tree_.sortAttributes();
    if (isEmpty) {  // no endElement follows an empty element here
      --depth_;
      tree_.close();
    }
  }
  void endElement(const x::XMLElementDecl&, const unsigned int, const bool,
                  const XMLCh* const) override {
    --depth_;
    tree_.close();
  }
  void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool) override {
    if (depth_ > 0) {
      tree_.characters(std::u16string_view(chars, length));
    }
  }
  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool) override {
    if (depth_ > 0) {
      tree_.characters(std::u16string_view(chars, length));
    }
  }
  // Comments, processing instructions and entity boundaries are not kept.
  void docComment(const XMLCh* const) override {}
  void docPI(const XMLCh* const, const XMLCh* const) override {}
  void startEntityReference(const x::XMLEntityDecl&) override {}
  void endEntityReference(const x::XMLEntityDecl&) override {}

 private:
  ElementTree& tree_;
  x::HandlerBase unused_;
  x::SecurityManager security_;
  ErrorCollector errors_;
  std::size_t depth_ = 0;
  bool haveVersion_ = false;
  std::u16string version_;
};

TreeReader::TreeReader() = default;
TreeReader::~TreeReader() = default;

bool TreeReader::read(const std::string& text, std::size_t maxBytes, std::string& error) {
  try {
    if (readPlainDocument(text, maxBytes, SecureReader::kMaxDepth, tree_)) {
      error.clear();
      return true;
    }
  } catch (const std::bad_alloc&) {
    // Left to the scanner, whose verdict on memory is the reader's.
  }
  tree_.clear();
  const bool ran = guardedParse(text, maxBytes, error, [this](const x::InputSource& source) {
    if (!parser_) {
      parser_ = std::make_unique<TreeParser>(tree_);
    }
    parser_->start();
    parser_->parse(source);
  });
  if (!ran) {
    parser_.reset();
    tree_.clear();
    return false;
  }
  error = verdict(parser_->errors(), !tree_.empty(), parser_->version());
  if (!error.empty()) {
    tree_.clear();
    return false;
  }
  return true;
}

}  // namespace nvo::xml
