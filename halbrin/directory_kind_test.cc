#include "halbrin/directory_kind.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace halbrin {
namespace {

struct KindCase {
  const char* label;
  std::vector<Attribute> rootDse;
  DirectoryKind expected;
};

const Attribute kOpenLdapClasses{"objectClass", {"top", "OpenLDAProotDSE"}};
const Attribute kNetscapeSuffix{"netscapemdsuffix", {"cn=ldap://dc=host,dc=test:389"}};
const Attribute kNovellVendor{"vendorName", {"Novell, Inc."}};

TEST(DirectoryKindTest, DecisionTable) {
  const std::vector<KindCase> cases = {
      {"empty root DSE", {}, DirectoryKind::kUnknown},
      {"only naming contexts", {{"namingContexts", {"o=orvanta"}}}, DirectoryKind::kUnknown},
      {"OpenLDAP class, camel-case name", {kOpenLdapClasses}, DirectoryKind::kOpenLdap},
      {"OpenLDAP class, lower-case name",
       {{"objectclass", {"OpenLDAProotDSE"}}},
       DirectoryKind::kOpenLdap},
      {"other name spelling is not matched",
       {{"OBJECTCLASS", {"OpenLDAProotDSE"}}},
       DirectoryKind::kUnknown},
      {"value compared with case", {{"objectClass", {"openldaprootdse"}}}, DirectoryKind::kUnknown},
      {"objectclass without the value", {{"objectClass", {"top"}}}, DirectoryKind::kUnknown},
      {"Novell vendor", {kNovellVendor}, DirectoryKind::kEDirectory},
      {"vendor exactly Novell", {{"vendorName", {"Novell"}}}, DirectoryKind::kEDirectory},
      {"vendor prefix compared with case", {{"vendorName", {"novell"}}}, DirectoryKind::kUnknown},
      {"vendor shorter than Novell", {{"vendorName", {"Novel"}}}, DirectoryKind::kUnknown},
      {"Novell in a later value", {{"vendorName", {"x", "Novell"}}}, DirectoryKind::kEDirectory},
      {"vendorname spelt otherwise", {{"vendorname", {"Novell"}}}, DirectoryKind::kUnknown},
      {"netscape suffix", {kNetscapeSuffix}, DirectoryKind::kIPlanet},
      {"netscape suffix without values", {{"netscapemdsuffix", {}}}, DirectoryKind::kIPlanet},
      {"suffix after OpenLDAP class", {kOpenLdapClasses, kNetscapeSuffix}, DirectoryKind::kIPlanet},
      {"OpenLDAP class after suffix",
       {kNetscapeSuffix, kOpenLdapClasses},
       DirectoryKind::kOpenLdap},
      {"vendor after OpenLDAP class",
       {kOpenLdapClasses, kNovellVendor},
       DirectoryKind::kEDirectory},
      {"suffix after vendor", {kNovellVendor, kNetscapeSuffix}, DirectoryKind::kIPlanet},
      {"vendor after suffix", {kNetscapeSuffix, kNovellVendor}, DirectoryKind::kEDirectory},
      {"non-matching class keeps the kind",
       {kNetscapeSuffix, {"objectClass", {"top"}}},
       DirectoryKind::kIPlanet},
      {"non-Novell vendor keeps the kind",
       {kOpenLdapClasses, {"vendorName", {"Other"}}},
       DirectoryKind::kOpenLdap},
  };
  for (const KindCase& c : cases) {
    EXPECT_EQ(decideKind(c.rootDse), c.expected) << c.label;
  }
}

TEST(DirectoryKindTest, MessagesAndNumbers) {
  EXPECT_EQ(detectedMessage(DirectoryKind::kUnknown),
            "Detected unknown LDAP directory, using defaults");
  EXPECT_EQ(detectedMessage(DirectoryKind::kOpenLdap), "Detected OpenLDAP directory");
  EXPECT_EQ(detectedMessage(DirectoryKind::kIPlanet), "Detected iPlanet LDAP directory");
  EXPECT_EQ(detectedMessage(DirectoryKind::kEDirectory),
            "Detected eDirectory LDAP directory, using defaults");
  EXPECT_EQ(static_cast<int>(DirectoryKind::kEDirectory), 3);
}

TEST(DirectoryKindTest, AsksForTheFourRootDseAttributes) {
  const std::vector<std::string> expected = {"namingcontexts", "objectclass", "vendorName",
                                             "netscapemdsuffix"};
  EXPECT_EQ(rootDseAttributesWanted(), expected);
}

}  // namespace
}  // namespace halbrin
