// The command engine against a real slapd holding the gateway's schema, access rules and demo
// data, through the LDAP adapter. One server for the whole suite; each scenario works in its
// own container or on demo entries it does not change.
#include "gateway/command_engine.h"

#include <ldap.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gateway/command.h"
#include "gateway/ldap_directory.h"
#include "gateway/ldap_text.h"
#include "gateway/xml_parser.h"
#include "tests/support/demo_directory_test.h"
#include "tests/support/slapd_server.h"

namespace nvo {
namespace {

using nvo_test::Identity;
using nvo_test::SlapdOptions;
using nvo_test::SlapdServer;

const char kLab[] = "ou=Lab,ou=Workstations,o=orvanta";
const char kPc1[] = "cn=lab-pc1-00:16:3e:00:00:01,ou=Lab,ou=Workstations,o=orvanta";

// One parsed reply. Handles into it stay valid while the object lives.
struct Reply {
  std::string text;
  std::unique_ptr<XMLParser> doc;
  DOM_Node root() const { return doc->getRoot(); }
  std::string error() const {
    DOM_Node e = XMLParser::findFirstChild(root(), "error");
    return e == nullptr ? std::string()
                        : XMLParser::getChildStringValue(e, "errorNum") + " " +
                              XMLParser::getChildStringValue(e, "errorMsg");
  }
  int errorNumber() const {
    std::string n =
        XMLParser::getChildStringValue(XMLParser::findFirstChild(root(), "error"), "errorNum");
    return n.empty() ? 0 : std::stoi(n);
  }
  // Each object child: the text of `child` in it.
  std::vector<std::string> objects(const std::string& child) const {
    std::vector<std::string> out;
    for (DOM_Node o = XMLParser::findFirstChild(root(), "object"); o != nullptr;
         o = XMLParser::findNextSibling(o, "object")) {
      out.push_back(XMLParser::getChildStringValue(o, child));
    }
    return out;
  }
  std::set<std::string> names() const {
    std::vector<std::string> v = objects("displayname");
    return {v.begin(), v.end()};
  }
};

class CommandEngineTest : public nvo_test::DemoDirectoryTest {
 protected:
  void SetUp() override {
    DemoDirectoryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    directory_.open(server_->uri(), SlapdServer::kAdminDn, SlapdServer::kAdminPassword);
  }

  Reply call(const std::string& cat, const std::string& name, const std::string& body) {
    return callOn(directory_, cat, name, body);
  }
  static Reply callOn(Directory& directory, const std::string& cat, const std::string& name,
                      const std::string& body) {
    XMLParser command("<?xml version='1.0' encoding='UTF-8'?><command cat=\"" + cat + "\" name=\"" +
                      name + "\">" + body + "</command>");
    CommandEngine engine(directory);
    Reply reply;
    reply.text = engine.execute(command.getRoot());
    reply.doc = std::make_unique<XMLParser>(reply.text);
    EXPECT_NE(reply.root(), nullptr) << reply.text;
    EXPECT_EQ(XMLParser::getName(reply.root()), "commandResult") << reply.text;
    return reply;
  }
  // Succeeds or fails the test with the reply's error.
  Reply ok(const std::string& cat, const std::string& name, const std::string& body) {
    Reply r = call(cat, name, body);
    EXPECT_EQ(r.error(), "") << name << ": " << r.text;
    return r;
  }
  std::string idOf(const std::string& dn) {
    Reply r = ok("catNone", "resolveObject",
                 "<objectname>" + XMLParser::makeXMLString(dn) + "</objectname>");
    std::vector<std::string> ids = r.objects("objectID");
    return ids.empty() ? std::string() : ids.front();
  }
  static std::string tag(const std::string& name, const std::string& text) {
    return "<" + name + ">" + XMLParser::makeXMLString(text) + "</" + name + ">";
  }
  // Creates a child and answers its objectID.
  std::string create(const std::string& parentId, const std::string& objectClass,
                     const std::string& name, const std::string& attributes = "") {
    Reply r = ok("catNone", "createObject",
                 tag("objectID", parentId) + tag("objectclass", objectClass) + tag("name", name) +
                     attributes);
    std::string id = XMLParser::getChildStringValue(r.root(), "objectID");
    EXPECT_TRUE(isUuid(id)) << r.text;
    return id;
  }
  std::string agentSearch(const std::string& baseId, const std::string& mac) {
    Reply r = ok("catNone", "searchObjects",
                 tag("objectID", baseId) +
                     "<searchParams><objectclass op=\"EQ\">orvantacomputer</objectclass>"
                     "<orvantaidtype op=\"EQ\">1</orvantaidtype>" +
                     "<orvantaid op=\"EQ\">" + XMLParser::makeXMLString(mac) +
                     "</orvantaid></searchParams>");
    // As the agent reads it: the first objectID in any child of the root.
    for (DOM_Node c = XMLParser::firstChild(r.root()); c != nullptr;
         c = XMLParser::nextSibling(c)) {
      DOM_Node id = XMLParser::findFirstChild(c, "objectID");
      if (id != nullptr) {
        return XMLParser::getStringValue(id);
      }
    }
    return {};
  }

  LdapDirectory directory_;
};

TEST_F(CommandEngineTest, BrowsingReadingAndResolving) {
  Reply base = ok("catNone", "enumerateBaseObjects", "");
  ASSERT_EQ(base.objects("objectname"), std::vector<std::string>{"o=orvanta"});
  EXPECT_EQ(base.objects("displayname"), std::vector<std::string>{"orvanta"});
  EXPECT_EQ(base.objects("objectclass"), std::vector<std::string>{"organization"});
  std::string top = base.objects("objectID").front();
  EXPECT_TRUE(isUuid(top)) << base.text;

  Reply children =
      ok("catNone", "enumerateObjects", tag("objectID", top) + tag("objectclass", "organization"));
  for (const char* name : {"Workstations", "Printers", "Groups", "admin"}) {
    EXPECT_EQ(children.names().count(name), 1u) << name << ": " << children.text;
  }

  std::string pc1 = idOf(kPc1);
  ASSERT_TRUE(isUuid(pc1));
  Reply read = ok("catNone", "readObject", tag("objectID", pc1));
  DOM_Node object = XMLParser::findFirstChild(read.root(), "object");
  EXPECT_EQ(XMLParser::getChildStringValue(object, "objectID"), pc1);
  EXPECT_EQ(XMLParser::getChildStringValue(object, "objectclass"), "orvantacomputer");
  EXPECT_EQ(XMLParser::getChildStringValue(object, "displayname"), "lab-pc1-00:16:3e:00:00:01");
  EXPECT_EQ(XMLParser::getChildStringValue(object, "orvantaid"), "00:16:3e:00:00:01");
  EXPECT_EQ(XMLParser::getChildStringValue(object, "orvantamodel"), "Demo Workstation 100");
  DOM_Node link = XMLParser::findFirstChild(object, "orvantalink");
  EXPECT_EQ(XMLParser::getAttributeValue(link, "displayname"), "Base desktop");
  EXPECT_EQ(XMLParser::getAttributeValue(link, "objectname"),
            "cn=Base desktop,ou=Profiles,o=orvanta");

  Reply name = ok("catNone", "getObjectNameFromObjectID", tag("objectID", pc1));
  EXPECT_EQ(XMLParser::getChildStringValue(name.root(), "objectname"), kPc1);

  // A name that does not exist resolves to nothing, without an error; an unknown objectID is
  // the directory's noSuchObject; a malformed command is the engine's own error.
  Reply none = ok("catNone", "resolveObject", tag("objectname", "ou=Nowhere,o=orvanta"));
  EXPECT_TRUE(none.objects("objectID").empty()) << none.text;
  Reply unknown =
      call("catNone", "readObject", tag("objectID", "00000000-0000-4000-8000-000000000000"));
  EXPECT_EQ(unknown.errorNumber(), 32) << unknown.text;
  Reply bad = call("catNone", "launchMissiles", "");
  EXPECT_EQ(bad.errorNumber(), kErrUnknownCommand) << bad.text;
  EXPECT_NE(bad.error().find("launchMissiles"), std::string::npos);
  Reply malformed = call("catNone", "resolveObject", tag("objectname", "no dn here"));
  EXPECT_EQ(malformed.errorNumber(), kErrBadDn) << malformed.text;

  // Each command's error reply: an objectID that names nothing is the directory's 32.
  const std::string deadId = "00000000-0000-4000-8000-00000000dead";
  const std::string gone = tag("objectID", deadId);
  struct ErrorCase {
    std::string cat, name, body;
    int number;
  };
  const std::vector<ErrorCase> errors = {
      {"catNone", "enumerateObjects", gone, 32},
      {"catNone", "removeAllObjects", gone, 32},
      {"catNone", "modifyObject", gone, 32},
      {"catNone", "renameObject", gone + tag("newname", "x"), 32},
      {"catNone", "moveObject", tag("objectID", pc1) + tag("newparent", deadId), 32},
      {"catNone", "getObjectNameFromObjectID", gone, 32},
      {"catNone", "getObjectNameFromObjectID", tag("objectID", "cn=admin"), kErrBadObjectId},
      {"catNone", "searchObjects", gone + "<searchParams/>", 32},
      {"catSWInventory", "searchSWInventory", gone + "<searchParams/>", 32},
      {"catHWInventory", "searchHWInventory",
       "<searchParams><orvantamodel op=\"LIKE\">x</orvantamodel></searchParams>", kErrBadOperator},
      {"catSWRepository", "getRPMDetailsFromUUIDsBig", "<orvantauuid>x", kErrNotACommand},
      {"catNone", "readPrinter", "", kErrMissingElement},
      {"catNone", "findAllLinkedObjects", tag("objectclass", "orvantaprinter") + gone, 32},
      {"catNone", "linkObjects", gone + tag("objectID2", pc1), 32},
      {"catBogus", "enumerateBaseObjects", "", kErrUnknownCategory},
  };
  for (const ErrorCase& e : errors) {
    Reply r = call(e.cat, e.name, e.body);
    EXPECT_EQ(r.errorNumber(), e.number) << e.name << ": " << r.text;
    EXPECT_NE(
        XMLParser::getChildStringValue(XMLParser::findFirstChild(r.root(), "error"), "errorMsg"),
        "")
        << e.name;
  }
}

TEST_F(CommandEngineTest, AgentCreatesFindsAndRekeysAComputer) {
  std::string lab = idOf(kLab);
  const std::string mac = "00:16:3e:aa:bb:01";
  EXPECT_EQ(agentSearch(lab, mac), "");
  std::string id = create(lab, "orvantacomputer", "agent-pc-" + mac,
                          "<attribute name=\"userpassword\">first&amp;secret</attribute>"
                          "<attribute name=\"orvantaidtype\">1</attribute>"
                          "<attribute name=\"orvantaid\">" +
                              mac + "</attribute>");
  EXPECT_EQ(agentSearch(lab, mac), id);
  EXPECT_EQ(agentSearch(idOf("o=orvanta"), mac), id);
  const std::string dn = "cn=agent-pc-" + mac + "," + kLab;
  EXPECT_EQ(
      XMLParser::getChildStringValue(
          ok("catNone", "getObjectNameFromObjectID", tag("objectID", id)).root(), "objectname"),
      dn);

  // Stored hashed, never shown, and good for a bind.
  auto stored =
      server_->ldapSearch(SlapdServer::admin(), dn, "base", "(objectClass=*)", {"userPassword"});
  ASSERT_EQ(stored.exitCode, 0) << stored.err;
  ASSERT_EQ(stored.entries.size(), 1u);
  const auto& values = stored.entries[0].attributes["userPassword"];
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].rfind("{SSHA}", 0), 0u) << values[0];
  EXPECT_EQ(server_->ldapWhoami(Identity{dn, "first&secret"}).exitCode, 0);
  Reply read = ok("catNone", "readObject", tag("objectID", id));
  EXPECT_EQ(read.text.find("userpassword"), std::string::npos) << read.text;
  EXPECT_EQ(read.text.find("SSHA"), std::string::npos) << read.text;

  ok("catNone", "modifyObject",
     tag("objectID", id) + "<attribute name=\"userpassword\" op=\"replace\">second</attribute>");
  EXPECT_EQ(server_->ldapWhoami(Identity{dn, "second"}).exitCode, 0);
  EXPECT_NE(server_->ldapWhoami(Identity{dn, "first&secret"}).exitCode, 0);

  // The same computer twice is the directory's alreadyExists.
  Reply again = call("catNone", "createObject",
                     tag("objectID", lab) + tag("objectclass", "orvantacomputer") +
                         tag("name", "agent-pc-" + mac));
  EXPECT_EQ(again.errorNumber(), 68) << again.text;
  ok("catNone", "removeAllObjects", tag("objectID", id));
  EXPECT_EQ(agentSearch(lab, mac), "");
}

TEST_F(CommandEngineTest, FilterValuesMatchOnlyThemselves) {
  std::string lab = idOf(kLab);
  std::string star = create(lab, "orvantacomputer", "star-pc",
                            "<attribute name=\"orvantaidtype\">1</attribute>"
                            "<attribute name=\"orvantaid\">*</attribute>");
  std::string paren = create(lab, "orvantacomputer", "paren-pc",
                             "<attribute name=\"orvantaidtype\">1</attribute>"
                             "<attribute name=\"orvantaid\">x)(cn=*</attribute>");
  EXPECT_EQ(agentSearch(lab, "*"), star);
  EXPECT_EQ(agentSearch(lab, "x)(cn=*"), paren);
  EXPECT_EQ(agentSearch(lab, ")("), "");
  EXPECT_EQ(agentSearch(lab, "00:16:3e:00:00:0*"), "");
  EXPECT_EQ(agentSearch(lab, "\\2a"), "");

  // The console's IS operator: "*" is the wildcard there, everything else literal.
  Reply wild = ok("catNone", "searchObjects",
                  "<includeobjectclass>orvantacomputer</includeobjectclass><attribute>orvantaid"
                  "</attribute><searchParams><cn op=\"IS\">lab-pc*</cn></searchParams>");
  EXPECT_EQ(wild.names(),
            (std::set<std::string>{"lab-pc1-00:16:3e:00:00:01", "lab-pc2-00:16:3e:00:00:02"}));
  EXPECT_EQ(wild.objects("orvantaid"),
            (std::vector<std::string>{"00:16:3e:00:00:01", "00:16:3e:00:00:02"}));
  Reply literal = ok("catNone", "searchObjects",
                     "<includeobjectclass>orvantacomputer</includeobjectclass><searchParams>"
                     "<cn op=\"IS\">paren*(</cn></searchParams>");
  EXPECT_TRUE(literal.names().empty()) << literal.text;

  // Names with DN specials stay one RDN below the parent.
  std::string odd = create(lab, "orvantacomputer", "a,ou=evil+cn=x");
  std::string oddDn = XMLParser::getChildStringValue(
      ok("catNone", "getObjectNameFromObjectID", tag("objectID", odd)).root(), "objectname");
  EXPECT_EQ(displayNameOf(oddDn), "a,ou=evil+cn=x");
  EXPECT_EQ(parentDn(oddDn), kLab);
  EXPECT_EQ(idOf(oddDn), odd);
  for (const std::string& id : {star, paren, odd}) {
    ok("catNone", "removeAllObjects", tag("objectID", id));
  }
}

TEST_F(CommandEngineTest, TreeChangesKeepObjectIds) {
  std::string top = idOf("o=orvanta");
  std::string tmp = create(top, "organizationalunit", "Tmp");
  EXPECT_EQ(idOf("ou=Tmp,o=orvanta"), tmp);
  std::string inner = create(tmp, "organizationalunit", "Inner");
  std::string pc = create(inner, "orvantacomputer", "tmp-pc",
                          "<attribute name=\"description\">one</attribute>"
                          "<attribute name=\"description\">two</attribute>");
  std::string target = create(top, "organizationalunit", "Target");

  ok("catNone", "renameObject", tag("objectID", pc) + tag("newname", "renamed-pc"));
  EXPECT_EQ(idOf("cn=renamed-pc,ou=Inner,ou=Tmp,o=orvanta"), pc);
  ok("catNone", "moveObject", tag("objectID", inner) + tag("newparent", target));
  EXPECT_EQ(idOf("ou=Inner,ou=Target,o=orvanta"), inner);
  EXPECT_EQ(idOf("cn=renamed-pc,ou=Inner,ou=Target,o=orvanta"), pc);
  Reply loop = call("catNone", "moveObject", tag("objectID", target) + tag("newparent", inner));
  EXPECT_EQ(loop.errorNumber(), kErrMoveBelowItself) << loop.text;

  // add, delete one value, replace, and an empty delete that removes every value.
  auto descriptions = [&] {
    Reply r = ok("catNone", "readObject", tag("objectID", pc));
    std::vector<std::string> out;
    DOM_Node o = XMLParser::findFirstChild(r.root(), "object");
    for (DOM_Node d = XMLParser::findFirstChild(o, "description"); d != nullptr;
         d = XMLParser::findNextSibling(d, "description")) {
      out.push_back(XMLParser::getStringValue(d));
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(descriptions(), (std::vector<std::string>{"one", "two"}));
  ok("catNone", "modifyObject",
     tag("objectID", pc) +
         "<attribute name=\"description\" op=\"add\">three &lt;3</attribute>"
         "<attribute name=\"description\" op=\"delete\">one</attribute>");
  EXPECT_EQ(descriptions(), (std::vector<std::string>{"three <3", "two"}));
  ok("catNone", "modifyObject",
     tag("objectID", pc) + "<attribute name=\"description\" op=\"delete\"/>");
  EXPECT_TRUE(descriptions().empty());
  ok("catNone", "modifyObject",
     tag("objectID", pc) + "<attribute name=\"description\" op=\"replace\">only</attribute>");
  EXPECT_EQ(descriptions(), std::vector<std::string>{"only"});
  ok("catNone", "modifyObject", tag("objectID", pc));  // nothing to change
  EXPECT_EQ(descriptions(), std::vector<std::string>{"only"});
  Reply schema =
      call("catNone", "modifyObject",
           tag("objectID", pc) + "<attribute name=\"nosuchattr\" op=\"add\">x</attribute>");
  EXPECT_EQ(schema.errorNumber(), 17) << schema.text;  // undefinedAttributeType

  // The whole subtree goes, leaves first.
  ok("catNone", "removeAllObjects", tag("objectID", target));
  EXPECT_EQ(idOf("ou=Target,o=orvanta"), "");
  EXPECT_EQ(idOf("cn=renamed-pc,ou=Inner,ou=Target,o=orvanta"), "");
  EXPECT_EQ(call("catNone", "readObject", tag("objectID", pc)).errorNumber(), 32);
  ok("catNone", "removeAllObjects", tag("objectID", tmp));
  EXPECT_EQ(idOf("ou=Tmp,o=orvanta"), "");
}

TEST_F(CommandEngineTest, RepositoryAndInventoryCompareAsPackageVersions) {
  std::string pub = idOf("ou=pub,ou=RPM,ou=SoftwareRepository,o=orvanta");
  const std::vector<std::pair<std::string, std::string>> packages = {
      {"1.9", "aaaaaaaa-0000-4000-8000-000000000001"},
      {"1.10", "aaaaaaaa-0000-4000-8000-000000000002"},
      {"1.10~rc1", "aaaaaaaa-0000-4000-8000-000000000003"},
      {"2.0", "aaaaaaaa-0000-4000-8000-000000000004"}};
  for (const auto& [version, uuid] : packages) {
    // Named by its UUID; the same value given again as an attribute is stored once.
    create(pub, "orvantarpm", uuid,
           "<attribute name=\"orvantauuid\">" + uuid + "</attribute><attribute name=\"cn\">tool-" +
               version +
               "</attribute><attribute name=\"orvantaname\">tool</attribute>"
               "<attribute name=\"orvantaversion\">" +
               version + "</attribute>");
  }
  auto repository = [&](const std::string& op, const std::string& version) {
    Reply r = ok("catSWRepository", "searchObjects",
                 "<includeobjectclass>orvantarpm</includeobjectclass><attribute>orvantaname"
                 "</attribute><attribute>orvantaversion</attribute><attribute>orvantarelease"
                 "</attribute><attribute>orvantauuid</attribute><searchParams>"
                 "<orvantaname op=\"EQ\">tool</orvantaname><orvantaversion op=\"" +
                     op + "\">" + version + "</orvantaversion></searchParams>");
    std::vector<std::string> v = r.objects("orvantaversion");
    return std::set<std::string>(v.begin(), v.end());
  };
  EXPECT_EQ(repository("LT", "1.10"), (std::set<std::string>{"1.9", "1.10~rc1"}));
  EXPECT_EQ(repository("GT", "1.9"), (std::set<std::string>{"1.10", "1.10~rc1", "2.0"}));
  EXPECT_EQ(repository("EQ", "1.10"), std::set<std::string>{"1.10"});
  EXPECT_EQ(repository("IS", "1.1*"), (std::set<std::string>{"1.10", "1.10~rc1"}));

  Reply details = ok("catSWRepository", "getRPMDetailsFromUUIDsBig",
                     "<orvantauuid>aaaaaaaa-0000-4000-8000-000000000002</orvantauuid>"
                     "<orvantauuid>17198c38-dea7-430b-9819-c4f62114a7da</orvantauuid>"
                     "<orvantauuid>*</orvantauuid>");
  std::vector<std::string> names = details.objects("orvantaname");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"tool", "nvo-agent"}));

  // Installed bash: 5.2.15 (lab-pc1, office-pc1) and 5.1 (lab-pc2). As text "5.2.15" sorts
  // after "5.10"; as a package version it comes before.
  std::string workstations = idOf("ou=Workstations,o=orvanta");
  auto software = [&](const std::string& extra, const std::string& params) {
    return ok("catSWInventory", "searchSWInventory",
              tag("objectID", workstations) + extra + "<searchParams>" + params + "</searchParams>")
        .names();
  };
  const std::string pc1 = "lab-pc1-00:16:3e:00:00:01", pc2 = "lab-pc2-00:16:3e:00:00:02",
                    office = "office-pc1-00:16:3e:00:00:11";
  EXPECT_EQ(software("",
                     "<orvantaname op=\"EQ\">bash</orvantaname>"
                     "<orvantaversion op=\"LT\">5.10</orvantaversion>"),
            (std::set<std::string>{pc1, pc2, office}));
  EXPECT_EQ(software("",
                     "<orvantaname op=\"EQ\">bash</orvantaname>"
                     "<orvantaversion op=\"GT\">5.2</orvantaversion>"),
            (std::set<std::string>{pc1, office}));
  EXPECT_EQ(software("<nomatch/>", "<orvantaname op=\"EQ\">openssl</orvantaname>"),
            (std::set<std::string>{pc2, office}));
  EXPECT_EQ(software("", "<orvantaname op=\"EQ\">*</orvantaname>"), std::set<std::string>{});

  auto hardware = [&](const std::string& extra, const std::string& op, const std::string& model) {
    return ok("catHWInventory", "searchHWInventory",
              tag("objectID", workstations) + extra + "<searchParams><orvantamodel op=\"" + op +
                  "\">" + model + "</orvantamodel></searchParams>")
        .names();
  };
  EXPECT_EQ(hardware("", "IS", "Demo Workstation*"), (std::set<std::string>{pc1, pc2}));
  EXPECT_EQ(hardware("<nomatch/>", "IS", "Demo Workstation*"), std::set<std::string>{office});
  EXPECT_EQ(hardware("", "EQ", "demo laptop 10"), std::set<std::string>{office});

  Reply printer = ok("catNone", "readPrinter", tag("printername", "Lab printer"));
  DOM_Node p = XMLParser::findFirstChild(printer.root(), "object");
  EXPECT_EQ(XMLParser::getChildStringValue(p, "orvantaprinteruri"),
            "ipp://printer-lab.example.org/ipp/print");
  EXPECT_TRUE(ok("catNone", "readPrinter", tag("printername", "*")).names().empty());
}

TEST_F(CommandEngineTest, LinksReachThroughGroupsAndContainers) {
  std::string pc1 = idOf(kPc1);
  auto linked = [&](Directory& dir, const std::string& command, const std::string& body) {
    Reply r = callOn(dir, "catNone", command, body);
    EXPECT_EQ(r.error(), "") << r.text;
    return r;
  };
  // Own link (profile), group's link (printer), container links (action, policy).
  auto locate = [&](const std::string& objectClass) {
    return linked(directory_, "findAllLinkedObjects",
                  tag("objectclass", objectClass) + tag("objectID", pc1))
        .names();
  };
  EXPECT_EQ(locate("orvantaprofile"), std::set<std::string>{"Base desktop"});
  EXPECT_EQ(locate("orvantaprinter"), std::set<std::string>{"Lab printer"});
  EXPECT_EQ(locate("orvantaaction"), std::set<std::string>{"Nightly inventory"});
  EXPECT_EQ(locate("orvantapolicy"), std::set<std::string>{"Find printers"});

  // Link a policy to the computer (a computer without orvantalinkholder gets the class).
  std::string pc2 = idOf("cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,o=orvanta");
  std::string office = idOf("cn=Office desktop,ou=Policies,o=orvanta");
  ok("catNone", "linkObjects",
     tag("objectID", office) + tag("objectID2", pc2) + tag("flags", "add"));
  ok("catNone", "linkObjects",
     tag("objectID", office) + tag("objectID2", pc2) + tag("flags", "add"));
  EXPECT_EQ(linked(directory_, "findAllLinkedObjects",
                   tag("objectclass", "orvantapolicy") + tag("objectID", pc2))
                .names(),
            (std::set<std::string>{"Find printers", "Office desktop"}));
  Reply wrong = call("catNone", "linkObjects",
                     tag("objectID", office) + tag("objectID2", pc2) + tag("flags", "toggle"));
  EXPECT_EQ(wrong.errorNumber(), kErrBadFlags) << wrong.text;
  ok("catNone", "linkObjects",
     tag("objectID", office) + tag("objectID2", pc2) + tag("flags", "remove"));
  EXPECT_EQ(linked(directory_, "findAllLinkedObjects",
                   tag("objectclass", "orvantapolicy") + tag("objectID", pc2))
                .names(),
            std::set<std::string>{"Find printers"});
  EXPECT_EQ(call("catNone", "linkObjects",
                 tag("objectID", office) + tag("objectID2", pc2) + tag("flags", "remove"))
                .errorNumber(),
            16);  // noSuchAttribute

  // The computer's own session: no objectID means its own object; eventlist reads the
  // objectname children of the root.
  const std::string password = "pc1-session-pw";
  ok("catNone", "modifyObject",
     tag("objectID", pc1) + "<attribute name=\"userpassword\" op=\"replace\">" + password +
         "</attribute>");
  LdapDirectory own;
  own.open(server_->uri(), kPc1, password);
  Reply events = linked(own, "readLinkedObjects",
                        tag("objectclass", "orvantapolicy") +
                            tag("attribute", "orvantapolicytype") + tag("value", "search"));
  std::vector<std::string> names;
  for (DOM_Node n = XMLParser::findFirstChild(events.root(), "objectname"); n != nullptr;
       n = XMLParser::findNextSibling(n, "objectname")) {
    names.push_back(XMLParser::getStringValue(n));
  }
  EXPECT_EQ(names, std::vector<std::string>{"cn=Find printers,ou=Policies,o=orvanta"});
  EXPECT_EQ(linked(own, "findAllLinkedObjects", tag("objectclass", "orvantaprinter")).names(),
            std::set<std::string>{"Lab printer"});
  EXPECT_TRUE(linked(own, "readLinkedObjects",
                     tag("objectclass", "orvantapolicy") + tag("attribute", "orvantapolicytype") +
                         tag("value", "desktop"))
                  .names()
                  .empty());
  // What the access rules refuse a computer comes back as the directory's error.
  Reply refused = callOn(own, "catNone", "createObject",
                         tag("objectID", idOf(kLab)) + tag("objectclass", "orvantacomputer") +
                             tag("name", "intruder"));
  EXPECT_EQ(refused.errorNumber(), 50) << refused.text;  // insufficientAccess

  LdapDirectory anonymous;
  anonymous.open(server_->uri(), "", "");
  Reply nobody =
      callOn(anonymous, "catNone", "findAllLinkedObjects", tag("objectclass", "orvantaprinter"));
  EXPECT_EQ(nobody.errorNumber(), kErrNoOwnObject) << nobody.text;
}

TEST_F(CommandEngineTest, LinksAndMembersFollowRenameMoveAndRemoval) {
  std::string box = create(idOf("o=orvanta"), "organizationalunit", "LinkBox");
  std::string a = create(box, "organizationalunit", "A");
  std::string b = create(box, "organizationalunit", "B");
  std::string pc = create(a, "orvantacomputer", "c1");
  std::string action = create(a, "orvantaaction", "act");
  auto nameOf = [&](const std::string& id) {
    return XMLParser::getChildStringValue(
        ok("catNone", "getObjectNameFromObjectID", tag("objectID", id)).root(), "objectname");
  };
  std::string group = create(box, "orvantacomputergroup", "G",
                             "<attribute name=\"member\">" + nameOf(pc) + "</attribute>");
  ok("catNone", "linkObjects", tag("objectID", action) + tag("objectID2", group));
  auto actions = [&] {
    return ok("catNone", "findAllLinkedObjects",
              tag("objectclass", "orvantaaction") + tag("objectID", pc))
        .names();
  };
  auto groupValues = [&](const std::string& attribute) {
    Reply r = ok("catNone", "readObject", tag("objectID", group));
    std::vector<std::string> out;
    DOM_Node o = XMLParser::findFirstChild(r.root(), "object");
    for (DOM_Node v = XMLParser::findFirstChild(o, attribute); v != nullptr;
         v = XMLParser::findNextSibling(v, attribute)) {
      out.push_back(XMLParser::getStringValue(v));
    }
    return out;
  };
  EXPECT_EQ(actions(), std::set<std::string>{"act"});

  ok("catNone", "renameObject", tag("objectID", action) + tag("newname", "act2"));
  EXPECT_EQ(actions(), std::set<std::string>{"act2"});
  EXPECT_EQ(groupValues("orvantalink"), std::vector<std::string>{nameOf(action)});

  ok("catNone", "moveObject", tag("objectID", pc) + tag("newparent", b));
  EXPECT_EQ(groupValues("member"), std::vector<std::string>{nameOf(pc)});
  EXPECT_EQ(actions(), std::set<std::string>{"act2"});

  // A whole subtree moves: the action below A gets a new name too.
  ok("catNone", "moveObject", tag("objectID", a) + tag("newparent", b));
  EXPECT_EQ(nameOf(action), "cn=act2,ou=A,ou=B,ou=LinkBox,o=orvanta");
  EXPECT_EQ(groupValues("orvantalink"), std::vector<std::string>{nameOf(action)});
  EXPECT_EQ(actions(), std::set<std::string>{"act2"});

  // A removed computer is no member any more (a new entry of the same name would not be).
  ok("catNone", "removeAllObjects", tag("objectID", pc));
  EXPECT_TRUE(groupValues("member").empty());
  ok("catNone", "removeAllObjects", tag("objectID", action));
  EXPECT_TRUE(groupValues("orvantalink").empty());
  ok("catNone", "removeAllObjects", tag("objectID", box));
}

// Forwards to a real directory, except that every modify fails as with a directory that no
// longer answers (the client library's time-out); those attempts are counted.
class UnansweredModifies : public Directory {
 public:
  explicit UnansweredModifies(Directory& real) : real_(real) {}
  std::vector<DirEntry> search(const SearchRequest& request) override {
    return real_.search(request);
  }
  void add(const std::string& dn, const std::vector<DirAttribute>& attributes) override {
    real_.add(dn, attributes);
  }
  void modify(const std::string&, const std::vector<Modification>&) override {
    ++attempts;
    throw DirectoryError(LDAP_TIMEOUT, "Timed out");
  }
  void rename(const std::string& dn, const std::string& newRdn,
              const std::string& newSuperior) override {
    real_.rename(dn, newRdn, newSuperior);
  }
  void remove(const std::string& dn) override { real_.remove(dn); }
  void applyAtomically(const std::vector<DirChange>& changes) override {
    real_.applyAtomically(changes);
  }
  void setPassword(const std::string& dn, const std::string& password) override {
    real_.setPassword(dn, password);
  }
  std::string boundDn() const override { return real_.boundDn(); }

  int attempts = 0;

 private:
  Directory& real_;
};

// Following a rename touches one holder after another; once the directory stops answering,
// each further attempt would wait for its own time-out. The first such failure ends the
// command, which reports it instead of success.
TEST_F(CommandEngineTest, ADirectoryThatStopsAnsweringEndsTheFollowingOfARename) {
  std::string box = create(idOf("o=orvanta"), "organizationalunit", "StallBox");
  std::string a = create(box, "organizationalunit", "A");
  create(a, "orvantacomputer", "c1");
  for (const char* group : {"G1", "G2", "G3"}) {
    create(box, "orvantacomputergroup", group,
           "<attribute name=\"member\">cn=c1,ou=A,ou=StallBox,o=orvanta</attribute>");
  }
  UnansweredModifies stalled(directory_);
  Reply renamed =
      callOn(stalled, "catNone", "renameObject", tag("objectID", a) + tag("newname", "A2"));
  EXPECT_EQ(renamed.errorNumber(), LDAP_TIMEOUT) << renamed.text;
  EXPECT_EQ(stalled.attempts, 1);
  ok("catNone", "removeAllObjects", tag("objectID", box));
}

}  // namespace
}  // namespace nvo
