#include "tolmd/signaler.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/tolm_wire.h"
#include "tests/support/daemon_process.h"
#include "tests/support/test_listener.h"

namespace tolmd {
namespace {

using namespace std::chrono_literals;

class SignalerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/signaler_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    db_ = std::make_unique<EventDb>(directory_ + "/events.dat");
  }
  void TearDown() override {
    db_.reset();
    std::filesystem::remove_all(directory_);
  }

  void registerListener(const std::string& event, const nvo_test::TestListener& listener) {
    EventDbRec rec(event, listener.addressNetworkOrder(), listener.portNetworkOrder());
    db_->addRec(rec);
  }

  std::string directory_;
  std::unique_ptr<EventDb> db_;
};

const std::vector<uint8_t> kPayload{1, 2, 3};

TEST_F(SignalerTest, QueuedDuplicatesAreAbsorbedWhateverTheirStaggerParameter) {
  Signaler signaler(*db_);  // not started: everything stays queued
  signaler.queueSignal("disk", kPayload, 1, 0);
  signaler.queueSignal("disk", kPayload, 1, 500);
  EXPECT_EQ(signaler.pendingCount(), 1u);
  signaler.queueSignal("disk", std::vector<uint8_t>{1, 2}, 1, 0);
  EXPECT_EQ(signaler.pendingCount(), 2u) << "another payload";
  signaler.queueSignal("disk", kPayload, 2, 0);
  EXPECT_EQ(signaler.pendingCount(), 3u) << "another stagger type";
  signaler.queueSignal(std::string("disk\0", 5), kPayload, 1, 0);
  EXPECT_EQ(signaler.pendingCount(), 4u) << "another name as sent";
}

TEST_F(SignalerTest, DatabaseFailureDuringFanOutReleasesTheLockAndDropsTheSignal) {
  nvo_test::TestListener listener;
  registerListener("disk", listener);
  Signaler signaler(*db_);
  signaler.start();

  db_->close();  // every walk now fails with "Database is not open"
  signaler.queueSignal("disk", kPayload, 0, 0);
  ASSERT_TRUE(nvo_test::waitUntil([&] { return signaler.pendingCount() == 0; }, 10s))
      << "the failed signal is dropped from the queue";
  ASSERT_TRUE(db_->mutex().tryAcquire()) << "the database lock was released";
  db_->mutex().release();
  EXPECT_EQ(listener.notifyCount(), 0u);

  db_->open();
  signaler.queueSignal("disk", kPayload, 0, 0);
  EXPECT_TRUE(listener.waitForNotifications(1, 10s)) << "the Signaler keeps serving";
}

TEST_F(SignalerTest, ShutdownEndsALongTimedPause) {
  nvo_test::TestListener listener;
  registerListener("slow", listener);
  auto signaler = std::make_unique<Signaler>(*db_);
  signaler->start();
  signaler->queueSignal("slow", kPayload, tolm::kStaggerTimed, 3600 * 1000);
  ASSERT_TRUE(listener.waitForNotifications(1, 10s));
  signaler.reset();  // would wait an hour if the pause ignored the stop
  SUCCEED();
}

}  // namespace
}  // namespace tolmd
