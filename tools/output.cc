#include "tools/output.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace talvo::tool {

std::string DescribeError(std::string_view what, std::string_view path, int error_number) {
  std::string out(what);
  out += " '";
  out += path;
  out += "': ";
  out += std::strerror(error_number);
  return out;
}

Output::Output(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  struct stat st {};
  live_ = ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode);
  per_row_ = ::isatty(fd_) == 1;
  buffer_.reserve(kBlock + 4096);
}

Output Output::OpenFile(const std::string& path, bool stream) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (stream || (exists && !S_ISREG(st.st_mode))) {
    const bool append = stream && (!exists || S_ISREG(st.st_mode));
    int fd;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw IoError(DescribeError("cannot write", path, errno));
    Output out(fd, path);
    out.owned_ = true;
    out.live_ = true;
    out.appending_ = append && exists && st.st_size > 0;
    return out;
  }
  // A symbolic link keeps pointing where it did: the file it names is replaced.
  std::string target = path;
  if (exists) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      ::free(real);
    }
  }
  std::string temp = target + ".talvo-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw IoError(DescribeError("cannot write", path, errno));
  // The new file gets the mode the old one had, or that of a file created
  // afresh.
  mode_t mode = st.st_mode & 07777;
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  Output out(fd, path);
  out.owned_ = true;
  out.temp_ = std::move(temp);
  out.target_ = std::move(target);
  return out;
}

void Output::Commit() {
  Flush();
  if (temp_.empty()) return;
  const int closed = ::close(fd_);
  owned_ = false;
  const int e = errno;
  if (closed != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int why = closed != 0 ? e : errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    throw IoError(DescribeError("cannot write", name_, why));
  }
  temp_.clear();
}

Output::Output(Output&& other) noexcept
    : fd_(other.fd_),
      owned_(std::exchange(other.owned_, false)),
      temp_(std::move(other.temp_)),
      target_(std::move(other.target_)),
      live_(other.live_),
      per_row_(other.per_row_),
      appending_(other.appending_),
      name_(std::move(other.name_)),
      buffer_(std::move(other.buffer_)) {}

Output::~Output() {
  if (!temp_.empty()) {
    // Never committed: the run failed, and the file it would replace stays.
    ::close(fd_);
    ::unlink(temp_.c_str());
    return;
  }
  try {
    Flush();
  } catch (const IoError&) {
    // Reported by the explicit Flush() of a normal run; nothing to add here.
  }
  if (owned_) ::close(fd_);
}

void Output::Sync() {
  Flush();
  if (::fdatasync(fd_) != 0 && errno != EINVAL) throw IoError(DescribeError("cannot write", name_, errno));
}

uint64_t Output::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw IoError(DescribeError("cannot read", name_, errno));
  return static_cast<uint64_t>(st.st_size);
}

void Output::EndRow() {
  if (per_row_ || buffer_.size() >= kBlock) Flush();
}

void Output::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      buffer_.clear();
      throw IoError(DescribeError("cannot write", name_, e));
    }
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

}  // namespace talvo::tool
