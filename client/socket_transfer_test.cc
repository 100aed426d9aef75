#include "client/socket_transfer.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "client/socket_test_support.h"

namespace vokra {
namespace {

using testing::connectRaw;
using testing::Listener;
using testing::OwnedFd;
using testing::readSome;

constexpr int kBudgetSeconds = 1;
// Generous for transfers expected to complete: they return as soon as the last byte moved.
constexpr int kAmpleSeconds = 10;

// One loopback connection: the socket under test and the raw peer descriptor.
struct Connection {
  Connection() : socket(connectRaw(listener.port()).release()), peer(listener.accept()) {
    const int on = 1;
    ::setsockopt(peer.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  Listener listener;
  InetSocket socket;
  OwnedFd peer;
};

std::vector<uint8_t> countingBytes(std::size_t size) {
  std::vector<uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), uint8_t{1});
  return bytes;
}

TEST(SocketTransferTest, ReadExactlyGathersBytesArrivingInPieces) {
  Connection connection;
  ASSERT_GE(connection.peer.get(), 0);
  const std::vector<uint8_t> sent = countingBytes(12);
  std::thread writer([&] {
    // Three pieces with pauses, so the reader sees more than one arrival.
    for (std::size_t at = 0; at < sent.size(); at += 4) {
      ASSERT_EQ(::write(connection.peer.get(), sent.data() + at, 4), 4);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  std::vector<uint8_t> received(sent.size());
  EXPECT_TRUE(readExactly(connection.socket, received, kAmpleSeconds));
  writer.join();
  EXPECT_EQ(received, sent);
}

TEST(SocketTransferTest, ReadExactlyFailsWhenThePeerClosesEarly) {
  Connection connection;
  ASSERT_EQ(::write(connection.peer.get(), "abcde", 5), 5);
  connection.peer.reset();
  std::vector<uint8_t> received(12);
  EXPECT_FALSE(readExactly(connection.socket, received, kAmpleSeconds));
  EXPECT_EQ(std::string(received.begin(), received.begin() + 5), "abcde");
}

TEST(SocketTransferTest, ReadExactlyGivesUpWhenItsOneBudgetRunsOut) {
  Connection connection;
  // One byte every 300 ms: no single read waits long, but ten bytes take far longer than the
  // budget of all reads together.
  std::atomic<bool> readerDone{false};
  std::thread trickler([&] {
    for (int i = 0; i < 10 && !readerDone; ++i) {
      ASSERT_EQ(::write(connection.peer.get(), "x", 1), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  std::vector<uint8_t> received(10);
  EXPECT_FALSE(readExactly(connection.socket, received, kBudgetSeconds));
  readerDone = true;
  trickler.join();
}

TEST(SocketTransferTest, ReadExactlyHandlesEmptyBuffersAndUnconnectedSockets) {
  Connection connection;
  EXPECT_TRUE(readExactly(connection.socket, {}, kBudgetSeconds));
  InetSocket unconnected;
  uint8_t byte = 0;
  EXPECT_FALSE(readExactly(unconnected, std::span<uint8_t>(&byte, 1), kBudgetSeconds));
  EXPECT_FALSE(writeAll(unconnected, std::span<const uint8_t>(&byte, 1), kBudgetSeconds));
  // No budget at all: fails without reading, leaving the byte for a later read.
  ASSERT_EQ(::write(connection.peer.get(), "z", 1), 1);
  EXPECT_FALSE(readExactly(connection.socket, std::span<uint8_t>(&byte, 1), 0));
  EXPECT_TRUE(readExactly(connection.socket, std::span<uint8_t>(&byte, 1), kAmpleSeconds));
  EXPECT_EQ(byte, 'z');
}

TEST(SocketTransferTest, WriteAllDeliversEveryByte) {
  Connection connection;
  const std::vector<uint8_t> sent = countingBytes(100);
  EXPECT_TRUE(writeAll(connection.socket, sent, kAmpleSeconds));
  EXPECT_EQ(readSome(connection.peer.get(), sent.size()), std::string(sent.begin(), sent.end()));
}

TEST(SocketTransferTest, WriteAllFailsWhenThePeerIsGoneOrNeverReads) {
  {
    Connection connection;
    connection.peer.reset();
    // The first write may still be accepted before the reset arrives; later ones fail.
    const std::vector<uint8_t> bytes(4096, 0x5a);
    bool failed = false;
    for (int attempt = 0; attempt < 100 && !failed; ++attempt) {
      failed = !writeAll(connection.socket, bytes, kBudgetSeconds);
    }
    EXPECT_TRUE(failed);
  }
  {
    // A peer that never reads: the socket buffers fill and the budget runs out.
    Connection connection;
    const int small = 4096;
    ::setsockopt(connection.peer.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ::setsockopt(connection.socket.descriptor(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::vector<uint8_t> bytes(16 * 1024 * 1024, 0x5a);
    EXPECT_FALSE(writeAll(connection.socket, bytes, kBudgetSeconds));
  }
}

}  // namespace
}  // namespace vokra
