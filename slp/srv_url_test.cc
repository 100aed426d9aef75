#include "slp/srv_url.h"

#include <gtest/gtest.h>

namespace vslp {
namespace {

TEST(SrvUrlTest, SplitsUrls) {
  struct Case {
    const char* url;
    const char* type;
    const char* host;
    int port;
    const char* family;
    const char* part;
  };
  const Case cases[] = {
      {"service:tolm.x://10.0.0.5:3456", "service:tolm.x", "10.0.0.5", 3456, "", ""},
      {"service:printer:lpr://p.example/queue", "service:printer:lpr", "p.example", 0, "",
       "/queue"},
      {"service:x://h:80/a/b", "service:x", "h", 80, "", "/a/b"},
      {"service:x://h:/a", "service:x", "h", 0, "", "/a"},
      {"http://www.example:8080;x=1", "http", "www.example", 8080, "", ";x=1"},
      {"service:x://[fe80::1]:427", "service:x", "fe80::1", 427, "v6", ""},
      {"service:x://", "service:x", "", 0, "", ""},
  };
  for (const Case& c : cases) {
    auto p = parseServiceUrl(c.url);
    ASSERT_TRUE(p) << c.url;
    EXPECT_EQ(p->type, c.type) << c.url;
    EXPECT_EQ(p->host, c.host) << c.url;
    EXPECT_EQ(p->port, c.port) << c.url;
    EXPECT_EQ(p->family, c.family) << c.url;
    EXPECT_EQ(p->part, c.part) << c.url;
  }
}

TEST(SrvUrlTest, RejectsMalformedUrls) {
  for (const char* bad : {"", "service:x", "://h", "service:x://h:99999", "service:x://h:8a",
                          "service:x://[fe80::1"}) {
    EXPECT_FALSE(parseServiceUrl(bad)) << bad;
  }
  EXPECT_EQ(serviceTypeOfUrl("service:printer:lpr://p"), "service:printer:lpr");
}

}  // namespace
}  // namespace vslp
