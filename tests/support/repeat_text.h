// repeat: `piece` written `times` times in a row, for documents nested or long on purpose.
#ifndef TESTS_SUPPORT_REPEAT_TEXT_H_
#define TESTS_SUPPORT_REPEAT_TEXT_H_

#include <cstddef>
#include <string>

namespace nvo_test {

inline std::string repeat(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) {
    out += piece;
  }
  return out;
}

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_REPEAT_TEXT_H_
