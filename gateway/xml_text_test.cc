#include "gateway/xml_text.h"

#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gateway/xml_parser.h"

namespace nvo {
namespace {

TEST(XmlTextTest, MakeXMLStringEscapesTheFiveSpecials) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"plain text 123", "plain text 123"},
      {"a&b", "a&amp;b"},
      {"<tag>", "&lt;tag&gt;"},
      {"\"quoted\" 'single'", "&quot;quoted&quot; &apos;single&apos;"},
      {"&amp;", "&amp;amp;"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
      {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
  };
  for (const auto& [text, escaped] : cases) {
    EXPECT_EQ(XMLParser::makeXMLString(text), escaped) << text;
    // What it gives stands as element content and reads back as the text.
    if (text.find('\0') == std::string::npos) {
      XMLParser read("<v>" + escaped + "</v>");
      EXPECT_EQ(XMLParser::getStringValue(read.getRoot()), text) << read.lastError();
    }
  }
}

TEST(XmlTextTest, Utf8SequencesAreCheckedStrictly) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"a", 1},
      {"\xc3\xa9", 2},
      {"\xe2\x82\xac", 3},
      {"\xf0\x9f\x98\x80", 4},
      {"\xc0\xaf", 0},          // overlong
      {"\xe0\x80\xaf", 0},      // overlong
      {"\xed\xa0\x80", 0},      // surrogate
      {"\xf4\x90\x80\x80", 0},  // above U+10FFFF
      {"\xc3", 0},              // cut off
      {"\x80", 0},
      {"\xff", 0},
  };
  for (const auto& [bytes, length] : cases) {
    EXPECT_EQ(xml::utf8SequenceLength(bytes), length);
  }
  EXPECT_EQ(xml::toUtf8(xml::toUtf16("a\xf0\x9f\x98\x80\xff").c_str()),
            "a\xf0\x9f\x98\x80\xef\xbf\xbd");
}

// Runs the cases under one LC_CTYPE and restores the old one.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : old_(std::setlocale(LC_CTYPE, nullptr)) {
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~LocaleScope() { std::setlocale(LC_CTYPE, old_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string old_;
  bool ok_ = false;
};

struct Utf8Case {
  std::string in;
  std::string out;
};

void expectConversions(const std::vector<Utf8Case>& cases) {
  for (const Utf8Case& c : cases) {
    EXPECT_EQ(XMLParser::makeUTF8String(c.in.data(), static_cast<int>(c.in.size())), c.out) << c.in;
  }
  EXPECT_EQ(XMLParser::makeUTF8String(nullptr, 4), "");
  EXPECT_EQ(XMLParser::makeUTF8String("abc", 0), "");
  EXPECT_EQ(XMLParser::makeUTF8String("abc", -1), "");
  EXPECT_EQ(XMLParser::makeUTF8String("abcdef", 3), "abc");
}

const std::string kFffd = "\xef\xbf\xbd";

// ASCII passes, well-formed UTF-8 is kept, every other byte is U+FFFD: the same in the C
// locale (ASCII, where iconv refuses each high byte) and in a UTF-8 locale.
const std::vector<Utf8Case> kAsciiOrUtf8Cases = {
    {"plain ASCII ~!", "plain ASCII ~!"},
    {"caf\xc3\xa9", "caf\xc3\xa9"},
    {"caf\xe9", "caf" + kFffd},
    {"\xe9t\xe9", kFffd + "t" + kFffd},
    {"\xe2\x82", kFffd + kFffd},  // cut-off sequence at the end
    {"\xf0\x9f\x98\x80!", "\xf0\x9f\x98\x80!"},
    {"\xc0\xaf", kFffd + kFffd},
    {std::string(5000, 'a') + "\xff" + std::string(5000, 'b'),
     std::string(5000, 'a') + kFffd + std::string(5000, 'b')},
};

TEST(XmlTextTest, MakeUTF8StringInTheCLocale) {
  LocaleScope scope("C");
  ASSERT_TRUE(scope.ok());
  expectConversions(kAsciiOrUtf8Cases);
}

TEST(XmlTextTest, MakeUTF8StringInAUtf8Locale) {
  LocaleScope scope("C.UTF-8");
  ASSERT_TRUE(scope.ok()) << "the C.UTF-8 locale is part of glibc";
  expectConversions(kAsciiOrUtf8Cases);
}

}  // namespace
}  // namespace nvo
