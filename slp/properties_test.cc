#include "slp/properties.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "slp/daemon_options.h"
#include "slp/settings.h"

namespace vslp {
namespace {

class PropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vslp-props-XXXXXX";
    int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = pattern;
  }
  void TearDown() override { ::unlink(path_.c_str()); }
  void write(const std::string& text) { std::ofstream(path_) << text; }

  std::string path_;
};

TEST_F(PropertiesTest, ReadsRfc2614PropertyFiles) {
  write(
      "# comment\n; another\n\nnet.slp.port = 10427\n  net.slp.useScopes=lab, DEFAULT  \n"
      "net.slp.multicastTimeouts = 100, 200\nvendor.extra = x = y\n");
  Properties p;
  std::string error;
  ASSERT_TRUE(p.readFile(path_, &error)) << error;
  EXPECT_EQ(p.getInt("net.slp.port", 0, 1, 65535), 10427);
  EXPECT_EQ(p.getString("net.slp.useScopes"), "lab, DEFAULT");
  EXPECT_EQ(p.getIntList("net.slp.multicastTimeouts", {}, 1, 1000), (std::vector<long>{100, 200}));
  EXPECT_EQ(p.getString("vendor.extra"), "x = y");
  EXPECT_TRUE(p.isSet("net.slp.port"));
  EXPECT_FALSE(p.isSet("net.slp.MTU"));
  EXPECT_EQ(p.getString("net.slp.MTU"), "1400") << "defaults stay";
}

TEST_F(PropertiesTest, ReportsMalformedLinesAndKeepsGoodOnes) {
  write("just words\nnet.slp.port = 1234\n= value\n");
  Properties p;
  std::string error;
  EXPECT_FALSE(p.readFile(path_, &error));
  EXPECT_NE(error.find(":3:"), std::string::npos) << error;
  EXPECT_EQ(p.getInt("net.slp.port", 0, 1, 65535), 1234);
  EXPECT_FALSE(p.readFile("/nonexistent/file", &error));
}

TEST_F(PropertiesTest, FallsBackOnBadValues) {
  write(
      "net.slp.port = 99999\nnet.slp.MTU = abc\nnet.slp.multicastTimeouts = 1,x\n"
      "net.slp.locale = not a tag\nnet.slp.useScopes = ,\nnet.slp.watchRegistrationPID = no\n");
  Properties p;
  std::string error;
  ASSERT_TRUE(p.readFile(path_, &error));
  ClientSettings s = ClientSettings::from(p);
  EXPECT_EQ(s.port, 427);
  EXPECT_EQ(s.mtu, 1400u);
  EXPECT_EQ(s.multicastTimeouts.size(), 5u);
  EXPECT_EQ(s.locale, "en");
  EXPECT_EQ(s.scopes, "DEFAULT");
  EXPECT_TRUE(s.watchRegistrationPid);
  p.set("net.slp.MTU", "9000");
  EXPECT_EQ(DaemonSettings::from(p, false).mtu, 1400u) << "never above 1400";
  p.set("net.slp.MTU", "1000");
  EXPECT_EQ(DaemonSettings::from(p, false).mtu, 1000u);
}

TEST_F(PropertiesTest, LoadsTheFileNamedByTheEnvironment) {
  write("net.slp.port = 2427\nvslpd.pidFile = /run/x.pid\n");
  ::setenv("VSLP_CONF", path_.c_str(), 1);
  Properties p = Properties::load();
  DaemonSettings d = DaemonSettings::from(p, p.isSet("vslpd.pidFile"));
  EXPECT_EQ(d.port, 2427);
  EXPECT_EQ(d.pidFile, "/run/x.pid");
  EXPECT_TRUE(d.pidFileConfigured);
  std::string error;
  ::setenv("VSLP_CONF", "/nonexistent/vslp.conf", 1);
  Properties::load(&error);
  EXPECT_FALSE(error.empty()) << "a named file must exist";
  ::unsetenv("VSLP_CONF");
}

TEST(DaemonOptionsTest, ParsesTheCommandLine) {
  std::string error;
  auto o = parseDaemonOptions({"-d", "-l", "7", "-c", "/etc/x.conf"}, error);
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->foreground);
  EXPECT_EQ(o->logLevel, 7);
  EXPECT_EQ(o->configFile, "/etc/x.conf");
  EXPECT_TRUE(parseDaemonOptions({"-k"}, error)->kill);
  EXPECT_TRUE(parseDaemonOptions({"-h"}, error)->help);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"-l"}, {"-l", "8"}, {"-x"}, {"extra"}, {"-c"}}) {
    EXPECT_FALSE(parseDaemonOptions(bad, error));
  }
}

}  // namespace
}  // namespace vslp
