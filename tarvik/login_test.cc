#include "tarvik/login.h"

#include <gtest/gtest.h>

#include "gateway/xml_parser.h"

namespace tarvik {
namespace {

TEST(LoginTest, DefaultsFromTheHostName) {
  struct Case {
    const char* host;
    const char* organisation;
  };
  for (const Case& c : {Case{"a.b.c.d", "o=b.c"}, Case{"a.b.c", "o=b"}, Case{"a.b", "o=b"},
                        Case{"vm", "o=vm"}, Case{"console.orvanta.test", "o=orvanta"}}) {
    EXPECT_EQ(defaultOrganisation(c.host), c.organisation) << c.host;
  }
  EXPECT_EQ(defaultUrl("a.b.c"), "LDAP://a.b.c:389");
  EXPECT_FALSE(localHostName().empty());
}

TEST(LoginTest, AuthenticationDocumentInOrder) {
  EXPECT_EQ(authenticationDocument({"LDAP://h:389", "cn=admin,o=x", "pw", "cn=admin,o=x"}),
            std::string("<?xml version='1.0' encoding='UTF-8'?><authentication><gateway>"
                        "<url>LDAP://h:389</url><authname>cn=admin,o=x</authname>"
                        "<password>pw</password><objectname>cn=admin,o=x</objectname>"
                        "<primaryGateway/></gateway><gateway><url>") +
                kRepositoryGatewayUrl +
                "</url><cat name=\"catRPMRepository\"><location>ou=rpms,o=orvanta</location>"
                "</cat></gateway></authentication>");
}

// Typed values are escaped: a password holding XML's special characters reads back unchanged.
TEST(LoginTest, AuthenticationDocumentEscapesTypedValues) {
  const LoginAnswers typed{"LDAP://h:389", "cn=a<b,o=x", "p&w<\"'>]]>", "cn=a<b,o=x"};
  nvo::XMLParser parser(authenticationDocument(typed));
  ASSERT_FALSE(parser.getRoot().isNull()) << parser.lastError();
  nvo::DOM_Node gateway = nvo::XMLParser::findFirstChild(parser.getRoot(), "gateway");
  EXPECT_EQ(nvo::XMLParser::getChildStringValue(gateway, "password"), typed.password);
  EXPECT_EQ(nvo::XMLParser::getChildStringValue(gateway, "authname"), typed.userDn);
  EXPECT_EQ(nvo::XMLParser::getChildStringValue(gateway, "objectname"), typed.objectName);
}

}  // namespace
}  // namespace tarvik
