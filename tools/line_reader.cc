#include "tools/line_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tools/output.h"

namespace talvo::tool {
namespace {

constexpr std::size_t kReadSize = 1 << 17;
// How often a reader that may be stopped looks at the stop flag while the
// input is silent.
constexpr int kStopCheckMs = 100;

void PauseMs(int ms) {
  timespec ts{};
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  ::nanosleep(&ts, nullptr);  // a signal cuts the pause short, which is what we want
}

// The first CR or LF in [p, end), or nullptr: one scan for both bytes.
const char* FindLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const auto ends = [&](const char* at) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return _mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf));
  };
  // 32 bytes a step, with one test for both halves: a report line is 80 bytes or so.
  for (; end - p >= 32; p += 32) {
    const __m128i low = ends(p);
    const __m128i high = ends(p + 16);
    if (_mm_movemask_epi8(_mm_or_si128(low, high)) != 0) {
      const auto hits = static_cast<uint32_t>(_mm_movemask_epi8(low)) |
                        static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16;
      return p + std::countr_zero(hits);
    }
  }
  if (end - p >= 16) {
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(ends(p)));
    if (hits != 0) return p + std::countr_zero(hits);
    p += 16;
  }
  for (; p < end; ++p) {
    if (*p == '\r' || *p == '\n') return p;
  }
  return nullptr;
#else
  // The first LF, then the first CR before it.
  const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  const char* limit = lf != nullptr ? lf : end;
  const auto* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(limit - p)));
  return cr != nullptr ? cr : lf;
#endif
}

}  // namespace

LineReader::LineReader(int fd, std::string name, FollowOptions follow)
    : fd_(fd), name_(std::move(name)), follow_(std::move(follow)), buf_(kReadSize) {
  struct stat st {};
  if (!follow_.path.empty() && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
  } else {
    follow_.path.clear();  // nothing to watch: read on where it is
  }
}

LineReader::~LineReader() {
  if (own_fd_ >= 0) ::close(own_fd_);
}

void LineReader::StartAt(uint64_t offset, uint64_t line_number) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) throw IoError(DescribeError("cannot seek", name_, errno));
  offset_ = offset;
  line_number_ = line_number;
  // A place saved between the CR and the LF of one line end: the LF still
  // belongs to the line before, and is no empty line of its own.
  char before = 0;
  if (offset > 0 && ::pread(fd_, &before, 1, static_cast<off_t>(offset - 1)) == 1 && before == '\r') skip_lf_ = true;
}

void LineReader::Tell(const std::string& what) {
  if (follow_.on_change) follow_.on_change(name_ + ": " + what);
}

void LineReader::EndPartialLine() {
  if (before_move_) before_move_();
  if (begin_ < end_) {
    if (end_ == buf_.size()) buf_.resize(buf_.size() + 1);
    buf_[end_++] = '\n';
  }
  skip_lf_ = false;
}

bool LineReader::FollowPath() {
  struct stat open_file {};
  if (::fstat(fd_, &open_file) == 0 && static_cast<uint64_t>(open_file.st_size) < offset_) {
    Tell("cut short; reading it again from its start");
    EndPartialLine();
    switched_at_ = end_;
    ::lseek(fd_, 0, SEEK_SET);
    offset_ = 0;
    return true;
  }
  struct stat at_path {};
  if (::stat(follow_.path.c_str(), &at_path) != 0) {
    if (!gone_) Tell("gone; waiting for it to come back");
    gone_ = true;
    return false;
  }
  if (static_cast<uint64_t>(at_path.st_dev) == device_ && static_cast<uint64_t>(at_path.st_ino) == inode_) {
    if (gone_) Tell("back");
    gone_ = false;
    return false;
  }
  // Another file has the path now (the old one was rotated away and has been
  // read to its end): read the new one from its start.
  int fd;
  do {
    fd = ::open(follow_.path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;  // not readable yet: look again after the pause
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    return false;
  }
  Tell(gone_ ? "back as a new file; reading it from its start" : "replaced by a new file; reading it from its start");
  gone_ = false;
  EndPartialLine();
  switched_at_ = end_;
  if (own_fd_ >= 0) ::close(own_fd_);
  own_fd_ = fd_ = fd;
  device_ = static_cast<uint64_t>(opened.st_dev);
  inode_ = static_cast<uint64_t>(opened.st_ino);
  offset_ = 0;
  return true;
}

bool LineReader::Next(std::string_view* line) {
  for (;;) {
    if (skip_lf_ && begin_ < end_) {
      if (buf_[begin_] == '\n') ++begin_;
      skip_lf_ = false;
      if (scan_ < begin_) scan_ = begin_;
    }
    if (!skip_lf_) {
      const char* data = buf_.data();
      const char* stop = FindLineEnd(data + scan_, data + end_);
      if (stop != nullptr) {
        const auto p = static_cast<std::size_t>(stop - data);
        line_offset_ = begin_ >= switched_at_ ? static_cast<int64_t>(offset_ - (end_ - begin_)) : -1;
        *line = std::string_view(data + begin_, p - begin_);
        begin_ = p + 1;
        // The LF of a CRLF is taken now when it has arrived, else by the next call.
        skip_lf_ = *stop == '\r';
        if (skip_lf_ && begin_ < end_) {
          if (data[begin_] == '\n') ++begin_;
          skip_lf_ = false;
        }
        scan_ = begin_;
        ++line_number_;
        return true;
      }
      scan_ = end_;
    }
    if (eof_) {
      if (begin_ >= end_) return false;
      line_offset_ = begin_ >= switched_at_ ? static_cast<int64_t>(offset_ - (end_ - begin_)) : -1;
      *line = std::string_view(buf_.data() + begin_, end_ - begin_);
      begin_ = scan_ = end_;
      ++line_number_;
      return true;
    }
    if (!Fill()) eof_ = true;
  }
}

bool LineReader::Fill() {
  if (before_move_) before_move_();
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    scan_ -= begin_;
    switched_at_ -= std::min(switched_at_, begin_);
    begin_ = 0;
  }
  if (buf_.size() - end_ < kReadSize / 2) buf_.resize(buf_.size() * 2);
  for (;;) {
    if (before_wait_) before_wait_();
    if (!WaitForInput()) return false;
    const ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      offset_ += static_cast<uint64_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) {
      if (Stopped()) return false;
      continue;
    }
    if (n < 0) throw IoError(DescribeError("cannot read", name_, errno));
    if (!follow_.follow || Stopped()) return false;
    if (!follow_.path.empty() && FollowPath()) {
      if (begin_ < end_ && buf_[end_ - 1] == '\n') return true;  // the line ended above
      continue;
    }
    if (before_wait_) before_wait_();
    PauseMs(follow_.poll_ms);
    if (Stopped()) return false;
  }
}

bool LineReader::WaitForInput() {
  if (follow_.stop == nullptr) return true;
  // A signal that lands just before a blocking read() does not interrupt it,
  // and the read would then wait for input that may never come. So the input
  // is polled, with a look at the stop flag between polls; what has arrived is
  // still read after a stop.
  for (;;) {
    const bool stopped = Stopped();
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, stopped ? 0 : kStopCheckMs);
    if (r > 0) return true;  // input, its end or an error: read() says which
    if (r < 0 && errno != EINTR) return true;  // read() reports the fault
    if (r == 0 && stopped) return false;
  }
}

}  // namespace talvo::tool
