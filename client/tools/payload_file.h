// Reading an event payload for tolm-signal from a file or from standard input.
#ifndef CLIENT_TOOLS_PAYLOAD_FILE_H_
#define CLIENT_TOOLS_PAYLOAD_FILE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vokra {

// Payloads beyond this size are refused: the daemon accepts at most 4096 bytes per request,
// and the cap keeps a mistaken path such as /dev/zero from exhausting memory.
inline constexpr std::size_t kMaxPayloadFileSize = 1024 * 1024;

// The bytes of the file at `path`, or of standard input when `path` is "-". nullopt when the
// file cannot be read or holds more than kMaxPayloadFileSize bytes; `error` then says why.
std::optional<std::vector<uint8_t>> readPayloadFile(const std::string& path, std::string* error);

}  // namespace vokra

#endif  // CLIENT_TOOLS_PAYLOAD_FILE_H_
