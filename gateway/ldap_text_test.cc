#include "gateway/ldap_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace nvo {
namespace {

using namespace std::string_literals;

struct Case {
  std::string in;
  std::string out;
};

TEST(LdapTextTest, FilterValuesEscapeEveryFilterSpecial) {
  const std::vector<Case> cases = {
      {"00:11:22:33:44:55", "00:11:22:33:44:55"},
      {"*", "\\2a"},
      {")(", "\\29\\28"},
      {"*)(objectClass=*", "\\2a\\29\\28objectClass=\\2a"},
      {"\\", "\\5c"},
      {"\\2a", "\\5c2a"},
      {"a\0b"s, "a\\00b"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeFilterValue(c.in), c.out) << c.in;
  }
}

TEST(LdapTextTest, WildcardPatternsKeepOnlyTheStarAsWildcard) {
  const std::vector<Case> cases = {
      {"*", "*"},          {"pc*", "pc*"},         {"*lab*", "*lab*"},
      {"a**b", "a*b"},     {"a(*)", "a\\28*\\29"}, {"\\*", "\\5c*"},
      {"x\0*"s, "x\\00*"}, {"plain", "plain"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wildcardFilterValue(c.in), c.out) << c.in;
  }
}

TEST(LdapTextTest, RdnValuesEscapeDnSpecialsAndRoundTrip) {
  const std::vector<Case> cases = {
      {"pc1", "pc1"},
      {"a,b", "a\\,b"},
      {"a+b=c", "a\\+b\\=c"},
      {"<x>;\"y\"", "\\<x\\>\\;\\\"y\\\""},
      {"back\\slash", "back\\\\slash"},
      {"#1", "\\#1"},
      {" lead and trail ", "\\ lead and trail\\ "},
      {"mid#dle", "mid#dle"},
      {"n\0l"s, "n\\00l"},
      {"x,ou=evil,o=orvanta", "x\\,ou\\=evil\\,o\\=orvanta"},
  };
  for (const Case& c : cases) {
    std::string escaped = escapeRdnValue(c.in);
    EXPECT_EQ(escaped, c.out) << c.in;
    // The escaped value is one RDN whose value reads back unchanged.
    auto rdns = splitDn("cn=" + escaped + ",o=orvanta");
    ASSERT_TRUE(rdns.has_value()) << c.in;
    ASSERT_EQ(rdns->size(), 2u) << c.in;
    EXPECT_EQ(rdnValue(rdns->front()), c.in);
  }
}

TEST(LdapTextTest, DnsSplitIntoRdnsOrAreRefused) {
  auto rdns = splitDn("cn=a\\,b,ou=Lab\\2C 1,o=orvanta");
  ASSERT_TRUE(rdns.has_value());
  EXPECT_EQ(*rdns, (std::vector<std::string>{"cn=a\\,b", "ou=Lab\\2C 1", "o=orvanta"}));
  EXPECT_EQ(rdnValue((*rdns)[1]), "Lab, 1");
  EXPECT_EQ(rdnType("OU=x"), "ou");
  EXPECT_TRUE(splitDn("")->empty());
  EXPECT_TRUE(splitDn("cn=a+sn=b,o=x").has_value());
  for (const char* bad : {"cn", "=a", "cn=a\\", "cn=a,,o=x", "cn=a,", "c n=a", "cn=a,o"}) {
    EXPECT_FALSE(splitDn(bad).has_value()) << bad;
  }
  EXPECT_FALSE(splitDn("cn=a\0b"s).has_value());
}

TEST(LdapTextTest, NamesAndAncestry) {
  EXPECT_EQ(parentDn("cn=a\\,b,ou=x,o=y"), "ou=x,o=y");
  EXPECT_EQ(parentDn("o=y"), "");
  EXPECT_EQ(displayNameOf("cn=a\\2Cb,o=y"), "a,b");
  EXPECT_EQ(displayNameOf("o=orvanta"), "orvanta");
  EXPECT_TRUE(dnIsWithin("cn=pc,ou=Lab,o=orvanta", "ou=lab,O=Orvanta"));
  EXPECT_TRUE(dnIsWithin("ou=lab,o=orvanta", "ou=lab,o=orvanta"));
  EXPECT_FALSE(dnIsWithin("ou=lab,o=orvanta", "cn=pc,ou=lab,o=orvanta"));
  EXPECT_FALSE(dnIsWithin("cn=pc,ou=lab2,o=orvanta", "ou=lab,o=orvanta"));
  EXPECT_TRUE(dnIsWithin("cn=a\\,b,o=x", "cn=a\\2cb,o=x"));
}

TEST(LdapTextTest, AttributeNamesAndUuids) {
  for (const char* good : {"cn", "orvantaid", "x-1", "userPassword"}) {
    EXPECT_TRUE(isAttributeName(good)) << good;
  }
  for (const char* bad : {"", "1cn", "cn;lang-de", "c n", "cn)(", "2.5.4.3", "a*"}) {
    EXPECT_FALSE(isAttributeName(bad)) << bad;
  }
  EXPECT_FALSE(isAttributeName(std::string(65, 'a')));
  EXPECT_TRUE(isUuid("0f8c3e1a-1b2c-4d5e-8f90-a1b2c3d4e5f6"));
  EXPECT_TRUE(isUuid("0F8C3E1A-1B2C-4D5E-8F90-A1B2C3D4E5F6"));
  for (const char* bad :
       {"", "*", "0f8c3e1a-1b2c-4d5e-8f90-a1b2c3d4e5f", "0f8c3e1a1b2c4d5e8f90a1b2c3d4e5f6xxxx",
        "0f8c3e1a-1b2c-4d5e-8f90-a1b2c3d4e5g6"}) {
    EXPECT_FALSE(isUuid(bad)) << bad;
  }
}

TEST(LdapTextTest, ReplyTextIsAlwaysValidXmlContent) {
  const std::vector<Case> cases = {
      {"a<b>&'\"", "a&lt;b&gt;&amp;&apos;&quot;"},
      {"tab\tnl\ncr\r", "tab\tnl\ncr&#13;"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
      {"bell\x07", "bell\xef\xbf\xbd"},
      {"nul\0"s, "nul\xef\xbf\xbd"},
      {"bad\xff", "bad\xef\xbf\xbd"},
      {"overlong\xc0\xaf", "overlong\xef\xbf\xbd\xef\xbf\xbd"},
      {"surrogate\xed\xa0\x80", "surrogate\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"cut\xe2\x82", "cut\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xef\xbf\xbf", "\xef\xbf\xbd"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(xmlText(c.in), c.out) << c.in;
  }
  EXPECT_EQ(xmlText("a\tb\nc\"", true), "a&#9;b&#10;c&quot;");
}

}  // namespace
}  // namespace nvo
