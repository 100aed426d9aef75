// FUZZ_CHECK: a property of a fuzz target that must hold for every input. A violation prints
// the failed condition and aborts, which libFuzzer reports as a crash and saves the input.
// Unlike assert() it stays active in every build type.
#ifndef FUZZ_FUZZ_CHECK_H_
#define FUZZ_FUZZ_CHECK_H_

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                           \
  do {                                                                                  \
    if (!(condition)) {                                                                 \
      std::fprintf(stderr, "%s:%d: check failed: %s (errno: %s)\n", __FILE__, __LINE__, \
                   #condition, std::strerror(errno));                                   \
      std::abort();                                                                     \
    }                                                                                   \
  } while (false)

#endif  // FUZZ_FUZZ_CHECK_H_
