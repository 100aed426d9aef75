#include "gateway/xml_reader.h"

#include <stdexcept>
#include <string_view>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

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

bool isXml10(const x::DOMDocument* document) {
  const XMLCh* version = document->getXmlVersion();  // null without a declaration
  return version == nullptr || std::u16string_view(version) == u"1.0";
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
    setValidationScheme(Val_Never);
    setDoNamespaces(false);
    setDoSchema(false);
    setDoXInclude(false);
    setLoadExternalDTD(false);
    setSkipDTDValidation(true);
    setDisableDefaultEntityResolution(true);
    setCreateEntityReferenceNodes(false);
    security_.setEntityExpansionLimit(64);
    setSecurityManager(&security_);
    setErrorHandler(&errors_);
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
  error.clear();
  if (text.size() > maxBytes) {
    error = "document refused: " + std::to_string(text.size()) + " bytes, more than the limit of " +
            std::to_string(maxBytes);
    return false;
  }
  try {
    ensureXercesInitialized();
    if (!parser_) {
      parser_ = std::make_unique<HardenedParser>();
    }
    const x::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                      "document");
    parser_->errors().resetErrors();  // the parser does not do it between documents
    parser_->resetDepth();
    parser_->parse(source);
  } catch (const DoctypeRefused&) {
    error = "document refused: it carries a DOCTYPE (no DTD or entity declaration is accepted)";
  } catch (const TooDeep&) {
    error =
        "document refused: elements nested more than " + std::to_string(kMaxDepth) + " levels deep";
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
  if (!error.empty()) {
    parser_.reset();  // a parse cut short leaves nothing worth reusing
    return false;
  }
  if (!parser_->errors().empty()) {
    error = "XML parse error at " + parser_->errors().text();
  } else if (parser_->getDocument() == nullptr ||
             parser_->getDocument()->getDocumentElement() == nullptr) {
    error = "XML parse error: no document element";
  } else if (!isXml10(parser_->getDocument())) {
    // The writer and every reader of ours speak XML 1.0, whose characters and line ends
    // differ from 1.1's.
    error = "document refused: only XML version 1.0 is accepted";
  } else {
    haveDocument_ = true;
    return true;
  }
  parser_->resetDocumentPool();
  return false;
}

}  // namespace nvo::xml
