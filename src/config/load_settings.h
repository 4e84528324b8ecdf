// Filling a handle's DriverSettings from section "pbx" of a settings file.
#ifndef TALVO_CONFIG_LOAD_SETTINGS_H_
#define TALVO_CONFIG_LOAD_SETTINGS_H_

#include <cstdint>
#include <string_view>

#include "config/driver_settings.h"

namespace talvo {

// Reads every key of section "pbx" of `file` into `settings` (every field is
// written anew) and returns the value of INDEX_BASE (0 when absent).
int32_t LoadDriverSettings(std::string_view file, DriverSettings& settings);

}  // namespace talvo

#endif  // TALVO_CONFIG_LOAD_SETTINGS_H_
