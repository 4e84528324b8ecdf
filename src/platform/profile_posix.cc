// Profile reads on POSIX systems: the file is read afresh on every call and
// looked up with the same parser the Windows functions are matched against.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "platform/posix_files.h"
#include "platform/profile_file.h"

namespace talvo {
namespace {

struct LoadedFile {
  uint32_t error = kErrorNone;
  bool missing = false;  // nothing by that name: the caller falls back to the default
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
};

// Errors that say there is no file by that name, as opposed to a file that
// is there but cannot be read.
bool MeansMissing(int error_number) {
  return error_number == ENOENT || error_number == ENOTDIR || error_number == ENAMETOOLONG ||
         error_number == ELOOP;
}

// Reads the whole file with one allocation.
LoadedFile LoadFile(const std::string& path) {
  LoadedFile out;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    out.missing = MeansMissing(errno);
    out.error = ErrorFromErrno(errno, path);
    return out;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    out.error = ErrorFromErrno(errno, path);
  } else if (S_ISDIR(st.st_mode)) {
    out.error = kErrorAccessDenied;
  } else if (st.st_size > 0) {
    // Pipes and devices report no size and read as empty files.
    const auto file_size = static_cast<unsigned long long>(st.st_size);
    if (file_size > static_cast<unsigned long long>(PTRDIFF_MAX)) {
      out.error = kErrorNotEnoughMemory;
    } else {
      const auto want = static_cast<std::size_t>(file_size);
      out.bytes.reset(new (std::nothrow) char[want]);
      if (!out.bytes) {
        out.error = kErrorNotEnoughMemory;
      } else {
        while (out.size < want) {
          const ssize_t n = ::read(fd, out.bytes.get() + out.size, want - out.size);
          if (n > 0) {
            out.size += static_cast<std::size_t>(n);
          } else if (n == 0 || errno == EAGAIN) {
            break;  // the file shrank since fstat: what was read is the file
          } else if (errno != EINTR) {
            out.error = ErrorFromErrno(errno, path);
            break;
          }
        }
      }
    }
  }
  ::close(fd);
  return out;
}

std::string_view WithoutTrailingSpaces(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

ProfileResult PosixReadProfileString(std::string_view file, std::string_view section,
                                     std::string_view key, std::string_view default_value,
                                     std::size_t size) {
  if (file.empty()) return ProfileResult{{}, kErrorAccessDenied};  // as Windows answers ""
  if (file.find('\0') != std::string_view::npos) return ProfileResult{{}, kErrorInvalidName};

  const LoadedFile loaded = LoadFile(std::string(file));
  if (loaded.error != kErrorNone && !loaded.missing) return ProfileResult{{}, loaded.error};

  std::optional<std::string> found;
  if (!loaded.missing) {
    found = FindProfileValue(std::string_view(loaded.bytes.get(), loaded.size), section, key);
  }
  ProfileResult result;
  if (found) {
    result.value = std::move(*found);
    result.last_error = kErrorNone;
  } else {
    result.value = std::string(WithoutTrailingSpaces(default_value));
    result.last_error = loaded.missing ? loaded.error : kErrorFileNotFound;
  }
  if (size == 0) {
    result.value.clear();
    if (found) result.last_error = kErrorMoreData;
  } else if (result.value.size() > size - 1) {
    result.value.resize(size - 1);
    if (found) result.last_error = kErrorMoreData;  // a cut default keeps its "not found"
  }
  return result;
}

}  // namespace talvo
