#include "tools/raw_archive.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "tools/output.h"

namespace talvo::tool {

int ArchiveFileLayer::OpenForAppend(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : -errno;
}

long ArchiveFileLayer::Write(int fd, const char* data, std::size_t size) {
  const ssize_t n = ::write(fd, data, size);
  return n >= 0 ? static_cast<long>(n) : -errno;
}

int ArchiveFileLayer::Sync(int fd) { return ::fdatasync(fd) == 0 ? 0 : errno; }

ArchiveFileLayer& SystemArchiveFiles() {
  static ArchiveFileLayer files;
  return files;
}

std::string ArchiveFileName(LocalDate day) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d-%02d-%02d.raw", day.year, day.month, day.day);
  return name;
}

ArchiveWriter::~ArchiveWriter() {
  if (fd_ >= 0) ::close(fd_);
}

int ArchiveWriter::Append(std::string_view bytes, LocalDate day) {
  held_.append(bytes);
  if (held_.empty()) return 0;
  // Names sort by date, so the newest file is the greatest name.
  std::string name = std::max(ArchiveFileName(day), newest_);
  if (fd_ < 0 || name != open_name_) {
    if (fd_ >= 0) {
      // The day's file is complete: make it durable before leaving it.
      if (dirty_ && files_.Sync(fd_) != 0) return EIO;
      ::close(fd_);
      fd_ = -1;
      dirty_ = false;
    }
    const int fd = files_.OpenForAppend(dir_ + "/" + name);
    if (fd < 0) return -fd;
    fd_ = fd;
    open_name_ = name;
    newest_ = std::move(name);
  }
  std::size_t done = 0;
  int error = 0;
  while (done < held_.size()) {
    const long n = files_.Write(fd_, held_.data() + done, held_.size() - done);
    if (n == -EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? static_cast<int>(-n) : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
    dirty_ = true;
  }
  held_.erase(0, done);
  return error;
}

int ArchiveWriter::Sync() {
  if (fd_ < 0 || !dirty_) return 0;
  const int error = files_.Sync(fd_);
  if (error == 0) dirty_ = false;
  return error;
}

void ArchiveWriter::Reopen() {
  if (fd_ < 0) return;
  if (dirty_) files_.Sync(fd_);
  ::close(fd_);
  fd_ = -1;
  dirty_ = false;
}

ArchiveReader::~ArchiveReader() {
  if (fd_ >= 0) ::close(fd_);
  for (int fd : unsynced_) ::close(fd);
}

std::vector<std::string> ListArchive(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) throw IoError(DescribeError("cannot read the archive folder", dir, errno));
  while (const dirent* e = ::readdir(d)) {
    const std::string_view n = e->d_name;
    // YYYY-MM-DD.raw
    if (n.size() == 14 && n.substr(10) == ".raw" && n[4] == '-' && n[7] == '-') names.emplace_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t ArchiveReader::IndexOf(const std::string& name) {
  const auto it = std::find(names_.begin(), names_.end(), name);
  if (it != names_.end()) return static_cast<uint32_t>(it - names_.begin());
  names_.push_back(name);
  return static_cast<uint32_t>(names_.size() - 1);
}

bool ArchiveReader::OpenFrom(const std::string& name, bool after) {
  for (const std::string& n : ListArchive(dir_)) {
    if (after ? n <= name : n < name) continue;
    const int fd = ::open((dir_ + "/" + n).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw IoError(DescribeError("cannot open the archive file", dir_ + "/" + n, errno));
    if (fd_ >= 0) unsynced_.push_back(fd_);
    fd_ = fd;
    file_ = IndexOf(n);
    offset_ = 0;
    return true;
  }
  return false;
}

uint32_t ArchiveReader::Seek(const std::string& name, uint64_t offset) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  const std::string path = dir_ + "/" + name;
  const int fd = name.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    fd_ = fd;
    file_ = IndexOf(name);
    offset_ = offset;
    return file_;
  }
  if (!OpenFrom(name, true)) {
    // Nothing archived yet: the first file written will be read from its start.
    file_ = IndexOf(name);
    offset_ = 0;
  }
  return file_;
}

bool ArchiveReader::Read(std::string& chunk, const std::string& newest, uint32_t* file, uint64_t* offset) {
  chunk.resize(1 << 16);
  for (;;) {
    if (fd_ >= 0) {
      const ssize_t n = ::pread(fd_, chunk.data(), chunk.size(), static_cast<off_t>(offset_));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw IoError(DescribeError("cannot read the archive file", dir_ + "/" + names_[file_], errno));
      if (n > 0) {
        chunk.resize(static_cast<std::size_t>(n));
        *file = file_;
        *offset = offset_;
        offset_ += static_cast<uint64_t>(n);
        return true;
      }
    }
    // At the end of this file: on to a later one, if there is one.
    const std::string current = names_[file_];
    if (fd_ >= 0 && !newest.empty() && newest <= current) break;
    if (!OpenFrom(current, fd_ >= 0)) break;
  }
  chunk.clear();
  return false;
}

int ArchiveReader::Sync() {
  int error = 0;
  for (int fd : unsynced_) {
    if (::fdatasync(fd) != 0 && error == 0) error = errno;
    ::close(fd);
  }
  unsynced_.clear();
  if (fd_ >= 0 && ::fdatasync(fd_) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace talvo::tool
