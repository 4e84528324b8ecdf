#include "config/load_settings.h"

namespace talvo {

int32_t LoadDriverSettings(std::string_view, DriverSettings& settings) {
  settings = DriverSettings{};  // the settings reader comes next
  return 0;
}

}  // namespace talvo
