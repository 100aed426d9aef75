#include "client/inet_socket.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include "client/socket_exception.h"
#include "client/socket_test_support.h"
#include "client/socket_util.h"

namespace vokra {
namespace {

using testing::connectRaw;
using testing::Interrupter;
using testing::Listener;
using testing::loopbackAddress;
using testing::lowestFreeDescriptor;
using testing::OwnedFd;
using testing::readSome;
using testing::RefusingPort;

std::string message(const std::string& where, const std::string& what, int errornum) {
  return where + " - " + what + ": " + std::strerror(errornum);
}

bool isOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

// Connects `socket` and returns the exception it threw; fails the test when it connected.
SocketException connectFailure(InetSocket& socket, uint32_t address, uint16_t port) {
  try {
    socket.connect(address, port);
  } catch (const SocketException& e) {
    return e;
  }
  ADD_FAILURE() << "connect to port " << port << " succeeded";
  return SocketException(0, "", "");
}

// A listener whose accept queue is full: further SYNs are dropped, so a connect to it stays
// pending. Holds the connection that fills the queue.
struct FullListener {
  Listener listener{0};
  OwnedFd queued = connectRaw(listener.port());
};

void expectNoDescriptor(const InetSocket& socket) {
  EXPECT_EQ(socket.descriptor(), -1);
  EXPECT_FALSE(socket.isConnected());
}

TEST(InetSocketTest, NewSocketIsUnconnectedAndDisconnectIsHarmless) {
  InetSocket socket;
  expectNoDescriptor(socket);
  EXPECT_EQ(socket.localAddress(), 0u);
  EXPECT_EQ(socket.peerPort(), 0u);
  socket.disconnect();
  socket.disconnect();
  expectNoDescriptor(socket);
}

TEST(InetSocketTest, ConnectByNameAndByAddressRecordBothEnds) {
  Listener listener;
  InetSocket byName("127.0.0.1", listener.port());
  ASSERT_TRUE(byName.isConnected());
  EXPECT_EQ(byName.peerAddress(), loopbackAddress());
  EXPECT_EQ(byName.peerPort(), htons(listener.port()));
  EXPECT_EQ(byName.peerAddrString(), "127.0.0.1:" + std::to_string(listener.port()));
  EXPECT_EQ(byName.localAddrString(), "127.0.0.1:" + std::to_string(ntohs(byName.localPort())));

  InetSocket byAddress(loopbackAddress(), htons(listener.port()));  // both in network order
  ASSERT_TRUE(byAddress.isConnected());
  EXPECT_EQ(byAddress.peerPort(), htons(listener.port()));
  EXPECT_NE(byAddress.localPort(), byName.localPort());
}

TEST(InetSocketTest, AdoptedDescriptorFillsAddressesAndIsClosedByDisconnect) {
  Listener listener;
  InetSocket client("127.0.0.1", listener.port());
  OwnedFd accepted = listener.accept();
  ASSERT_GE(accepted.get(), 0);
  const int fd = accepted.release();
  InetSocket adopted(fd);
  EXPECT_TRUE(adopted.isConnected());
  EXPECT_EQ(adopted.descriptor(), fd);
  EXPECT_EQ(adopted.localAddress(), loopbackAddress());
  EXPECT_EQ(adopted.localPort(), htons(listener.port()));
  EXPECT_EQ(adopted.peerPort(), client.localPort());
  EXPECT_EQ(adopted.peerAddrString(), client.localAddrString());
  adopted.disconnect();
  expectNoDescriptor(adopted);
  EXPECT_FALSE(isOpen(fd));
}

TEST(InetSocketTest, AdoptingUnconnectedDescriptorThrowsAndClosesIt) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  try {
    InetSocket adopted(fd);
    FAIL() << "adopting an unconnected socket succeeded";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), ENOTCONN);
    EXPECT_EQ(e.where(), "InetSocket::fillAddrParms");
    EXPECT_EQ(e.getMessage(), message("InetSocket::fillAddrParms", "getpeername", ENOTCONN));
  }
  EXPECT_FALSE(isOpen(fd));
}

TEST(InetSocketTest, RefusedConnectThrowsConnectErrorAndKeepsNoDescriptor) {
  RefusingPort refusing;
  const int freeBefore = lowestFreeDescriptor();
  InetSocket socket;
  const SocketException e = connectFailure(socket, loopbackAddress(), refusing.port());
  EXPECT_EQ(e.errornum(), ECONNREFUSED);
  EXPECT_EQ(e.where(), "InetSocket::connect");
  EXPECT_EQ(e.getMessage(), "InetSocket::connect - connect: " + std::string(strerror(111)));
  expectNoDescriptor(socket);
  EXPECT_EQ(lowestFreeDescriptor(), freeBefore);
}

TEST(InetSocketTest, TimedRefusedConnectThrowsAndKeepsNoDescriptor) {
  RefusingPort refusing;
  const int freeBefore = lowestFreeDescriptor();
  InetSocket socket;
  socket.setConnectTimeout(1);
  const SocketException e = connectFailure(socket, loopbackAddress(), refusing.port());
  // 111 when connect() itself reports the refusal, 110 when it shows only as the pending error
  // after the wait (what loopback usually does).
  EXPECT_TRUE(e.errornum() == ECONNREFUSED || e.errornum() == ETIMEDOUT) << e.errornum();
  EXPECT_EQ(e.getMessage(), message("InetSocket::connect", "connect", e.errornum()));
  expectNoDescriptor(socket);
  EXPECT_EQ(lowestFreeDescriptor(), freeBefore);
}

TEST(InetSocketTest, UnknownHostThrowsInvalidArgument) {
  // A label longer than 63 bytes cannot be put into a name-server query, so the lookup fails
  // after /etc/hosts without sending anything.
  const std::string host = std::string(70, 'x') + ".invalid";
  InetSocket socket;
  try {
    socket.connect(host, 80);
    FAIL() << "connect to an unknown host succeeded";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), EINVAL);
    EXPECT_EQ(e.where(), "InetSocket::connect");
    EXPECT_EQ(e.getMessage(), message("InetSocket::connect", "gethostbyname", EINVAL));
  }
  expectNoDescriptor(socket);
}

TEST(InetSocketTest, ConnectTimesOutWhenListenerQueueIsFull) {
  FullListener full;
  const int freeBefore = lowestFreeDescriptor();
  InetSocket socket;
  socket.setTimeouts(1);
  try {
    socket.connect(loopbackAddress(), full.listener.port());
    GTEST_SKIP() << "this kernel completed a connect beyond a full accept queue; no loopback "
                    "peer can hold a connect pending";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), ETIMEDOUT);
    EXPECT_EQ(e.where(), "InetSocket::connect");
    EXPECT_EQ(e.getMessage(), message("InetSocket::connect", "connect", ETIMEDOUT));
  }
  expectNoDescriptor(socket);
  EXPECT_EQ(lowestFreeDescriptor(), freeBefore);
}

TEST(InetSocketTest, InterruptedConnectWaitFailsAndClosesDescriptor) {
  FullListener full;
  const int freeBefore = lowestFreeDescriptor();
  InetSocket socket;
  socket.setConnectTimeout(5);  // longer than the interrupter takes to strike
  try {
    Interrupter interrupter;
    socket.connect(loopbackAddress(), full.listener.port());
    GTEST_SKIP() << "this kernel completed a connect beyond a full accept queue; no loopback "
                    "peer can hold a connect pending";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), EINTR);
    EXPECT_EQ(e.where(), "InetSocket::connect");
  }
  expectNoDescriptor(socket);
  EXPECT_EQ(lowestFreeDescriptor(), freeBefore);
}

TEST(InetSocketTest, ConnectOnConnectedSocketClosesOldConnectionAndStreams) {
  Listener first;
  Listener second;
  InetSocket socket("127.0.0.1", first.port());
  OwnedFd firstPeer = first.accept();
  ASSERT_GE(firstPeer.get(), 0);
  socket.getOutputStream() << "old";  // buffered: sent when the old streams go

  socket.connect(loopbackAddress(), second.port());
  EXPECT_TRUE(socket.isConnected());
  EXPECT_EQ(socket.peerPort(), htons(second.port()));
  EXPECT_EQ(readSome(firstPeer.get(), 16), "old");
  EXPECT_EQ(readSome(firstPeer.get(), 16), "");  // end of file: the old descriptor is closed

  OwnedFd secondPeer = second.accept();
  ASSERT_GE(secondPeer.get(), 0);
  socket.getOutputStream() << "new" << std::flush;
  EXPECT_EQ(readSome(secondPeer.get(), 16), "new");
}

TEST(InetSocketTest, UnconnectedReadAndWriteGiveBadDescriptor) {
  InetSocket socket;
  char byte = 'x';
  errno = 0;
  EXPECT_EQ(socket.write(&byte, 1, false), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(socket.read(&byte, 1, false), -1);
  EXPECT_EQ(errno, EBADF);
  try {
    socket.write(&byte, 1, true);
    FAIL() << "write on an unconnected socket succeeded";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), EBADF);
    EXPECT_EQ(e.where(), "InetSocket::write");
    EXPECT_EQ(e.getMessage(), message("InetSocket::write", "write", EBADF));
  }
  try {
    socket.read(&byte, 1, true);
    FAIL() << "read on an unconnected socket succeeded";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), EBADF);
    EXPECT_EQ(e.getMessage(), message("InetSocket::read", "read", EBADF));
  }
}

TEST(InetSocketTest, ReadAndWriteTransferOnceAndSeePeerClose) {
  Listener listener;
  InetSocket socket("127.0.0.1", listener.port());
  socket.setTimeouts(1);
  OwnedFd peer = listener.accept();
  ASSERT_GE(peer.get(), 0);

  EXPECT_EQ(socket.write("hello", 5, true), 5);
  EXPECT_EQ(readSome(peer.get(), 16), "hello");
  ASSERT_EQ(::write(peer.get(), "abc", 3), 3);
  char buffer[16] = {};
  EXPECT_EQ(socket.read(buffer, sizeof buffer, true), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");

  peer.reset();
  EXPECT_EQ(socket.read(buffer, sizeof buffer, true), 0);
}

TEST(InetSocketTest, ReadTimeOutGivesErrno110OrException) {
  Listener listener;
  InetSocket socket("127.0.0.1", listener.port());
  socket.setTimeouts(1);
  char buffer[4];
  errno = 0;
  EXPECT_EQ(socket.read(buffer, sizeof buffer, false), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  try {
    socket.read(buffer, sizeof buffer, true);
    FAIL() << "a read from a silent peer returned";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), ETIMEDOUT);
    EXPECT_EQ(e.where(), "InetSocket::read");
    EXPECT_EQ(e.getMessage(), message("InetSocket::read", "read", ETIMEDOUT));
  }
  EXPECT_TRUE(socket.isConnected());
}

TEST(InetSocketTest, WriteTimesOutWhenPeerStopsReading) {
  Listener listener;
  InetSocket socket("127.0.0.1", listener.port());
  socket.setTimeouts(1);
  const int small = 4096;
  ::setsockopt(socket.descriptor(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  // Safety net for the test only: a write that blocks after its wait still ends in 2 s.
  const timeval limit{2, 0};
  ::setsockopt(socket.descriptor(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const std::vector<char> chunk(1024, 'z');
  int lastErrno = 0;
  for (int round = 0; round < 100000 && lastErrno != ETIMEDOUT; ++round) {
    if (socket.write(chunk.data(), static_cast<int>(chunk.size()), false) < 0) {
      lastErrno = errno;
    }
  }
  EXPECT_EQ(lastErrno, ETIMEDOUT);
}

TEST(InetSocketTest, TimedWriteTakesWhatFitsInsteadOfBlocking) {
  Listener listener;  // never reads
  InetSocket socket("127.0.0.1", listener.port());
  socket.setTimeouts(1);
  const int small = 4096;
  ::setsockopt(socket.descriptor(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const std::vector<char> lots(8 * 1024 * 1024, 'z');
  auto written = std::async(std::launch::async, [&] {
    return socket.write(lots.data(), static_cast<int>(lots.size()), false);
  });
  if (written.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ::shutdown(socket.descriptor(), SHUT_RDWR);  // frees the blocked write, ends the test
    FAIL() << "a write with a 1 s time-out was still blocked after 30 s";
  }
  const int count = written.get();
  EXPECT_GT(count, 0);
  EXPECT_LT(count, static_cast<int>(lots.size()));
}

TEST(InetSocketTest, WriteToClosedPeerFailsWithoutSignal) {
  Listener listener;
  InetSocket socket("127.0.0.1", listener.port());
  listener.accept().reset();  // the peer closes at once
  const char byte = 'x';
  int result = 0;
  for (int round = 0; round < 1000 && result >= 0; ++round) {
    result = socket.write(&byte, 1, false);
  }
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
}

TEST(InetSocketTest, GetStreamsOnUnconnectedSocketThrows) {
  InetSocket socket;
  try {
    socket.getStreams();
    FAIL() << "getStreams on an unconnected socket succeeded";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), EBADF);
    EXPECT_EQ(e.where(), "InetSocket::getStreams");
    EXPECT_EQ(e.getMessage(), message("InetSocket::getStreams", "NONE", EBADF));
  }
  EXPECT_THROW(socket.getInputStream(), SocketException);
  EXPECT_THROW(socket.getIOStream(), SocketException);
}

TEST(InetSocketTest, StreamsRoundTripAndInputIsTiedToOutput) {
  Listener listener;
  InetSocket socket("127.0.0.1", listener.port());
  OwnedFd peer = listener.accept();
  ASSERT_GE(peer.get(), 0);
  std::istream& in = socket.getInputStream();
  std::ostream& out = socket.getOutputStream();
  EXPECT_EQ(in.tie(), &out);

  out << "question\n";  // no flush: stays in the buffer
  EXPECT_EQ(waitForSockIO(peer.get(), 0, true), ETIMEDOUT);
  ASSERT_EQ(::write(peer.get(), "answer\n", 7), 7);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));  // reading flushes the question first
  EXPECT_EQ(line, "answer");
  EXPECT_EQ(readSome(peer.get(), 64), "question\n");

  std::iostream& both = socket.getIOStream();
  both << 42 << ' ' << std::flush;
  EXPECT_EQ(readSome(peer.get(), 64), "42 ");
  ASSERT_EQ(::write(peer.get(), "7 8", 3), 3);
  peer.reset();
  int first = 0;
  int second = 0;
  both >> first >> second;
  EXPECT_EQ(first, 7);
  EXPECT_EQ(second, 8);
  EXPECT_TRUE(both.eof());
}

TEST(InetSocketTest, DisconnectSendsPendingStreamOutput) {
  Listener listener;
  InetSocket socket("127.0.0.1", listener.port());
  OwnedFd peer = listener.accept();
  ASSERT_GE(peer.get(), 0);
  socket.getOutputStream() << "bye";
  socket.disconnect();
  EXPECT_EQ(readSome(peer.get(), 16), "bye");
  EXPECT_EQ(readSome(peer.get(), 16), "");
}

// Raises the soft descriptor limit to at least `wanted` for the life of the object.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t wanted) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit raised = saved_;
    if (raised.rlim_cur < wanted && raised.rlim_max >= wanted) {
      raised.rlim_cur = wanted;
    }
    ok_ = ::setrlimit(RLIMIT_NOFILE, &raised) == 0 && raised.rlim_cur >= wanted;
  }
  ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  bool ok_ = false;
};

TEST(InetSocketTest, DescriptorAbove1024ReadsWritesAndWaits) {
  DescriptorLimit limit(1600);
  if (!limit.ok()) {
    GTEST_SKIP() << "the descriptor limit cannot be raised to 1600";
  }
  Listener listener;
  OwnedFd client = connectRaw(listener.port());
  ASSERT_EQ(::dup2(client.get(), 1500), 1500);
  client.reset();
  OwnedFd peer = listener.accept();
  ASSERT_GE(peer.get(), 0);

  InetSocket socket(1500);
  socket.setTimeouts(1);
  EXPECT_EQ(socket.peerPort(), htons(listener.port()));
  EXPECT_TRUE(socket.waitForOutput(1));
  EXPECT_FALSE(socket.waitForInput(0));
  char buffer[8];
  errno = 0;
  EXPECT_EQ(socket.read(buffer, sizeof buffer, false), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  ASSERT_EQ(::write(peer.get(), "hi", 2), 2);
  EXPECT_EQ(socket.read(buffer, sizeof buffer, true), 2);
  EXPECT_EQ(socket.write("ok", 2, true), 2);
  EXPECT_EQ(readSome(peer.get(), 8), "ok");
}

TEST(InetSocketTest, TimedConnectWorksWithDescriptorAbove1024) {
  DescriptorLimit limit(1600);
  if (!limit.ok()) {
    GTEST_SKIP() << "the descriptor limit cannot be raised to 1600";
  }
  // Occupy every free number below 1100 so that the socket the connect creates lies above.
  std::vector<OwnedFd> fillers;
  for (int round = 0; round < 1100 && lowestFreeDescriptor() < 1100; ++round) {
    fillers.emplace_back(::fcntl(0, F_DUPFD, 0));
  }
  ASSERT_GE(lowestFreeDescriptor(), 1100);
  Listener listener;
  InetSocket socket;
  socket.setTimeouts(1);
  socket.connect(loopbackAddress(), listener.port());
  EXPECT_GE(socket.descriptor(), 1100);
  EXPECT_EQ(socket.peerPort(), htons(listener.port()));
  EXPECT_EQ(socket.write("x", 1, true), 1);

  FullListener full;
  const int freeBefore = lowestFreeDescriptor();
  InetSocket pending;
  pending.setConnectTimeout(1);
  try {
    pending.connect(loopbackAddress(), full.listener.port());
    GTEST_SKIP() << "this kernel completed a connect beyond a full accept queue";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.errornum(), ETIMEDOUT);
  }
  expectNoDescriptor(pending);
  EXPECT_EQ(lowestFreeDescriptor(), freeBefore);
}

}  // namespace
}  // namespace vokra
