// The workstation's reading of the agent's reply, as a pure function of the bytes received
// until the agent closed the connection (or the time ran out).
#ifndef BRENXD_TOOLS_ENROL_ANSWER_H_
#define BRENXD_TOOLS_ENROL_ANSWER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace brenxd {

// Longest authentication text a workstation takes (the gateway's own document limit).
inline constexpr std::size_t kMaxAnswerText = 1024 * 1024;

struct EnrolAnswer {
  enum class Kind {
    kIncomplete,  // fewer bytes than the reply announces (a dropped connection)
    kRefused,     // the four 0xFF bytes
    kAnswer,      // the authentication text in `text`
    kMalformed,   // a length of 0 or above the limit, bytes beyond the reply, no final NUL, or
                  // a NUL inside the text
  } kind;
  std::string text;
};

EnrolAnswer readAnswer(std::span<const uint8_t> received);

}  // namespace brenxd

#endif  // BRENXD_TOOLS_ENROL_ANSWER_H_
