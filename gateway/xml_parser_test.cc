#include "gateway/xml_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/repeat_text.h"

namespace nvo {
namespace {

using nvo_test::repeat;

struct RefusedCase {
  const char* name;
  std::string text;
  const char* errorPart;  // a piece of lastError()
};

TEST(XMLParserTest, RefusesAttacksAndMalformedTextWithAReason) {
  const std::string bomb =
      "<!DOCTYPE lolz [<!ENTITY lol \"lol\">" +
      std::string("<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">") +
      "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">]>" +
      "<lolz>&lol2;</lolz>";
  const std::vector<RefusedCase> cases = {
      {"internal DTD", "<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a>x</a>", "DOCTYPE"},
      {"entity bomb", bomb, "DOCTYPE"},
      {"external entity",
       "<?xml version='1.0'?><!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>",
       "DOCTYPE"},
      {"external DTD", "<!DOCTYPE a SYSTEM \"http://127.0.0.1:1/a.dtd\"><a/>", "DOCTYPE"},
      {"parameter entity", "<!DOCTYPE a [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><a/>",
       "DOCTYPE"},
      {"undeclared entity", "<a>&x;</a>", "line 1"},
      {"oversized", "<a>" + std::string(XMLParser::kMaxDocumentBytes, 'x') + "</a>", "limit"},
      {"unclosed", "<a><b></a>", "line 1"},
      {"two roots", "<a/><b/>", "line 1"},
      {"empty", "", "line 1"},
      {"text only", "hello", "line 1"},
      {"bad UTF-8", "<a>\xff\xfe</a>", "line 1"},
      {"unknown encoding", "<?xml version='1.0' encoding='x-none'?><a/>", "X-NONE"},
      {"XML 1.1", "<?xml version='1.1'?><a>&#1;</a>", "1.0"},
      {"NUL byte", std::string("<a>\0</a>", 8), "line 1"},
      {"too deep", repeat("<a>", 300) + repeat("</a>", 300), "nested"},
      {"very deep", repeat("<a>", 100000) + repeat("</a>", 100000), "nested"},
  };
  XMLParser parser;
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(parser.parse(c.text));
    EXPECT_TRUE(parser.getRoot().isNull());
    EXPECT_NE(parser.lastError().find(c.errorPart), std::string::npos) << parser.lastError();
    // The same object goes on to parse a good document, and the error is gone.
    ASSERT_TRUE(parser.parse("<ok/>"));
    EXPECT_EQ(XMLParser::getName(parser.getRoot()), "ok");
    EXPECT_EQ(parser.lastError(), "");
  }
}

TEST(XMLParserTest, AcceptsDocumentsUpToTheLimitAndDeclaredEncodings) {
  const std::string atLimit = "<a>" + std::string(XMLParser::kMaxDocumentBytes - 7, 'x') + "</a>";
  ASSERT_EQ(atLimit.size(), XMLParser::kMaxDocumentBytes);
  XMLParser big(atLimit);
  EXPECT_EQ(XMLParser::getStringValue(big.getRoot()).size(), XMLParser::kMaxDocumentBytes - 7);

  XMLParser latin1("<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xe9</a>");
  EXPECT_EQ(XMLParser::getStringValue(latin1.getRoot()), "caf\xc3\xa9") << latin1.lastError();
  XMLParser deepEnough(repeat("<a>", 200) + "x" + repeat("</a>", 200));
  EXPECT_EQ(XMLParser::getStringValue(deepEnough.getRoot()), "x");
  // Empty elements do not add to the depth: a thousand of them side by side are no nesting.
  XMLParser wide("<a>" + repeat("<b/>", 1000) + repeat("<c></c>", 1000) + "</a>");
  EXPECT_FALSE(wide.getRoot().isNull()) << wide.lastError();
}

const char* const kReply =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<commandResult><!-- c --><object objectclass=\"orvantacomputer\" id='7'>"
    "<cn>ws &amp; co</cn>\n<member>a</member><member>b<![CDATA[<x>]]></member>"
    "<empty/></object><object><cn>second</cn></object></commandResult>";

TEST(XMLParserTest, FindsAndReadsNodes) {
  XMLParser parser(kReply);
  const DOM_Node root = parser.getRoot();
  ASSERT_FALSE(root.isNull()) << parser.lastError();
  EXPECT_EQ(XMLParser::getName(root), "commandResult");

  const DOM_Node object = XMLParser::firstChild(root);  // skips the comment
  EXPECT_EQ(XMLParser::getName(object), "object");
  EXPECT_EQ(XMLParser::getAttributeValue(object, "objectclass"), "orvantacomputer");
  EXPECT_EQ(XMLParser::getAttributeValue(object, "id"), "7");
  EXPECT_EQ(XMLParser::getAttributeValue(object, "missing"), "");
  EXPECT_EQ(XMLParser::getChildStringValue(object, "cn"), "ws & co");
  EXPECT_EQ(XMLParser::getChildStringValue(object, "nothing"), "");

  const DOM_Node member = XMLParser::findFirstChild(object, "member");
  EXPECT_EQ(XMLParser::getStringValue(member), "a");
  const DOM_Node member2 = XMLParser::findNextSibling(member, "member");
  EXPECT_EQ(XMLParser::getStringValue(member2), "b<x>");
  EXPECT_TRUE(XMLParser::findNextSibling(member2, "member").isNull());
  EXPECT_EQ(XMLParser::getName(XMLParser::nextSibling(member2)), "empty");
  EXPECT_TRUE(XMLParser::nextSibling(XMLParser::nextSibling(member2)).isNull());

  // Any depth, document order; the node itself does not count.
  EXPECT_EQ(XMLParser::findChild(root, "cn"), XMLParser::findFirstChild(object, "cn"));
  const DOM_Node second = XMLParser::findNextSibling(object, "object");
  EXPECT_EQ(XMLParser::getChildStringValue(second, "cn"), "second");
  EXPECT_TRUE(XMLParser::findChild(member, "member").isNull());

  // The node handle's own steps include text nodes.
  const DOM_Node cn = XMLParser::findChild(root, "cn");
  EXPECT_FALSE(cn.getNextSibling().isElement());  // the line break
  EXPECT_EQ(cn.getParentNode(), object);
  EXPECT_TRUE(root.getParentNode().getParentNode().isNull());
  EXPECT_TRUE(root == root && root != nullptr && DOM_Node() == nullptr);

  // Null in, null or empty out.
  const DOM_Node none;
  EXPECT_TRUE(XMLParser::findChild(none, "a").isNull());
  EXPECT_TRUE(XMLParser::firstChild(none).isNull());
  EXPECT_TRUE(XMLParser::nextSibling(none).isNull());
  EXPECT_TRUE(XMLParser::findNextSibling(none, "a").isNull());
  EXPECT_EQ(XMLParser::getName(none), "");
  EXPECT_EQ(XMLParser::getStringValue(none), "");
  EXPECT_EQ(XMLParser::getAttributeValue(none, "a"), "");
  EXPECT_EQ(XMLParser::buildXMLFromNodes(none), "");
  EXPECT_TRUE(XMLParser::appendElement(none, "a").isNull());
  XMLParser::setChildStringValue(none, "a", "b");
  XMLParser::removeChild(none, root);
  EXPECT_TRUE(XMLParser().getRoot().isNull());
}

TEST(XMLParserTest, BuildsTheTextOfASubtree) {
  XMLParser parser(kReply);
  const DOM_Node root = parser.getRoot();
  EXPECT_EQ(XMLParser::buildXMLFromNodes(XMLParser::firstChild(root)),
            "<object id=\"7\" objectclass=\"orvantacomputer\"><cn>ws &amp; co</cn>\n"
            "<member>a</member><member>b&lt;x&gt;</member><empty/></object>");
  // Values a parser would change are written so that they read back the same.
  XMLParser awkward("<a t=\"&#9;x&#10;&#13;&quot;'\">1 &lt; 2 &amp;&amp; 'q' \"r\"&#13;</a>");
  const std::string text = XMLParser::buildXMLFromNodes(awkward.getRoot());
  EXPECT_EQ(text,
            "<a t=\"&#9;x&#10;&#13;&quot;&apos;\">1 &lt; 2 &amp;&amp; &apos;q&apos; "
            "&quot;r&quot;&#13;</a>");
  XMLParser again(text);
  EXPECT_EQ(XMLParser::getAttributeValue(again.getRoot(), "t"), "\tx\n\r\"'");
  EXPECT_EQ(XMLParser::getStringValue(again.getRoot()), "1 < 2 && 'q' \"r\"\r");
}

TEST(XMLParserTest, ChangesNodes) {
  XMLParser parser("<config><auth><url>old</url><url>second</url></auth></config>");
  const DOM_Node auth = XMLParser::findChild(parser.getRoot(), "auth");
  XMLParser::setChildStringValue(auth, "url", "new <&> value");
  XMLParser::setChildStringValue(auth, "password", "\xc3\xa9t\xc3\xa9");
  XMLParser::setChildStringValue(auth, "bad name", "x");  // refused quietly
  const DOM_Node added = XMLParser::appendElement(auth, "primaryGateway");
  EXPECT_EQ(XMLParser::getName(added), "primaryGateway");
  EXPECT_TRUE(XMLParser::appendElement(auth, "no good").isNull());
  EXPECT_EQ(XMLParser::buildXMLFromNodes(auth),
            "<auth><url>new &lt;&amp;&gt; value</url><url>second</url>"
            "<password>\xc3\xa9t\xc3\xa9</password><primaryGateway/></auth>");

  const DOM_Node second = XMLParser::findNextSibling(XMLParser::firstChild(auth), "url");
  XMLParser::removeChild(parser.getRoot(), second);  // not its parent: nothing happens
  EXPECT_FALSE(XMLParser::findNextSibling(XMLParser::firstChild(auth), "url").isNull());
  XMLParser::removeChild(auth, second);
  EXPECT_TRUE(XMLParser::findNextSibling(XMLParser::firstChild(auth), "url").isNull());
  EXPECT_EQ(XMLParser::getStringValue(second), "second");  // a removed node's handle still reads
  XMLParser::setChildStringValue(auth, "url", "");
  EXPECT_EQ(XMLParser::buildXMLFromNodes(XMLParser::firstChild(auth)), "<url/>");
}

TEST(XMLParserTest, BuildsACommandDocument) {
  XMLParser command;
  command.initXML();
  command.addCommand("searchObjects", "cat\"SW&<");
  command.addTagString("objectclass", "orvantacomputer");
  command.addTagString("value", "a<b>&'\"");
  command.addString("<attribute name=\"x\">");
  command.addString("1</attribute>");
  const std::string text = command.getXML(true);
  EXPECT_EQ(text,
            "<?xml version='1.0' encoding='UTF-8'?><command cat=\"cat&quot;SW&amp;&lt;\" "
            "name=\"searchObjects\"><objectclass>orvantacomputer</objectclass>"
            "<value>a&lt;b&gt;&amp;&apos;&quot;</value><attribute name=\"x\">1</attribute>"
            "</command>");
  XMLParser read(text);
  EXPECT_EQ(XMLParser::getAttributeValue(read.getRoot(), "cat"), "cat\"SW&<");
  EXPECT_EQ(XMLParser::getChildStringValue(read.getRoot(), "value"), "a<b>&'\"");

  command.initXML();
  command.addCommand("enumerateBaseObjects", "catNone");
  EXPECT_EQ(command.getXML(true),
            "<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" "
            "name=\"enumerateBaseObjects\"></command>");
}

}  // namespace
}  // namespace nvo
