// Fault tests: the daemon stopped hard or restarted in the middle of its work.
//
// kill -9 during a burst of registrations: after a restart, every registration the daemon had
// answered 0 for in a batch that it finished (and so flushed to the file) must still be there,
// unless the file was damaged and the daemon took its "re-creating" path; either way it
// serves. NVO_KILL9_TRIES sets the number of tries (default 3; tests/faults/kill9-stats runs
// 20 and prints how often which outcome happened).
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "protocol/tolm_wire.h"
#include "tests/faults/fault_fixture.h"
#include "tests/support/test_listener.h"

namespace faults {
namespace {

using nvo_test::TestListener;

constexpr char kRecreating[] = "Tolm cannot open old database (probably corrupted) - re-creating";
constexpr char kBatchEnd[] = "Registry is sleeping...";
constexpr char kRegistered[] = "Registry::processTrans succeeded to reg client ";

class RestartFaultTest : public FaultTest {
 protected:
  const std::vector<uint8_t> payload_{9, 8, 7};
};

// The events whose registrations were answered 0 in a batch the Registry finished before the
// log ends (those are in the file).
std::set<std::string> durableEvents(const std::vector<std::string>& lines) {
  std::set<std::string> durable;
  std::vector<std::string> batch;
  for (const std::string& line : lines) {
    if (line.rfind(kRegistered, 0) == 0) {
      const std::size_t from = line.find("[event = ");
      const std::size_t to = line.find("] Notify at ");
      if (from != std::string::npos && to != std::string::npos) {
        batch.push_back(line.substr(from + 9, to - from - 9));
      }
    } else if (line == kBatchEnd) {
      durable.insert(batch.begin(), batch.end());
      batch.clear();
    }
  }
  return durable;
}

enum class Outcome { kIntact, kRecreated, kLost };

TEST_F(RestartFaultTest, KillNineDuringARegistrationBurstLosesNothingFlushed) {
  const char* triesText = std::getenv("NVO_KILL9_TRIES");
  const int tries = triesText ? std::atoi(triesText) : 3;
  const uint32_t seed = std::random_device{}();
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);
  int intact = 0, recreated = 0, lost = 0;
  TestListener listener({.address = "127.0.6.1"});

  for (int attempt = 0; attempt < tries; ++attempt) {
    startDaemon();
    // Three clients register one new event after another until the daemon dies under them.
    // Their short random pauses let the Registry's queue run empty now and then, so batches
    // end (and are flushed) all through the burst. `dead` is set before the kill is sent, so a
    // client whose connection is refused while it is still false met a daemon that stopped
    // listening by itself.
    std::atomic<int> answered{0}, refusedAlive{0}, refusedAfterKill{0};
    std::atomic<bool> dead{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c) {
      clients.emplace_back([&, c, pauses = std::mt19937(seed + attempt * 3 + c)]() mutable {
        for (int i = 0; i < 2000 && !dead; ++i) {
          const std::string event = "burst." + std::to_string(attempt) + "." + std::to_string(c) +
                                    "." + std::to_string(i);
          std::optional<nvo_test::Answer> reply;
          try {
            reply = nvo_test::exchange(
                port(), registerRequest(listener.address(), listener.port(), event), 5s);
          } catch (const std::runtime_error&) {
            // Refused: after the kill, the expected end of this client's burst.
            ++(dead ? refusedAfterKill : refusedAlive);
            return;
          }
          if (reply && reply->result == 0) {
            ++answered;
          }
          std::this_thread::sleep_for(
              std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(pauses)));
        }
      });
    }
    const int killAfter = std::uniform_int_distribution<int>(20, 400)(random);
    nvo_test::waitUntil([&] { return answered >= killAfter; }, 30s);
    dead = true;
    daemon().sendSignal(SIGKILL);
    for (std::thread& client : clients)
      client.join();
    EXPECT_EQ(refusedAlive, 0) << "attempt " << attempt
                               << ": connections refused before the kill was sent";
    ASSERT_TRUE(daemon().waitForExit(10s)) << "attempt " << attempt;
    daemon().waitForLine("output closed", 2s);  // waits for the rest of the log
    const std::set<std::string> durable = durableEvents(daemon().lines());
    const std::size_t batches = daemon().countLines(kBatchEnd);

    startDaemon();
    ASSERT_TRUE(daemon_) << "attempt " << attempt;
    std::set<std::string> listed;
    for (const std::string& record : listingBefore(0)) {
      const std::size_t from = record.find("event: ");
      const std::size_t to = record.find("  address: ");
      if (from != std::string::npos && to != std::string::npos) {
        listed.insert(record.substr(from + 7, to - from - 7));
      }
    }
    Outcome outcome = Outcome::kIntact;
    if (daemon().countLines(kRecreating) > 0) {
      outcome = Outcome::kRecreated;
    } else {
      for (const std::string& event : durable) {
        if (!listed.contains(event)) {
          outcome = Outcome::kLost;
          ADD_FAILURE() << "attempt " << attempt << ": registration of " << event
                        << " was answered and flushed, but is gone after the restart";
          break;
        }
      }
      for (const std::string& event : listed) {
        EXPECT_TRUE(event.rfind("burst.", 0) == 0 || event == "after")
            << "attempt " << attempt << ": a record nobody registered: " << event;
      }
    }
    (outcome == Outcome::kIntact ? intact : outcome == Outcome::kRecreated ? recreated : lost)++;
    std::cout << "kill -9 attempt " << attempt << ": killed after " << answered << " answers ("
              << refusedAfterKill << " refused after it), " << batches << " batches, "
              << durable.size() << " flushed, " << listed.size() << " listed after restart: "
              << (outcome == Outcome::kIntact      ? "intact"
                  : outcome == Outcome::kRecreated ? "re-created"
                                                   : "LOST")
              << std::endl;

    // Either way the daemon serves.
    ASSERT_EQ(registerAt(listener.address(), listener.port(), "after"),
              answer(tolm::kAnswerRegister, 0));
    const std::size_t before = listener.notifyCount();
    ASSERT_EQ(signal("after", payload_), answer(tolm::kAnswerSignal, 0));
    EXPECT_TRUE(listener.waitForNotifications(before + 1, 10s));
    stopDaemon();
    daemon_.reset();
    // The next attempt starts from this file: damage, if any, would accumulate.
  }
  std::cout << "kill -9 summary: tries " << tries << " intact " << intact << " re-created "
            << recreated << " lost " << lost << " seed " << seed << std::endl;
  RecordProperty("intact", intact);
  RecordProperty("recreated", recreated);
  RecordProperty("lost", lost);
}

TEST_F(RestartFaultTest, SighupDuringASignalBurstLeavesAWorkingDaemon) {
  constexpr int kSignals = 1000;
  constexpr int kRestarts = 3;
  startDaemon();
  std::vector<std::unique_ptr<TestListener>> listeners;
  for (int i = 0; i < 5; ++i) {
    listeners.push_back(std::make_unique<TestListener>(
        nvo_test::ListenerOptions{.address = "127.0.7." + std::to_string(i + 1)}));
    ASSERT_EQ(registerAt(listeners.back()->address(), listeners.back()->port(), "burst"),
              answer(tolm::kAnswerRegister, 0));
  }

  std::atomic<int> sent{0}, answered{0};
  std::thread burst([&] {
    for (int i = 0; i < kSignals; ++i) {
      const std::vector<uint8_t> payload{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
      auto reply = nvo_test::exchange(port(), signalRequest("burst", payload), 30s);
      ++sent;
      if (reply == answer(tolm::kAnswerSignal, 0))
        ++answered;
    }
  });
  for (int restart = 1; restart <= kRestarts; ++restart) {
    nvo_test::waitUntil([&] { return sent >= restart * kSignals / (kRestarts + 1); }, 60s);
    const std::size_t from = daemon().lineCount();
    daemon().sendSignal(SIGHUP);
    EXPECT_TRUE(daemon().waitForLine(kListeningLine, 30s, from)) << "restart " << restart;
  }
  burst.join();

  EXPECT_TRUE(nvo_test::processAlive(daemon().pid()));
  // The listening socket stays open across restarts, so requests wait in its queue. Only the
  // one connection a stop takes from the queue is closed unanswered (the service thread takes
  // it for its own wake-up connection): at most one client per restart sees a failure.
  EXPECT_GE(answered, kSignals - kRestarts);
  EXPECT_EQ(daemon().countLines(kListeningLine), static_cast<std::size_t>(kRestarts + 1));
  // Signals still queued at a restart are dropped; what matters is that service is back.
  std::vector<std::size_t> before;
  for (const auto& l : listeners)
    before.push_back(l->notifyCount());
  ASSERT_EQ(signal("burst", std::vector<uint8_t>{0xff, 0xff, 0xff}),
            answer(tolm::kAnswerSignal, 0));
  for (std::size_t i = 0; i < listeners.size(); ++i) {
    EXPECT_TRUE(listeners[i]->waitForNotifications(before[i] + 1, 20s)) << listeners[i]->text();
  }
  stopDaemon();
}

}  // namespace
}  // namespace faults
