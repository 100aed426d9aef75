#include "client/socket_util.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "client/socket_exception.h"
#include "client/socket_test_support.h"

namespace vokra {
namespace {

using testing::connectRaw;
using testing::Interrupter;
using testing::Listener;
using testing::lowestFreeDescriptor;
using testing::OwnedFd;

TEST(SocketUtilTest, InetAddrToStringFormatsNetworkOrderValues) {
  struct Case {
    const char* address;
    uint16_t port;  // host order
    const char* withPort;
  };
  const Case cases[] = {
      {"127.0.0.1", 80, "127.0.0.1:80"},
      {"10.0.0.5", 3456, "10.0.0.5:3456"},
      {"0.0.0.0", 0, "0.0.0.0:0"},
      {"255.255.255.255", 65535, "255.255.255.255:65535"},
  };
  for (const Case& c : cases) {
    const uint32_t address = ::inet_addr(c.address);
    EXPECT_EQ(inetAddrToString(address, htons(c.port)), c.withPort);
    EXPECT_EQ(inetAddrToString(address), c.address);
  }
}

TEST(SocketUtilTest, WaitForSockIOReportsReadyTimeOutAndFailure) {
  Listener listener;
  OwnedFd client = connectRaw(listener.port());
  OwnedFd peer = listener.accept();
  ASSERT_GE(peer.get(), 0);

  EXPECT_EQ(waitForSockIO(client.get(), 1, false), 0);
  EXPECT_EQ(waitForSockIO(client.get(), 0, true), ETIMEDOUT);
  EXPECT_EQ(waitForSockIO(client.get(), 1, true), ETIMEDOUT);
  ASSERT_EQ(::write(peer.get(), "x", 1), 1);
  EXPECT_EQ(waitForSockIO(client.get(), 1, true), 0);
  EXPECT_EQ(waitForSockIO(client.get(), -1, true), 0);  // no limit, already ready

  EXPECT_EQ(waitForSockIO(lowestFreeDescriptor(), 1, true), EBADF);
  EXPECT_EQ(waitForSockIO(client.get(), -2, true), EINVAL);
}

TEST(SocketUtilTest, WaitForSockIOSeesPeerCloseAsReady) {
  Listener listener;
  OwnedFd client = connectRaw(listener.port());
  listener.accept().reset();
  EXPECT_EQ(waitForSockIO(client.get(), 1, true), 0);
}

TEST(SocketUtilTest, InterruptedWaitIsNotRetried) {
  Listener listener;
  OwnedFd client = connectRaw(listener.port());
  int result = 0;
  {
    Interrupter interrupter;
    result = waitForSockIO(client.get(), 5, true);
  }
  EXPECT_EQ(result, EINTR);
}

TEST(SocketUtilTest, WaitForIOReturnsReadinessOrThrows) {
  Listener listener;
  OwnedFd client = connectRaw(listener.port());
  EXPECT_TRUE(waitForIO(client.get(), 1, false));
  EXPECT_FALSE(waitForIO(client.get(), 0, true));
  try {
    waitForIO(lowestFreeDescriptor(), 1, true);
    FAIL() << "a wait on a closed descriptor succeeded";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), EBADF);
    EXPECT_EQ(e.where(), "::waitForIO");
    EXPECT_EQ(e.getMessage(), "::waitForIO - select: " + std::string(std::strerror(EBADF)));
  }
}

TEST(SocketUtilTest, SleepsReturnUsleepResult) {
  EXPECT_EQ(microSleep(0), 0);
  EXPECT_EQ(secondSleep(0), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(milliSleep(20), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  errno = 0;
  EXPECT_EQ(microSleep(-1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(secondSleep(-1), -1);
}

TEST(SocketExceptionTest, MessageJoinsWhereWhatAndSystemText) {
  struct Case {
    int errornum;
    const char* where;
    const char* what;
  };
  const Case cases[] = {
      {111, "InetSocket::connect", "connect"},
      {22, "InetSocket::connect", "gethostbyname"},
      {9, "InetSocket::getStreams", "NONE"},
      {0, "", ""},
  };
  for (const Case& c : cases) {
    const SocketException e(c.errornum, c.where, c.what);
    EXPECT_EQ(e.getMessage(),
              std::string(c.where) + " - " + c.what + ": " + std::strerror(c.errornum));
    EXPECT_EQ(e.where(), c.where);
    EXPECT_EQ(e.errornum(), c.errornum);
  }
  const SocketException unknown(9999, "here", "there");
  EXPECT_EQ(unknown.getMessage(), "here - there: Unknown error 9999");
  const SocketException copy = unknown;
  EXPECT_EQ(copy.getMessage(), unknown.getMessage());
}

}  // namespace
}  // namespace vokra
