// Fuzz target: nvo-enrol's reading of whatever the agent (or anything posing as it) sent before
// closing. Each input is the bytes received. An answer must be exactly what the agent's own
// encoder makes of its text, a refusal exactly the four 0xFF bytes; everything else is
// incomplete or malformed, and never reads past the input.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "brenxd/request_codec.h"
#include "brenxd/tools/enrol_answer.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> received(data, size);
  const brenxd::EnrolAnswer answer = brenxd::readAnswer(received);
  const std::vector<uint8_t> bytes(received.begin(), received.end());
  switch (answer.kind) {
    case brenxd::EnrolAnswer::Kind::kAnswer:
      FUZZ_CHECK(brenxd::encodeAnswer(answer.text) == bytes);
      FUZZ_CHECK(answer.text.size() <= brenxd::kMaxAnswerText);
      break;
    case brenxd::EnrolAnswer::Kind::kRefused:
      FUZZ_CHECK(bytes == std::vector<uint8_t>(brenxd::kRefusal.begin(), brenxd::kRefusal.end()));
      break;
    case brenxd::EnrolAnswer::Kind::kIncomplete:
    case brenxd::EnrolAnswer::Kind::kMalformed:
      FUZZ_CHECK(answer.text.empty());
      break;
  }
  return 0;
}
