#include "gateway/authentication.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace nvo {
namespace {

TEST(AuthenticationTest, ReadsEveryGatewayInOrder) {
  const Authentication auth = readAuthentication(
      "<?xml version='1.0' encoding='UTF-8'?><authentication>"
      "<gateway><url>FILE://cache</url><cat name='catSWRepository'><location>/srv</location>"
      "</cat></gateway>"
      "<gateway>\n  <url> LDAP://127.0.0.1:3890 </url><authname>cn=admin,o=orvanta</authname>"
      "<password> s&amp;cret </password><objectname>cn=admin,o=orvanta</objectname>"
      "<primaryGateway/><ignorePolicy/>"
      "<cat name=\"catSWInventory\"><location>ou=inv</location></cat>"
      "<cat name=\"RPM\"><location/></cat></gateway>"
      "<gateway><url>ldap://other</url><primaryGateway/></gateway>"
      "</authentication>");
  ASSERT_EQ(auth.gateways.size(), 3u);
  EXPECT_EQ(auth.primary, 1u);  // the first one marked
  const GatewayEntry& first = auth.gateways[0];
  EXPECT_EQ(first.url, "FILE://cache");
  EXPECT_FALSE(first.primaryGateway);
  EXPECT_FALSE(first.ignorePolicy);
  ASSERT_EQ(first.routes.size(), 1u);
  EXPECT_EQ(first.routes[0].name, "catSWRepository");
  EXPECT_EQ(first.routes[0].location, "/srv");

  const GatewayEntry& primary = auth.primaryGateway();
  EXPECT_EQ(primary.url, "LDAP://127.0.0.1:3890");
  EXPECT_EQ(primary.authname, "cn=admin,o=orvanta");
  EXPECT_EQ(primary.password, " s&cret ");  // exactly as written
  EXPECT_EQ(primary.objectname, "cn=admin,o=orvanta");
  EXPECT_TRUE(primary.primaryGateway);
  EXPECT_TRUE(primary.ignorePolicy);
  ASSERT_EQ(primary.routes.size(), 2u);
  EXPECT_EQ(primary.routes[0].name, "catSWInventory");
  EXPECT_EQ(primary.routes[0].location, "ou=inv");
  EXPECT_EQ(primary.routes[1].name, "RPM");
  EXPECT_EQ(primary.routes[1].location, "");
  EXPECT_TRUE(auth.gateways[2].primaryGateway);
  EXPECT_EQ(auth.gateways[2].authname, "");
}

TEST(AuthenticationTest, RefusesUnusableDocumentsWithAClearReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "authentication document: XML parse error"},
      {"<authentication><gateway>", "authentication document: XML parse error"},
      {"<!DOCTYPE authentication [<!ENTITY p SYSTEM 'file:///etc/shadow'>]>"
       "<authentication><gateway><url>&p;</url><primaryGateway/></gateway></authentication>",
       "authentication document: document refused: it carries a DOCTYPE"},
      {"<commandResult/>",
       "authentication document: the root element is <commandResult>, not <authentication>"},
      {"<authentication/>", "authentication document: no <gateway> element"},
      {"<authentication><gateway><url>ldap://h</url></gateway></authentication>",
       "authentication document: no gateway is marked <primaryGateway/>"},
      {"<authentication><x><gateway><primaryGateway/></gateway></x></authentication>",
       "authentication document: no <gateway> element"},
      {"<authentication><gateway><url> </url><primaryGateway/></gateway></authentication>",
       "authentication document: the primary gateway has no <url>"},
  };
  for (const auto& [text, error] : cases) {
    try {
      readAuthentication(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const AuthenticationError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, error.size()), error) << e.what();
    }
  }
  EXPECT_THROW(readAuthentication(DOM_Node()), AuthenticationError);
}

}  // namespace
}  // namespace nvo
