// File access of the POSIX platform layer: profile reads, and reads that
// refuse writers the way a Windows open with read-only sharing does.
//
// Linux has no share modes, so writers are refused by agreement: a reader
// holds a shared open-file-description lock (fcntl F_OFD_SETLK, F_RDLCK) on
// the whole file while it reads, and a cooperating writer takes the exclusive
// lock (F_WRLCK) before it writes. Both sides fail at once instead of
// waiting, and each side sees the other's refusal as a sharing violation.
// These locks are advisory: programs that take none are not stopped.
#ifndef TALVO_PLATFORM_POSIX_FILES_H_
#define TALVO_PLATFORM_POSIX_FILES_H_

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace talvo {

// Windows numbering of the system errors below, beyond those in env.h.
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorFilenameTooLong = 206;
inline constexpr uint32_t kErrorIoDevice = 1117;

// The Windows code for the failure `error_number` (an errno value) of an
// open, lock or read of `path`. ENOENT gives kErrorPathNotFound rather than
// kErrorFileNotFound when the folder that should hold the file is missing.
// Codes without a closer match give kErrorIoDevice.
uint32_t ErrorFromErrno(int error_number, const std::string& path);

// Reads a profile value from the file at `file`, re-reading the file on every
// call (nothing is cached, so another program's change is seen at once).
// - Found: the value, cut to `size` - 1 characters; last_error 0, or
//   kErrorMoreData when cut.
// - File, section or key missing: `default_value` without its trailing
//   spaces, cut the same way; last_error kErrorFileNotFound (kErrorPathNotFound
//   when the folder is missing).
// - A file that exists but cannot be opened or read (no permission, a
//   folder, an I/O error), or an empty or invalid file name: an empty value
//   and the error (kErrorAccessDenied for permission and folders), so that a
//   caller may try again.
// - `size` 0: an empty value; last_error kErrorMoreData when the key was
//   found, kErrorFileNotFound otherwise.
ProfileResult PosixReadProfileString(std::string_view file, std::string_view section,
                                     std::string_view key, std::string_view default_value,
                                     std::size_t size);

// Opens `path` read-only under a shared lock that cooperating writers respect,
// refusing while any writer holds it, and reads up to `max_bytes` bytes.
// - error 0: the bytes read (fewer than asked when the file is shorter or a
//   read failed part way).
// - kErrorSharingViolation: a writer holds the file, has it open for writing
//   (where the system lets us see that), or changed it during the read; the
//   refusal is transient and worth retrying. No bytes.
// - kErrorAccessDenied: no permission, or `path` is a folder.
// - kErrorFileNotFound / kErrorPathNotFound: the file or its folder is missing.
// - other codes from ErrorFromErrno; kErrorInvalidName for a name with a NUL.
// Never blocks: the open, the lock and the check for writers all fail at once.
SharedReadResult PosixReadFileShared(std::string_view path, std::size_t max_bytes);

// Holds a file the way a cooperating writer does: opened for reading and
// writing under the exclusive whole-file lock, until destruction. Readers
// using PosixReadFileShared are refused meanwhile. When the open or the lock
// fails (another reader or writer holds the file), nothing is held and the
// file is not left open.
class PosixFileWriterLock {
 public:
  explicit PosixFileWriterLock(const std::string& path);
  ~PosixFileWriterLock();
  PosixFileWriterLock(const PosixFileWriterLock&) = delete;
  PosixFileWriterLock& operator=(const PosixFileWriterLock&) = delete;

  // True iff the file is open and the exclusive lock is held.
  bool held() const { return fd_ >= 0; }
  // The descriptor, open for reading and writing; -1 unless held().
  int fd() const { return fd_; }
  // The errno value of the failed open or lock; 0 when held().
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace talvo

#endif  // TALVO_PLATFORM_POSIX_FILES_H_
