#include "outside/random_number.h"

#include <errno.h>
#include <string.h>

#include <cstdint>
#include <string>
#include <utility>

#include <sys/random.h>

#include "outside/base_exception.h"

namespace teska {
namespace {

// Draws before giving up on a kernel source that keeps being interrupted.
constexpr int kMaxInterruptedDraws = 100;

uint32_t nextWord() {
  uint32_t word = 0;
  for (int attempt = 0; attempt < kMaxInterruptedDraws; ++attempt) {
    const ssize_t n = getrandom(&word, sizeof word, 0);
    if (n == static_cast<ssize_t>(sizeof word)) {
      return word;
    }
    if (n < 0 && errno != EINTR) {
      char buffer[128];
      throw BaseException("getrandom", std::string("RandomNumber::getNextNumber - getrandom: ") +
                                           strerror_r(errno, buffer, sizeof buffer));
    }
    // Interrupted or short (neither happens for 4 bytes once the pool is ready): draw again.
  }
  throw BaseException("getrandom", "RandomNumber::getNextNumber - getrandom: interrupted");
}

}  // namespace

RandomNumber::RandomNumber(int low, int high) : low_(low), high_(high) {
  if (low_ > high_) {
    std::swap(low_, high_);
  }
}

int RandomNumber::getNextNumber() {
  const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high_) - low_) + 1;
  // Words at or above `limit` would favour the low end of the range (modulo bias), so they are
  // drawn again; fewer than half of all words are ever rejected.
  const uint64_t limit = (uint64_t{1} << 32) - ((uint64_t{1} << 32) % span);
  uint64_t word = nextWord();
  while (word >= limit) {
    word = nextWord();
  }
  return static_cast<int>(static_cast<int64_t>(low_) + static_cast<int64_t>(word % span));
}

}  // namespace teska
