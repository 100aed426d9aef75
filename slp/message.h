// The SLPv2 messages of RFC 2608 as plain values. Decoded messages own all their data, so
// nothing points into a receive buffer. Function ids, flags, error codes and the extension
// ids this implementation knows are defined here.
#ifndef SLP_MESSAGE_H_
#define SLP_MESSAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vslp {

inline constexpr uint8_t kVersion = 2;
inline constexpr uint16_t kDefaultPort = 427;
inline constexpr const char* kMulticastGroup = "239.255.255.253";

enum class Function : uint8_t {
  kSrvRqst = 1,
  kSrvRply = 2,
  kSrvReg = 3,
  kSrvDeReg = 4,
  kSrvAck = 5,
  kAttrRqst = 6,
  kAttrRply = 7,
  kDaAdvert = 8,
  kSrvTypeRqst = 9,
  kSrvTypeRply = 10,
  kSaAdvert = 11,
};

inline constexpr uint16_t kFlagOverflow = 0x8000;
inline constexpr uint16_t kFlagFresh = 0x4000;
inline constexpr uint16_t kFlagMcast = 0x2000;
inline constexpr uint16_t kFlagsReserved = 0x1fff;

// Protocol error codes (RFC 2608 section 7).
enum ErrorCode : uint16_t {
  kOk = 0,
  kLanguageNotSupported = 1,
  kParseError = 2,
  kInvalidRegistration = 3,
  kScopeNotSupported = 4,
  kAuthenticationUnknown = 5,
  kAuthenticationAbsent = 6,
  kAuthenticationFailed = 7,
  kVerNotSupported = 9,
  kInternalError = 10,
  kDaBusyNow = 11,
  kOptionNotUnderstood = 12,
  kInvalidUpdate = 13,
  kMsgNotSupported = 14,
  kRefreshRejected = 15,
};

// Extension carrying the registering process id (4 bytes, big-endian), as other SLP
// implementations send it with every SrvReg.
inline constexpr uint16_t kPidWatchExtension = 0x9799;

struct Extension {
  uint16_t id = 0;
  std::vector<uint8_t> data;
  bool operator==(const Extension&) const = default;
};

struct Header {
  uint16_t flags = 0;
  uint16_t xid = 0;
  std::string lang = "en";
  std::vector<Extension> extensions;
  bool operator==(const Header&) const = default;
};

struct AuthBlock {
  uint16_t bsd = 0;
  uint32_t timestamp = 0;
  std::string spi;
  std::vector<uint8_t> data;
  bool operator==(const AuthBlock&) const = default;
};

struct UrlEntry {
  uint16_t lifetime = 0;
  std::string url;
  std::vector<AuthBlock> auths;
  bool operator==(const UrlEntry&) const = default;
};

struct SrvRqst {
  std::string prList, serviceType, scopes, predicate, spi;
  bool operator==(const SrvRqst&) const = default;
};
struct SrvRply {
  uint16_t error = 0;
  std::vector<UrlEntry> urls;
  bool operator==(const SrvRply&) const = default;
};
struct SrvReg {
  UrlEntry entry;
  std::string serviceType, scopes, attrs;
  std::vector<AuthBlock> attrAuths;
  bool operator==(const SrvReg&) const = default;
};
struct SrvDeReg {
  std::string scopes;
  UrlEntry entry;
  std::string tags;
  bool operator==(const SrvDeReg&) const = default;
};
struct SrvAck {
  uint16_t error = 0;
  bool operator==(const SrvAck&) const = default;
};
struct AttrRqst {
  std::string prList, url, scopes, tags, spi;
  bool operator==(const AttrRqst&) const = default;
};
struct AttrRply {
  uint16_t error = 0;
  std::string attrs;
  std::vector<AuthBlock> auths;
  bool operator==(const AttrRply&) const = default;
};
struct DaAdvert {
  uint16_t error = 0;
  uint32_t bootTimestamp = 0;
  std::string url, scopes, attrs, spiList;
  std::vector<AuthBlock> auths;
  bool operator==(const DaAdvert&) const = default;
};
struct SrvTypeRqst {
  std::string prList;
  std::optional<std::string> namingAuthority;  // empty optional: all authorities (0xFFFF)
  std::string scopes;
  bool operator==(const SrvTypeRqst&) const = default;
};
struct SrvTypeRply {
  uint16_t error = 0;
  std::string types;
  bool operator==(const SrvTypeRply&) const = default;
};
struct SaAdvert {
  std::string url, scopes, attrs;
  std::vector<AuthBlock> auths;
  bool operator==(const SaAdvert&) const = default;
};

// Alternatives in function-id order: index + 1 is the function id.
using Body = std::variant<SrvRqst, SrvRply, SrvReg, SrvDeReg, SrvAck, AttrRqst, AttrRply, DaAdvert,
                          SrvTypeRqst, SrvTypeRply, SaAdvert>;

struct Message {
  Header header;
  Body body;
  bool operator==(const Message&) const = default;
  Function function() const { return static_cast<Function>(body.index() + 1); }
};

}  // namespace vslp

#endif  // SLP_MESSAGE_H_
