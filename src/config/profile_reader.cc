#include "config/profile_reader.h"

#include <utility>

#include "util/text.h"

namespace talvo {
namespace {

// What a zero-terminated profile buffer would hold of `text`: the characters
// before the first NUL, at most kProfileTextMax of them.
std::string_view BufferText(std::string_view text) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  return text.substr(0, kProfileTextMax);
}

}  // namespace

ProfileReader::ProfileReader(Env& env, std::string_view file_name) : env_(env), file_name_(BufferText(file_name)) {}

ProfileReader::~ProfileReader() {
  try {
    env_.FlushProfile(file_name_);
  } catch (...) {
    // Dropping a cached copy is a courtesy to the next reader; never a failure.
  }
}

std::string ProfileReader::ReadText(std::string_view section, std::string_view key,
                                    std::string_view default_value) {
  section = BufferText(section);
  key = BufferText(key);
  default_value = BufferText(default_value);
  int failed = 0;
  for (;;) {
    ProfileResult read =
        env_.ReadProfileString(file_name_, section, key, default_value, kProfileBufferSize);
    // Success, something to use, or nothing better to fall back on: done.
    if (read.last_error == kErrorNone || !read.value.empty() || default_value.empty()) {
      if (read.value.size() > kProfileTextMax) read.value.resize(kProfileTextMax);
      return std::move(read.value);
    }
    env_.SleepMs(kProfileRetryPauseMs);
    if (++failed == kProfileReadAttempts) return std::string(default_value);
  }
}

int32_t ProfileReader::ReadNumber(std::string_view section, std::string_view key,
                                  int32_t default_value) {
  std::string text = ReadText(section, key, {});
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.replace(0, 2, "$");
  }
  const IntegerParse parsed = ParseInteger(text);
  return parsed.error_pos == 0 ? parsed.value : default_value;
}

bool ProfileReader::ReadYesNo(std::string_view section, std::string_view key, bool default_flag) {
  if (default_flag) return UpperText(ReadText(section, key, "Y")) != "N";
  return UpperText(ReadText(section, key, "N")) == "Y";
}

bool ReadSettingYesNo(Env& env, std::string_view section, std::string_view key, bool default_flag,
                      std::string_view file) {
  ProfileReader reader(env, file);
  return reader.ReadYesNo(section, key, default_flag);
}

std::string ReadSettingText(Env& env, std::string_view section, std::string_view key, std::string_view file) {
  ProfileReader reader(env, file);
  return reader.ReadText(section, key, {});
}

int32_t ReadSettingNumber(Env& env, std::string_view section, std::string_view key, std::string_view file) {
  ProfileReader reader(env, file);
  return reader.ReadNumber(section, key, 0);
}

}  // namespace talvo
