#include "gateway/command.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gateway/xml_parser.h"

namespace nvo {
namespace {

const char kId[] = "0f8c3e1a-1b2c-4d5e-8f90-a1b2c3d4e5f6";
const char kId2[] = "11111111-2222-4333-8444-555555555555";

std::string doc(const std::string& cat, const std::string& name, const std::string& body) {
  return "<?xml version='1.0' encoding='UTF-8'?><command cat=\"" + cat + "\" name=\"" + name +
         "\">" + body + "</command>";
}

Command parse(const std::string& text) {
  XMLParser parser(text);
  EXPECT_NE(parser.getRoot(), nullptr) << parser.lastError();
  return parseCommand(parser.getRoot());
}

// The agent's search for a MAC, as the agent builds it (MAC text joined in unescaped).
std::string agentSearch(const std::string& mac) {
  return doc("catNone", "searchObjects",
             std::string("<objectID>") + kId +
                 "</objectID><searchParams><objectclass op=\"EQ\">orvantacomputer</objectclass>"
                 "<orvantaidtype op=\"EQ\">1</orvantaidtype><orvantaid op=\"EQ\">" +
                 mac + "</orvantaid></searchParams>");
}

TEST(ParseCommandTest, InventoryReportKeepsEachDistinctPackageOnce) {
  Command c =
      parse(doc("catSWInventory", "replaceInventory",
                "<orvantamodel> Model 7 </orvantamodel>"
                "<package><orvantaname>bash</orvantaname><orvantaversion>5.2</orvantaversion>"
                "<orvantarelease>2+b2</orvantarelease><orvantaarch>amd64</orvantaarch></package>"
                "<package><orvantaname>BASH</orvantaname><orvantaversion>5.2</orvantaversion>"
                "<orvantarelease>2+B2</orvantarelease><orvantaarch>AMD64</orvantaarch></package>"
                "<package><orvantaname>bash</orvantaname><orvantaversion>5.2</orvantaversion>"
                "<orvantaarch>i386</orvantaarch></package>"));
  const auto& r = std::get<ReplaceInventory>(c.body);
  EXPECT_EQ(r.objectId, "");
  EXPECT_EQ(r.model, "Model 7");
  ASSERT_EQ(r.packages.size(), 2u);
  EXPECT_EQ(installedPackageCn(r.packages[0]), "bash/5.2/2+b2/amd64");
  EXPECT_EQ(installedPackageCn(r.packages[1]), "bash/5.2//i386");
  EXPECT_FALSE(
      std::get<ReplaceInventory>(
          parse(doc("catSWInventory", "replaceInventory", "<orvantamodel> </orvantamodel>")).body)
          .model);

  // Repository packages are named by their UUID.
  Command rpm = parse(doc("RPM", "createObject",
                          std::string("<objectID>") + kId +
                              "</objectID><objectclass>orvantarpm</objectclass><name>" + kId2 +
                              "</name><attribute name=\"orvantaname\">x</attribute>"));
  EXPECT_EQ(std::get<CreateObject>(rpm.body).rdn, std::string("orvantauuid=") + kId2);
}

TEST(ParseCommandTest, AgentMacSearchEscapesEveryFilterSpecial) {
  struct Case {
    std::string macXml;  // as it stands in the document
    std::string escaped;
  };
  const std::vector<Case> cases = {
      {"00:11:22:33:44:55", "00:11:22:33:44:55"},
      {"*", "\\2a"},
      {")(", "\\29\\28"},
      {"*)(|(orvantaid=*", "\\2a\\29\\28|\\28orvantaid=\\2a"},
      {"\\", "\\5c"},
      {"a&amp;b&lt;", "a&b<"},
  };
  for (const Case& c : cases) {
    Command cmd = parse(agentSearch(c.macXml));
    const auto& s = std::get<SearchObjects>(cmd.body);
    EXPECT_EQ(s.spec.baseId, kId);
    EXPECT_EQ(s.spec.filter,
              "(&(objectclass=orvantacomputer)(orvantaidtype=1)(orvantaid=" + c.escaped + "))")
        << c.macXml;
    EXPECT_FALSE(s.spec.negate);
  }
}

TEST(ParseCommandTest, ConsoleAndRepositorySearchForms) {
  Command console =
      parse(doc("catNone", "searchObjects",
                "<includeobjectclass>orvantacomputer</includeobjectclass>"
                "<attribute>objectclass</attribute><attribute>orvantaModel</attribute>"
                "<attribute>userpassword</attribute><searchParams>"
                "<cn op=\"IS\">pc*(</cn><orvantamodel op=\"GT\">T4</orvantamodel>"
                "</searchParams>"));
  const auto& s = std::get<SearchObjects>(console.body).spec;
  EXPECT_EQ(s.baseId, "");
  EXPECT_EQ(s.filter, "(&(objectClass=orvantacomputer)(cn=pc*\\28)(orvantamodel=*))");
  EXPECT_EQ(s.returnAttributes, std::vector<std::string>{"orvantamodel"});
  ASSERT_EQ(s.orderConditions.size(), 1u);
  EXPECT_EQ(s.orderConditions[0].op, CompareOp::kGt);
  EXPECT_EQ(s.orderConditions[0].value, "T4");

  Command repo = parse(doc("catSWRepository", "searchObjects",
                           "<includeobjectclass>orvantarpm</includeobjectclass><searchParams>"
                           "<orvantaname op=\"EQ\">bash</orvantaname><orvantaversion op=\"LT\">5.1"
                           "</orvantaversion></searchParams>"));
  const auto& r = std::get<SearchObjects>(repo.body).spec;
  EXPECT_EQ(r.filter, "(&(objectClass=orvantarpm)(orvantaname=bash)(orvantaversion=*))");
  ASSERT_EQ(r.orderConditions.size(), 1u);
  EXPECT_EQ(r.orderConditions[0].op, CompareOp::kLt);

  Command empty = parse(doc("catSWRepository", "searchObjects", "<searchParams></searchParams>"));
  EXPECT_EQ(std::get<SearchObjects>(empty.body).spec.filter, "(objectClass=orvantarpm)");

  Command sw =
      parse(doc("catSWInventory", "searchSWInventory",
                std::string("<objectID>") + kId +
                    "</objectID><nomatch/><searchParams><orvantaname op=\"IS\">*</orvantaname>"
                    "</searchParams>"));
  const auto& p = std::get<SearchSwInventory>(sw.body).packages;
  EXPECT_TRUE(p.negate);
  EXPECT_EQ(p.filter, "(&(objectClass=orvantainstalledpackage)(orvantaname=*))");

  Command hw =
      parse(doc("catHWInventory", "searchHWInventory",
                "<objectID></objectID><searchParams><orvantamodel op=\"EQ\">T*</orvantamodel>"
                "</searchParams>"));
  const auto& h = std::get<SearchHwInventory>(hw.body).spec;
  EXPECT_EQ(h.baseId, "");
  EXPECT_EQ(h.filter, "(&(objectClass=orvantacomputer)(orvantamodel=T\\2a))");
}

TEST(ParseCommandTest, CreateBuildsAnEscapedRdnAndKeepsThePasswordApart) {
  Command agent = parse(doc("catNone", "createObject",
                            std::string("<objectID>") + kId +
                                "</objectID><objectclass>orvantacomputer</objectclass>"
                                "<name>host-a,ou=evil+x</name><attribute name=\"userpassword\">"
                                "p&lt;w</attribute><attribute name=\"orvantaidtype\">1</attribute>"
                                "<attribute name=\"orvantaid\">*</attribute>"));
  const auto& c = std::get<CreateObject>(agent.body);
  EXPECT_EQ(c.parentId, kId);
  EXPECT_EQ(c.rdn, "cn=host-a\\,ou\\=evil\\+x");
  ASSERT_TRUE(c.password.has_value());
  EXPECT_EQ(*c.password, "p<w");
  const std::vector<DirAttribute> expected = {{"objectclass", {"orvantacomputer"}},
                                              {"cn", {"host-a,ou=evil+x"}},
                                              {"orvantaidtype", {"1"}},
                                              {"orvantaid", {"*"}}};
  ASSERT_EQ(c.attributes.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(c.attributes[i].name, expected[i].name);
    EXPECT_EQ(c.attributes[i].values, expected[i].values);
  }

  Command unit = parse(doc("RPM", "createObject",
                           std::string("<objectID>") + kId +
                               "</objectID><objectclass>organizationalUnit</objectclass><name> Lab"
                               "</name><xmlattribute name=\"description\">&lt;a&gt;x&lt;/a&gt;"
                               "</xmlattribute>"));
  const auto& u = std::get<CreateObject>(unit.body);
  EXPECT_EQ(u.rdn, "ou=\\ Lab");
  EXPECT_FALSE(u.password.has_value());
  ASSERT_EQ(u.attributes.size(), 3u);
  EXPECT_EQ(u.attributes[2].values, std::vector<std::string>{"<a>x</a>"});
}

TEST(ParseCommandTest, ModifyGroupsValuesAndEmptyDeleteRemovesAll) {
  Command m =
      parse(doc("catNone", "modifyObject",
                std::string("<objectID>") + kId +
                    "</objectID><attribute name=\"orvantauuidlist\" op=\"add\">u1</attribute>"
                    "<attribute name=\"orvantauuidlist\" op=\"add\">u2</attribute>"
                    "<attribute name=\"description\" op=\"delete\">x</attribute>"
                    "<attribute name=\"description\" op=\"delete\"/>"
                    "<attribute name=\"cn\" op=\"replace\">n</attribute>"
                    "<attribute name=\"userpassword\" op=\"replace\">secret</attribute>"));
  const auto& mod = std::get<ModifyObject>(m.body);
  ASSERT_EQ(mod.changes.size(), 3u);
  EXPECT_EQ(mod.changes[0].op, Modification::Op::kAdd);
  EXPECT_EQ(mod.changes[0].values, (std::vector<std::string>{"u1", "u2"}));
  EXPECT_EQ(mod.changes[1].op, Modification::Op::kDelete);
  EXPECT_TRUE(mod.changes[1].values.empty());
  EXPECT_EQ(mod.changes[2].op, Modification::Op::kReplace);
  ASSERT_TRUE(mod.password.has_value());
  EXPECT_EQ(*mod.password, "secret");
}

TEST(ParseCommandTest, OtherCommandsBuildTheirPieces) {
  const std::string id = std::string("<objectID>") + kId + "</objectID>";
  auto rename = std::get<RenameObject>(
      parse(doc("catNone", "renameObject", id + "<newname>a,b</newname>")).body);
  EXPECT_EQ(rename.escapedValue, "a\\,b");
  auto move = std::get<MoveObject>(
      parse(doc("catNone", "moveObject", id + "<newparent>" + kId2 + "</newparent>")).body);
  EXPECT_EQ(move.newParentId, kId2);
  auto printer = std::get<ReadPrinter>(
      parse(doc("catNone", "readPrinter", "<printername>*)(cn=*</printername>")).body);
  EXPECT_EQ(printer.filter, "(&(objectClass=orvantaprinter)(cn=\\2a\\29\\28cn=\\2a))");
  auto linked = std::get<LinkedObjects>(
      parse(doc("catNone", "readLinkedObjects",
                "<objectclass>orvantapolicy</objectclass><attribute>orvantapolicytype</attribute>"
                "<value>search*</value>"))
          .body);
  EXPECT_TRUE(linked.listNames);
  EXPECT_EQ(linked.objectId, "");
  EXPECT_EQ(linked.filter, "(&(objectClass=orvantapolicy)(orvantapolicytype=search\\2a))");
  auto link = std::get<LinkObjects>(
      parse(doc("catNone", "linkObjects",
                id + "<objectID2>" + kId2 + "</objectID2><flags>remove</flags>"))
          .body);
  EXPECT_FALSE(link.add);
  EXPECT_EQ(link.targetId, kId2);
  auto resolve = std::get<ResolveObject>(
      parse(doc("catNone", "resolveObject", "<objectname>ou=a\\,b,o=orvanta</objectname>")).body);
  EXPECT_EQ(resolve.dn, "ou=a\\,b,o=orvanta");

  std::string uuids;
  for (int i = 0; i < 150; ++i) {
    uuids += "<orvantauuid>u" + std::to_string(i) + "</orvantauuid>";
  }
  uuids += "<orvantauuid>x)(orvantauuid=*</orvantauuid>";
  auto rpm = std::get<GetRpmDetails>(
      parse(doc("catSWRepository", "getRPMDetailsFromUUIDsBig", uuids)).body);
  ASSERT_EQ(rpm.filters.size(), 2u);
  EXPECT_EQ(rpm.filters[0].rfind("(&(objectClass=orvantarpm)(|(orvantauuid=u0)", 0), 0u);
  EXPECT_NE(rpm.filters[1].find("(orvantauuid=x\\29\\28orvantauuid=\\2a)"), std::string::npos);
  EXPECT_TRUE(
      std::get<GetRpmDetails>(parse(doc("catSWRepository", "getRPMDetailsFromUUIDsBig", "")).body)
          .filters.empty());
}

TEST(ParseCommandTest, MalformedCommandsNameTheirFault) {
  const std::string id = std::string("<objectID>") + kId + "</objectID>";
  std::string manyConditions = "<searchParams>";
  for (std::size_t i = 0; i <= kMaxConditions; ++i) {
    manyConditions += "<cn op=\"EQ\">x</cn>";
  }
  manyConditions += "</searchParams>";
  struct Case {
    std::string document;
    int number;
    std::string inMessage;
  };
  const std::vector<Case> cases = {
      {"<commandResult/>", kErrNotACommand, "not a command"},
      {doc("catNone", "dropDatabase", ""), kErrUnknownCommand, "dropDatabase"},
      {doc("catEvil", "readObject", id), kErrUnknownCategory, "catEvil"},
      {doc("catNone", "readObject", ""), kErrMissingElement, "objectID"},
      {doc("catNone", "readObject", "<objectID>*</objectID>"), kErrBadObjectId, "*"},
      {doc("catNone", "readObject", "<objectID>x)(cn=*</objectID>"), kErrBadObjectId, "x)(cn=*"},
      {doc("catNone", "resolveObject", "<objectname>not a dn</objectname>"), kErrBadDn, "not a dn"},
      {doc("catNone", "createObject", id + "<objectclass>x)(y</objectclass><name>n</name>"),
       kErrBadName, "x)(y"},
      {doc("catNone", "createObject", id + "<objectclass>orvantacomputer</objectclass>"),
       kErrMissingElement, "name"},
      {doc("catNone", "createObject",
           id + "<objectclass>orvantacomputer</objectclass><name>n</name>"
                "<attribute name=\"userpassword\">a</attribute>"
                "<attribute name=\"userpassword\">b</attribute>"),
       kErrBadValue, "userpassword"},
      {doc("catNone", "modifyObject", id + "<attribute name=\"cn;x\" op=\"add\">v</attribute>"),
       kErrBadName, "cn;x"},
      {doc("catNone", "modifyObject", id + "<attribute name=\"cn\" op=\"frob\">v</attribute>"),
       kErrBadOperator, "frob"},
      {doc("catNone", "searchObjects", "<searchParams><cn op=\"NE\">x</cn></searchParams>"),
       kErrBadOperator, "NE"},
      {doc("catNone", "searchObjects", "<searchParams><cn op=\"EQ\"></cn></searchParams>"),
       kErrBadValue, "cn"},
      {doc("catNone", "searchObjects", manyConditions), kErrTooMany, "conditions"},
      {doc("catSWRepository", "searchObjects", "<includeobjectclass>person</includeobjectclass>"),
       kErrBadValue, "orvantarpm"},
      {doc("catNone", "linkObjects", id + "<objectID2>" + kId2 + "</objectID2><flags>swap</flags>"),
       kErrBadFlags, "swap"},
      {doc("catNone", "findAllLinkedObjects", ""), kErrMissingElement, "objectclass"},
      {doc("catNone", "readLinkedObjects", "<objectclass>x</objectclass><value>v</value>"),
       kErrMissingElement, "attribute"},
      {doc("catNone", "renameObject", id + "<newname></newname>"), kErrMissingElement, "newname"},
      {doc("catSWInventory", "replaceInventory",
           "<package><orvantaversion>1</orvantaversion></package>"),
       kErrMissingElement, "orvantaname"},
      {doc("catSWInventory", "replaceInventory",
           "<package><orvantaname>a b</orvantaname><orvantaversion>1</orvantaversion></package>"),
       kErrBadValue, "white space"},
      {doc("catSWInventory", "replaceInventory",
           "<package><orvantaname>a</orvantaname><orvantaversion>1</orvantaversion>"
           "<orvantaarch>x/y</orvantaarch></package>"),
       kErrBadValue, "orvantaarch"},
      {doc("catSWInventory", "replaceInventory",
           "<package><orvantaname>" + std::string(300, 'n') +
               "</orvantaname><orvantaversion>1</orvantaversion></package>"),
       kErrBadValue, "256"},
      {doc("catSWInventory", "replaceInventory", "<objectID>x</objectID>"), kErrBadObjectId,
       "objectID"},
  };
  for (const Case& c : cases) {
    XMLParser parser(c.document);
    try {
      parseCommand(parser.getRoot());
      ADD_FAILURE() << "accepted: " << c.document;
    } catch (const CommandError& e) {
      EXPECT_EQ(e.number(), c.number) << c.document;
      EXPECT_NE(std::string(e.what()).find(c.inMessage), std::string::npos)
          << e.what() << " / " << c.document;
    }
  }
  EXPECT_THROW(parseCommand(DOM_Node()), CommandError);
}

}  // namespace
}  // namespace nvo
