// The C API functions that need no agent: URL parsing, escapes, attributes, properties,
// handles and parameter checks.
#include <slp.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace {

// The library reads its properties once per process: point it at no file before any test, so
// the host's /etc/vslp.conf cannot matter.
struct NoConfigurationFile {
  NoConfigurationFile() { ::setenv("VSLP_CONF", "/nonexistent/vslp.conf", 1); }
} const kNoConfigurationFile;

TEST(ApiTest, ParsesServiceUrlsIntoOneBlock) {
  SLPSrvURL* url = nullptr;
  ASSERT_EQ(SLPParseSrvURL("service:tolm.x://10.0.0.5:3456", &url), SLP_OK);
  ASSERT_NE(url, nullptr);
  EXPECT_STREQ(url->s_pcSrvType, "service:tolm.x");
  EXPECT_STREQ(url->s_pcHost, "10.0.0.5");
  EXPECT_EQ(url->s_iPort, 3456);
  EXPECT_STREQ(url->s_pcNetFamily, "");
  EXPECT_STREQ(url->s_pcSrvPart, "");
  SLPFree(url);

  const std::string text = "service:printer:lpr://p.example/queue";
  ASSERT_EQ(SLPParseSrvURL(text.c_str(), &url), SLP_OK);
  EXPECT_STREQ(url->s_pcSrvPart, "/queue");
  EXPECT_EQ(text, "service:printer:lpr://p.example/queue") << "input untouched";
  SLPFree(url);

  url = reinterpret_cast<SLPSrvURL*>(1);
  EXPECT_EQ(SLPParseSrvURL("no-scheme", &url), SLP_PARSE_ERROR);
  EXPECT_EQ(url, nullptr);
  EXPECT_EQ(SLPParseSrvURL(nullptr, &url), SLP_PARAMETER_BAD);
  SLPFree(nullptr);
}

TEST(ApiTest, EscapesAndUnescapes) {
  char* out = nullptr;
  ASSERT_EQ(SLPEscape("a,b(c)", &out, SLP_FALSE), SLP_OK);
  EXPECT_STREQ(out, "a\\2cb\\28c\\29");
  char* back = nullptr;
  ASSERT_EQ(SLPUnescape(out, &back, SLP_FALSE), SLP_OK);
  EXPECT_STREQ(back, "a,b(c)");
  SLPFree(out);
  SLPFree(back);
  EXPECT_EQ(SLPEscape("bad*tag", &out, SLP_TRUE), SLP_PARSE_ERROR);
  EXPECT_EQ(SLPUnescape("bad\\zz", &out, SLP_FALSE), SLP_PARSE_ERROR);
  EXPECT_EQ(out, nullptr);
}

TEST(ApiTest, FindsAttributeValues) {
  char* value = nullptr;
  ASSERT_EQ(SLPParseAttrs("(public_key=0),(names=a,b)", "public_key", &value), SLP_OK);
  EXPECT_STREQ(value, "0");
  SLPFree(value);
  ASSERT_EQ(SLPParseAttrs("(public_key=0),(names=a,b)", "NAMES", &value), SLP_OK);
  EXPECT_STREQ(value, "a,b");
  SLPFree(value);
  EXPECT_EQ(SLPParseAttrs("(public_key=0)", "other", &value), SLP_PARSE_ERROR);
}

TEST(ApiTest, ReadsAndSetsProperties) {
  EXPECT_STREQ(SLPGetProperty("net.slp.useScopes"), "DEFAULT");
  EXPECT_STREQ(SLPGetProperty("net.slp.MTU"), "1400");
  EXPECT_EQ(SLPGetProperty("no.such.property"), nullptr);
  SLPSetProperty("net.slp.useScopes", "lab");
  EXPECT_STREQ(SLPGetProperty("net.slp.useScopes"), "lab");
  SLPHandle h = nullptr;
  ASSERT_EQ(SLPOpen(nullptr, SLP_FALSE, &h), SLP_OK);
  char* scopes = nullptr;
  ASSERT_EQ(SLPFindScopes(h, &scopes), SLP_OK);
  EXPECT_STREQ(scopes, "lab");
  SLPFree(scopes);
  SLPClose(h);
  SLPSetProperty("net.slp.useScopes", "DEFAULT");
  EXPECT_EQ(SLPGetRefreshInterval(), 0);
}

TEST(ApiTest, ChecksHandlesAndParameters) {
  SLPHandle h = reinterpret_cast<SLPHandle>(1);
  EXPECT_EQ(SLPOpen("en", SLP_TRUE, &h), SLP_NOT_IMPLEMENTED);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(SLPOpen("not a tag", SLP_FALSE, &h), SLP_PARAMETER_BAD);
  EXPECT_EQ(SLPOpen("en", SLP_FALSE, nullptr), SLP_PARAMETER_BAD);
  ASSERT_EQ(SLPOpen("", SLP_FALSE, &h), SLP_OK);
  auto report = [](SLPHandle, SLPError, void*) {};
  auto urls = [](SLPHandle, const char*, unsigned short, SLPError, void*) { return SLP_TRUE; };
  EXPECT_EQ(SLPReg(h, "", 10, nullptr, "", SLP_TRUE, report, nullptr), SLP_PARAMETER_BAD);
  EXPECT_EQ(SLPReg(h, "service:x://h", 10, nullptr, nullptr, SLP_TRUE, report, nullptr),
            SLP_PARAMETER_BAD);
  EXPECT_EQ(SLPReg(h, "service:x://h", 10, nullptr, "", SLP_TRUE, nullptr, nullptr),
            SLP_PARAMETER_BAD);
  EXPECT_EQ(SLPDereg(h, nullptr, report, nullptr), SLP_PARAMETER_BAD);
  EXPECT_EQ(SLPFindSrvs(h, "", nullptr, nullptr, urls, nullptr), SLP_PARAMETER_BAD);
  EXPECT_EQ(SLPFindSrvs(h, "service:x", nullptr, "(bad", urls, nullptr), SLP_PARSE_ERROR);
  EXPECT_EQ(SLPFindSrvs(nullptr, "service:x", nullptr, nullptr, urls, nullptr), SLP_PARAMETER_BAD);
  SLPClose(h);
  SLPClose(nullptr);
}

}  // namespace
