// Reading a file while refusing writers, and holding one as a writer.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/posix_files.h"

#if !defined(F_OFD_SETLK)
#error "the POSIX platform layer needs open file description locks (F_OFD_SETLK)"
#endif

namespace talvo {
namespace {

inline constexpr uint32_t kErrorCantResolveFilename = 1921;

// Devices and pipes report no size; at most this much is read from them.
constexpr std::size_t kUnsizedReadLimit = 64 * 1024;

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { ::close(fd_); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Takes (type F_RDLCK or F_WRLCK) or drops (F_UNLCK) the whole-file lock of
// the open file description `fd`, without waiting. Returns 0 or an errno value.
int SetWholeFileLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end of the file, however long it grows
  lock.l_pid = 0;  // required of open file description locks
  while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

bool SameFileState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

#if defined(F_SETLEASE) && defined(F_SETSIG)
// A signal whose delivery does nothing in this process: one whose default
// action is to ignore it and that has no handler installed, or 0 if there is
// none. Reading the current disposition changes nothing.
int HarmlessSignal() {
  for (int sig : {SIGURG, SIGWINCH}) {
    struct sigaction current {};
    if (::sigaction(sig, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0) continue;
    if (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN) return sig;
  }
  return 0;
}

// True iff some descriptor, in any process, has the file of the read-only
// `fd` open for writing: a read lease is then refused with EAGAIN. Catches
// writers that take no lock. The lease is dropped at once; while it is held,
// a writer's open waits for us and the kernel signals us, by default with
// SIGIO, whose default action ends the process. So the signal is switched to
// a harmless one first, and the probe is skipped when there is none. Also
// skipped, by the kernel's refusal, when we neither own the file nor may take
// leases, or the file system has no leases.
bool OpenForWritingElsewhere(int fd) {
  const int sig = HarmlessSignal();
  if (sig == 0 || ::fcntl(fd, F_SETSIG, sig) != 0) return false;
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
  }
  return errno == EAGAIN;
}
#else
bool OpenForWritingElsewhere(int) { return false; }
#endif

}  // namespace

uint32_t ErrorFromErrno(int error_number, const std::string& path) {
  switch (error_number) {
    case 0:
      return kErrorNone;
    case ENOENT: {
      if (path.empty()) return kErrorPathNotFound;
      const std::size_t slash = path.rfind('/');
      if (slash == std::string::npos) return kErrorFileNotFound;
      const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
      struct stat st {};
      if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kErrorPathNotFound;
      return kErrorFileNotFound;
    }
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    case ELOOP:
      return kErrorCantResolveFilename;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETXTBSY:
      return kErrorSharingViolation;
    default:
      return kErrorIoDevice;
  }
}

SharedReadResult PosixReadFileShared(std::string_view path_text, std::size_t max_bytes) {
  if (path_text.find('\0') != std::string_view::npos) return SharedReadResult{kErrorInvalidName, {}};
  const std::string path(path_text);
  // O_NONBLOCK: a pipe does not wait for its writer, and another program's
  // lease makes the open fail instead of waiting for it.
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return SharedReadResult{ErrorFromErrno(errno, path), {}};
  const ScopedFd file(fd);

  struct stat before {};
  if (::fstat(fd, &before) != 0) return SharedReadResult{ErrorFromErrno(errno, path), {}};
  if (S_ISDIR(before.st_mode)) return SharedReadResult{kErrorAccessDenied, {}};

  switch (const int lock_error = SetWholeFileLock(fd, F_RDLCK)) {
    case 0:
      break;
    case EAGAIN:
    case EACCES:
      return SharedReadResult{kErrorSharingViolation, {}};  // a cooperating writer holds it
    case ENOLCK:
    case EINVAL:
    case EOPNOTSUPP:
      break;  // no locks on this file system: read anyway, the check below still applies
    default:
      return SharedReadResult{ErrorFromErrno(lock_error, path), {}};
  }
  if (S_ISREG(before.st_mode) && OpenForWritingElsewhere(fd)) {
    return SharedReadResult{kErrorSharingViolation, {}};
  }

  std::size_t capacity = max_bytes;
  if (S_ISREG(before.st_mode)) {
    const auto file_size = static_cast<unsigned long long>(before.st_size);
    if (file_size < capacity) capacity = static_cast<std::size_t>(file_size);
  } else {
    capacity = std::min(capacity, kUnsizedReadLimit);
  }
  SharedReadResult result;
  result.bytes.resize(capacity);
  std::size_t got = 0;
  while (got < capacity) {
    const ssize_t n = ::read(fd, result.bytes.data() + got, capacity - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // the end, or a failed read: what was read stays
    }
  }
  result.bytes.resize(got);

  // A writer that takes no lock may have changed the file under us.
  struct stat after {};
  if (::fstat(fd, &after) != 0) return SharedReadResult{ErrorFromErrno(errno, path), {}};
  if (!SameFileState(before, after)) return SharedReadResult{kErrorSharingViolation, {}};
  result.error = kErrorNone;
  return result;  // closing the file drops the lock
}

PosixFileWriterLock::PosixFileWriterLock(const std::string& path) {
  const int fd = OpenRetrying(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  error_ = SetWholeFileLock(fd, F_WRLCK);
  if (error_ != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

PosixFileWriterLock::~PosixFileWriterLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace talvo
