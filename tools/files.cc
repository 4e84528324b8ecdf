#include "tools/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tools/output.h"

namespace talvo::tool {
namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void WriteAll(int fd, std::string_view bytes, const std::string& name) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw IoError(DescribeError("cannot write", name, errno));
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string ReadWholeFile(const std::string& path, std::string_view what) {
  const std::string role = "cannot read " + std::string(what);
  const bool stdin_input = path == "-";
  const int fd = stdin_input ? 0 : OpenRetrying(path.c_str(), O_RDONLY);
  if (fd < 0) throw IoError(DescribeError(role, path, errno));
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (!stdin_input) ::close(fd);
    throw IoError(DescribeError(role, path, EISDIR));
  }
  std::string bytes;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      bytes.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int e = errno;
      if (!stdin_input) ::close(fd);
      throw IoError(DescribeError(role, path, e));
    }
  }
  if (!stdin_input) ::close(fd);
  return bytes;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  const int fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) throw IoError(DescribeError("cannot write", path, errno));
  try {
    WriteAll(fd, bytes, path);
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  if (::close(fd) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    throw IoError(DescribeError("cannot write", path, e));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    throw IoError(DescribeError("cannot write", path, e));
  }
}

int OpenInput(const std::string& path) {
  if (path == "-") return 0;
  const int fd = OpenRetrying(path.c_str(), O_RDONLY);
  if (fd < 0) throw IoError(DescribeError("cannot read input", path, errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw IoError(DescribeError("cannot read input", path, e));
  }
  return fd;
}

namespace {

FileIdentity FromStat(const struct stat& st) {
  FileIdentity id;
  id.regular = S_ISREG(st.st_mode);
  id.device = st.st_dev;
  id.inode = st.st_ino;
  return id;
}

}  // namespace

FileIdentity IdentifyPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return FromStat(st);
  FileIdentity id;
  std::error_code ec;
  id.new_path = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec).string();
  if (ec) id.new_path = path;
  return id;
}

FileIdentity IdentifyDescriptor(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {};
  return FromStat(st);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  if (a.regular && b.regular) return a.device == b.device && a.inode == b.inode;
  return !a.new_path.empty() && a.new_path == b.new_path;
}

void RunInDirectory(const std::string& dir, const std::function<void()>& work) {
  const int here = OpenRetrying(".", O_RDONLY | O_DIRECTORY);
  if (here < 0) throw IoError(DescribeError("cannot open the current directory", ".", errno));
  if (::chdir(dir.c_str()) != 0) {
    const int e = errno;
    ::close(here);
    throw IoError(DescribeError("cannot change to directory", dir, e));
  }
  auto back = [&] {
    const int failed = ::fchdir(here);
    const int e = errno;
    ::close(here);
    if (failed != 0) throw IoError(DescribeError("cannot return to the directory left for", dir, e));
  };
  try {
    work();
  } catch (...) {
    try {
      back();
    } catch (const IoError&) {
      // The first failure is the one worth reporting.
    }
    throw;
  }
  back();
}

TempDir::TempDir() {
  const char* base = ::getenv("TMPDIR");
  std::string pattern = (base != nullptr && base[0] != '\0') ? base : "/tmp";
  pattern += "/talvo.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw IoError(DescribeError("cannot create a temporary directory", pattern, errno));
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  for (const std::string& f : files_) ::unlink(f.c_str());
  ::rmdir(path_.c_str());
}

std::string TempDir::Put(const std::string& name, std::string_view bytes) {
  const std::string file = path_ + "/" + name;
  const int fd = OpenRetrying(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) throw IoError(DescribeError("cannot write", file, errno));
  files_.push_back(file);
  try {
    WriteAll(fd, bytes, file);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw IoError(DescribeError("cannot write", file, errno));
  return file;
}

}  // namespace talvo::tool
