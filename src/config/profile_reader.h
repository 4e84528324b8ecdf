// Reading the settings file one value at a time, with retries.
//
// The settings file is a profile (INI) file: sections in square brackets, then
// key=value lines. A read of it can fail for a moment (the file being replaced
// by an editor, a network share that stalls), so a read that fails is tried
// again after a short pause. The driver only ever reads the file.
//
// Every text handed to the platform (file name, section, key, default) is taken
// up to its first NUL and cut to kProfileTextMax characters, the most a
// profile buffer of kProfileBufferSize bytes holds; a value read back is at
// most kProfileTextMax characters as well.
#ifndef TALVO_CONFIG_PROFILE_READER_H_
#define TALVO_CONFIG_PROFILE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace talvo {

inline constexpr std::size_t kProfileBufferSize = 2048;
inline constexpr std::size_t kProfileTextMax = kProfileBufferSize - 1;

// A read that fails is tried at most this many times, with this pause after
// each failed attempt (about 2 seconds in all).
inline constexpr int kProfileReadAttempts = 20;
inline constexpr uint32_t kProfileRetryPauseMs = 100;

// A retrying reader on one profile file, through `env`. It lives for one
// read: every destruction asks the platform to drop its cached copy of the
// file, so the next reader sees the file as it is then. Not for use by two
// threads at once.
class ProfileReader {
 public:
  ProfileReader(Env& env, std::string_view file_name);
  ~ProfileReader();  // flushes the platform's cached copy of the file
  ProfileReader(const ProfileReader&) = delete;
  ProfileReader& operator=(const ProfileReader&) = delete;

  const std::string& FileName() const { return file_name_; }

  // The value of `key` in `section`, or `default_value` when the file, the
  // section or the key is missing. An attempt counts as failed only when the
  // platform reports an error, gives back an empty text, and the default is
  // not empty; so a read with an empty default is made exactly once. After
  // kProfileReadAttempts failed attempts the result is the default.
  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view default_value);

  // The value as a 32-bit signed integer: decimal, or hexadecimal written with
  // a leading "$", "0x" or "0X"; leading blanks and a sign are allowed. Any
  // other text (empty, trailing characters, out of range) gives
  // `default_value`. Read with an empty default, so never tried again.
  int32_t ReadNumber(std::string_view section, std::string_view key, int32_t default_value);

  // A yes/no switch. The whole value counts, in any letter case: with
  // `default_flag` true the result is true unless the value is "N"; with
  // `default_flag` false it is true only if the value is "Y". So "YES" is not
  // yes and "NO" is not no, and an empty value gives the default.
  bool ReadYesNo(std::string_view section, std::string_view key, bool default_flag);

 private:
  Env& env_;
  std::string file_name_;
};

// One-shot reads: each opens a reader on `file`, reads one key and releases
// the reader (flushing the platform's copy of the file) on every path.
bool ReadSettingYesNo(Env& env, std::string_view section, std::string_view key, bool default_flag,
                      std::string_view file);
std::string ReadSettingText(Env& env, std::string_view section, std::string_view key, std::string_view file);
int32_t ReadSettingNumber(Env& env, std::string_view section, std::string_view key, std::string_view file);

}  // namespace talvo

#endif  // TALVO_CONFIG_PROFILE_READER_H_
