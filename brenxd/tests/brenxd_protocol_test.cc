// The request protocol on the wire with the real agent: field lengths 0, 1023 and 1024, short
// and missing fields, a silent and a stalling client, a request in one-byte segments, and a MAC
// text written to rewrite the agent's search.
#include <optional>
#include <string>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace brenxd_test
