// Fuzz target: what a listener program decodes. The input is one packet as it arrives at a
// listener (a NOTIFY from the daemon, or any bytes at all) and, read the other way, the
// 12-byte answer a listener or signalling client gets back from the daemon.
//
// The NOTIFY path is the one tolm-listen takes: header, length bounds, parseNotify, then the
// text it prints (escapeName, formatPayload). A NOTIFY that parses must survive a round trip
// through the daemon's own builder: rebuilding it from what was decoded gives a packet that
// decodes to the same notification.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "client/tools/tool_text.h"
#include "fuzz/fuzz_check.h"
#include "protocol/tolm_wire.h"

namespace {

// The largest NOTIFY body a listener accepts: a 1028-byte name field, a 4096-byte payload and
// the fixed fields.
constexpr int32_t kMaxNotifyBody = 1028 + 4096 + 64;

void checkNotify(const tolm::Notification& notification) {
  const std::vector<uint8_t> rebuilt =
      tolm::buildNotify(notification.name, notification.staggerType, notification.data);
  FUZZ_CHECK(rebuilt.size() == 33 + notification.name.size() + notification.data.size());
  const tolm::Header header =
      tolm::decodeHeader(std::span<const uint8_t, tolm::kHeaderSize>(rebuilt.data(), 12));
  FUZZ_CHECK(header.version == tolm::kProtocolVersion);
  FUZZ_CHECK(header.function == tolm::kFuncNotify);
  FUZZ_CHECK(static_cast<std::size_t>(header.length) == rebuilt.size() - tolm::kHeaderSize);
  const std::span<const uint8_t> body = std::span<const uint8_t>(rebuilt).subspan(12);
  FUZZ_CHECK(tolm::checksumMatches(body));
  tolm::Notification again;
  FUZZ_CHECK(tolm::parseNotify(body, again) == tolm::ParseStatus::kOk);
  FUZZ_CHECK(again.staggerType == notification.staggerType);
  FUZZ_CHECK(again.name == notification.name);
  FUZZ_CHECK(again.data == notification.data);

  // What tolm-listen prints: one line, whatever the bytes.
  const std::string name = vokra::escapeName(notification.name);
  const std::string payload = vokra::formatPayload(notification.data, false);
  FUZZ_CHECK(name.find('\n') == std::string::npos);
  FUZZ_CHECK(payload.find('\n') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> input(data, size);
  if (input.size() < tolm::kHeaderSize) {
    return 0;  // a listener drops a connection that ends inside the header
  }
  const tolm::Header header =
      tolm::decodeHeader(std::span<const uint8_t, tolm::kHeaderSize>(input.data(), 12));
  // As an answer: the words read back exactly as they came, in network order.
  const tolm::HeaderBytes reencoded = tolm::encodeHeader(header);
  FUZZ_CHECK(std::equal(reencoded.begin(), reencoded.end(), input.begin()));

  if (header.function != tolm::kFuncNotify || header.length < 0 || header.length > kMaxNotifyBody) {
    return 0;
  }
  const std::span<const uint8_t> rest = input.subspan(tolm::kHeaderSize);
  if (rest.size() < static_cast<std::size_t>(header.length)) {
    return 0;  // truncated: the listener's read fails first
  }
  tolm::Notification notification;
  const tolm::ParseStatus status =
      tolm::parseNotify(rest.first(static_cast<std::size_t>(header.length)), notification);
  if (status == tolm::ParseStatus::kOk) {
    checkNotify(notification);
  }
  return 0;
}
