#include "outside/socket_exception.h"

#include <errno.h>

#include <gtest/gtest.h>

#include "client/socket_error.h"

namespace teska {
namespace {

TEST(SocketExceptionTest, CarriesWhatWhereErrnoAndFullMessage) {
  const SocketException e(ECONNREFUSED, "InetSocket::connect", "connect");
  EXPECT_STREQ(e.what(), "connect");
  EXPECT_EQ(e.where(), "InetSocket::connect");
  EXPECT_EQ(e.errornum(), ECONNREFUSED);
  EXPECT_EQ(e.getMessage(), "InetSocket::connect - connect: Connection refused");
}

TEST(SocketExceptionTest, SocketLayerThrowsItAsBaseException) {
  try {
    vokra::throwSocketException(ETIMEDOUT, "InetSocket::read", "read");
    FAIL() << "nothing thrown";
  } catch (const BaseException& base) {
    const auto* socket = dynamic_cast<const SocketException*>(&base);
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(socket->errornum(), ETIMEDOUT);
    EXPECT_EQ(base.getMessage(), "InetSocket::read - read: Connection timed out");
  }
}

TEST(SocketExceptionTest, BaseExceptionsNameTheirClassWithoutAnOperation) {
  const BaseException base("plain message");
  EXPECT_STREQ(base.what(), "BaseException");
  EXPECT_EQ(base.getMessage(), "plain message");
  const TimeOutException timeOut("took too long");
  EXPECT_STREQ(timeOut.what(), "TimeOutException");
  EXPECT_EQ(timeOut.getMessage(), "took too long");
  const std::exception& standard = timeOut;
  EXPECT_STREQ(standard.what(), "TimeOutException");
}

}  // namespace
}  // namespace teska
