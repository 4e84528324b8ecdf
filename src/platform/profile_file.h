// Reading one value out of the text of a profile (INI) file, the way the
// Windows profile functions read it. Pure: works on bytes already in memory.
#ifndef TALVO_PLATFORM_PROFILE_FILE_H_
#define TALVO_PLATFORM_PROFILE_FILE_H_

#include <optional>
#include <string>
#include <string_view>

namespace talvo {

// Looks up `key` in the first section named `section` of `content`.
// Returns the value (blanks trimmed, one pair of matching quotes removed), or
// nothing when the section or the key is missing. Names compare without regard
// to ASCII letter case; spaces around the names passed in are ignored.
std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key);

}  // namespace talvo

#endif  // TALVO_PLATFORM_PROFILE_FILE_H_
