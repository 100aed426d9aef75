#include "gateway/reply_document.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "gateway/xml_reader.h"
#include "gateway/xml_text.h"

namespace nvo::xml {
namespace {

namespace x = XERCES_CPP_NAMESPACE;

// Every node below `node` with its kind, name, value and attributes, and the links read both
// ways (next sibling, previous sibling, parent), so that two trees compare node by node.
void dump(const x::DOMNode* node, std::string& out) {
  out += std::to_string(node->getNodeType()) + ":" + toUtf8(node->getNodeName());
  if (node->getNodeValue() != nullptr) {
    out += "=[" + toUtf8(node->getNodeValue()) + "]";
  }
  if (const x::DOMNamedNodeMap* attributes = node->getAttributes()) {
    for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
      out += " @" + toUtf8(attributes->item(i)->getNodeName()) + "=[" +
             toUtf8(attributes->item(i)->getNodeValue()) + "]";
    }
  }
  out += "{";
  const x::DOMNode* previous = nullptr;
  for (const x::DOMNode* child = node->getFirstChild(); child != nullptr;
       child = child->getNextSibling()) {
    EXPECT_EQ(child->getParentNode(), node);
    EXPECT_EQ(child->getPreviousSibling(), previous);
    dump(child, out);
    previous = child;
  }
  EXPECT_EQ(node->getLastChild(), previous);
  out += "}";
}

TEST(ReplyDocumentTest, BuildsWhatTheParserBuildsAndLeavesOtherShapesToIt) {
  const std::vector<std::string> built = {
      "<commandResult></commandResult>",
      "<commandResult><objectID>0b6c-11</objectID></commandResult>",
      "<commandResult><object><objectID>u</objectID><objectclass>orvantacomputer</objectclass>"
      "<displayname>a,b</displayname><objectname>cn=a\\2cb,o=orvanta</objectname>"
      "<description></description><orvantalink displayname=\"x &amp; &quot;y&quot;\" "
      "objectname=\"cn=x,o=t&#9;&#10;&#13;\">cn=x,o=t</orvantalink></object><object>"
      "<objectID>v</objectID></object></commandResult>",
      "<commandResult><error><errorNum>1000</errorNum><errorMsg>a &lt;b&gt; &amp; &apos;c&apos; "
      "line\nnext&#13;\ttab \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xef\xbf\xbd</errorMsg>"
      "</error></commandResult>",
      // Plain runs broken by every kind of byte the quick copy stops at.
      "<commandResult><cn a=\"it's \x7f&amp;\">it's\x7f\xc3\xa9x&gt;y\tz</cn></commandResult>",
  };
  for (const std::string& text : built) {
    SCOPED_TRACE(text);
    ReplyDocument direct;
    ASSERT_TRUE(direct.build(text));
    SecureReader reader;
    std::string error;
    ASSERT_TRUE(reader.read(text, 1 << 20, error)) << error;
    std::string fromBuild;
    std::string fromParse;
    dump(direct.document()->getDocumentElement(), fromBuild);
    dump(reader.document()->getDocumentElement(), fromParse);
    EXPECT_EQ(fromBuild, fromParse);
    EXPECT_EQ(direct.document()->getDocumentElement()->getParentNode(), direct.document());
  }

  // Whatever the reply writer does not write, or a parser would refuse or normalise.
  const std::vector<std::string> left = {
      "",
      "text",
      "<?xml version='1.0'?><a></a>",
      "<a/>",
      "<a><!-- c --></a>",
      "<a><![CDATA[x]]></a>",
      "<a>x</b>",
      "<a></a><b></b>",
      "<a></a>tail",
      "<a>",
      "<a>&unknown;</a>",
      "<a>&#65;</a>",
      "<a>1 > 0</a>",
      "<a>cr\rhere</a>",
      "<a>\x01</a>",
      "<a>\xff</a>",
      "<a>\xef\xbf\xbe</a>",
      "<a b=\"1\" b=\"2\"></a>",
      "<a b=\"tab\there\"></a>",
      "<a b='single'></a>",
      "<a b=\"x\"y></a>",
      "<1a></1a>",
      "<a:b></a:b>",
  };
  for (const std::string& text : left) {
    SCOPED_TRACE(text);
    ReplyDocument direct;
    EXPECT_FALSE(direct.build(text));
    EXPECT_EQ(direct.document(), nullptr);
  }
  std::string deep;
  for (std::size_t i = 0; i <= SecureReader::kMaxDepth; ++i) {
    deep += "<a>";
  }
  ReplyDocument direct;
  EXPECT_FALSE(direct.build(deep));
  EXPECT_TRUE(direct.build("<a>x</a>"));
  EXPECT_FALSE(direct.build("<a>x"));
  EXPECT_EQ(direct.document(), nullptr);  // a failed build leaves no document behind
}

}  // namespace
}  // namespace nvo::xml
