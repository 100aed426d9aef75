#include "brenxd/tools/enrol_answer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brenxd/request_codec.h"
#include "brenxd/tools/enrol_options.h"
#include "brenxd/tools/primary_interface.h"

namespace brenxd {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) {
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

TEST(EnrolAnswerTest, EveryReplyShapeIsRecognised) {
  using Kind = EnrolAnswer::Kind;
  const std::vector<uint8_t> good = encodeAnswer("<authentication/>");
  std::vector<uint8_t> extra = good;
  extra.push_back('x');
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  std::vector<uint8_t> huge = {0x00, 0x10, 0x00, 0x02};  // 1 MiB + 2
  struct Case {
    const char* what;
    std::vector<uint8_t> received;
    Kind kind;
    std::string text;
  } cases[] = {
      {"nothing", {}, Kind::kIncomplete, ""},
      {"three bytes", bytes({0, 0, 0}), Kind::kIncomplete, ""},
      {"refusal", bytes({0xFF, 0xFF, 0xFF, 0xFF}), Kind::kRefused, ""},
      {"refusal and more", bytes({0xFF, 0xFF, 0xFF, 0xFF, 0}), Kind::kMalformed, ""},
      {"answer", good, Kind::kAnswer, "<authentication/>"},
      {"empty text", bytes({0, 0, 0, 1, 0}), Kind::kAnswer, ""},
      {"answer cut short", cut, Kind::kIncomplete, ""},
      {"bytes beyond the answer", extra, Kind::kMalformed, ""},
      {"length zero", bytes({0, 0, 0, 0}), Kind::kMalformed, ""},
      {"no final NUL", bytes({0, 0, 0, 2, 'a', 'b'}), Kind::kMalformed, ""},
      {"NUL inside", bytes({0, 0, 0, 3, 'a', 0, 0}), Kind::kMalformed, ""},
      {"above the limit", huge, Kind::kMalformed, ""},
  };
  for (const Case& c : cases) {
    EnrolAnswer answer = readAnswer(c.received);
    EXPECT_EQ(answer.kind, c.kind) << c.what;
    EXPECT_EQ(answer.text, c.text) << c.what;
  }
}

TEST(EnrolOptionsTest, CommandLinesAndTheirErrors) {
  std::string error;
  std::optional<EnrolOptions> all =
      parseEnrolOptions({"--server", "10.0.0.5:4711", "--name", "ws.example", "--mac", "0A1B", "-o",
                         "auth.xml", "--timeout", "5"},
                        error);
  ASSERT_TRUE(all) << error;
  EXPECT_EQ(all->host, "10.0.0.5");
  EXPECT_EQ(all->port, 4711);
  EXPECT_EQ(all->name, "ws.example");
  EXPECT_EQ(all->mac, "0A1B");
  EXPECT_EQ(all->output, "auth.xml");
  EXPECT_EQ(all->timeoutSeconds, 5);

  std::optional<EnrolOptions> none = parseEnrolOptions({}, error);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->server.empty());
  EXPECT_FALSE(none->name || none->mac || none->output);

  struct Bad {
    std::vector<std::string> args;
    std::string error;
  } bad[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--mac"}, "option --mac needs a value"},
      {{"--server", "host"}, "--server needs HOST:PORT, not host"},
      {{"--server", "host:0"}, "--server needs HOST:PORT, not host:0"},
      {{"--server", "host:65536"}, "--server needs HOST:PORT, not host:65536"},
      {{"--server", ":80"}, "--server needs HOST:PORT, not :80"},
      {{"--timeout", "0"}, "--timeout needs a number of seconds from 1 to 3600, not 0"},
      {{"--timeout", "5s"}, "--timeout needs a number of seconds from 1 to 3600, not 5s"},
  };
  for (const Bad& b : bad) {
    EXPECT_FALSE(parseEnrolOptions(b.args, error));
    EXPECT_EQ(error, b.error);
  }
}

TEST(PrimaryInterfaceTest, DefaultRouteWithTheLowestMetricWins) {
  const std::string table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth1\t00000000\t0102A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
      "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
  EXPECT_EQ(defaultRouteInterface(table), "wlan0");
  EXPECT_EQ(defaultRouteInterface("Iface\tDestination\n"), std::nullopt);
  EXPECT_EQ(defaultRouteInterface(""), std::nullopt);
}

}  // namespace
}  // namespace brenxd
