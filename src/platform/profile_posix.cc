#include "platform/posix_files.h"

namespace talvo {

ProfileResult PosixReadProfileString(std::string_view, std::string_view, std::string_view,
                                     std::string_view default_value, std::size_t) {
  return ProfileResult{std::string(default_value), kErrorFileNotFound};  // filled in with the profile reader
}

}  // namespace talvo
