// The request protocol on the wire with the real agent: field lengths 0, 1023 and 1024, short
// and missing fields, a silent and a stalling client, a request in one-byte segments, a MAC
// text written to rewrite the agent's search, and host names and MAC texts written to inject
// into the directory's filters, names and documents or to forge the agent's log lines.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "brenxd/agent_log.h"
#include "brenxd/request_codec.h"
#include "brenxd/tests/brenxd_fixture.h"
#include "tests/support/raw_client.h"

namespace brenxd_test {
namespace {

using Kind = brenxd::EnrolAnswer::Kind;

class ProtocolTest : public AgentTest {};

std::vector<uint8_t> withLength(uint32_t length, const std::string& bytes) {
  std::vector<uint8_t> out;
  const auto prefix = brenxd::encodeLength(length);
  out.insert(out.end(), prefix.begin(), prefix.end());
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

TEST_F(ProtocolTest, LengthsShortFieldsAndTheAnswersSize) {
  startAgent();
  // Length 0 for the host name is an empty name; the answer is the text, its NUL and the length
  // of both.
  const std::vector<uint8_t> wire = exchange(brenxd::encodeRequest("", "52:54:00:00:01:00"));
  brenxd::EnrolAnswer empty = brenxd::readAnswer(wire);
  ASSERT_EQ(empty.kind, Kind::kAnswer) << agent().transcript();
  EXPECT_EQ(wire.size(), empty.text.size() + 5);
  EXPECT_EQ(credentialsOf(empty.text).authname, std::string("cn=-52:54:00:00:01:00,") + kNew);

  // 1023 bytes are taken, with the name ending at its first NUL.
  std::string longName(1023, 'h');
  longName[20] = '\0';
  brenxd::EnrolAnswer longest = enrol(longName, "52:54:00:00:01:01");
  ASSERT_EQ(longest.kind, Kind::kAnswer) << agent().transcript();
  EXPECT_EQ(credentialsOf(longest.text).authname,
            "cn=" + std::string(20, 'h') + "-52:54:00:00:01:01," + kNew);
  EXPECT_EQ(agent().countLines("Received invalid length"), 0u);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string line;
  } cases[] = {
      {"host name of 1024", withLength(1024, std::string(1024, 'h')),
       "Received invalid length for DNS name: 1024 from 127.0.0.1:"},
      {"MAC of 1024",
       [] {
         std::vector<uint8_t> b = withLength(2, "ws");
         std::vector<uint8_t> mac = withLength(1024, std::string(1024, 'm'));
         b.insert(b.end(), mac.begin(), mac.end());
         return b;
       }(),
       "Received invalid length for MAC address: 1024 from 127.0.0.1:"},
      {"host name length 0xFFFFFFFF", withLength(0xFFFFFFFFu, ""),
       "Received invalid length for DNS name: 4294967295 from 127.0.0.1:"},
      {"short host name", withLength(10, "short"),
       "Failed reading DNS name from client 127.0.0.1:"},
      {"short length", {0, 0}, "Failed reading DNS name len from client 127.0.0.1:"},
      {"no MAC", withLength(2, "ws"), "Failed reading MAC address len from client 127.0.0.1:"},
  };
  for (const Case& c : cases) {
    const std::size_t from = agent().lineCount();
    nvo_test::RawConnection connection(port());
    ASSERT_TRUE(connection.send(c.bytes));
    connection.shutdownWrite();
    // No reply at all: the connection just closes.
    EXPECT_TRUE(connection.read(16, 30s).empty()) << c.what;
    EXPECT_TRUE(agent().waitForLine(c.line, 10s, from)) << c.what << "\n" << agent().transcript();
  }
}

TEST_F(ProtocolTest, SilentStallingAndTricklingClients) {
  startAgent();
  // A client that sends nothing is dropped after the budget with the agent's own words.
  nvo_test::RawConnection silent(port());
  EXPECT_TRUE(silent.read(16, 40s).empty());
  EXPECT_TRUE(agent().waitForLine("Timed out reading MAC address for client 127.0.0.1:", 5s));

  // One that stops inside its host name no longer holds the only thread for ever: it is dropped
  // within the request's budget and the next workstation is served.
  nvo_test::RawConnection stalling(port());
  ASSERT_TRUE(stalling.send(withLength(10, "abc")));
  brenxd::EnrolAnswer next = enrol("next", "52:54:00:00:02:01");
  EXPECT_EQ(next.kind, Kind::kAnswer) << agent().transcript();
  const std::optional<std::size_t> dropped =
      agent().waitForLine("Failed reading DNS name from client 127.0.0.1:", 5s);
  const std::optional<std::size_t> served = agent().waitForLine("Computer: cn=next-", 5s);
  ASSERT_TRUE(dropped && served) << agent().transcript();
  EXPECT_LT(*dropped, *served);
  EXPECT_TRUE(stalling.read(16, 5s).empty());

  // A request that arrives one byte per segment is read whole.
  const std::vector<uint8_t> request =
      brenxd::encodeRequest("trickle.example", "52:54:00:00:02:02");
  nvo_test::RawConnection trickling(port());
  for (uint8_t byte : request) {
    ASSERT_TRUE(trickling.send(std::span<const uint8_t>(&byte, 1)));
    std::this_thread::sleep_for(5ms);
  }
  brenxd::EnrolAnswer trickled = brenxd::readAnswer(trickling.read(brenxd::kMaxAnswerText, 40s));
  ASSERT_EQ(trickled.kind, Kind::kAnswer) << agent().transcript();
  EXPECT_EQ(credentialsOf(trickled.text).authname,
            std::string("cn=trickle-example-52:54:00:00:02:02,") + kNew);
}

TEST_F(ProtocolTest, AMacTextCannotRewriteTheSearch) {
  writeConfig(configText(kNew, {kSecond}));
  startAgent();
  // Joined unescaped, this text is well-formed markup whose text is the victim's MAC: the
  // search would find the victim, and the agent would hand out the victim's object with a new
  // password. Escaped, it is one odd MAC of a new computer.
  const std::string attack = std::string("<b/>") + kVictimMac;
  brenxd::EnrolAnswer answer = enrol("intruder", attack);
  ASSERT_EQ(answer.kind, Kind::kAnswer) << agent().transcript();
  const Credentials credentials = credentialsOf(answer.text);
  EXPECT_NE(credentials.authname, kVictimDn);
  EXPECT_TRUE(binds(kVictimDn, kVictimPassword));
  // The new object holds the whole text as its one MAC value.
  EXPECT_EQ(entry(credentials.authname).attributes["orvantaid"], std::vector<std::string>{attack});
  EXPECT_TRUE(agent().hasExactLine("Workstation created. Computer: " + credentials.authname +
                                   " MAC address: " + attack));
}

// Every entry of the test directory as the administrator reads it (password hashes included).
std::map<std::string, std::map<std::string, std::vector<std::string>>> snapshot(
    const nvo_test::SlapdServer& directory) {
  std::map<std::string, std::map<std::string, std::vector<std::string>>> entries;
  for (const nvo_test::Entry& e : directory.searchSubtree("o=orvanta")) {
    entries[e.dn] = e.attributes;
  }
  return entries;
}

bool hasControlByte(const std::string& line) {
  return std::any_of(line.begin(), line.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Host names and MAC texts that would change a filter, a name or a document if the agent or
// the gateway joined them unescaped, or forge log lines if the agent logged them raw. Each
// request changes nothing in the directory but its own new computer, whose name and MAC are the
// texts sent; every log line is one line of the agent's own, the texts written with their
// control bytes as "\xNN".
TEST_F(ProtocolTest, HostileHostNamesAndMacsTouchOnlyTheirOwnNewComputer) {
  startAgent();
  const std::string forged =
      "Password changed. Computer: cn=admin,o=orvanta MAC address: 00:16:3e:00:00:01";
  struct Case {
    const char* what;
    std::string host;
    std::string mac;
    bool answered;
  } cases[] = {
      {"filter wildcard", "wild", "*", true},
      {"filter rewrite", "*)(cn=*", "*)(objectClass=*", true},
      {"filter after the victim's MAC", "v", std::string(kVictimMac) + ")(orvantaid=*", true},
      {"DN in the host name", "x,ou=Second,o=orvanta", "00:16:3e:00:00:78", true},
      {"DN in the MAC", "y", std::string(kVictimMac) + ",ou=Second,o=orvanta", true},
      {"multi-valued RDN", "z", "m+orvantaid=" + std::string(kVictimMac), true},
      {"DN specials at the ends", "#lead", "trail\\ ", true},
      {"XML in the host name", "</name><objectclass>organizationalUnit</objectclass><name>x",
       "<![CDATA[y]]>&amp;", true},
      {"forged log line", "ws\n" + forged + "\n", "00:16:3e:00:00:79\tx", true},
      {"terminal control bytes", "esc", std::string("\x1b[2J\x7f\x01"), false},
  };
  for (const Case& c : cases) {
    const auto before = snapshot(*directory_);
    brenxd::EnrolAnswer answer = enrol(c.host, c.mac);
    const auto after = snapshot(*directory_);
    // Nothing that was there changed (the victim's password hash included) ...
    for (const auto& [dn, attributes] : before) {
      auto kept = after.find(dn);
      ASSERT_NE(kept, after.end()) << c.what << ": " << dn << " is gone";
      EXPECT_EQ(kept->second, attributes) << c.what << ": " << dn << " changed";
    }
    EXPECT_TRUE(binds(kVictimDn, kVictimPassword)) << c.what;
    if (!c.answered) {
      EXPECT_EQ(answer.kind, Kind::kRefused) << c.what << "\n" << agent().transcript();
      EXPECT_EQ(after.size(), before.size()) << c.what;
      continue;
    }
    // ... and the one new entry is the requesting computer, in the creation container, named
    // and identified by exactly the texts it sent.
    ASSERT_EQ(answer.kind, Kind::kAnswer) << c.what << "\n" << agent().transcript();
    ASSERT_EQ(after.size(), before.size() + 1) << c.what;
    const Credentials credentials = credentialsOf(answer.text);
    const nvo_test::Entry created = entry(credentials.authname);
    ASSERT_FALSE(created.dn.empty()) << c.what << ": " << credentials.authname;
    EXPECT_EQ(before.count(created.dn), 0u) << c.what;
    const std::string suffix = std::string(",") + kNew;
    EXPECT_TRUE(created.dn.size() > suffix.size() &&
                created.dn.compare(created.dn.size() - suffix.size(), suffix.size(), suffix) == 0)
        << c.what << ": " << created.dn;
    EXPECT_EQ(created.attributes.at("cn"),
              std::vector<std::string>{brenxd::computerName(c.host, c.mac)})
        << c.what;
    EXPECT_EQ(created.attributes.at("orvantaid"), std::vector<std::string>{c.mac}) << c.what;
    EXPECT_TRUE(binds(credentials.authname, credentials.password)) << c.what;
    const std::string line =
        "Workstation created. Computer: " + brenxd::logText(credentials.authname) +
        " MAC address: " + brenxd::logText(c.mac);
    EXPECT_TRUE(agent().waitForLine(line, 10s) && agent().hasExactLine(line))
        << c.what << "\n"
        << agent().transcript();
  }
  // The refused request's error is logged too; no line of the agent holds a control byte, and
  // the forged line never stands on its own.
  EXPECT_TRUE(agent().waitForLine("Failed generating auth string for 127.0.0.1:", 10s));
  EXPECT_TRUE(agent().waitForLine("Done processing connection", 10s));
  for (const std::string& line : agent().lines()) {
    EXPECT_FALSE(hasControlByte(line)) << line;
    EXPECT_NE(line.rfind(forged, 0), 0u) << line;
  }
  // The would-be forged line stands inside the agent's own, its line breaks written out.
  EXPECT_EQ(agent().countLines("Workstation created. Computer: cn=ws\\x0aPassword changed- "), 1u)
      << agent().transcript();
}

}  // namespace
}  // namespace brenxd_test
