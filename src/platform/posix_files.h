// File access of the POSIX platform layer.
#ifndef TALVO_PLATFORM_POSIX_FILES_H_
#define TALVO_PLATFORM_POSIX_FILES_H_

#include "platform/env.h"

namespace talvo {

// Reads a profile value from the file at `file`, re-reading the file on every
// call. A missing file or key gives the default with kErrorFileNotFound; a
// file that exists but cannot be read gives an empty value and its error.
ProfileResult PosixReadProfileString(std::string_view file, std::string_view section,
                                     std::string_view key, std::string_view default_value,
                                     std::size_t size);

// Opens `path` read-only under a shared lock that cooperating writers respect,
// refusing while any writer holds it, and reads up to `max_bytes` bytes.
SharedReadResult PosixReadFileShared(std::string_view path, std::size_t max_bytes);

}  // namespace talvo

#endif  // TALVO_PLATFORM_POSIX_FILES_H_
