#include "slp/text.h"

#include <gtest/gtest.h>

namespace vslp {
namespace {

TEST(TextTest, FoldsCaseAndWhiteSpace) {
  EXPECT_EQ(fold("  Hello \t  World  "), "hello world");
  EXPECT_TRUE(equalFolded("DEFAULT", " default"));
  EXPECT_FALSE(equalFolded("DEFAULT", "DEFAULTS"));
}

TEST(TextTest, ComparesScopeLists) {
  EXPECT_TRUE(listsIntersect("a, DEFAULT", "default"));
  EXPECT_FALSE(listsIntersect("a,b", "c"));
  EXPECT_FALSE(listsIntersect("", "DEFAULT"));
  EXPECT_TRUE(listIsSubset("DEFAULT", "default,other"));
  EXPECT_FALSE(listIsSubset("DEFAULT,x", "DEFAULT"));
  EXPECT_FALSE(listIsSubset(" , ", "DEFAULT"));
}

TEST(TextTest, EscapesAndUnescapes) {
  struct Case {
    const char* raw;
    const char* escaped;
  };
  const Case cases[] = {{"a,b", "a\\2cb"},
                        {"(x)", "\\28x\\29"},
                        {"back\\slash", "back\\5cslash"},
                        {"a=b!c<d>e~", "a\\3db\\21c\\3cd\\3ee\\7e"},
                        {"plain text", "plain text"}};
  for (const Case& c : cases) {
    EXPECT_EQ(escapeText(c.raw, false).value_or("?"), c.escaped) << c.raw;
    EXPECT_EQ(unescapeText(c.escaped, false).value_or("?"), c.raw) << c.escaped;
  }
  EXPECT_FALSE(escapeText("a*b", true)) << "'*' is no tag character";
  EXPECT_EQ(escapeText("a*b", false).value_or("?"), "a*b");
  EXPECT_FALSE(unescapeText("a\\2", false));
  EXPECT_FALSE(unescapeText("a\\zz", false));
  EXPECT_FALSE(unescapeText("a\\2a", true)) << "escaped '*' in a tag";
  EXPECT_EQ(unescapeText("\\FF\\00", false).value_or("?"), std::string("\xff\0", 2));
}

TEST(TextTest, ChecksEscapingOfValues) {
  EXPECT_TRUE(isWellEscaped("value with \\2c comma"));
  EXPECT_FALSE(isWellEscaped("raw,comma"));
  EXPECT_FALSE(isWellEscaped("bad \\g1"));
  EXPECT_FALSE(isWellEscaped("trailing \\"));
  EXPECT_FALSE(isWellEscaped(std::string("ctl\x01", 4)));
}

TEST(TextTest, ValidatesUtf8) {
  EXPECT_TRUE(isValidUtf8("plain"));
  EXPECT_TRUE(isValidUtf8("gr\xc3\xbc\xc3\x9f"));
  EXPECT_TRUE(isValidUtf8("\xf0\x9f\x98\x80"));
  EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong '/'
  EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xe2\x82"));          // cut short
  EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xff"));
}

TEST(TextTest, ValidatesLanguageTags) {
  for (const char* good : {"en", "en-GB", "de-CH-1996", "i-klingon", "zh-Hant"}) {
    EXPECT_TRUE(isValidLanguageTag(good)) << good;
  }
  for (const char* bad : {"", "-en", "en-", "en--gb", "1en", "toolongtag", "en_GB"}) {
    EXPECT_FALSE(isValidLanguageTag(bad)) << bad;
  }
  EXPECT_EQ(primaryLanguage("EN-gb"), "en");
}

TEST(TextTest, MatchesServiceTypes) {
  struct Case {
    const char* requested;
    const char* registered;
    bool match;
  };
  const Case cases[] = {
      {"service:tolm.x", "service:tolm.x", true},
      {"tolm.x", "service:tolm.x", true},
      {"SERVICE:TOLM.X", "service:tolm.x", true},
      {"service:tolm.x", "tolm.x", true},
      {"service:tolm", "service:tolm.x", false},
      {"service:tolm.y", "service:tolm.x", false},
      {"service:printer", "service:printer:lpr", true},
      {"service:printer:lpr", "service:printer", false},
      {"service:printer:lpr", "service:printer:ipp", false},
      {"service:print", "service:printer", false},
      {"", "service:x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(serviceTypeMatches(c.requested, c.registered), c.match)
        << c.requested << " vs " << c.registered;
  }
  EXPECT_EQ(namingAuthorityOf("service:tolm.x"), "x");
  EXPECT_EQ(namingAuthorityOf("service:printer.acme:lpr"), "acme");
  EXPECT_EQ(namingAuthorityOf("service:printer:lpr"), "");
}

TEST(TextTest, MatchesWildcards) {
  EXPECT_TRUE(wildcardMatch("public_key", "PUBLIC_KEY"));
  EXPECT_TRUE(wildcardMatch("pub*", "public_key"));
  EXPECT_TRUE(wildcardMatch("*key", "public_key"));
  EXPECT_TRUE(wildcardMatch("p*c*k*y", "public_key"));
  EXPECT_TRUE(wildcardMatch("*", "anything"));
  EXPECT_FALSE(wildcardMatch("pub*x", "public_key"));
  EXPECT_FALSE(wildcardMatch("key", "public_key"));
}

}  // namespace
}  // namespace vslp
