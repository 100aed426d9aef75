#include "outside/unnamed_pipe.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace teska {
namespace {

UnNamedPipe* handlerPipe = nullptr;

void writeSignalNumber(int signo) {
  handlerPipe->write(signo);
}
void doNothing(int) {}

// Installs `handler` for `signo` without SA_RESTART, restoring the old action at scope end.
class ScopedHandler {
 public:
  ScopedHandler(int signo, void (*handler)(int)) : signo_(signo) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signo_, &action, &old_);
  }
  ~ScopedHandler() { sigaction(signo_, &old_, nullptr); }

 private:
  int signo_;
  struct sigaction old_ {};
};

TEST(UnNamedPipeTest, SignalHandlerWritesNumberThatReadReturns) {
  UnNamedPipe pipe(false);
  ASSERT_TRUE(pipe.open());
  handlerPipe = &pipe;
  {
    ScopedHandler handler(SIGUSR1, writeSignalNumber);
    errno = ERANGE;
    ASSERT_EQ(raise(SIGUSR1), 0);
    EXPECT_EQ(errno, ERANGE);  // the handler left errno alone
  }
  handlerPipe = nullptr;
  int value = 0;
  ASSERT_EQ(pipe.read(&value), 0);
  EXPECT_EQ(value, SIGUSR1);
}

TEST(UnNamedPipeTest, ValuesFromSeveralThreadsArriveWhole) {
  UnNamedPipe pipe;
  ASSERT_TRUE(pipe.open());
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;  // 8000 bytes: well below the pipe's capacity
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&pipe, t] {
      for (int i = 0; i < kPerThread; ++i) {
        pipe.write(t * 0x01000000 + i);
      }
    });
  }
  for (std::thread& writer : writers) {
    writer.join();
  }
  std::vector<int> next(kThreads, 0);
  for (int n = 0; n < kThreads * kPerThread; ++n) {
    int value = -1;
    ASSERT_EQ(pipe.read(&value), 0);
    const int t = value >> 24;
    ASSERT_TRUE(t >= 0 && t < kThreads) << value;
    EXPECT_EQ(value & 0xFFFFFF, next[t]++);  // each writer's values in its order
  }
}

TEST(UnNamedPipeTest, ClosedPipeRefusesWriteAndRead) {
  UnNamedPipe pipe;
  int value = 0;
  EXPECT_FALSE(pipe.isOpen());
  EXPECT_FALSE(pipe.write(1));
  EXPECT_EQ(pipe.read(&value), -1);
  ASSERT_TRUE(pipe.open());
  ASSERT_TRUE(pipe.open());  // opening again keeps the same pipe
  ASSERT_TRUE(pipe.write(7));
  ASSERT_EQ(pipe.read(&value), 0);
  EXPECT_EQ(value, 7);
  pipe.close();
  EXPECT_FALSE(pipe.isOpen());
  EXPECT_FALSE(pipe.write(1));
}

TEST(UnNamedPipeTest, WriteToFullPipeFailsInsteadOfBlocking) {
  UnNamedPipe pipe;
  ASSERT_TRUE(pipe.open());
  int written = 0;
  while (written < (1 << 20) && pipe.write(written)) {
    ++written;
  }
  ASSERT_LT(written, 1 << 20);
  ASSERT_GT(written, 0);
  // The kernel frees pipe space a page at a time: drain one page's worth of values.
  for (int expected = 0; expected < 1024 && expected < written; ++expected) {
    int value = -1;
    ASSERT_EQ(pipe.read(&value), 0);
    ASSERT_EQ(value, expected);
  }
  EXPECT_TRUE(pipe.write(written));  // room again
}

TEST(UnNamedPipeTest, NonBlockingReadOfEmptyPipeFails) {
  UnNamedPipe pipe(true);
  ASSERT_TRUE(pipe.open());
  int value = 0;
  EXPECT_EQ(pipe.read(&value), -1);
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_TRUE(pipe.write(3));
  ASSERT_EQ(pipe.read(&value), 0);
  EXPECT_EQ(value, 3);
}

TEST(UnNamedPipeTest, InterruptedReadReturnsFailureAndNextReadSucceeds) {
  UnNamedPipe pipe;
  ASSERT_TRUE(pipe.open());
  ScopedHandler handler(SIGUSR2, doNothing);
  std::atomic<int> result{1};
  std::thread reader([&] {
    int value = 0;
    result = pipe.read(&value);
  });
  // A signal that lands before the read starts is harmless; the next one interrupts it.
  for (int i = 0; i < 500 && result.load() == 1; ++i) {
    pthread_kill(reader.native_handle(), SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (result.load() == 1) {
    pipe.write(0);  // never leave the reader blocked
  }
  reader.join();
  EXPECT_EQ(result.load(), -1);
  ASSERT_TRUE(pipe.write(42));
  int value = 0;
  ASSERT_EQ(pipe.read(&value), 0);
  EXPECT_EQ(value, 42);
}

}  // namespace
}  // namespace teska
