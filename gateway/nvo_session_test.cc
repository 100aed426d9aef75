// libnvo's sessions against a real slapd with the suite's schema and access rules: opening
// from a document and from NVO_AUTHENTICATION, commands through callGateway, a restarted
// server, the cache round trip, and nvo-call end to end.
#include <ldap.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "gateway/ldap_directory.h"
#include "gateway/mux_client.h"
#include "gateway/nvo_api.h"
#include "gateway/xml_parser.h"
#include "tests/support/daemon_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/slapd_server.h"

namespace nvo {
namespace {

namespace fs = std::filesystem;
using nvo_test::SlapdOptions;
using nvo_test::SlapdServer;

std::string authenticationDocument(const std::string& url, const std::string& password,
                                   const std::string& extraGateways = "") {
  return "<?xml version='1.0' encoding='UTF-8'?><authentication><gateway><url>" + url +
         "</url><authname>" + std::string(SlapdServer::kAdminDn) + "</authname><password>" +
         XMLParser::makeXMLString(password) + "</password><objectname>" + SlapdServer::kAdminDn +
         "</objectname><primaryGateway/></gateway>" + extraGateways + "</authentication>";
}

std::string command(const std::string& name, const std::string& category, const std::string& body) {
  return "<?xml version='1.0' encoding='UTF-8'?><command cat=\"" + category + "\" name=\"" + name +
         "\">" + body + "</command>";
}

DOM_Node call(MUXClient& client, const std::string& text) {
  return client.callGateway(text.data(), static_cast<int>(text.size()));
}

// The errorNum of a reply, empty for a reply without error, "null" for no reply.
std::string errorNumber(DOM_Node reply) {
  if (reply == nullptr) {
    return "null";
  }
  EXPECT_EQ(XMLParser::getName(reply), "commandResult");
  return XMLParser::getChildStringValue(XMLParser::findFirstChild(reply, "error"), "errorNum");
}

using nvo_test::ScratchDir;

class NvoSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = SlapdServer::missingPieces();
    if (!missing.empty()) {
      GTEST_SKIP() << "needs " << missing;
    }
    SlapdOptions options;
    options.directoryModel = true;
    server_ = std::make_unique<SlapdServer>(options);
  }

  std::unique_ptr<SlapdServer> server_;
  ScratchDir scratch_{"nvo-session"};
};

TEST_F(NvoSessionTest, SessionOpensOnlyWithAGoodBindAndRunsCommands) {
  const std::string url = server_->uri();
  const std::string upper = "LDAP" + url.substr(4);
  struct Case {
    std::string name;
    std::string document;
    bool opens;
  };
  const std::vector<Case> cases = {
      {"good", authenticationDocument(url, SlapdServer::kAdminPassword), true},
      {"scheme in capitals", authenticationDocument(upper, SlapdServer::kAdminPassword), true},
      {"wrong password", authenticationDocument(url, "wrong"), false},
      {"no primary gateway",
       "<authentication><gateway><url>" + url + "</url><authname>" + SlapdServer::kAdminDn +
           "</authname><password>" + SlapdServer::kAdminPassword +
           "</password></gateway></authentication>",
       false},
      {"file URL", authenticationDocument("FILE:///tmp/x", SlapdServer::kAdminPassword), false},
      {"not a document", "<authentication><gateway>", false},
      {"nothing listens",
       authenticationDocument("ldap://127.0.0.1:" + std::to_string(nvo_test::unusedLoopbackPort()),
                              SlapdServer::kAdminPassword),
       false},
  };
  const std::string enumerate = command("enumerateBaseObjects", "catNone", "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MUXClient client;
    EXPECT_EQ(call(client, enumerate), nullptr) << "no session yet";
    EXPECT_EQ(client.initSession(c.document), c.opens);
    if (!c.opens) {
      EXPECT_EQ(call(client, enumerate), nullptr);
      continue;
    }
    const DOM_Node reply = call(client, enumerate);
    EXPECT_EQ(errorNumber(reply), "");
    EXPECT_NE(XMLParser::buildXMLFromNodes(reply).find("orvanta"), std::string::npos)
        << XMLParser::buildXMLFromNodes(reply);
    // A document that is not a command: an error of the engine's own, not a crash.
    EXPECT_EQ(errorNumber(call(client, "<command name=")), "1000");
    EXPECT_EQ(errorNumber(call(client, "<!DOCTYPE x [<!ENTITY e 'e'>]><command/>")), "1000");
    // A directory failure: the LDAP result code.
    EXPECT_EQ(errorNumber(call(client, command("readObject", "catNone",
                                               "<objectID>00000000-0000-0000-0000-"
                                               "000000000000</objectID>"))),
              std::to_string(LDAP_NO_SUCH_OBJECT));
    client.endSession();
    EXPECT_EQ(call(client, enumerate), nullptr) << "no session after endSession";
  }
}

TEST_F(NvoSessionTest, CategoryRoutesUseTheirOwnDirectoryAndOtherSchemesAreIgnored) {
  SlapdOptions options;
  options.directoryModel = true;
  SlapdServer repository(options);
  const std::string routes =
      "<gateway><url>LDAP" + repository.uri().substr(4) +
      "</url><cat name=\"catSWRepository\"><location>o=orvanta</location></cat></gateway>"
      "<gateway><url>FILE:///nowhere</url><cat name=\"catHWInventory\"><location>x</location>"
      "</cat></gateway>";
  MUXClient client;
  ASSERT_TRUE(client.initSession(
      authenticationDocument(server_->uri(), SlapdServer::kAdminPassword, routes)));
  // The routed category reaches the second server; stopping it fails that category only.
  const std::string search = command("enumerateBaseObjects", "catSWRepository", "");
  EXPECT_EQ(errorNumber(call(client, search)), "");
  repository.stop();
  EXPECT_EQ(errorNumber(call(client, search)), std::to_string(LDAP_SERVER_DOWN));
  EXPECT_EQ(errorNumber(call(client, command("enumerateBaseObjects", "catHWInventory", ""))), "");
  EXPECT_EQ(errorNumber(call(client, command("enumerateBaseObjects", "catNone", ""))), "");
}

TEST(NvoSessionLargeReplyTest, ReplyLargerThanAnyCommandIsStillReturned) {
  const std::string missing = SlapdServer::missingPieces();
  if (!missing.empty()) {
    GTEST_SKIP() << "needs " << missing;
  }
  // A container with more children than a command document could describe in its size limit.
  constexpr int kChildren = 5000;
  SlapdOptions options;
  options.directoryModel = true;
  options.extraLdif = "dn: ou=big,o=orvanta\nobjectClass: organizationalUnit\nou: big\n\n";
  for (int i = 0; i < kChildren; ++i) {
    const std::string cn = "workstation-with-a-long-name-" + std::to_string(i);
    options.extraLdif +=
        "dn: cn=" + cn + ",ou=big,o=orvanta\nobjectClass: orvantacomputer\ncn: " + cn + "\n\n";
  }
  SlapdServer server(options);
  LdapDirectory directory;
  directory.open(server.uri(), SlapdServer::kAdminDn, SlapdServer::kAdminPassword);
  SearchRequest request;
  request.base = "ou=big,o=orvanta";
  request.scope = SearchScope::kBase;
  request.attributes = {"entryUUID"};
  const std::string uuid = directory.search(request).at(0).first("entryUUID");

  MUXClient client;
  ASSERT_TRUE(
      client.initSession(authenticationDocument(server.uri(), SlapdServer::kAdminPassword)));
  const DOM_Node reply =
      call(client, command("enumerateObjects", "catNone", "<objectID>" + uuid + "</objectID>"));
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(errorNumber(reply), "");
  EXPECT_GT(XMLParser::buildXMLFromNodes(reply).size(), XMLParser::kMaxDocumentBytes);
  int objects = 0;
  for (DOM_Node object = XMLParser::findChild(reply, "object"); object != nullptr;
       object = XMLParser::findNextSibling(object, "object")) {
    ++objects;
  }
  EXPECT_EQ(objects, kChildren);
}

TEST_F(NvoSessionTest, EnvironmentDocumentIsUsedOnlyWhenPrivate) {
  const std::string document = authenticationDocument(server_->uri(), SlapdServer::kAdminPassword);
  const std::string privateFile = scratch_.write("private.xml", document, 0600);
  const std::string sharedFile = scratch_.write("shared.xml", document, 0644);
  const std::string groupFile = scratch_.write("group.xml", document, 0640);
  struct Case {
    std::optional<std::string> path;
    bool opens;
    std::string message;
  };
  const std::vector<Case> cases = {
      {std::nullopt, false, ""},
      {privateFile, true, ""},
      {sharedFile, false, "readable by group or others"},
      {groupFile, false, "readable by group or others"},
      {scratch_.path().string() + "/absent.xml", false, "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.value_or("(unset)"));
    if (c.path) {
      setenv("NVO_AUTHENTICATION", c.path->c_str(), 1);
    } else {
      unsetenv("NVO_AUTHENTICATION");
    }
    MUXClient client;
    ::testing::internal::CaptureStderr();
    const bool opened = client.initSession();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(opened, c.opens);
    if (c.message.empty()) {
      EXPECT_EQ(said, "");
    } else {
      EXPECT_NE(said.find(c.message), std::string::npos) << said;
    }
  }
  unsetenv("NVO_AUTHENTICATION");
}

TEST_F(NvoSessionTest, RestartedDirectoryIsReboundTransparently) {
  MUXClient client;
  ASSERT_TRUE(
      client.initSession(authenticationDocument(server_->uri(), SlapdServer::kAdminPassword)));
  const std::string enumerate = command("enumerateBaseObjects", "catNone", "");
  ASSERT_EQ(errorNumber(call(client, enumerate)), "");
  server_->stop();
  server_->start();
  EXPECT_EQ(errorNumber(call(client, enumerate)), "");
}

// A frozen directory (SIGSTOP: connections are accepted, nothing answers): every library call
// returns with a failure instead of waiting for ever. Three calls at once, each on its own
// session and thread: a command on an open session, the cache call, and opening a new
// session. The watchdog only catches a hang: it allows the bound docs/gateway.md states
// (25 s) and as much again.
TEST_F(NvoSessionTest, FrozenDirectoryEveryCallReturnsWithAFailure) {
  ASSERT_EQ(setenv("XDG_CACHE_HOME", (scratch_.path() / "cache").c_str(), 1), 0);
  const std::string document = authenticationDocument(server_->uri(), SlapdServer::kAdminPassword);
  const std::string enumerate = command("enumerateBaseObjects", "catNone", "");
  MUXClient commandSession;
  MUXClient cacheSession;
  MUXClient newSession;
  ASSERT_TRUE(commandSession.initSession(document));
  ASSERT_TRUE(cacheSession.initSession(document));
  ASSERT_EQ(errorNumber(call(commandSession, enumerate)), "");

  std::mutex mutex;
  std::condition_variable returned;
  int done = 0;
  std::string commandError = "not returned";
  int cacheResult = 0;
  bool opened = true;
  auto finish = [&](const std::function<void()>& record) {
    std::lock_guard<std::mutex> lock(mutex);
    record();
    ++done;
    returned.notify_all();
  };
  server_->freeze();
  std::vector<std::thread> calls;
  calls.emplace_back([&] {
    const std::string error = errorNumber(call(commandSession, enumerate));
    finish([&] { commandError = error; });
  });
  calls.emplace_back([&] {
    char* text = nullptr;
    const int result = AddToCache(cacheSession.getApiCtx(), "orvantapolicy", 0, &text);
    delete[] text;
    finish([&] { cacheResult = result; });
  });
  calls.emplace_back([&] {
    const bool ok = newSession.initSession(document);
    finish([&] { opened = ok; });
  });
  bool allReturned = false;
  {
    std::unique_lock<std::mutex> lock(mutex);
    allReturned = returned.wait_for(lock, std::chrono::seconds(2 * 25), [&] { return done == 3; });
  }
  server_->thaw();  // a call that hangs goes on now, so that its thread can be joined
  for (std::thread& t : calls) {
    t.join();
  }
  EXPECT_TRUE(allReturned) << "a library call waited beyond its bound on a frozen directory";
  EXPECT_EQ(commandError, std::to_string(LDAP_TIMEOUT));
  EXPECT_NE(cacheResult, 0);
  EXPECT_FALSE(opened);
  // Thawed: the same sessions work again.
  EXPECT_EQ(errorNumber(call(commandSession, enumerate)), "");
  EXPECT_TRUE(newSession.initSession(document));
  unsetenv("XDG_CACHE_HOME");
}

TEST_F(NvoSessionTest, CacheStoresWhatIsLinkedAndReadsItBackWithoutTheDirectory) {
  // Two policies linked to the session's own object, one of them of the inventory type.
  LdapDirectory directory;
  directory.open(server_->uri(), SlapdServer::kAdminDn, SlapdServer::kAdminPassword);
  for (const char* type : {"inventory", "software"}) {
    directory.add(std::string("cn=policy-") + type + ",o=orvanta",
                  {{"objectClass", {"orvantapolicy"}},
                   {"cn", {std::string("policy-") + type}},
                   {"orvantapolicytype", {type}}});
  }
  directory.modify(SlapdServer::kAdminDn,
                   {{Modification::Op::kAdd, "objectClass", {"orvantalinkholder"}},
                    {Modification::Op::kAdd,
                     "orvantalink",
                     {"cn=policy-inventory,o=orvanta", "cn=policy-software,o=orvanta"}}});

  setenv("XDG_CACHE_HOME", (scratch_.path() / "cache").c_str(), 1);
  MUXClient client;
  ASSERT_TRUE(
      client.initSession(authenticationDocument(server_->uri(), SlapdServer::kAdminPassword)));
  char* sentinel = nullptr;
  char* result = sentinel;
  EXPECT_NE(ReadCache(client.getApiCtx(), "orvantapolicy", &result), 0) << "nothing stored yet";
  EXPECT_EQ(result, sentinel);

  ASSERT_EQ(AddToCache(client.getApiCtx(), "orvantapolicy", 1, &result), 0);
  const std::string all(result);
  delete[] result;
  EXPECT_NE(all.find("policy-inventory"), std::string::npos) << all;
  EXPECT_NE(all.find("policy-software"), std::string::npos) << all;
  ASSERT_EQ(AddToCacheWithAttribute(client.getApiCtx(), "orvantapolicy", "orvantapolicytype",
                                    "inventory", 1, &result),
            0);
  const std::string inventory(result);
  delete[] result;
  EXPECT_NE(inventory.find("policy-inventory"), std::string::npos) << inventory;
  EXPECT_EQ(inventory.find("policy-software"), std::string::npos) << inventory;

  // Every cache file is private to its user.
  const fs::path cacheDir = scratch_.path() / "cache" / "nvo";
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(cacheDir)) {
    ++files;
    struct stat status {};
    ASSERT_EQ(stat(entry.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u) << entry.path();
  }
  EXPECT_EQ(files, 2);

  // With the directory gone, the cache still answers, byte for byte; other keys do not.
  server_->stop();
  ASSERT_EQ(ReadCache(client.getApiCtx(), "orvantapolicy", &result), 0);
  EXPECT_EQ(std::string(result), all);
  delete[] result;
  ASSERT_EQ(ReadCacheWithAttribute(client.getApiCtx(), "OrvantaPolicy", "orvantapolicytype",
                                   "inventory", &result),
            0);
  EXPECT_EQ(std::string(result), inventory);
  delete[] result;
  result = sentinel;
  EXPECT_NE(ReadCacheWithAttribute(client.getApiCtx(), "orvantapolicy", "orvantapolicytype",
                                   "inventory/../x", &result),
            0);
  EXPECT_NE(ReadCache(client.getApiCtx(), "orvantaaction", &result), 0);
  EXPECT_NE(AddToCache(client.getApiCtx(), "orvantapolicy", 1, &result), 0) << "directory down";
  EXPECT_NE(AddToCache(nullptr, "orvantapolicy", 1, &result), 0);
  EXPECT_EQ(result, sentinel);
  unsetenv("XDG_CACHE_HOME");
}

TEST_F(NvoSessionTest, NvoCallPrintsTheReplyAndReportsWithItsExitStatus) {
  const std::string tool = nvo_test::buildBinary("nvo-call");
  const std::string good = scratch_.write(
      "auth.xml", authenticationDocument(server_->uri(), SlapdServer::kAdminPassword), 0600);
  const std::string bad =
      scratch_.write("bad.xml", authenticationDocument(server_->uri(), "wrong"), 0600);
  const std::string shared = scratch_.write(
      "shared.xml", authenticationDocument(server_->uri(), SlapdServer::kAdminPassword), 0644);
  const std::string enumerate =
      scratch_.write("cmd.xml", command("enumerateBaseObjects", "catNone", ""), 0600);

  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    int exitCode;
    std::string firstLine;  // prefix of the first line printed
  };
  const std::vector<Case> cases = {
      {{"-a", good, enumerate}, {}, 0, "<commandResult"},
      {{"--authentication", good, "-", "<", enumerate}, {}, 0, "<commandResult"},
      {{enumerate}, {"NVO_AUTHENTICATION=" + good}, 0, "<commandResult"},
      {{"-a", good, "/nonexistent/command.xml"}, {}, 1, ""},
      {{"-a", good, enumerate, enumerate}, {}, 1, ""},
      {{"-x"}, {}, 1, ""},
      {{"--help"}, {}, 0, "Usage: nvo-call"},
      {{"-a", bad, enumerate}, {}, 2, ""},
      {{enumerate}, {"NVO_AUTHENTICATION=" + shared}, 2, ""},
      {{enumerate}, {"NVO_AUTHENTICATION="}, 2, ""},
  };
  for (const Case& c : cases) {
    std::string script = "exec \"$0\"";
    for (const std::string& arg : c.args) {
      script += arg == "<" ? " <" : " '" + arg + "'";
    }
    SCOPED_TRACE(script);
    const nvo_test::RunResult run =
        nvo_test::runProgram("/bin/sh", {"-c", script, tool}, std::chrono::seconds(60), c.env);
    EXPECT_EQ(run.exitCode, c.exitCode);
    if (!c.firstLine.empty()) {
      ASSERT_FALSE(run.lines.empty());
      EXPECT_EQ(run.lines[0].rfind(c.firstLine, 0), 0u) << run.lines[0];
    } else {
      EXPECT_TRUE(run.lines.empty());
    }
  }
}

}  // namespace
}  // namespace nvo
