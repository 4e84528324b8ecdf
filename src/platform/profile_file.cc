#include "platform/profile_file.h"

namespace talvo {

std::optional<std::string> FindProfileValue(std::string_view, std::string_view, std::string_view) {
  return std::nullopt;  // filled in with the profile reader
}

}  // namespace talvo
