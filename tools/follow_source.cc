#include "tools/follow_source.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/output.h"

namespace talvo::tool {

FollowSource::FollowSource(std::string path, std::string position_path, EventFn event)
    : path_(std::move(path)), position_path_(std::move(position_path)), event_(std::move(event)) {}

FollowSource::~FollowSource() { Close(); }

void FollowSource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool FollowSource::Open() {
  int fd;
  do {
    fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    if (!gone_) event_("warning", "open-failed", path_ + " cannot be read; waiting for it");
    gone_ = true;
    return false;
  }
  Close();
  fd_ = fd;
  device_ = static_cast<uint64_t>(st.st_dev);
  inode_ = static_cast<uint64_t>(st.st_ino);
  offset_ = 0;
  gone_ = false;
  return true;
}

void FollowSource::Start(uint64_t taken) {
  if (!Open()) return;
  std::ifstream in(position_path_);
  uint64_t device = 0, inode = 0, offset = 0, saved_taken = 0;
  std::string word;
  if (!(in >> word >> device >> inode >> offset >> saved_taken) || word != "follow") {
    event_("info", "connected", "following " + path_ + " from its start");
    Save(taken);
    return;
  }
  struct stat st {};
  ::fstat(fd_, &st);
  if (device != device_ || inode != inode_) {
    event_("warning", "connected",
           "following " + path_ + " from its start: it is not the file read before (replaced while stopped)");
    Save(taken);
    return;
  }
  // The archive gained or lost bytes since the save: move by as many.
  const auto moved = static_cast<int64_t>(offset) + (static_cast<int64_t>(taken) - static_cast<int64_t>(saved_taken));
  const auto size = static_cast<int64_t>(st.st_size);
  offset_ = static_cast<uint64_t>(moved < 0 ? 0 : moved > size ? size : moved);
  ::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET);
  event_("info", "connected", "following " + path_ + " from byte " + std::to_string(offset_));
}

void FollowSource::Poll(std::string* bytes, std::size_t limit, uint64_t taken) {
  if (fd_ < 0) {
    if (!Open()) return;
    Save(taken);
  }
  for (int moves = 0; moves < 2; ++moves) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && static_cast<uint64_t>(st.st_size) < offset_) {
      event_("warning", "disconnected", path_ + " was cut short; reading it again from its start");
      ::lseek(fd_, 0, SEEK_SET);
      offset_ = 0;
      Save(taken + bytes->size());
    }
    char buffer[1 << 16];
    while (bytes->size() < limit) {
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, limit - bytes->size()));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      bytes->append(buffer, static_cast<std::size_t>(n));
      offset_ += static_cast<uint64_t>(n);
    }
    if (bytes->size() >= limit) return;
    // At the end of the file: has another file taken the path?
    struct stat at_path {};
    if (::stat(path_.c_str(), &at_path) != 0) {
      if (!gone_) event_("warning", "disconnected", path_ + " is gone; waiting for it to come back");
      gone_ = true;
      return;
    }
    if (static_cast<uint64_t>(at_path.st_dev) == device_ && static_cast<uint64_t>(at_path.st_ino) == inode_) {
      gone_ = false;
      return;
    }
    const bool was_gone = gone_;
    if (!Open()) return;
    event_("info", "connected", path_ + (was_gone ? " is back" : " was rotated") + "; reading the new file from its start");
    // The new file's start is kept before any of it is taken, with what the
    // collector will have taken once it has the old file's last bytes: a run
    // stopped after it took them goes on where this one did.
    Save(taken + bytes->size());
  }
}

void FollowSource::Save(uint64_t taken) {
  if (fd_ < 0) return;
  std::ostringstream text;
  text << "follow " << device_ << " " << inode_ << " " << offset_ << " " << taken << "\n";
  if (text.str() == saved_) return;
  const std::string temp = position_path_ + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << text.str();
    if (!out) throw IoError(DescribeError("cannot write", temp, errno));
  }
  if (std::rename(temp.c_str(), position_path_.c_str()) != 0) {
    throw IoError(DescribeError("cannot write", position_path_, errno));
  }
  saved_ = text.str();
}

uint64_t ArchiveBytes(const std::string& archive_folder) {
  uint64_t total = 0;
  DIR* dir = ::opendir(archive_folder.c_str());
  if (dir == nullptr) return 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".raw") != 0) continue;
    struct stat st {};
    if (::stat((archive_folder + "/" + name).c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
  }
  ::closedir(dir);
  return total;
}

}  // namespace talvo::tool
