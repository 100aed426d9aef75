// The discovery callbacks and the public-key cutting, driven directly as the SLP library would
// call them; no network.
#include "client/tolm_server_info.h"

#include <slp.h>

#include <string>

#include <gtest/gtest.h>

namespace vokra {
namespace {

SLPBoolean deliverUrl(TolmServerInfo& info, const char* url, SLPError code = SLP_OK) {
  return TolmServerInfo::SlpSrvcUrlFunc(nullptr, url, 65535, code, &info);
}

TEST(TolmServerInfoTest, FirstParsableUrlIsTakenAndStopsTheQuery) {
  TolmServerInfo info;
  EXPECT_EQ(deliverUrl(info, "service:tolm.x://192.168.1.7:3456"), SLP_FALSE);
  EXPECT_EQ(info.getLastError(), SLP_OK);
  EXPECT_EQ(info.record().getUrl(), "service:tolm.x://192.168.1.7:3456");
  EXPECT_EQ(info.record().getHost(), "192.168.1.7");
  EXPECT_EQ(info.record().getPort(), 3456);
  // Later URLs, and the end-of-results call, change nothing and keep stopping.
  EXPECT_EQ(deliverUrl(info, "service:tolm.x://10.0.0.5:1111"), SLP_FALSE);
  EXPECT_EQ(deliverUrl(info, nullptr, SLP_LAST_CALL), SLP_FALSE);
  EXPECT_EQ(info.record().getUrl(), "service:tolm.x://192.168.1.7:3456");
  EXPECT_EQ(info.record().getPort(), 3456);
}

TEST(TolmServerInfoTest, UnparsableUrlLeavesItsErrorAndTheQueryGoesOn) {
  TolmServerInfo info;
  EXPECT_EQ(deliverUrl(info, "no scheme here"), SLP_TRUE);
  EXPECT_EQ(info.getLastError(), SLP_PARSE_ERROR);
  EXPECT_EQ(info.record().getPort(), 0);
  EXPECT_EQ(deliverUrl(info, "service:tolm.x://198.51.100.1:4000"), SLP_FALSE);
  EXPECT_EQ(info.getLastError(), SLP_OK);
  EXPECT_EQ(info.record().getHost(), "198.51.100.1");
  EXPECT_EQ(info.record().getPort(), 4000);
}

TEST(TolmServerInfoTest, ErrorCodesAreKeptWhenNegativeAndClearedWhenPositive) {
  TolmServerInfo info;
  EXPECT_EQ(deliverUrl(info, nullptr, SLP_NETWORK_TIMED_OUT), SLP_TRUE);
  EXPECT_EQ(info.getLastError(), SLP_NETWORK_TIMED_OUT);
  EXPECT_EQ(deliverUrl(info, nullptr, SLP_LAST_CALL), SLP_TRUE);
  EXPECT_EQ(info.getLastError(), SLP_OK);
  EXPECT_EQ(info.record().getUrl(), "");
  EXPECT_EQ(info.record().getPort(), 0);
}

TEST(TolmServerInfoTest, PortKeepsTheLowSixteenBits) {
  TolmServerInfo info;
  EXPECT_EQ(deliverUrl(info, "service:tolm.x://host.example:65535"), SLP_FALSE);
  EXPECT_EQ(info.record().getHost(), "host.example");
  EXPECT_EQ(info.record().getPort(), 65535);
}

TEST(TolmServerInfoTest, AttributeCallbackCopiesOnlySuccessfulLists) {
  std::string text = "before";
  EXPECT_EQ(TolmServerInfo::SlpAttrsCallback(nullptr, "(public_key=0)", SLP_NETWORK_ERROR, &text),
            SLP_TRUE);
  EXPECT_EQ(text, "before");
  EXPECT_EQ(TolmServerInfo::SlpAttrsCallback(nullptr, nullptr, SLP_LAST_CALL, &text), SLP_TRUE);
  EXPECT_EQ(text, "before");
  EXPECT_EQ(TolmServerInfo::SlpAttrsCallback(nullptr, "(public_key=0)", SLP_OK, &text), SLP_FALSE);
  EXPECT_EQ(text, "(public_key=0)");
}

TEST(TolmServerInfoTest, PublicKeyCutting) {
  const struct {
    const char* attributes;
    const char* key;
  } cases[] = {
      {"(public_key=0)", "0"},
      {"(public_key=MIIBIjANBgkq)", "MIIBIjANBgkq"},
      {"(public_key=)", ""},
      {"(public_key=a=b)", "a=b"},
      {"(public_key=x),(other=y)", "x),(other=y"},
      {"no delimiters", "no delimiters"},
      {"key=value", "value"},
      {"(only-paren)", "(only-paren"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TolmServerInfo::cutPublicKey(c.attributes), c.key) << c.attributes;
  }
}

TEST(TolmSLPInfoTest, NewAndClearedRecordsAreEmpty) {
  TolmSLPInfo record;
  EXPECT_EQ(record.getPort(), 0);
  record.setUrl("service:tolm.x://1.2.3.4:5");
  record.setHost("1.2.3.4");
  record.setPort(5);
  record.setPublicKey("k");
  const TolmSLPInfo copy = record;
  record.clear();
  EXPECT_EQ(record.getUrl(), "");
  EXPECT_EQ(record.getHost(), "");
  EXPECT_EQ(record.getPublicKey(), "");
  EXPECT_EQ(record.getPort(), 0);
  EXPECT_EQ(copy.getUrl(), "service:tolm.x://1.2.3.4:5");
  EXPECT_EQ(copy.getPort(), 5);
  EXPECT_EQ(copy.getPublicKey(), "k");
}

}  // namespace
}  // namespace vokra
