// Splitting a report into lines as it arrives. A line ends at LF, CRLF or a
// lone CR (a CR at the end of one read and an LF at the start of the next are
// one line end), and a last line without an end still counts. Lines may hold
// any byte, NUL included, and have no length limit.
#ifndef TALVO_TOOLS_LINE_READER_H_
#define TALVO_TOOLS_LINE_READER_H_

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvo::tool {

// Reading on at the end of a file that is still growing.
struct FollowOptions {
  bool follow = false;
  int poll_ms = 200;  // pause between looks at a file that has not grown
  // The reader stops following once *stop is non-zero (set by a signal
  // handler); a line still without its end then counts as the last line.
  const volatile std::sig_atomic_t* stop = nullptr;
};

class LineReader {
 public:
  // Reads from `fd` (not owned); `name` is used in messages.
  LineReader(int fd, std::string name, FollowOptions follow = {});

  // The next line, without its end; it stays valid until the next call.
  // Returns false at the end of the input. Throws IoError on a read error.
  bool Next(std::string_view* line);

  // `hook` is called before every read of the input and every pause while
  // following: where the reader may wait, output held back is written out.
  void set_before_wait(std::function<void()> hook) { before_wait_ = std::move(hook); }

  // 1-based number of the line Next() returned last.
  uint64_t line_number() const { return line_number_; }

 private:
  // Reads more bytes after end_, making room first. Returns false at the end
  // of the input (after waiting for more while following).
  bool Fill();
  // Waits until the input can be read without blocking; false when a stop was
  // asked for and nothing more has arrived.
  bool WaitForInput();
  bool Stopped() const { return follow_.stop != nullptr && *follow_.stop != 0; }

  int fd_;
  std::string name_;
  FollowOptions follow_;
  std::function<void()> before_wait_;
  std::vector<char> buf_;
  std::size_t begin_ = 0;  // first byte not yet returned
  std::size_t scan_ = 0;   // bytes begin_..scan_ hold no line end
  std::size_t end_ = 0;    // end of the bytes read
  bool eof_ = false;
  bool skip_lf_ = false;   // the last line ended with CR: an LF next belongs to it
  uint64_t line_number_ = 0;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_LINE_READER_H_
