// Filling a handle's DriverSettings from section "pbx" of a settings file.
//
// Every key has a default and every limit is applied silently: a missing file,
// a missing key or a value that does not parse gives the default, never an
// error. The file is read afresh on every load, one key at a time, so a file
// changed between two loads is seen by the second.
#ifndef TALVO_CONFIG_LOAD_SETTINGS_H_
#define TALVO_CONFIG_LOAD_SETTINGS_H_

#include <cstdint>
#include <string_view>

#include "config/driver_settings.h"
#include "platform/env.h"

namespace talvo {

// The section of the settings file that holds the report layout.
inline constexpr std::string_view kSettingsSection = "pbx";

// The highest line a position may name; a call spans at most this many lines.
inline constexpr uint8_t kMaxCallLines = 6;

// Reads the position `key` of section "pbx", written "column;line" ("12;2"),
// or "column" alone for line 1. Only the first 20 characters of the value
// count, and at most 10 of them after the ";". Each number is TextToIntDef of
// its part (0 when not an integer) and kept as its low 8 bits. The line
// becomes 1 when it is 0 or above 6, or when the column is 0. When
// `line_count` is given it is raised to the line. So an absent key gives
// column 0, line 1.
void ReadSettingPair(Env& env, std::string_view key, std::string_view file, uint8_t& column, uint8_t& line,
                     uint8_t* line_count = nullptr);

// Reads every key of section "pbx" of `file`, through `env`, into `settings` (every field is
// written anew) and returns the value of INDEX_BASE (0 when absent or not an
// integer), which the record does not keep.
int32_t LoadDriverSettings(Env& env, std::string_view file, DriverSettings& settings);

}  // namespace talvo

#endif  // TALVO_CONFIG_LOAD_SETTINGS_H_
