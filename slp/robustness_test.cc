// Fuzz-style robustness: thousands of random and mutated messages at a running vslpd over
// UDP (unicast and multicast) and TCP. It must keep answering correctly, and every answer it
// sends must be a well-formed reply no larger than the MTU.
#include <poll.h>

#include <memory>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "slp/client.h"
#include "slp/codec.h"
#include "slp/tcp_exchange.h"
#include "slp/test_support.h"

namespace vslp {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLoopback = 0x7f000001;
constexpr uint32_t kOwn = 0xc0000201;
constexpr uint32_t kGroup = 0xeffffffd;

std::vector<Bytes> seedMessages() {
  Header h{0, 100, "en", {}};
  Header ext{
      kFlagFresh, 101, "en", {Extension{kPidWatchExtension, {0, 0, 0, 1}}, Extension{1, {7}}}};
  std::vector<Message> m = {
      {h, SrvRqst{"", "service:known.x", "DEFAULT", "(public_key=0)", ""}},
      {h, SrvRqst{"192.0.2.7", "service:service-agent", "", "(&(a=1)(|(b=*)(!(c<=3))))", ""}},
      {h, SrvRqst{"", "service:directory-agent", "DEFAULT", "", ""}},
      {ext, SrvReg{UrlEntry{60, "service:fuzz.x://h:1", {AuthBlock{2, 1, "s", {1, 2}}}},
                   "service:fuzz.x",
                   "DEFAULT",
                   "(a=1),(b=x\\2cy),k",
                   {}}},
      {h, SrvDeReg{"DEFAULT", UrlEntry{0, "service:fuzz.x://h:1", {}}, "a"}},
      {h, AttrRqst{"", "service:known.x://192.0.2.1:1", "DEFAULT", "pub*", ""}},
      {h, AttrRqst{"", "known.x", "DEFAULT", "", ""}},
      {h, SrvTypeRqst{"", std::nullopt, "DEFAULT"}},
      {h, SrvTypeRqst{"", std::string("x"), "DEFAULT"}},
      {h, SrvRply{0, {UrlEntry{1, "service:x://h", {}}}}},
      {h, DaAdvert{0, 1, "service:directory-agent://1.2.3.4", "DEFAULT", "", "", {}}},
      {h, SaAdvert{"service:service-agent://1.2.3.4", "DEFAULT", "", {}}},
  };
  std::vector<Bytes> out;
  for (const Message& msg : m) {
    out.push_back(encode(msg));
  }
  return out;
}

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : rng_(seed), seeds_(seedMessages()) {}

  Bytes next() {
    if (pick(4) == 0) {
      Bytes b(pick(1500));
      for (uint8_t& x : b) {
        x = static_cast<uint8_t>(pick(256));
      }
      if (b.size() > 5 && pick(2) == 0) {
        b[0] = 2;  // get past the version check more often
      }
      return b;
    }
    Bytes b = seeds_[pick(seeds_.size())];
    int rounds = 1 + static_cast<int>(pick(4));
    for (int i = 0; i < rounds && !b.empty(); ++i) {
      mutateOnce(b);
    }
    if (b.size() >= 5 && pick(2) == 0) {
      setLength(b, b.size());  // a consistent Length reaches the body parsers
    }
    return b;
  }

 private:
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  static void setLength(Bytes& b, size_t n) {
    b[2] = static_cast<uint8_t>(n >> 16);
    b[3] = static_cast<uint8_t>(n >> 8);
    b[4] = static_cast<uint8_t>(n);
  }

  void mutateOnce(Bytes& b) {
    switch (pick(6)) {
      case 0:
        b[pick(b.size())] ^= static_cast<uint8_t>(1u << pick(8));
        break;
      case 1:
        b.resize(pick(b.size()));
        break;
      case 2:
        for (size_t i = pick(64); i > 0; --i) {
          b.push_back(static_cast<uint8_t>(pick(256)));
        }
        break;
      case 3:
        if (b.size() > 2) {
          size_t at = pick(b.size() - 1);
          b[at] = 0xff;
          b[at + 1] = static_cast<uint8_t>(pick(256));
        }
        break;
      case 4:
        if (b.size() > 10) {
          b[7] = 0;
          b[8] = static_cast<uint8_t>(pick(256));
          b[9] = static_cast<uint8_t>(pick(256));
        }
        break;
      default:
        b[pick(b.size())] = static_cast<uint8_t>(pick(256));
        break;
    }
  }

  std::mt19937 rng_;
  std::vector<Bytes> seeds_;
};

// Checks every datagram waiting on `fd`: a decodable reply within the MTU.
void checkReplies(int fd, size_t& replies) {
  for (int i = 0; i < 1000; ++i) {
    auto d = receiveDatagram(fd, 65535);
    if (!d) {
      return;
    }
    ++replies;
    EXPECT_LE(d->data.size(), 1400u);
    DecodeResult r = decode(d->data);
    ASSERT_TRUE(r.message) << "daemon sent an undecodable datagram: " << r.reason;
    Function f = r.message->function();
    EXPECT_TRUE(f == Function::kSrvRply || f == Function::kSrvAck || f == Function::kAttrRply ||
                f == Function::kSrvTypeRply || f == Function::kSaAdvert)
        << int(f);
  }
}

TEST(RobustnessTest, DaemonKeepsAnsweringThroughRandomAndMutatedMessages) {
  if (!testing::inSandbox()) {
    GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (own network namespace)";
  }
  testing::TempDir dir;
  std::string config = dir.write("vslp.conf", testing::testConfig());
  ::setenv("VSLP_CONF", config.c_str(), 1);
  testing::DaemonChild daemon(config);
  Client client("en", ClientSettings::from(Properties::load()));
  SLPError answer = SLP_INTERNAL_SYSTEM_ERROR;
  ASSERT_EQ(client.registerService("service:known.x://192.0.2.1:1", 65535, "", "(public_key=0)",
                                   true, [&](SLPError e) { answer = e; }),
            SLP_OK);
  ASSERT_EQ(answer, SLP_OK);

  const uint32_t seed = 20240607;
  RecordProperty("seed", static_cast<int>(seed));
  Mutator mutator(seed);
  UniqueFd udp = openSocket(SOCK_DGRAM);
  setMulticastInterface(udp.get(), kOwn);
  const Endpoint targets[] = {{kLoopback, 427}, {kOwn, 427}, {kGroup, 427}};
  size_t replies = 0;
  for (int i = 0; i < 4000; ++i) {
    sendDatagram(udp.get(), mutator.next(), targets[i % 3], 0);
    if (i % 50 == 49) {
      std::vector<pollfd> fds{{udp.get(), POLLIN, 0}};
      pollFor(fds, 20ms);
      checkReplies(udp.get(), replies);
    }
  }
  std::this_thread::sleep_for(200ms);
  checkReplies(udp.get(), replies);
  EXPECT_GT(replies, 100u) << "the daemon answers what it can";

  for (int i = 0; i < 300; ++i) {
    Bytes message = mutator.next();
    Endpoint to = i % 2 == 0 ? Endpoint{kLoopback, 427} : Endpoint{kOwn, 427};
    if (i % 6 != 0) {
      // Fire and forget: the daemon must cope with data followed by an abrupt close.
      UniqueFd fd = openSocket(SOCK_STREAM);
      try {
        startConnect(fd.get(), to);
        std::vector<pollfd> fds{{fd.get(), POLLOUT, 0}};
        pollFor(fds, 200ms);
        writeSome(fd.get(), message.data(), message.size());
      } catch (const SocketError&) {
        // A reset connection is as good a test as any.
      }
      continue;
    }
    int error = 0;
    auto reply = TcpExchange::run(to, message, 300ms, error);
    if (reply) {
      DecodeResult r = decode(*reply);
      EXPECT_TRUE(r.message) << "daemon sent an undecodable TCP reply: " << r.reason;
    }
  }

  ASSERT_TRUE(daemon.running());
  std::vector<std::string> found;
  ASSERT_EQ(client.findServices("known.x", "", "",
                                [&](const char* url, unsigned short, SLPError e) {
                                  if (e == SLP_OK) {
                                    found.emplace_back(url);
                                  }
                                  return SLP_TRUE;
                                }),
            SLP_OK);
  EXPECT_EQ(found, std::vector<std::string>{"service:known.x://192.0.2.1:1"});
  answer = SLP_INTERNAL_SYSTEM_ERROR;
  ASSERT_EQ(client.registerService("service:after.x://h:1", 60, "", "", true,
                                   [&](SLPError e) { answer = e; }),
            SLP_OK);
  EXPECT_EQ(answer, SLP_OK);
  Message rq{Header{0, 31337, "en", {}}, SrvRqst{"", "service:after.x", "DEFAULT", "", ""}};
  auto direct = testing::udpExchange(encode(rq), Endpoint{kLoopback, 427}, 2s);
  ASSERT_TRUE(direct);
  DecodeResult d = decode(*direct);
  ASSERT_TRUE(d.message);
  EXPECT_EQ(d.message->header.xid, 31337);
  EXPECT_EQ(std::get<SrvRply>(d.message->body).urls.size(), 1u);
}

}  // namespace
}  // namespace vslp
