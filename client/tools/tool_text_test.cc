#include "client/tools/tool_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vokra {
namespace {

TEST(ToolTextTest, StaggerTypes) {
  const struct {
    const char* text;
    std::optional<int32_t> type;
  } cases[] = {{"default", 0},     {"timed", 1}, {"sequential", 2},
               {"7", 7},           {"-3", -3},   {"2147483647", 2147483647},
               {"2147483648", {}}, {"", {}},     {"Timed", {}},
               {"2x", {}},         {" 2", {}}};
  for (const auto& c : cases) {
    EXPECT_EQ(parseStaggerType(c.text), c.type) << c.text;
  }
}

TEST(ToolTextTest, HexRoundTripAndRejects) {
  EXPECT_EQ(parseHex(""), std::vector<uint8_t>{});
  EXPECT_EQ(parseHex("00ff7A"), (std::vector<uint8_t>{0x00, 0xFF, 0x7A}));
  EXPECT_EQ(parseHex("abc"), std::nullopt);
  EXPECT_EQ(parseHex("zz"), std::nullopt);
  const std::vector<uint8_t> bytes{0x00, 0x10, 0xAB, 0xFF};
  EXPECT_EQ(toHex(bytes), "0010abff");
  EXPECT_EQ(parseHex(toHex(bytes)), bytes);
}

TEST(ToolTextTest, PayloadIsTextOnlyWhenPrintable) {
  const struct {
    std::vector<uint8_t> payload;
    bool forceHex;
    const char* expected;
  } cases[] = {
      {{'h', 'i', ' ', '!'}, false, "text=hi !"},
      {{'h', 'i'}, true, "hex=6869"},
      {{}, false, "text="},
      {{'a', '\n'}, false, "hex=610a"},
      {{'a', 0x7F}, false, "hex=617f"},
      {{0xC3, 0xA9}, false, "hex=c3a9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatPayload(c.payload, c.forceHex), c.expected);
  }
}

TEST(ToolTextTest, NamesStayOneWord) {
  EXPECT_EQ(escapeName("disk.full"), "disk.full");
  EXPECT_EQ(escapeName("a b"), "a\\x20b");
  EXPECT_EQ(escapeName(std::string("x\0y", 3)), "x\\x00y");
  EXPECT_EQ(escapeName("back\\slash"), "back\\x5cslash");
}

TEST(ToolTextTest, ResultTexts) {
  EXPECT_STREQ(describeResult(0), "accepted");
  EXPECT_STREQ(describeResult(-3), "rejected: bad packet or checksum");
  EXPECT_STREQ(describeResult(-7), "no event daemon found");
  EXPECT_STREQ(describeResult(-11), "connecting, sending or receiving failed");
  EXPECT_STREQ(describeResult(42), "unknown result");
}

TEST(ToolTextTest, HostPortAndNumbers) {
  const auto parsed = parseHostPort("192.0.2.1:3456");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->host, "192.0.2.1");
  EXPECT_EQ(parsed->port, 3456);
  EXPECT_FALSE(parseHostPort("host"));
  EXPECT_FALSE(parseHostPort(":80"));
  EXPECT_FALSE(parseHostPort("h:0"));
  EXPECT_FALSE(parseHostPort("h:65536"));
  EXPECT_EQ(parseUnsigned("0", 0, 10), 0u);
  EXPECT_EQ(parseUnsigned("11", 0, 10), std::nullopt);
  EXPECT_EQ(parseUnsigned("-1", 0, 10), std::nullopt);
}

}  // namespace
}  // namespace vokra
