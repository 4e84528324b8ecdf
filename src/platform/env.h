// The platform layer: everything the driver needs from the operating system,
// behind one small interface so that tests can fake a clock, a locked file or a
// failing read without waiting.
//
// The core never calls the operating system directly: whoever creates a
// Driver hands it the Env to use (NewSystemEnv() for the real one).
#ifndef TALVO_PLATFORM_ENV_H_
#define TALVO_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <memory>
#include <string_view>

#include "util/calendar.h"

namespace talvo {

// System error codes the layer reports, with their Windows numbering, so that
// both builds tell the same story.
inline constexpr uint32_t kErrorNone = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorMoreData = 234;

// Result of one profile-file read.
struct ProfileResult {
  std::string value;       // the value, or the default; at most size-1 characters
  uint32_t last_error = 0; // 0 on success, kErrorFileNotFound when the default was used,
                           // kErrorMoreData when cut, any other code on failure
};

// Result of reading a file while refusing writers.
struct SharedReadResult {
  uint32_t error = 0;  // 0 when the file was opened; otherwise the open's error code
  std::string bytes;   // what was read (possibly less than asked when a read failed)
};

class Env {
 public:
  virtual ~Env() = default;

  // Reads `key` of `section` from the profile file `file`, as the platform's
  // profile functions do: the value, or `default_value` (trailing spaces removed)
  // when the file, section or key is missing. The result holds at most
  // `size` - 1 characters. REQUIRES: size >= 1.
  virtual ProfileResult ReadProfileString(std::string_view file, std::string_view section,
                                          std::string_view key, std::string_view default_value,
                                          std::size_t size) = 0;

  // Asks the platform to drop any cached copy of the profile file.
  virtual void FlushProfile(std::string_view file) = 0;

  // Opens `path` for reading while refusing writers and reads up to
  // `max_bytes` bytes in one read. A writer holding the file gives
  // kErrorSharingViolation (a transient refusal worth retrying).
  virtual SharedReadResult ReadFileShared(std::string_view path, std::size_t max_bytes) = 0;

  // Today's date by the local clock.
  virtual LocalDate Today() = 0;

  // Pauses the calling thread.
  virtual void SleepMs(uint32_t milliseconds) = 0;
};

// The real platform of this build. It holds no state of its own: any number
// may exist at once.
std::unique_ptr<Env> NewSystemEnv();

}  // namespace talvo

#endif  // TALVO_PLATFORM_ENV_H_
