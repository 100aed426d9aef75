#include "slp/registration_store.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "slp/message.h"

namespace vslp {
namespace {

using std::chrono::seconds;

RegisterRequest request(const std::string& url, uint16_t lifetime = 300) {
  RegisterRequest r;
  r.url = url;
  r.lang = "en";
  r.serviceType = "service:tolm.x";
  r.scopes = "DEFAULT";
  r.attrs = "(public_key=0)";
  r.lifetime = lifetime;
  r.source = "127.0.0.1";
  return r;
}

class RegistrationStoreTest : public ::testing::Test {
 protected:
  RegistrationStore store_{StoreLimits{}, "DEFAULT"};
  Clock::time_point t0_ = Clock::now();
};

TEST_F(RegistrationStoreTest, FreshRegistrationReplacesTheEarlierOne) {
  ASSERT_EQ(store_.add(request("service:tolm.x://h:1"), t0_), kOk);
  auto again = request("service:tolm.x://h:1", 600);
  again.attrs = "(public_key=1)";
  ASSERT_EQ(store_.add(again, t0_), kOk);
  ASSERT_EQ(store_.size(), 1u);
  EXPECT_EQ(store_.all()[0].attrs.toWire(), "(public_key=1)");
  EXPECT_EQ(store_.all()[0].lifetime, 600);
  auto german = request("service:tolm.x://h:1");
  german.lang = "de";
  ASSERT_EQ(store_.add(german, t0_), kOk);
  EXPECT_EQ(store_.size(), 2u) << "each language is its own registration";
}

TEST_F(RegistrationStoreTest, ChecksRegistrations) {
  struct Case {
    const char* name;
    std::function<void(RegisterRequest&)> change;
    uint16_t code;
  };
  const Case cases[] = {
      {"zero lifetime", [](RegisterRequest& r) { r.lifetime = 0; }, kInvalidRegistration},
      {"URL without scheme", [](RegisterRequest& r) { r.url = "tolm"; }, kInvalidRegistration},
      {"type not the URL's", [](RegisterRequest& r) { r.serviceType = "service:other"; },
       kInvalidRegistration},
      {"bad attributes", [](RegisterRequest& r) { r.attrs = "(a=1"; }, kInvalidRegistration},
      {"URL too long",
       [](RegisterRequest& r) { r.url = "service:tolm.x://" + std::string(5000, 'h'); },
       kInvalidRegistration},
      {"foreign scope", [](RegisterRequest& r) { r.scopes = "DEFAULT,other"; }, kScopeNotSupported},
      {"no scope", [](RegisterRequest& r) { r.scopes = ""; }, kScopeNotSupported},
      {"abstract type of the URL",
       [](RegisterRequest& r) {
         r.url = "service:printer:lpr://p";
         r.serviceType = "service:printer";
       },
       kOk},
      {"non-service URL with its own type",
       [](RegisterRequest& r) {
         r.url = "http://h/x";
         r.serviceType = "service:web";
       },
       kOk},
  };
  for (const Case& c : cases) {
    RegisterRequest r = request("service:tolm.x://h:1");
    c.change(r);
    EXPECT_EQ(store_.add(r, t0_), c.code) << c.name;
  }
}

TEST_F(RegistrationStoreTest, IncrementalUpdateNeedsAMatchingRegistration) {
  auto update = request("service:tolm.x://h:1");
  update.fresh = false;
  update.attrs = "(extra=1)";
  EXPECT_EQ(store_.add(update, t0_), kInvalidUpdate);
  ASSERT_EQ(store_.add(request("service:tolm.x://h:1"), t0_), kOk);
  EXPECT_EQ(store_.add(update, t0_), kOk);
  EXPECT_EQ(store_.all()[0].attrs.toWire(), "(public_key=0),(extra=1)");
  auto otherType = update;
  otherType.url = "service:tolm.x://h:1";
  otherType.serviceType = "service:other";
  EXPECT_EQ(store_.add(otherType, t0_), kInvalidRegistration);
}

TEST_F(RegistrationStoreTest, LifetimesCountDownExceptTheMaximum) {
  ASSERT_EQ(store_.add(request("service:tolm.x://short", 2), t0_), kOk);
  ASSERT_EQ(store_.add(request("service:tolm.x://forever", kLifetimeForever), t0_), kOk);
  EXPECT_EQ(store_.all()[0].remaining(t0_ + seconds(1)), 1);
  EXPECT_EQ(store_.expire(t0_ + seconds(1)), 0u);
  EXPECT_EQ(store_.expire(t0_ + seconds(2)), 1u);
  EXPECT_EQ(store_.expire(t0_ + seconds(1000000)), 0u);
  ASSERT_EQ(store_.size(), 1u);
  EXPECT_EQ(store_.all()[0].remaining(t0_ + seconds(1000000)), kLifetimeForever);
}

TEST_F(RegistrationStoreTest, DeregistersUrlsAndAttributes) {
  auto r = request("service:tolm.x://h:1");
  r.attrs = "(a=1),(b=2),(c=3)";
  ASSERT_EQ(store_.add(r, t0_), kOk);
  auto german = r;
  german.lang = "de";
  ASSERT_EQ(store_.add(german, t0_), kOk);
  EXPECT_EQ(store_.remove("service:tolm.x://unknown", "en", "DEFAULT", ""), kInvalidRegistration);
  EXPECT_EQ(store_.remove(r.url, "en", "other", ""), kScopeNotSupported);
  EXPECT_EQ(store_.remove(r.url, "en", "DEFAULT", "a,c"), kOk);
  EXPECT_EQ(store_.all()[0].attrs.toWire(), "(b=2)");
  EXPECT_EQ(store_.all()[1].attrs.toWire(), "(a=1),(b=2),(c=3)") << "other language untouched";
  EXPECT_EQ(store_.remove(r.url, "en", "default", ""), kOk);
  EXPECT_EQ(store_.size(), 0u) << "every language removed";
}

TEST_F(RegistrationStoreTest, BoundsRegistrationsPerHostAndInTotal) {
  RegistrationStore small(StoreLimits{3, 2, 4096, 16384}, "DEFAULT");
  ASSERT_EQ(small.add(request("service:tolm.x://a"), t0_), kOk);
  ASSERT_EQ(small.add(request("service:tolm.x://b"), t0_), kOk);
  EXPECT_EQ(small.add(request("service:tolm.x://c"), t0_), kInternalError) << "per host";
  EXPECT_EQ(small.add(request("service:tolm.x://a"), t0_), kOk) << "replacing is no new entry";
  auto other = request("service:tolm.x://d");
  other.source = "127.0.0.2";
  EXPECT_EQ(small.add(other, t0_), kOk);
  other.url = "service:tolm.x://e";
  EXPECT_EQ(small.add(other, t0_), kInternalError) << "in total";
}

TEST_F(RegistrationStoreTest, WithdrawsRegistrationsOfEndedProcesses) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  auto bound = request("service:tolm.x://bound");
  bound.process = captureProcess(child);
  ASSERT_TRUE(bound.process);
  auto mine = request("service:tolm.x://mine");
  mine.process = captureProcess(::getpid());
  ASSERT_EQ(store_.add(bound, t0_), kOk);
  ASSERT_EQ(store_.add(mine, t0_), kOk);
  ASSERT_EQ(store_.add(request("service:tolm.x://unbound"), t0_), kOk);
  EXPECT_EQ(store_.withdrawDead(processAlive), 0u);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(store_.withdrawDead(processAlive), 1u);
  ASSERT_EQ(store_.size(), 2u);
  EXPECT_EQ(store_.all()[0].url, "service:tolm.x://mine");
}

TEST(ProcessWatchTest, RecognisesRecycledAndZombieProcesses) {
  auto me = captureProcess(::getpid());
  ASSERT_TRUE(me);
  EXPECT_TRUE(processAlive(*me));
  ProcessRef recycled = *me;
  recycled.startTime += 1;
  EXPECT_FALSE(processAlive(recycled));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::_exit(0);
  }
  auto ref = captureProcess(child);  // may already be a zombie
  siginfo_t info{};
  ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
  EXPECT_FALSE(captureProcess(child)) << "a zombie is no running process";
  if (ref) {
    EXPECT_FALSE(processAlive(*ref));
  }
  ::waitpid(child, nullptr, 0);
  EXPECT_FALSE(captureProcess(0));
  EXPECT_FALSE(captureProcess(-5));
}

}  // namespace
}  // namespace vslp
