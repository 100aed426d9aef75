#include "slp/reply_fit.h"

#include <string>

#include <gtest/gtest.h>

#include "slp/codec.h"
#include "slp/wire_buffer.h"

namespace vslp {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ReplyFitTest, EncodeWithinDropsWholeUrlEntriesAndSetsOverflow) {
  SrvRply rply;
  for (int i = 0; i < 100; ++i) {
    rply.urls.push_back(
        UrlEntry{65535, "service:tolm.x://10.0.0." + std::to_string(i) + ":3456", {}});
  }
  Message m{Header{0, 9, "en", {}}, rply};
  Bytes bytes = encodeWithin(m, 1400);
  ASSERT_LE(bytes.size(), 1400u);
  DecodeResult d = decode(bytes);
  ASSERT_TRUE(d.message) << d.reason;
  EXPECT_NE(d.message->header.flags & kFlagOverflow, 0);
  const auto& urls = std::get<SrvRply>(d.message->body).urls;
  ASSERT_GT(urls.size(), 10u);
  ASSERT_LT(urls.size(), 100u);
  for (size_t i = 0; i < urls.size(); ++i) {
    EXPECT_EQ(urls[i], rply.urls[i]);
  }
  // One more entry would not have fitted.
  SrvRply more{0, std::vector<UrlEntry>(rply.urls.begin(), rply.urls.begin() + urls.size() + 1)};
  EXPECT_GT(encode(Message{m.header, more}).size(), 1400u);
}

TEST(ReplyFitTest, EncodeWithinCutsAttributeListsAtWholeAttributes) {
  std::string attrs;
  for (int i = 0; i < 200; ++i) {
    attrs += (i ? "," : "") + std::string("(tag") + std::to_string(i) + "=value,other)";
  }
  Bytes bytes = encodeWithin(Message{Header{0, 9, "en", {}}, AttrRply{0, attrs, {}}}, 1400);
  ASSERT_LE(bytes.size(), 1400u);
  DecodeResult d = decode(bytes);
  ASSERT_TRUE(d.message);
  const std::string& got = std::get<AttrRply>(d.message->body).attrs;
  EXPECT_EQ(attrs.compare(0, got.size(), got), 0);
  EXPECT_EQ(got.back(), ')');
  EXPECT_NE(d.message->header.flags & kFlagOverflow, 0);
}

TEST(ReplyFitTest, EncodeWithinLeavesSmallRepliesAlone) {
  Message m{Header{0, 9, "en", {}}, SrvRply{0, {UrlEntry{1, "service:x://h", {}}}}};
  EXPECT_EQ(encodeWithin(m, 1400), encode(m));
}

TEST(ReplyFitTest, ListsLongerThanTheirFieldAreCutToo) {
  std::string types;
  for (int i = 0; i < 5000; ++i) {
    types += (i ? "," : "") + std::string("service:type") + std::to_string(i) + ".x";
  }
  ASSERT_GT(types.size(), 65535u);
  Bytes bytes = encodeWithin(Message{Header{0, 9, "en", {}}, SrvTypeRply{0, types}}, 0xffffff);
  DecodeResult d = decode(bytes);
  ASSERT_TRUE(d.message) << d.reason;
  EXPECT_LE(std::get<SrvTypeRply>(d.message->body).types.size(), 65535u);
  EXPECT_NE(d.message->header.flags & kFlagOverflow, 0);
}

TEST(ReplyFitTest, RequestsThatDoNotFitAreRefused) {
  Message m{Header{}, SrvRqst{"", "service:x", "DEFAULT", std::string(2000, 'a'), ""}};
  EXPECT_THROW(encodeWithin(m, 1400), WireError);
}

}  // namespace
}  // namespace vslp
