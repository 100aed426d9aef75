// End to end inside the test sandbox, with nothing played by the test: vslpd, tolmd and
// tolm-listen run as real processes, and a signal is sent by a Java program through the JNI
// natives, by a C++ program built with pkg-config, and by tolm-signal. Each travels SLP
// discovery -> SIGNAL -> tolmd -> NOTIFY -> the listener, which prints it.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/slp_test_agent.h"
#include "tests/support/daemon_process.h"

namespace vokra {
namespace {

using std::chrono::milliseconds;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct Services {
  testing::SlpTestAgent agent;
  std::unique_ptr<nvo_test::DaemonProcess> tolmd;
  std::unique_ptr<nvo_test::DaemonProcess> listener;
};

std::unique_ptr<Services> gServices;

class VokraEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!nvo_test::inSandbox()) {
      return;
    }
    testing::useFastSlpConfig();
    gServices = std::make_unique<Services>();
    gServices->agent.start();
    gServices->tolmd = std::make_unique<nvo_test::DaemonProcess>(nvo_test::buildBinary("tolmd"),
                                                                 std::vector<std::string>{"-d"});
    gServices->tolmd->start();
    ASSERT_TRUE(gServices->tolmd->waitForLine("registered url", milliseconds(15000)))
        << gServices->tolmd->transcript();
    gServices->listener = std::make_unique<nvo_test::DaemonProcess>(
        nvo_test::buildBinary("tolm-listen"),
        std::vector<std::string>{"e2e.java", "e2e.cpp", "e2e.tool"});
    gServices->listener->start();
    ASSERT_TRUE(gServices->listener->waitForLine("registered e2e.tool", milliseconds(30000)))
        << gServices->listener->transcript();
  }
  static void TearDownTestSuite() {
    if (gServices != nullptr && gServices->listener != nullptr) {
      gServices->listener->stop(milliseconds(15000));
    }
    gServices.reset();
  }
  void SetUp() override {
    if (!nvo_test::inSandbox()) {
      GTEST_SKIP() << "needs the test sandbox (vslpd on port 427, tolmd as root)";
    }
    ASSERT_NE(gServices, nullptr);
    ASSERT_NE(gServices->listener, nullptr);
  }

  // Waits for the listener's line for `event` after line `from` and returns it.
  static std::string notification(const std::string& event, std::size_t from) {
    const auto at =
        gServices->listener->waitForLine("NOTIFY event=" + event + " ", milliseconds(15000), from);
    if (!at) {
      return "no notification; listener said:\n" + gServices->listener->transcript() +
             "\ntolmd said:\n" + gServices->tolmd->transcript();
    }
    return gServices->listener->lines().at(*at);
  }
};

// In the sanitizer build the JVM needs the sanitizer runtime loaded first and options of its
// own (it uses SIGSEGV itself and never frees its start-up memory).
std::vector<std::string> jvmEnvironment() {
  if (env("VOKRA_JVM_PRELOAD").empty()) {
    return {};
  }
  return {"LD_PRELOAD=" + env("VOKRA_JVM_PRELOAD"),
          "ASAN_OPTIONS=" + env("VOKRA_JVM_ASAN_OPTIONS")};
}

TEST_F(VokraEndToEndTest, JavaSignalReachesTheListenerWithItsExactBytes) {
#if defined(NVO_TSAN)
  GTEST_SKIP() << "ThreadSanitizer cannot check a JVM (false reports inside libjvm), so the Java "
                  "tests do not run in this build";
#endif
  const std::size_t from = gServices->listener->lineCount();
  const nvo_test::RunResult run =
      nvo_test::runProgram(env("VOKRA_JAVA"),
                           {"-Xcheck:jni", "-Djava.library.path=" + env("NVO_BUILD_DIR") + "/lib",
                            "-cp", env("VOKRA_JAVA_JAR"), "com.orvanta.nvo.api.tolm.SignalEvent",
                            "e2e.java", "00ff7f800a41", "2"},
                           milliseconds(60000), jvmEnvironment());
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.back(), "result 0");
  EXPECT_EQ(notification("e2e.java", from),
            "NOTIFY event=e2e.java stagger=2 bytes=6 hex=00ff7f800a41");
}

TEST_F(VokraEndToEndTest, PkgConfigBuiltProgramSignalsThroughTheLibrary) {
  const std::size_t from = gServices->listener->lineCount();
  const nvo_test::RunResult run = nvo_test::runProgram(
      env("VOKRA_PKGCONFIG_EXAMPLE"), {"e2e.cpp", "68656c6c6f2c20766f6b7261", "1"},
      milliseconds(30000), {"LD_LIBRARY_PATH=" + env("NVO_BUILD_DIR") + "/lib"});
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[0].rfind("server service:tolm.x://", 0), 0u) << run.lines[0];
  EXPECT_NE(run.lines[0].find(" key 0"), std::string::npos) << run.lines[0];
  EXPECT_EQ(run.lines[1], "result 0");
  EXPECT_EQ(notification("e2e.cpp", from),
            "NOTIFY event=e2e.cpp stagger=1 bytes=12 text=hello, vokra");
}

TEST_F(VokraEndToEndTest, TolmSignalSendsArgumentAndFilePayloads) {
  std::size_t from = gServices->listener->lineCount();
  nvo_test::RunResult run = nvo_test::runProgram(nvo_test::buildBinary("tolm-signal"),
                                                 {"e2e.tool", "-d", "from an argument"});
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.back(), "result 0 (accepted)");
  EXPECT_EQ(notification("e2e.tool", from),
            "NOTIFY event=e2e.tool stagger=0 bytes=16 text=from an argument");

  const std::string file = "/tmp/vokra-e2e-payload";
  std::ofstream(file, std::ios::binary) << std::string("\x01\x02\x00\x03", 4);
  from = gServices->listener->lineCount();
  run = nvo_test::runProgram(nvo_test::buildBinary("tolm-signal"),
                             {"--stagger", "sequential", "--file", file, "e2e.tool"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(notification("e2e.tool", from), "NOTIFY event=e2e.tool stagger=2 bytes=4 hex=01020003");

  // Standard input, through a shell so the test can feed it.
  from = gServices->listener->lineCount();
  run = nvo_test::runProgram("/bin/sh", {"-c", "printf 'piped text' | \"$0\" -f - e2e.tool",
                                         nvo_test::buildBinary("tolm-signal")});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(notification("e2e.tool", from),
            "NOTIFY event=e2e.tool stagger=0 bytes=10 text=piped text");
}

TEST_F(VokraEndToEndTest, TolmSignalReportsRefusalsWithItsExitStatus) {
  const std::string tool = nvo_test::buildBinary("tolm-signal");
  const nvo_test::RunResult empty = nvo_test::runProgram(tool, {""});
  EXPECT_EQ(empty.exitCode, 1);
  ASSERT_FALSE(empty.lines.empty());
  EXPECT_EQ(empty.lines.back(), "result -9 (empty event name)");
  EXPECT_EQ(nvo_test::runProgram(tool, {}).exitCode, 2);
  EXPECT_EQ(nvo_test::runProgram(tool, {"-t", "sideways", "e"}).exitCode, 2);
  EXPECT_EQ(nvo_test::runProgram(tool, {"-x", "abc", "e"}).exitCode, 2);
  EXPECT_EQ(nvo_test::runProgram(tool, {"-f", "/nonexistent/file", "e"}).exitCode, 2);
  EXPECT_EQ(nvo_test::runProgram(tool, {"-d", "a", "-x", "62", "e"}).exitCode, 2);
}

TEST_F(VokraEndToEndTest, ListenerDeregistersWhenInterrupted) {
  gServices->listener->sendSignal(SIGINT);
  EXPECT_EQ(gServices->listener->waitForExit(milliseconds(30000)), 0);
  EXPECT_TRUE(gServices->listener->hasExactLine("deregistered e2e.java"));
  EXPECT_TRUE(gServices->listener->hasExactLine("deregistered e2e.tool"));
  // Nobody listens any more: the daemon still accepts the signal, and the listener is gone
  // from its registrations.
  const nvo_test::RunResult run =
      nvo_test::runProgram(nvo_test::buildBinary("tolm-signal"), {"e2e.tool", "-d", "late"});
  EXPECT_EQ(run.exitCode, 0);
}

}  // namespace
}  // namespace vokra
