#include "gateway/element_tree.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include "gateway/plain_document.h"
#include "gateway/xml_parser.h"
#include "gateway/xml_reader.h"
#include "tests/support/repeat_text.h"

namespace nvo::xml {
namespace {

using nvo_test::repeat;

// Documents good and bad: whatever the DOM reader makes of each, the tree reader must make the
// same (the same verdict, the same error text, the same elements, attributes and text).
std::vector<std::string> documents() {
  return {
      "<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" name=\"resolveObject\">"
      "<objectname>cn=pc1,ou=New,o=orvanta</objectname></command>",
      "<command name='searchObjects' cat='catNone'><objectID>ab</objectID><searchParams>"
      "<orvantaid op=\"EQ\">00:11</orvantaid><cn op='IS'>a*</cn></searchParams>"
      "<attribute>cn</attribute><attribute>orvantaid</attribute><nomatch/></command>",
      // Text split by comments, processing instructions, CDATA, references and children.
      "<a>one<!-- c -->two<?pi x?><![CDATA[<three>&]]>&amp;&lt;&#65;&#x1F600;<b>in b</b>tail</a>",
      "<a>\xf0\x9f\x98\x80 caf\xc3\xa9 \xe2\x82\xac</a>",
      "<?xml version='1.0' encoding='ISO-8859-1'?><a x='caf\xe9'>caf\xe9</a>",
      "<a z='1' b='2' m='3'><c  y = \"t\tab\nnl\" /></a>",
      "<a>\r\n line\r end \n</a>",
      "\n<!-- before --><?pi before?>\n<a/>\n<!-- after -->\n",
      "<a><b><c>deep</c>x</b><b/>y<b>z</b></a>",
      "<x:a xmlns:x='urn:x'><x:b x:c='1'/></x:a>",
      "<a>" + repeat("<b>t</b>", 500) + "</a>",
      repeat("<a>", 256) + "x" + repeat("</a>", 256),
      "<a>" + std::string(XMLParser::kMaxDocumentBytes - 7, 'x') + "</a>",
      "<?xml version='1.0' standalone='yes'?><a/>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a b=\"&quot;'&amp;&#9;&#10;&#13;\" c='\"'>"
      "&#x41;&#65;&#0065;&#x10FFFF;&#xFFFD;&#13;&#x85;&gt;]]</a>",
      "<?xml version='1.0'?><a  x  =  'v'\t\n y='w' ></a >",
      "<a\tb='1'/>",
      "<a b='1'c='2'/>",
      "<a b='<'/>",
      "<a b='\t'/>",
      "<a>\x7f</a>",
      "<a>\xc2\x85</a>",
      "<a>\xef\xbf\xbe</a>",
      "<a>\xef\xbb\xbfx</a>",
      "<a>\xed\xa0\x80</a>",
      "<a>&#x;</a>",
      "<a>&#X41;</a>",
      "<a>&#x110000;</a>",
      "<a>&#xFFFE;</a>",
      "<a>&#1;</a>",
      "<a>&amp</a>",
      "<a>&;</a>",
      "<a>& b</a>",
      "<xml/>",
      "<XmLa/>",
      "<_a.b-c/>",
      "<a-/>",
      "<1a/>",
      "<a><b></b></c></a>",
      "<a></a >",
      "<a></ a>",
      "< a/>",
      "<a/ >",
      "<a>x</a><!-- after -->",
      " \t\n<a/> \t\n",
      "<?xml  version='1.0'?><a/>",
      "<?xml version='1.0' ?><a/>",
      "<?xml version='1.0' encoding='utf-8'?><a/>",
      " <?xml version='1.0'?><a/>",
      // Refused or malformed.
      repeat("<a>", 257) + repeat("</a>", 257),
      repeat("<a>", 256) + "<b/>" + repeat("</a>", 256),
      "<a>" + std::string(XMLParser::kMaxDocumentBytes, 'x') + "</a>",
      "<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a>x</a>",
      "<?xml version='1.0'?><!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>",
      "<!DOCTYPE a SYSTEM \"http://127.0.0.1:1/a.dtd\"><a/>",
      "<?xml version='1.1'?><a>&#1;</a>",
      "<?xml version='1.1'?><a/>",
      "<?xml version='1.5'?><a/>",
      "<?xml version='2.0'?><a/>",
      "<?xml version=''?><a/>",
      "<?xml encoding='UTF-8'?><a/>",
      "<?xml version='1.0' encoding='x-none'?><a/>",
      "<a>&x;</a>",
      "<a><b></a>",
      "<a/><b/>",
      "<a/>text",
      "",
      "   ",
      "hello",
      "<a>\xff\xfe</a>",
      std::string("<a>\0</a>", 8),
      "<a x='1' x='2'/>",
      "<a x=1/>",
      "<a>]]></a>",
      "<a>&#0;</a>",
      "<a>&#xD800;</a>",
      "<a",
      "<?xml version='1.0'?>",
      "\xef\xbb\xbf<a>bom</a>",
      std::string("\xff\xfe<\0a\0/\0>\0", 10),
  };
}

TEST(ElementTreeTest, TreeReaderAgreesWithTheDomReader) {
  SecureReader domReader;
  TreeReader treeReader;
  for (const std::string& text : documents()) {
    SCOPED_TRACE(text.substr(0, 80));
    std::string domError;
    std::string treeError;
    const bool domOk = domReader.read(text, XMLParser::kMaxDocumentBytes, domError);
    const bool treeOk = treeReader.read(text, XMLParser::kMaxDocumentBytes, treeError);
    EXPECT_EQ(treeOk, domOk);
    EXPECT_EQ(treeError, domError);
    ElementTree fromDom;
    if (domOk) {
      fromDom.fromDom(domReader.document()->getDocumentElement());
      EXPECT_FALSE(fromDom.empty());
    }
    EXPECT_TRUE(treeReader.tree() == fromDom);
  }
}

// The quick path may only take a text the hardened parser takes, and must read the same tree.
void expectPlainAgrees(SecureReader& domReader, const std::string& text) {
  ElementTree plain;
  if (!readPlainDocument(text, XMLParser::kMaxDocumentBytes, SecureReader::kMaxDepth, plain)) {
    return;
  }
  std::string error;
  ASSERT_TRUE(domReader.read(text, XMLParser::kMaxDocumentBytes, error)) << error;
  ElementTree fromDom;
  fromDom.fromDom(domReader.document()->getDocumentElement());
  EXPECT_TRUE(plain == fromDom);
}

TEST(ElementTreeTest, PlainReaderTakesOnlyWhatTheParserTakesAlike) {
  SecureReader domReader;
  for (const std::string& text : documents()) {
    SCOPED_TRACE(text.substr(0, 80));
    expectPlainAgrees(domReader, text);
  }
  // Random edits of plain commands, with the characters XML treats specially.
  const std::vector<std::string> seeds = {
      "<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" name=\"searchObjects\">"
      "<objectID>x</objectID><searchParams><orvantaid op=\"EQ\">00:1b</orvantaid>"
      "</searchParams></command>",
      "<a b='&amp;&#x41;'>t&lt;<c/>caf\xc3\xa9\n</a>",
  };
  const std::string alphabet = "<>/&;#x'\"= \t\n\r!?[]-_.:a1\xc3\xa9\x00\x7f";
  std::mt19937 random(15);
  std::size_t taken = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = seeds[static_cast<std::size_t>(round) % seeds.size()];
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % (text.size() + 1);
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0:
          text.insert(at, 1, c);
          break;
        case 1:
          if (at < text.size()) {
            text.erase(at, 1);
          }
          break;
        default:
          if (at < text.size()) {
            text[at] = c;
          }
      }
    }
    SCOPED_TRACE(text);
    ElementTree plain;
    taken += readPlainDocument(text, XMLParser::kMaxDocumentBytes, SecureReader::kMaxDepth, plain)
                 ? 1
                 : 0;
    expectPlainAgrees(domReader, text);
  }
  EXPECT_GT(taken, 100u);  // the edits left many plain documents to compare

  // The commands callers build are plain: they take the quick path.
  XMLParser builder;
  builder.initXML();
  builder.addCommand("createObject", "catNone");
  builder.addTagString("objectID", "0b5c2f3e-1111-2222-3333-444455556666");
  builder.addTagString("name", "ws <1> & \"caf\xc3\xa9\"");
  builder.addString("<attribute name=\"userpassword\">p&amp;w</attribute>");
  ElementTree plain;
  EXPECT_TRUE(readPlainDocument(builder.getXML(true), XMLParser::kMaxDocumentBytes,
                                SecureReader::kMaxDepth, plain));
  expectPlainAgrees(domReader, builder.getXML(true));
}

TEST(ElementTreeTest, ReadsElementsAttributesAndText) {
  TreeReader reader;
  std::string error;
  ASSERT_TRUE(reader.read(
      "<r k='v' a='&lt;1&gt;'>t1<e>one<!-- x --><![CDATA[&]]></e>t2<f/><e n='2'>two<g>in</g></e>"
      "</r>",
      XMLParser::kMaxDocumentBytes, error))
      << error;
  const ElementTree::Node root = reader.tree().root();
  EXPECT_EQ(root.name(), "r");
  EXPECT_EQ(root.attribute("k"), "v");
  EXPECT_EQ(root.attribute("a"), "<1>");
  EXPECT_EQ(root.attribute("missing"), "");
  EXPECT_EQ(root.text(), "t1one&t2twoin");
  const ElementTree::Node first = root.firstChild();
  EXPECT_EQ(first.name(), "e");
  EXPECT_EQ(first.text(), "one&");
  EXPECT_EQ(first.nextSibling().name(), "f");
  EXPECT_EQ(first.nextSibling().text(), "");
  const ElementTree::Node second = first.nextSibling("e");
  EXPECT_EQ(second.attribute("n"), "2");
  EXPECT_EQ(second.text(), "twoin");
  EXPECT_EQ(second.firstChild("g").text(), "in");
  EXPECT_TRUE(second.nextSibling() == nullptr);
  EXPECT_TRUE(second.nextSibling("e") == nullptr);
  EXPECT_TRUE(root.firstChild("none") == nullptr);
  EXPECT_EQ(root.firstChild("none").text(), "");
  EXPECT_EQ(root.firstChild("none").name(), "");
  EXPECT_TRUE(ElementTree::Node().firstChild() == nullptr);

  // A refused document leaves an empty tree; the reader goes on with the next one.
  EXPECT_FALSE(reader.read("<r><x></r>", XMLParser::kMaxDocumentBytes, error));
  EXPECT_TRUE(reader.tree().root() == nullptr);
  ASSERT_TRUE(reader.read("<s/>", XMLParser::kMaxDocumentBytes, error)) << error;
  EXPECT_EQ(reader.tree().root().name(), "s");
}

}  // namespace
}  // namespace nvo::xml
