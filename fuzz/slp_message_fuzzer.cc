// Fuzz target: every SLPv2 message decoder, and the service agent's handling of a request.
//
// The input is one message as it arrives by UDP or TCP. It is decoded as it is, and again
// with its Length field set to the input's size, so most inputs get past the length test and
// into the decoder of the message type they name. Whatever decodes must survive a round trip:
// encoding the decoded message and decoding that gives the same message. The patched input is
// also handed to the agent (vslpd's request handling), with a store that lives across inputs;
// any reply it gives must decode, and over UDP must fit the MTU.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "slp/agent.h"
#include "slp/codec.h"
#include "slp/message.h"
#include "slp/registration_store.h"
#include "slp/settings.h"

namespace {

constexpr uint32_t kLoopback = 0x7f000001;
constexpr uint32_t kOwn = 0xc0000201;     // 192.0.2.1
constexpr uint32_t kRemote = 0xc0000202;  // 192.0.2.2

void checkRoundTrip(std::span<const uint8_t> bytes) {
  const vslp::DecodeResult decoded = vslp::decode(bytes);
  if (!decoded.message) {
    FUZZ_CHECK(decoded.error != vslp::kOk);
    return;
  }
  const std::vector<uint8_t> encoded = vslp::encode(*decoded.message);
  const vslp::DecodeResult again = vslp::decode(encoded);
  FUZZ_CHECK(again.message.has_value());
  FUZZ_CHECK(*again.message == *decoded.message);
}

struct AgentHarness {
  vslp::DaemonSettings settings;
  vslp::RegistrationStore store{vslp::StoreLimits{}, "DEFAULT"};
  vslp::Agent agent{settings, store};
  vslp::Clock::time_point now = vslp::Clock::now();
  AgentHarness() { agent.setOwnAddresses({kLoopback, kOwn}); }
};

// Where the request came from, chosen by the input's last byte so the fuzzer can steer it.
vslp::RequestContext contextFor(uint8_t selector) {
  const bool local = (selector & 1) != 0;
  const bool tcp = (selector & 2) != 0;
  const bool multicast = !tcp && (selector & 4) != 0;
  const uint32_t from = local ? kLoopback : kRemote;
  return vslp::RequestContext{{from, 40000}, local ? kLoopback : kOwn, multicast, tcp, local};
}

void checkAgent(std::span<const uint8_t> bytes) {
  static AgentHarness* harness = new AgentHarness;
  harness->now += std::chrono::seconds(7);  // registrations age and expire across inputs
  harness->store.expire(harness->now);
  const vslp::RequestContext ctx = contextFor(bytes.empty() ? 0 : bytes.back());
  const auto reply = harness->agent.handle(bytes, ctx, harness->now);
  if (!reply) {
    return;
  }
  if (!ctx.tcp) {
    FUZZ_CHECK(reply->bytes.size() <= harness->settings.mtu);
    FUZZ_CHECK(!reply->endsExchange);  // only a TCP exchange is ended by the agent
  }
  const vslp::DecodeResult decoded = vslp::decode(reply->bytes);
  FUZZ_CHECK(decoded.message.has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> input(data, size);
  checkRoundTrip(input);
  if (size < 5 || size > 0xFFFFFF) {
    return 0;
  }
  std::vector<uint8_t> patched(input.begin(), input.end());
  patched[2] = static_cast<uint8_t>(size >> 16);
  patched[3] = static_cast<uint8_t>(size >> 8);
  patched[4] = static_cast<uint8_t>(size);
  FUZZ_CHECK(vslp::peekLength(patched).value_or(size) == size);
  checkRoundTrip(patched);
  checkAgent(patched);
  return 0;
}
