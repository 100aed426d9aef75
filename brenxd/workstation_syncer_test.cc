// WorkStationSyncer against a scripted gateway: the reply handling a real gateway never shows
// (no reply, a foreign reply, an error on search), the configuration rules and the escaping of
// the values joined to raw XML. The real directory is the end-to-end tests' part.
#include "brenxd/workstation_syncer.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brenxd/tests/broken_configs.h"

namespace brenxd {
namespace {

using X = nvo::XMLParser;

// What the scripted gateway answers to a command (its name and parsed document): reply text,
// or nothing for no reply at all.
using Script = std::function<std::optional<std::string>(const std::string&, const X&)>;

struct Traffic {
  std::vector<std::string> commands;  // the documents sent, in order
  int sessions = 0;
};

class ScriptedGateway : public GatewaySession {
 public:
  ScriptedGateway(Script script, Traffic& traffic) : script_(std::move(script)), traffic_(traffic) {
    ++traffic_.sessions;
  }
  bool initSession(const std::string& document) override {
    return document.find("<ignorePolicy/>") != std::string::npos;
  }
  nvo::DOM_Node callGateway(const std::string& command) override {
    traffic_.commands.push_back(command);
    X parsed(command);
    std::optional<std::string> reply =
        script_(X::getAttributeValue(parsed.getRoot(), "name"), parsed);
    if (!reply) {
      return nullptr;
    }
    reply_.parse(*reply);
    return reply_.getRoot();
  }

 private:
  Script script_;
  Traffic& traffic_;
  X reply_;
};

const char kConfig[] =
    "<brenxd><authentication>"
    "<gateway><url>ldap://other</url><authname>x</authname></gateway>"
    "<gateway><url>ldap://127.0.0.1:3890</url><authname>cn=admin,o=orvanta</authname>"
    "<password>secret</password><objectname>cn=admin,o=orvanta</objectname><primaryGateway/>"
    "<cat name=\"catNone\"><location>o=orvanta</location></cat></gateway>"
    "<gateway><url>ldap://second</url><primaryGateway/></gateway>"
    "</authentication><workstationcreation><creationLocation>ou=New,o=orvanta</creationLocation>"
    "<searchLocation>ou=Gone,o=orvanta</searchLocation>"
    "<searchLocation>ou=Old,o=orvanta</searchLocation>"
    "<searchLocation>ou=Later,o=orvanta</searchLocation>"
    "</workstationcreation></brenxd>";

std::string result(const std::string& body) {
  return "<commandResult>" + body + "</commandResult>";
}

// A directory of three containers (ou=Gone does not resolve) and computers found by MAC in
// `computers` (container id -> MAC -> object id). Objects created go into `created`.
struct FakeDirectory {
  std::map<std::string, std::map<std::string, std::string>> computers;
  std::vector<std::string> created;
  std::string createReply;  // when set, the reply to createObject

  std::optional<std::string> answer(const std::string& name, const X& command) {
    nvo::DOM_Node root = command.getRoot();
    if (name == "resolveObject") {
      const std::string object = X::getChildStringValue(root, "objectname");
      if (object == "ou=Gone,o=orvanta") {
        return result("");
      }
      return result("<object><objectID>id:" + object + "</objectID></object>");
    }
    if (name == "searchObjects") {
      const std::string mac = X::getStringValue(X::findChild(root, "orvantaid"));
      const auto& inContainer = computers[X::getChildStringValue(root, "objectID")];
      auto hit = inContainer.find(mac);
      if (hit == inContainer.end()) {
        return result("");
      }
      return result("<object><objectID>" + hit->second + "</objectID></object>");
    }
    if (name == "createObject") {
      if (!createReply.empty()) {
        return createReply == "none" ? std::nullopt : std::optional<std::string>(createReply);
      }
      created.push_back(X::getChildStringValue(root, "name"));
      return result("<objectID>new-" + created.back() + "</objectID>");
    }
    if (name == "modifyObject") {
      return result("");
    }
    if (name == "getObjectNameFromObjectID") {
      return result("<objectname>cn=" + X::getChildStringValue(root, "objectID") + "</objectname>");
    }
    return std::nullopt;
  }
};

class WorkStationSyncerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("brenxd-syncer-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    syncer_ = std::make_unique<WorkStationSyncer>(log_, [this] {
      return std::make_unique<ScriptedGateway>(
          [this](const std::string& name, const X& command) {
            return directory_.answer(name, command);
          },
          traffic_);
    });
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string writeConfig(const std::string& text) {
    const std::string path = (dir_ / "brenxd.conf").string();
    std::ofstream(path, std::ios::trunc) << text;
    return path;
  }
  // The error text readConfig raises, or "" when it succeeds.
  std::string readError(const std::string& text) {
    try {
      syncer_->readConfig(writeConfig(text));
      return "";
    } catch (const QRstring& error) {
      return error;
    }
  }
  std::string requestError(const std::string& name, const std::string& mac) {
    try {
      syncer_->generateAuthenticationXML(name, mac);
      return "";
    } catch (const QRstring& error) {
      return error;
    }
  }
  std::string commandNames() const {
    std::string names;
    for (const std::string& command : traffic_.commands) {
      X parsed(command);
      names += X::getAttributeValue(parsed.getRoot(), "name") + " ";
    }
    return names;
  }

  std::filesystem::path dir_;
  teska::LogStream log_{1, "brenxd-test", false};
  FakeDirectory directory_;
  Traffic traffic_;
  std::unique_ptr<WorkStationSyncer> syncer_;
};

TEST_F(WorkStationSyncerTest, ConfigurationErrorsEachWithItsText) {
  EXPECT_EQ(readError(kConfig), "");
  for (const brenxd_test::BrokenConfig& c : brenxd_test::brokenConfigs()) {
    EXPECT_EQ(readError(c.text), c.error) << c.text;
    EXPECT_EQ(syncer_->creationLocation(), "");
    EXPECT_TRUE(syncer_->searchLocations().empty());
  }
  try {
    syncer_->readConfig((dir_ / "missing.conf").string());
    ADD_FAILURE() << "a missing file was read";
  } catch (const QRstring& error) {
    EXPECT_EQ(error, "Couldn't open " + (dir_ / "missing.conf").string());
  }
}

TEST_F(WorkStationSyncerTest, TheInstalledExampleReads) {
  const char* source = std::getenv("NVO_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  syncer_->readConfig(std::string(source) + "/brenxd/brenxd.conf.example");
  EXPECT_EQ(syncer_->creationLocation(), "ou=Workstations,o=orvanta");
  EXPECT_EQ(syncer_->searchLocations(),
            (std::vector<std::string>{"ou=Lab,ou=Workstations,o=orvanta",
                                      "ou=Office,ou=Workstations,o=orvanta"}));
  EXPECT_NE(syncer_->sessionDocument().find("<url>ldap://127.0.0.1:3890</url>"),
            std::string::npos);
}

TEST_F(WorkStationSyncerTest, PruningKeepsPrimaryGatewaysOnlyAndSessionsIgnorePolicy) {
  ASSERT_EQ(readError(kConfig), "");
  EXPECT_EQ(syncer_->creationLocation(), "ou=New,o=orvanta");
  EXPECT_EQ(
      syncer_->searchLocations(),
      (std::vector<std::string>{"ou=Gone,o=orvanta", "ou=Old,o=orvanta", "ou=Later,o=orvanta"}));
  const std::string& session = syncer_->sessionDocument();
  EXPECT_EQ(session.find("ldap://other"), std::string::npos);
  EXPECT_NE(session.find("ldap://second"), std::string::npos);
  EXPECT_NE(session.find("<authname>cn=admin,o=orvanta</authname><password>secret</password>"),
            std::string::npos);
  EXPECT_NE(session.find("<ignorePolicy/>"), std::string::npos);
  EXPECT_NE(session.find("<cat name=\"catNone\">"), std::string::npos);
}

TEST_F(WorkStationSyncerTest, NewRepeatAndSecondLocationEnrolments) {
  ASSERT_EQ(readError(kConfig), "");
  directory_.computers["id:ou=Old,o=orvanta"]["00:16:3e:00:00:09"] = "old-9";
  directory_.computers["id:ou=Later,o=orvanta"]["00:16:3e:00:00:09"] = "later-9";

  const std::string created = syncer_->generateAuthenticationXML("ws-AA", "AA");
  EXPECT_EQ(directory_.created, std::vector<std::string>{"ws-AA"});
  EXPECT_EQ(commandNames(),
            "resolveObject searchObjects resolveObject resolveObject searchObjects "
            "resolveObject searchObjects createObject getObjectNameFromObjectID ");
  EXPECT_NE(created.find("<authname>cn=new-ws-AA</authname>"), std::string::npos);
  EXPECT_NE(created.find("<objectname>cn=new-ws-AA</objectname>"), std::string::npos);
  EXPECT_EQ(created.find("ignorePolicy"), std::string::npos);
  EXPECT_EQ(created.find("ldap://other"), std::string::npos);
  // The session document still carries the agent's own credentials.
  EXPECT_NE(syncer_->sessionDocument().find("secret"), std::string::npos);

  traffic_.commands.clear();
  const std::string found = syncer_->generateAuthenticationXML("ws-9", "00:16:3e:00:00:09");
  EXPECT_EQ(commandNames(),
            "resolveObject searchObjects resolveObject resolveObject searchObjects "
            "modifyObject getObjectNameFromObjectID ");
  EXPECT_NE(found.find("<authname>cn=old-9</authname>"), std::string::npos);
  EXPECT_EQ(traffic_.sessions, 2);
}

TEST_F(WorkStationSyncerTest, RepliesTheGatewayShouldNeverGiveFailTheRequest) {
  ASSERT_EQ(readError(kConfig), "");
  struct Case {
    std::string createReply;
    std::string error;
  } cases[] = {
      {"none", "Gateway didn't return any results"},
      {"<other/>", "Gateway didn't return any results"},
      {result("<error><errorNum>1003</errorNum><errorMsg>exists</errorMsg></error>"),
       "createObjecterror: exists [error#: 1003]"},
      {result("<objectID></objectID>"), "createObject returned no objectID for ws-AB"},
      {result(""), "createObject returned no objectID for ws-AB"},
  };
  for (const Case& c : cases) {
    directory_.createReply = c.createReply;
    traffic_.commands.clear();
    EXPECT_EQ(requestError("ws-AB", "AB"), c.error) << c.createReply;
    // Nothing after the failed create.
    EXPECT_EQ(X::getAttributeValue(X(traffic_.commands.back()).getRoot(), "name"), "createObject");
  }
}

TEST_F(WorkStationSyncerTest, RefusalsAndErrorsOfTheSearch) {
  // Not configured: the gateway is never contacted.
  EXPECT_EQ(requestError("ws", "AA"), "Unknown workstation creation container");
  EXPECT_EQ(traffic_.sessions, 0);

  ASSERT_EQ(
      readError(std::string(kConfig).replace(std::string(kConfig).find("ou=New"), 6, "ou=Gone")),
      "");
  EXPECT_EQ(requestError("ws", "AA"),
            "objectID tag not found for creation container: ou=Gone,o=orvanta");
  EXPECT_EQ(commandNames(), "resolveObject ");
}

TEST_F(WorkStationSyncerTest, ResolveErrorEndsSearchErrorCountsAsNotFound) {
  ASSERT_EQ(readError(kConfig), "");
  auto script = [](bool resolveFails) {
    return [resolveFails](const std::string& name, const X& command) -> std::optional<std::string> {
      const std::string error =
          "<error><errorNum>1001</errorNum><errorMsg>no such object</errorMsg></error>";
      const std::string object = X::getChildStringValue(command.getRoot(), "objectname");
      if (name == "resolveObject" && object == "ou=New,o=orvanta") {
        return result("<object><objectID>new</objectID></object>");
      }
      if (name == "resolveObject") {
        return result(resolveFails ? error : "<object><objectID>x</objectID></object>");
      }
      if (name == "searchObjects") {
        return result(error);
      }
      if (name == "createObject") {
        return result("<objectID>c1</objectID>");
      }
      return result("<objectname>cn=c1</objectname>");
    };
  };
  Traffic traffic;
  WorkStationSyncer failing(
      log_, [&] { return std::make_unique<ScriptedGateway>(script(true), traffic); });
  failing.readConfig(writeConfig(kConfig));
  try {
    failing.generateAuthenticationXML("ws", "AA");
    ADD_FAILURE() << "a resolve error did not end the request";
  } catch (const QRstring& error) {
    EXPECT_EQ(error, "resolveObjecterror: no such object [error#: 1001]");
  }
  WorkStationSyncer creating(
      log_, [&] { return std::make_unique<ScriptedGateway>(script(false), traffic); });
  creating.readConfig(writeConfig(kConfig));
  EXPECT_NE(creating.generateAuthenticationXML("ws", "AA").find("<authname>cn=c1</authname>"),
            std::string::npos);
}

TEST_F(WorkStationSyncerTest, MacTextStaysOneValueInEveryCommand) {
  ASSERT_EQ(readError(kConfig), "");
  const std::string attack =
      "x</orvantaid></searchParams><searchParams><orvantaid op=\"EQ\">00:16:3e:00:00:09"
      "</orvantaid><attribute name=\"userpassword\">&amp;'";
  directory_.computers["id:ou=Old,o=orvanta"]["00:16:3e:00:00:09"] = "old-9";
  syncer_->generateAuthenticationXML("ws", attack);
  // Each search looked for the whole text as one MAC, so nothing was found and the create got
  // the text as its one orvantaid value.
  EXPECT_EQ(directory_.created.size(), 1u);
  for (const std::string& command : traffic_.commands) {
    X parsed(command);
    ASSERT_TRUE(parsed.getRoot()) << command;
    const std::string name = X::getAttributeValue(parsed.getRoot(), "name");
    if (name == "searchObjects") {
      EXPECT_EQ(X::getStringValue(X::findChild(parsed.getRoot(), "orvantaid")), attack);
      EXPECT_EQ(X::nextSibling(X::findChild(parsed.getRoot(), "searchParams")), nullptr);
    }
    if (name == "createObject") {
      int attributes = 0;
      for (nvo::DOM_Node a = X::findFirstChild(parsed.getRoot(), "attribute"); a;
           a = X::findNextSibling(a, "attribute")) {
        ++attributes;
        if (X::getAttributeValue(a, "name") == "orvantaid") {
          EXPECT_EQ(X::getStringValue(a), attack);
        }
      }
      EXPECT_EQ(attributes, 3);
    }
  }
}

TEST_F(WorkStationSyncerTest, PasswordsAreTwelveCharactersOfTheSafeAlphabet) {
  std::map<char, int> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::string password = syncer_->makePassword();
    ASSERT_EQ(password.size(), 12u);
    for (char c : password) {
      ASSERT_GE(c, 32);
      ASSERT_LE(c, 126);
      ASSERT_EQ(std::string("\"<>&").find(c), std::string::npos) << password;
      ++seen[c];
    }
  }
  // 33 to 126 without the four: 90 characters, each drawn about 267 times.
  EXPECT_EQ(seen.size(), 90u);
}

}  // namespace
}  // namespace brenxd
