#include "tools/follow_state.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/output.h"

namespace talvo::tool {
namespace {

constexpr char kMagic[] = "talvo follow state 1";

}  // namespace

std::optional<FollowState> ReadFollowState(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    if (errno == ENOENT) return std::nullopt;
    throw IoError(DescribeError("cannot read", path, errno));
  }
  std::string magic;
  std::getline(in, magic);
  FollowState s;
  std::string device, inode, offset, line, output;
  in >> device >> s.device >> inode >> s.inode >> offset >> s.offset >> line >> s.line >> output >> s.output_size;
  if (magic != kMagic || !in || device != "device" || inode != "inode" || offset != "offset" || line != "line" ||
      output != "output_size") {
    throw IoError("'" + path + "' is not a talvo state file; remove it to start afresh");
  }
  return s;
}

void WriteFollowState(const std::string& path, const FollowState& state) {
  std::ostringstream text;
  text << kMagic << "\ndevice " << state.device << "\ninode " << state.inode << "\noffset " << state.offset
       << "\nline " << state.line << "\noutput_size " << state.output_size << "\n";
  const std::string bytes = text.str();
  const std::string temp = path + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw IoError(DescribeError("cannot write", temp, errno));
  const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                       ::fsync(fd) == 0;
  const int e = errno;
  ::close(fd);
  if (!written || std::rename(temp.c_str(), path.c_str()) != 0) {
    const int why = written ? errno : e;
    ::unlink(temp.c_str());
    throw IoError(DescribeError("cannot write", path, why));
  }
}

std::optional<uint64_t> LineOffsets::Find(uint64_t line) {
  while (!lines_.empty() && lines_.front().first < line) lines_.pop_front();
  if (lines_.empty() || lines_.front().first != line || lines_.front().second < 0) return std::nullopt;
  return static_cast<uint64_t>(lines_.front().second);
}

}  // namespace talvo::tool
