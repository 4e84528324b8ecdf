// Checks inside a fuzz target. A failed check prints
// "<target>: check failed: <condition>" and aborts, which libFuzzer reports
// as a crash, saving the input; fuzz/run looks for that text.
//
// A target defines `constexpr char kFuzzTarget[]` (its binary's name) where
// FUZZ_CHECK is used.
#ifndef TALVO_FUZZ_FUZZ_CHECK_H_
#define TALVO_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

namespace talvo::fuzz {

[[noreturn]] inline void CheckFailed(const char* target, const char* condition) {
  std::fprintf(stderr, "%s: check failed: %s\n", target, condition);
  std::abort();
}

}  // namespace talvo::fuzz

#define FUZZ_CHECK(cond)                                                 \
  do {                                                                   \
    if (!(cond)) ::talvo::fuzz::CheckFailed(kFuzzTarget, #cond);         \
  } while (0)

#endif  // TALVO_FUZZ_FUZZ_CHECK_H_
