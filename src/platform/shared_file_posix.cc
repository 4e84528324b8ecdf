#include "platform/posix_files.h"

namespace talvo {

SharedReadResult PosixReadFileShared(std::string_view, std::size_t) {
  return SharedReadResult{kErrorFileNotFound, {}};  // filled in with the conversion table
}

}  // namespace talvo
