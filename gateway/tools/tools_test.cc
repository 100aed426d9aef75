// nvo-rpm-import and nvo-inventory end to end: the real binaries against a real slapd holding
// the gateway's schema, access rules and demo data, with RPM packages built here by rpmbuild,
// a dpkg status file written here, and the test machine's own dpkg database. What they stored
// is read back through libnvo as the console reads it.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "gateway/mux_client.h"
#include "gateway/tools/gateway_requests.h"
#include "gateway/tools/packages.h"
#include "gateway/xml_parser.h"
#include "tests/support/child_process.h"
#include "tests/support/daemon_process.h"
#include "tests/support/demo_directory_test.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/slapd_server.h"

namespace nvo::tools {
namespace {

namespace fs = std::filesystem;
using nvo_test::Identity;
using nvo_test::ProcessResult;
using nvo_test::SlapdOptions;
using nvo_test::SlapdServer;
using X = XMLParser;

const char kLab[] = "ou=Lab,ou=Workstations,o=orvanta";
const char kPc1[] = "cn=lab-pc1-00:16:3e:00:00:01,ou=Lab,ou=Workstations,o=orvanta";
const char kPc2[] = "cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,o=orvanta";
const char kPc2Password[] = "pc2-secret";

std::string authenticationDocument(const std::string& url, const std::string& dn,
                                   const std::string& password) {
  return "<?xml version='1.0' encoding='UTF-8'?><authentication><gateway><url>" + url +
         "</url><authname>" + X::makeXMLString(dn) + "</authname><password>" +
         X::makeXMLString(password) + "</password><objectname>" + X::makeXMLString(dn) +
         "</objectname><primaryGateway/></gateway></authentication>";
}

std::string command(const std::string& cat, const std::string& name, const std::string& body) {
  return "<?xml version='1.0' encoding='UTF-8'?><command cat=\"" + cat + "\" name=\"" + name +
         "\">" + body + "</command>";
}

// The text of `child` in each `object` of a reply.
std::vector<std::string> objects(DOM_Node reply, const std::string& child) {
  std::vector<std::string> out;
  for (DOM_Node o = X::findFirstChild(reply, "object"); o != nullptr;
       o = X::findNextSibling(o, "object")) {
    out.push_back(X::getChildStringValue(o, child));
  }
  return out;
}

std::set<std::string> asSet(const std::vector<std::string>& values) {
  return {values.begin(), values.end()};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    out.push_back(line);
  }
  return out;
}

// The path of the program `name` on the PATH; empty when there is none.
std::string onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const fs::path candidate = fs::path(folder) / name;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
  }
  return {};
}

// A dpkg status file: one stanza per "name version arch status" quadruple.
std::string dpkgStatus(const std::vector<std::vector<std::string>>& packages) {
  std::string text;
  for (const auto& p : packages) {
    text += "Package: " + p[0] + "\nStatus: " + p[3] +
            "\nPriority: optional\nArchitecture: " + p[2] + "\nVersion: " + p[1] +
            "\nDescription: a package\n multi-line text\n\n";
  }
  return text;
}

class GatewayToolsTest : public nvo_test::DemoDirectoryTest {
 protected:
  void SetUp() override {
    DemoDirectoryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    adminAuth_ = scratch_.write(
        "admin.xml",
        authenticationDocument(server_->uri(), SlapdServer::kAdminDn, SlapdServer::kAdminPassword));
    ASSERT_EQ(server_->ldapPasswd(SlapdServer::admin(), kPc2, kPc2Password).exitCode, 0);
    pc2Auth_ =
        scratch_.write("pc2.xml", authenticationDocument(server_->uri(), kPc2, kPc2Password));
    ASSERT_TRUE(admin_.initSession(authenticationDocument(server_->uri(), SlapdServer::kAdminDn,
                                                          SlapdServer::kAdminPassword)));
  }

  ProcessResult tool(const std::string& name, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {nvo_test::buildBinary(name)};
    argv.insert(argv.end(), args.begin(), args.end());
    return nvo_test::runCommand(argv, {}, std::chrono::seconds(120));
  }

  // The reply of `text` on the administrator's session; fails the test on an error reply.
  DOM_Node adminCall(const std::string& text) {
    DOM_Node reply = admin_.callGateway(text.data(), static_cast<int>(text.size()));
    EXPECT_NE(reply, nullptr);
    EXPECT_EQ(X::findFirstChild(reply, "error"), nullptr) << X::buildXMLFromNodes(reply);
    return reply;
  }

  std::string idOf(const std::string& dn) {
    DOM_Node r = adminCall(command("catNone", "resolveObject",
                                   "<objectname>" + X::makeXMLString(dn) + "</objectname>"));
    std::vector<std::string> ids = objects(r, "objectID");
    return ids.empty() ? std::string() : ids.front();
  }

  // Computers below ou=Lab that have (or, negated, have not) a package matching `params`.
  std::set<std::string> labComputersWith(const std::string& params, bool negate = false) {
    return asSet(objects(
        adminCall(command("catSWInventory", "searchSWInventory",
                          "<objectID>" + idOf(kLab) + "</objectID>" + (negate ? "<nomatch/>" : "") +
                              "<searchParams>" + params + "</searchParams>")),
        "displayname"));
  }

  // The installed-package entries directly below `computer`, as "name version release arch".
  std::set<std::string> inventoryOf(const std::string& computer) {
    nvo_test::SearchResult found = server_->ldapSearch(
        SlapdServer::admin(), computer, "one", "(objectClass=orvantainstalledpackage)",
        {"orvantaname", "orvantaversion", "orvantarelease", "orvantaarch"});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    std::set<std::string> out;
    for (const nvo_test::Entry& e : found.entries) {
      auto first = [&](const std::string& name) {
        auto it = e.attributes.find(name);
        return it == e.attributes.end() ? std::string() : it->second.front();
      };
      out.insert(first("orvantaname") + " " + first("orvantaversion") + " " +
                 first("orvantarelease") + " " + first("orvantaarch"));
    }
    return out;
  }

  // Builds a package with rpmbuild in the scratch folder; its path.
  std::string buildRpm(const std::string& name, const std::string& version,
                       const std::string& release) {
    const std::string spec = scratch_.write(
        name + ".spec", "Name: " + name + "\nVersion: " + version + "\nRelease: " + release +
                            "\nSummary: test package\nLicense: none\nBuildArch: noarch\n"
                            "%description\nA test package.\n%files\n");
    const std::string top = (scratch_.path() / "rpmbuild").string();
    ProcessResult built = nvo_test::runCommand(
        {onPath("rpmbuild"), "-bb", "--quiet", "--define", "_topdir " + top, spec}, {},
        std::chrono::seconds(120));
    EXPECT_EQ(built.exitCode, 0) << built.err;
    return top + "/RPMS/noarch/" + name + "-" + version + "-" + release + ".noarch.rpm";
  }

  nvo_test::ScratchDir scratch_{"nvo-tools"};
  std::string adminAuth_;
  std::string pc2Auth_;
  MUXClient admin_;
};

TEST_F(GatewayToolsTest, RpmImportAddsEachPackageOnceAndTheRepositoryFindsIt) {
  if (onPath("rpmbuild").empty()) {
    GTEST_SKIP() << "needs rpmbuild (Debian package rpm)";
  }
  const std::string alpha = buildRpm("nvo-test-alpha", "1.2", "3");
  const std::string beta = buildRpm("nvo-test-beta", "1.10~rc1", "1.el9");
  const std::string junk = scratch_.write("junk.rpm", "no package at all");

  // First import: both added, each with a fresh UUID.
  ProcessResult first = tool("nvo-rpm-import", {"-a", adminAuth_, alpha, beta});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  std::vector<std::string> added = lines(first.out);
  ASSERT_EQ(added.size(), 2u) << first.out;
  std::vector<std::string> uuids;
  for (const std::string& line : added) {
    std::istringstream words(line);
    std::string verb;
    std::string uuid;
    words >> verb >> uuid;
    EXPECT_EQ(verb, "added") << line;
    uuids.push_back(uuid);
  }
  EXPECT_EQ(added[0], "added " + uuids[0] + " nvo-test-alpha 1.2 3");
  EXPECT_EQ(added[1], "added " + uuids[1] + " nvo-test-beta 1.10~rc1 1.el9");
  EXPECT_NE(uuids[0], uuids[1]);

  // Again, with a file that is no package between them: the two are reported with the UUIDs
  // they already have, the bad file named, and nothing added.
  ProcessResult again = tool("nvo-rpm-import", {"-a", adminAuth_, beta, junk, alpha});
  EXPECT_EQ(again.exitCode, 3);
  EXPECT_EQ(lines(again.out),
            (std::vector<std::string>{"present " + uuids[1] + " nvo-test-beta 1.10~rc1 1.el9",
                                      "present " + uuids[0] + " nvo-test-alpha 1.2 3"}));
  EXPECT_NE(again.err.find(junk), std::string::npos) << again.err;
  DOM_Node alphas = adminCall(findPackageCommand({"nvo-test-alpha", "1.2", "3", ""}));
  EXPECT_EQ(objects(alphas, "orvantauuid"), std::vector<std::string>{uuids[0]})
      << "left alone: still one entry";

  // The console's getrpmdetails finds exactly these two, named by their UUIDs below ou=pub.
  DOM_Node details = adminCall(command(
      "catSWRepository", "getRPMDetailsFromUUIDsBig",
      "<orvantauuid>" + uuids[0] + "</orvantauuid><orvantauuid>" + uuids[1] + "</orvantauuid>"));
  EXPECT_EQ(asSet(objects(details, "orvantaname")),
            (std::set<std::string>{"nvo-test-alpha", "nvo-test-beta"}));
  EXPECT_EQ(asSet(objects(details, "orvantaversion")), (std::set<std::string>{"1.2", "1.10~rc1"}));
  EXPECT_EQ(asSet(objects(details, "orvantarelease")), (std::set<std::string>{"3", "1.el9"}));
  EXPECT_EQ(asSet(objects(details, "objectname")),
            (std::set<std::string>{
                "orvantauuid=" + uuids[0] + ",ou=pub,ou=RPM,ou=SoftwareRepository,o=orvanta",
                "orvantauuid=" + uuids[1] + ",ou=pub,ou=RPM,ou=SoftwareRepository,o=orvanta"}));

  // --secure imports into the other unit: a package of ou=pub is not "already there" for it.
  ProcessResult secure = tool("nvo-rpm-import", {"--secure", "-a", adminAuth_, alpha});
  ASSERT_EQ(secure.exitCode, 0) << secure.err;
  ASSERT_EQ(secure.out.rfind("added ", 0), 0u) << secure.out;
  const std::string secureUuid = secure.out.substr(6, 36);
  DOM_Node secureDetails = adminCall(command("catSWRepository", "getRPMDetailsFromUUIDsBig",
                                             "<orvantauuid>" + secureUuid + "</orvantauuid>"));
  EXPECT_EQ(objects(secureDetails, "objectname"),
            std::vector<std::string>{"orvantauuid=" + secureUuid +
                                     ",ou=secure,ou=RPM,ou=SoftwareRepository,o=orvanta"});

  // Refusals: a computer may not add to the repository; a wrong password opens no session;
  // no file, an unknown option.
  const std::string gamma = buildRpm("nvo-test-gamma", "1", "1");
  ProcessResult asComputer = tool("nvo-rpm-import", {"-a", pc2Auth_, gamma});
  EXPECT_EQ(asComputer.exitCode, 4) << asComputer.out;
  const std::string wrong = scratch_.write(
      "wrong.xml", authenticationDocument(server_->uri(), SlapdServer::kAdminDn, "wrong"));
  EXPECT_EQ(tool("nvo-rpm-import", {"-a", wrong, alpha}).exitCode, 2);
  EXPECT_EQ(tool("nvo-rpm-import", {"-a", adminAuth_}).exitCode, 1);
  EXPECT_EQ(tool("nvo-rpm-import", {"--bogus", alpha}).exitCode, 1);
  ProcessResult help = tool("nvo-rpm-import", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);

  // The RPM database side of nvo-inventory reads what rpm installed (database only).
  const std::string db = (scratch_.path() / "rpmdb").string();
  ASSERT_EQ(nvo_test::runCommand({onPath("rpm"), "--dbpath", db, "--initdb"}).exitCode, 0);
  ProcessResult installed = nvo_test::runCommand(
      {onPath("rpm"), "-i", "--justdb", "--nodeps", "--noscripts", "--dbpath", db, alpha, beta}, {},
      std::chrono::seconds(60));
  ASSERT_EQ(installed.exitCode, 0) << installed.err;
  std::string error;
  auto fromDb = readRpmDatabase(db, error);
  ASSERT_TRUE(fromDb) << error;
  EXPECT_EQ(asSet([&] {
              std::vector<std::string> v;
              for (const Package& p : *fromDb) {
                v.push_back(p.name + " " + p.version + " " + p.release + " " + p.arch);
              }
              return v;
            }()),
            (std::set<std::string>{"nvo-test-alpha 1.2 3 noarch",
                                   "nvo-test-beta 1.10~rc1 1.el9 noarch"}));
  EXPECT_FALSE(readRpmDatabase((scratch_.path() / "nodb").string(), error));
}

TEST_F(GatewayToolsTest, InventoryReportsAsTheComputerAndTheConsoleSearchesFindIt) {
  const std::string status = scratch_.write(
      "status", dpkgStatus({{"bash", "5.2.15-2+b2", "amd64", "install ok installed"},
                            {"zlib1g", "1:1.2.13.dfsg-1", "amd64", "install ok installed"},
                            {"nvo-native", "3.0", "all", "install ok installed"},
                            {"old-tool", "9.9-1", "amd64", "deinstall ok config-files"}}));
  const std::string model = scratch_.write("product_name", "Test Model X 2000\n");

  ProcessResult report =
      tool("nvo-inventory", {"-a", pc2Auth_, "--dpkg-status", status, "--model-file", model});
  ASSERT_EQ(report.exitCode, 0) << report.err;
  EXPECT_EQ(lines(report.out),
            (std::vector<std::string>{"model: Test Model X 2000",
                                      "packages: 3 (added 3, removed 1, unchanged 0)"}));
  // Exactly the report: the demo's older bash entry is gone, the package not installed absent,
  // the epoch dropped, a native package without release.
  EXPECT_EQ(inventoryOf(kPc2),
            (std::set<std::string>{"bash 5.2.15 2+b2 amd64", "zlib1g 1.2.13.dfsg 1 amd64",
                                   "nvo-native 3.0  all"}));

  // The console's searchcomputers, software and hardware, have and not.
  const std::string pc2 = "lab-pc2-00:16:3e:00:00:02";
  const std::string pc1 = "lab-pc1-00:16:3e:00:00:01";
  struct Case {
    std::string params;
    bool negate;
    std::set<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"<orvantaname op=\"EQ\">zlib1g</orvantaname>", false, {pc2}},
      {"<orvantaname op=\"EQ\">zlib1g</orvantaname><orvantaversion op=\"LT\">1.2.13.1</"
       "orvantaversion>",
       false,
       {pc2}},
      {"<orvantaname op=\"EQ\">zlib1g</orvantaname><orvantaversion op=\"GT\">1.2.13.dfsg</"
       "orvantaversion>",
       false,
       {}},
      {"<orvantaname op=\"EQ\">bash</orvantaname><orvantaversion op=\"LT\">5.2.15</"
       "orvantaversion>",
       false,
       {}},
      {"<orvantaname op=\"EQ\">bash</orvantaname><orvantarelease op=\"GT\">2</orvantarelease>",
       false,
       {pc1, pc2}},
      {"<orvantaname op=\"EQ\">zlib1g</orvantaname>", true, {pc1}},
      {"<orvantaname op=\"IS\">nvo-nat*</orvantaname>", true, {pc1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(labComputersWith(c.params, c.negate), c.expected);
  }
  auto hardware = [&](const std::string& params, bool negate) {
    return asSet(objects(
        adminCall(command("catHWInventory", "searchHWInventory",
                          "<objectID>" + idOf(kLab) + "</objectID>" + (negate ? "<nomatch/>" : "") +
                              "<searchParams>" + params + "</searchParams>")),
        "displayname"));
  };
  EXPECT_EQ(hardware("<orvantamodel op=\"EQ\">test model x 2000</orvantamodel>", false),
            std::set<std::string>{pc2});
  EXPECT_EQ(hardware("<orvantamodel op=\"IS\">Test Model*</orvantamodel>", true),
            std::set<std::string>{pc1});

  // The same report again writes nothing.
  ProcessResult same =
      tool("nvo-inventory", {"-a", pc2Auth_, "--dpkg-status", status, "--model-file", model});
  ASSERT_EQ(same.exitCode, 0) << same.err;
  EXPECT_EQ(lines(same.out)[1], "packages: 3 (added 0, removed 0, unchanged 3)");

  // The test machine's own dpkg database, in a container without a model: every installed
  // package, the model reported unknown and removed.
  ProcessResult real = tool(
      "nvo-inventory", {"-a", pc2Auth_, "--model-file", (scratch_.path() / "absent").string()});
  ASSERT_EQ(real.exitCode, 0) << real.err;
  EXPECT_EQ(lines(real.out)[0].rfind("model: unknown (", 0), 0u) << real.out;
  ProcessResult query = nvo_test::runCommand(
      {onPath("dpkg-query"), "-W", "-f=${db:Status-Status} ${Package} ${Version}\n"}, {},
      std::chrono::seconds(60));
  ASSERT_EQ(query.exitCode, 0) << query.err;
  std::set<std::string> installed;
  std::string dpkgVersion;
  for (const std::string& line : lines(query.out)) {
    std::istringstream words(line);
    std::string state;
    std::string name;
    std::string version;
    words >> state >> name >> version;
    if (state == "installed") {
      installed.insert(name);
      if (name == "dpkg") {
        dpkgVersion = version;
      }
    }
  }
  std::set<std::string> stored;
  for (const std::string& entry : inventoryOf(kPc2)) {
    stored.insert(entry.substr(0, entry.find(' ')));
  }
  EXPECT_EQ(stored, installed);
  ASSERT_FALSE(dpkgVersion.empty());
  const Package dpkg = debianPackage("dpkg", dpkgVersion, "");
  EXPECT_EQ(labComputersWith("<orvantaname op=\"EQ\">dpkg</orvantaname><orvantaversion "
                             "op=\"EQ\">" +
                             dpkg.version + "</orvantaversion>"),
            std::set<std::string>{pc2});
  EXPECT_EQ(labComputersWith("<orvantaname op=\"EQ\">dpkg</orvantaname><orvantaversion "
                             "op=\"GT\">" +
                             dpkg.version + "</orvantaversion>"),
            std::set<std::string>{});
  EXPECT_EQ(hardware("<orvantamodel op=\"IS\">*</orvantamodel>", true), std::set<std::string>{pc2});
}

TEST_F(GatewayToolsTest, AReaderNeverSeesAMixedOrEmptyInventoryWhileAReportReplacesIt) {
  // Two reports without a package in common, swapped several times while a reader lists the
  // computer's inventory again and again.
  std::vector<std::vector<std::string>> a;
  std::vector<std::vector<std::string>> b;
  std::set<std::string> namesA;
  std::set<std::string> namesB;
  constexpr int kPackages = 150;
  for (int i = 0; i < kPackages; ++i) {
    a.push_back({"alpha-" + std::to_string(i), "1.0-1", "amd64", "install ok installed"});
    b.push_back({"beta-" + std::to_string(i), "2.0-1", "amd64", "install ok installed"});
    namesA.insert("alpha-" + std::to_string(i) + "/1.0/1/amd64");
    namesB.insert("beta-" + std::to_string(i) + "/2.0/1/amd64");
  }
  const std::string statusA = scratch_.write("status-a", dpkgStatus(a));
  const std::string statusB = scratch_.write("status-b", dpkgStatus(b));
  const std::string model = scratch_.write("product_name", "Swap Model\n");
  ProcessResult first =
      tool("nvo-inventory", {"-a", pc2Auth_, "--dpkg-status", statusA, "--model-file", model});
  ASSERT_EQ(first.exitCode, 0) << first.err;

  const std::string pc2Id = idOf(kPc2);
  std::atomic<bool> done{false};
  std::atomic<int> failedReports{0};
  std::thread writer([&] {
    constexpr int kSwaps = 6;
    for (int i = 0; i < kSwaps; ++i) {
      ProcessResult r = tool(
          "nvo-inventory",
          {"-a", pc2Auth_, "--dpkg-status", i % 2 == 0 ? statusB : statusA, "--model-file", model});
      if (r.exitCode != 0 ||
          r.out.find("removed " + std::to_string(kPackages)) == std::string::npos) {
        ++failedReports;
      }
    }
    done = true;
  });
  int reads = 0;
  int sawA = 0;
  int sawB = 0;
  constexpr int kMaxReads = 5000;
  const std::string list =
      command("catNone", "enumerateObjects", "<objectID>" + pc2Id + "</objectID>");
  const std::string have = command("catSWInventory", "searchSWInventory",
                                   "<objectID>" + pc2Id +
                                       "</objectID><searchParams><orvantaversion "
                                       "op=\"GT\">0</orvantaversion></searchParams>");
  // At least one read, however fast the writer is; at most kMaxReads.
  while ((reads == 0 || !done) && reads < kMaxReads) {
    ++reads;
    std::set<std::string> seen = asSet(objects(adminCall(list), "displayname"));
    if (seen == namesA) {
      ++sawA;
    } else if (seen == namesB) {
      ++sawB;
    } else {
      ADD_FAILURE() << "read " << reads << " saw " << seen.size() << " packages, a mixture";
      break;
    }
    EXPECT_EQ(objects(adminCall(have), "displayname").size(), 1u) << "read " << reads;
  }
  writer.join();
  EXPECT_EQ(failedReports, 0);
  EXPECT_GT(sawA + sawB, 0);
  EXPECT_EQ(asSet(objects(adminCall(list), "displayname")), namesA);
}

TEST_F(GatewayToolsTest, AComputerReportsOnlyItsOwnInventory) {
  const std::set<std::string> before = inventoryOf(kPc1);
  ASSERT_FALSE(before.empty());
  MUXClient pc2;
  ASSERT_TRUE(pc2.initSession(authenticationDocument(server_->uri(), kPc2, kPc2Password)));
  const std::string pc1Id = idOf(kPc1);
  const std::string report =
      "<package><orvantaname>evil</orvantaname><orvantaversion>1</orvantaversion></package>";
  // Through the engine with the other computer's objectID, and the same entries written
  // directly: both refused, the other inventory unchanged.
  const std::string other =
      command("catSWInventory", "replaceInventory", "<objectID>" + pc1Id + "</objectID>" + report);
  DOM_Node reply = pc2.callGateway(other.data(), static_cast<int>(other.size()));
  ASSERT_NE(reply, nullptr);
  std::string number = X::getChildStringValue(X::findFirstChild(reply, "error"), "errorNum");
  EXPECT_TRUE(number == "32" || number == "50") << X::buildXMLFromNodes(reply);
  nvo_test::LdapClient client(server_->uri(), scratch_.path());
  EXPECT_NE(client
                .ldapAdd({kPc2, kPc2Password},
                         std::string("dn: cn=evil,") + kPc1 +
                             "\nobjectClass: orvantainstalledpackage\ncn: evil\norvantaname: "
                             "evil\norvantaversion: 1\n")
                .exitCode,
            0);
  EXPECT_NE(client.ldapDelete({kPc2, kPc2Password}, std::string("cn=bash,") + kPc1).exitCode, 0);
  EXPECT_EQ(inventoryOf(kPc1), before);

  // Its own, through the same command without objectID: allowed.
  const std::string own = command("catSWInventory", "replaceInventory", report);
  reply = pc2.callGateway(own.data(), static_cast<int>(own.size()));
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(X::findFirstChild(reply, "error"), nullptr) << X::buildXMLFromNodes(reply);
  EXPECT_EQ(inventoryOf(kPc2), (std::set<std::string>{"evil 1  "}));
  EXPECT_EQ(inventoryOf(kPc1), before);

  // A report of nothing (which nvo-inventory never sends) empties the inventory and removes
  // the model.
  const std::string nothing = command("catSWInventory", "replaceInventory", "");
  reply = pc2.callGateway(nothing.data(), static_cast<int>(nothing.size()));
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(X::getChildStringValue(reply, "removed"), "1") << X::buildXMLFromNodes(reply);
  EXPECT_EQ(inventoryOf(kPc2), std::set<std::string>{});
  nvo_test::SearchResult pc2Entry =
      server_->ldapSearch(SlapdServer::admin(), kPc2, "base", "(orvantamodel=*)");
  EXPECT_EQ(pc2Entry.exitCode, 0) << pc2Entry.err;
  EXPECT_TRUE(pc2Entry.entries.empty());
  EXPECT_EQ(inventoryOf(kPc1), before);
}

// A computer's own session (its own authentication document, through the library and through
// nvo-call) sees its own world only, and changes nothing but its inventory: every read of
// another computer comes back without a trace of it, whatever the command or the filter text
// sent; every other change is refused; the directory is the same entry for entry afterwards.
TEST_F(GatewayToolsTest, AComputerSessionSeesItsOwnWorldAndChangesNothingElse) {
  const std::string kOfficePc =
      "cn=office-pc1-00:16:3e:00:00:11,ou=Office,ou=Workstations,o=orvanta";
  const std::string pc1 = idOf(kPc1);
  const std::string pc2 = idOf(kPc2);
  const std::string office = idOf(kOfficePc);
  const std::string lab = idOf(kLab);
  const std::string root = idOf("o=orvanta");
  const std::string officeUnit = idOf("ou=Office,ou=Workstations,o=orvanta");
  const std::string policy = idOf("cn=Office desktop,ou=Policies,o=orvanta");
  ASSERT_FALSE(pc1.empty() || pc2.empty() || office.empty() || lab.empty() || root.empty() ||
               officeUnit.empty() || policy.empty());
  // What no reply to this computer may hold: the other computers' names and what only they are
  // linked to. (An error may repeat the objectID the request itself sent.)
  const std::vector<std::string> foreign = {"lab-pc1", "office-pc1", "Base desktop"};
  auto id = [](const std::string& value) { return "<objectID>" + value + "</objectID>"; };

  MUXClient session;
  ASSERT_TRUE(session.initSession(authenticationDocument(server_->uri(), kPc2, kPc2Password)));
  auto call = [&](const std::string& text) {
    DOM_Node reply = session.callGateway(text.data(), static_cast<int>(text.size()));
    return reply == nullptr ? std::string() : X::buildXMLFromNodes(reply);
  };
  // It does see itself, so the reads below are not empty by accident.
  const std::string own = call(command("catNone", "readObject", id(pc2)));
  EXPECT_NE(own.find("lab-pc2"), std::string::npos) << own;
  EXPECT_EQ(own.find("userpassword"), std::string::npos) << own;
  const std::string computers =
      command("catNone", "searchObjects",
              id(root) +
                  "<searchParams><objectclass op=\"EQ\">orvantacomputer</objectclass>"
                  "</searchParams>");
  EXPECT_NE(call(computers).find("lab-pc2"), std::string::npos);

  const auto before = server_->searchSubtree("o=orvanta");
  struct Row {
    std::string what;
    std::string command;
    bool change;  // a change, which must be refused
  };
  const std::vector<Row> rows = {
      {"read another computer", command("catNone", "readObject", id(pc1)), false},
      {"read a computer of another container", command("catNone", "readObject", id(office)), false},
      {"name of another computer", command("catNone", "getObjectNameFromObjectID", id(pc1)), false},
      {"resolve another computer",
       command("catNone", "resolveObject", "<objectname>" + std::string(kPc1) + "</objectname>"),
       false},
      {"list its container", command("catNone", "enumerateObjects", id(lab)), false},
      {"search every computer", computers, false},
      {"search with a wildcard",
       command("catNone", "searchObjects",
               id(root) + "<searchParams><cn op=\"IS\">*</cn></searchParams>"),
       false},
      {"search with a filter text",
       command("catNone", "searchObjects",
               id(root) + "<searchParams><cn op=\"EQ\">*)(cn=lab-pc1*</cn></searchParams>"),
       false},
      {"search every inventory",
       command("catSWInventory", "searchSWInventory",
               id(root) + "<searchParams><orvantaname op=\"EQ\">bash</orvantaname></searchParams>"),
       false},
      {"search every model",
       command("catHWInventory", "searchHWInventory",
               id(root) + "<searchParams><orvantamodel op=\"IS\">*</orvantamodel></searchParams>"),
       false},
      {"links of another computer",
       command("catNone", "findAllLinkedObjects",
               "<objectclass>orvantaprofile</objectclass>" + id(pc1)),
       false},
      {"own description",
       command("catNone", "modifyObject",
               id(pc2) + "<attribute name=\"description\" op=\"add\">x</attribute>"),
       true},
      {"own password",
       command("catNone", "modifyObject",
               id(pc2) + "<attribute name=\"userpassword\" op=\"replace\">x</attribute>"),
       true},
      {"own links",
       command("catNone", "modifyObject",
               id(pc2) + "<attribute name=\"orvantalink\" op=\"add\">cn=Office desktop,"
                         "ou=Policies,o=orvanta</attribute>"),
       true},
      {"another computer's model",
       command("catNone", "modifyObject",
               id(pc1) + "<attribute name=\"orvantamodel\" op=\"replace\">x</attribute>"),
       true},
      {"a computer below itself",
       command("catNone", "createObject",
               id(pc2) + "<objectclass>orvantacomputer</objectclass><name>child</name>"),
       true},
      {"a computer in its container",
       command("catNone", "createObject",
               id(lab) + "<objectclass>orvantacomputer</objectclass><name>sibling</name>"),
       true},
      {"a package below another computer",
       command("catNone", "createObject",
               id(pc1) + "<objectclass>orvantainstalledpackage</objectclass><name>evil</name>"
                         "<attribute name=\"orvantaname\">evil</attribute><attribute "
                         "name=\"orvantaversion\">1</attribute>"),
       true},
      {"remove itself", command("catNone", "removeAllObjects", id(pc2)), true},
      {"remove another computer", command("catNone", "removeAllObjects", id(pc1)), true},
      {"rename itself", command("catNone", "renameObject", id(pc2) + "<newname>x</newname>"), true},
      {"move itself",
       command("catNone", "moveObject", id(pc2) + "<newparent>" + officeUnit + "</newparent>"),
       true},
      {"link a policy to itself",
       command("catNone", "linkObjects",
               id(policy) + "<objectID2>" + pc2 + "</objectID2><flags>add</flags>"),
       true},
      {"another computer's inventory",
       command("catSWInventory", "replaceInventory",
               id(pc1) + "<package><orvantaname>evil</orvantaname><orvantaversion>1"
                         "</orvantaversion></package>"),
       true},
  };
  for (const Row& row : rows) {
    const std::string reply = call(row.command);
    EXPECT_FALSE(reply.empty()) << row.what;
    for (const std::string& text : foreign) {
      EXPECT_EQ(reply.find(text), std::string::npos) << row.what << ": " << reply;
    }
    if (row.change) {
      EXPECT_NE(reply.find("<error>"), std::string::npos) << row.what << ": " << reply;
    }
  }
  // The program gives the same answer as the library.
  const std::string readOther = scratch_.write("read-other.xml", rows[0].command);
  ProcessResult viaTool = tool("nvo-call", {"-a", pc2Auth_, readOther});
  EXPECT_EQ(viaTool.exitCode, 0) << viaTool.err;
  EXPECT_EQ(viaTool.out.find("lab-pc1"), std::string::npos) << viaTool.out;
  EXPECT_NE(viaTool.out.find("<error>"), std::string::npos) << viaTool.out;

  // Every entry but the computer's own inventory is as it was (a refused removal of itself may
  // have taken its inventory entries first: those are its own to delete).
  auto outsideOwnInventory = [](const std::vector<nvo_test::Entry>& entries) {
    std::map<std::string, std::map<std::string, std::vector<std::string>>> kept;
    const std::string below = std::string(",") + kPc2;
    for (const nvo_test::Entry& e : entries) {
      if (!e.dn.ends_with(below)) {
        kept[e.dn] = e.attributes;
      }
    }
    return kept;
  };
  const auto after = server_->searchSubtree("o=orvanta");
  EXPECT_EQ(outsideOwnInventory(after), outsideOwnInventory(before));
  // The suite's next tests find the demo inventory again.
  for (const nvo_test::Entry& e : before) {
    if (std::none_of(after.begin(), after.end(), [&](const auto& a) { return a.dn == e.dn; })) {
      std::string ldif = "dn: " + e.dn + "\n";
      for (const auto& [name, values] : e.attributes) {
        for (const std::string& value : values) {
          ldif += name + ": " + value + "\n";
        }
      }
      EXPECT_EQ(server_->ldapAdd(SlapdServer::admin(), ldif).exitCode, 0) << ldif;
    }
  }
}

}  // namespace
}  // namespace nvo::tools
