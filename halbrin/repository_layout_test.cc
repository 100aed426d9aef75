#include "halbrin/repository_layout.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace halbrin {
namespace {

TEST(RepositoryLayoutTest, BuildsTheFourDnsInOrder) {
  const OuDns dns = buildOuDns("ou=SoftwareRepository, o=orvanta");
  EXPECT_EQ(dns[kRepositoryOu], "ou=SoftwareRepository, o=orvanta");
  EXPECT_EQ(dns[kRpmOu], "ou=RPM, ou=SoftwareRepository, o=orvanta");
  EXPECT_EQ(dns[kSecureOu], "ou=secure, ou=RPM, ou=SoftwareRepository, o=orvanta");
  EXPECT_EQ(dns[kPublicOu], "ou=pub, ou=RPM, ou=SoftwareRepository, o=orvanta");
  EXPECT_EQ(findOverlongDn(dns), nullptr);
}

TEST(RepositoryLayoutTest, LongestDnMayReachTheLimitButNotPassIt) {
  // "ou=secure, ou=RPM, " adds 19 characters, more than any other prefix.
  const std::string atLimit = "ou=" + std::string(kMaxTextLength - 19 - 3, 'r');
  EXPECT_EQ(findOverlongDn(buildOuDns(atLimit)), nullptr);

  const OuDns over = buildOuDns(atLimit + "r");
  const std::string* overlong = findOverlongDn(over);
  ASSERT_NE(overlong, nullptr);
  EXPECT_EQ(*overlong, over[kSecureOu]);
  EXPECT_EQ(overlong->size(), kMaxTextLength + 1);  // reported whole, never cut
}

TEST(RepositoryLayoutTest, FirstComponentValue) {
  struct Case {
    const char* dn;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"ou=SoftwareRepository, o=orvanta", "SoftwareRepository"},
      {"ou=pub, ou=RPM, o=orvanta", "pub"},
      {"ou=Repository", std::nullopt},
      {"Repository, o=orvanta", std::nullopt},
      {"Repository, o=orvanta, c=x", "orvanta"},
      {"", std::nullopt},
      {"ou=,o=orvanta", ""},
      {"ou = spaced ,o=x", " spaced "},
      {"ou=a=b,o=x", "a=b"},
      {"a,b=c,d", "c"},
      {"ou,x=y", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(firstComponentValue(c.dn), c.expected) << c.dn;
  }
}

TEST(RepositoryLayoutTest, AciRuleNamesThePublicOu) {
  const std::string pub = "ou=pub, ou=RPM, ou=SoftwareRepository, o=orvanta";
  const std::optional<Attribute> rule = accessRule(DirectoryKind::kIPlanet, pub);
  ASSERT_TRUE(rule.has_value());
  EXPECT_EQ(rule->name, "aci");
  ASSERT_EQ(rule->values.size(), 1u);
  EXPECT_EQ(rule->values[0],
            "(target=\"ldap:///ou=pub, ou=RPM, ou=SoftwareRepository, o=orvanta\")"
            "(targetattr=\"*\")(version 3.0; acl \"unknown\"; allow (all) userdn = "
            "\"ldap:///anyone\"; )");
}

TEST(RepositoryLayoutTest, AciRuleForLongDnIsNotCut) {
  const std::string pub(kMaxTextLength, 'p');
  const std::optional<Attribute> rule = accessRule(DirectoryKind::kIPlanet, pub);
  ASSERT_TRUE(rule.has_value());
  ASSERT_GT(rule->values[0].size(), kMaxTextLength);
  EXPECT_NE(rule->values[0].find(pub), std::string::npos);
  EXPECT_TRUE(rule->values[0].ends_with("userdn = \"ldap:///anyone\"; )"));
}

TEST(RepositoryLayoutTest, AccessRuleByKind) {
  const std::optional<Attribute> acl = accessRule(DirectoryKind::kEDirectory, "ou=pub, o=x");
  ASSERT_TRUE(acl.has_value());
  EXPECT_EQ(acl->name, "ACL");
  EXPECT_EQ(acl->values, std::vector<std::string>{"16#subtree#[Root]#[Entry Rights]"});
  EXPECT_FALSE(accessRule(DirectoryKind::kOpenLdap, "ou=pub, o=x").has_value());
  EXPECT_FALSE(accessRule(DirectoryKind::kUnknown, "ou=pub, o=x").has_value());
}

}  // namespace
}  // namespace halbrin
