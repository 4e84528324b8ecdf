// Splitting a report into lines as it arrives. A line ends at LF, CRLF or a
// lone CR (a CR at the end of one read and an LF at the start of the next are
// one line end), and a last line without an end still counts. Lines may hold
// any byte, NUL included, and have no length limit.
#ifndef TALVO_TOOLS_LINE_READER_H_
#define TALVO_TOOLS_LINE_READER_H_

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvo::tool {

// Reading on at the end of a file that is still growing, as tail -F does:
// with `path` set, a file cut short is read again from its start, and a file
// renamed away (rotated) is read to its end before the file that now has the
// path is read from its start; a file that disappears is waited for. A line
// left without its end when the reader moves on counts as a line of its own:
// it is never joined with the start of the next file.
struct FollowOptions {
  bool follow = false;
  int poll_ms = 200;  // pause between looks at a file that has not grown
  // The reader stops following once *stop is non-zero (set by a signal
  // handler); a line still without its end then counts as the last line.
  const volatile std::sig_atomic_t* stop = nullptr;
  // The path of the followed file; empty for standard input and pipes.
  std::string path;
  // Told, once each time, that the file was cut short, rotated, disappeared
  // or came back: a line for people.
  std::function<void(const std::string&)> on_change;
};

class LineReader {
 public:
  // Reads from `fd` (not owned); `name` is used in messages.
  LineReader(int fd, std::string name, FollowOptions follow = {});
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line, without its end; it stays valid until the next call.
  // Returns false at the end of the input. Throws IoError on a read error.
  bool Next(std::string_view* line);

  // `hook` is called before every read of the input and every pause while
  // following: where the reader may wait, output held back is written out.
  void set_before_wait(std::function<void()> hook) { before_wait_ = std::move(hook); }
  // Runs `hook` before the reader moves or overwrites the text of lines it
  // has returned: until then every line returned stays valid.
  void set_before_move(std::function<void()> hook) { before_move_ = std::move(hook); }

  // 1-based number of the line Next() returned last.
  uint64_t line_number() const { return line_number_; }

  // Starts reading at byte `offset` of the input, counting the line there as
  // line `line_number` + 1. REQUIRES: nothing read yet; the input can seek.
  void StartAt(uint64_t offset, uint64_t line_number);

  // Where in the file being read the line Next() returned last begins; below
  // zero when that line came from a file the reader has since moved away from.
  int64_t line_offset() const { return line_offset_; }
  // Where in the file being read the bytes not yet returned as lines begin.
  uint64_t unread_offset() const { return offset_ - pending_in_file(); }
  // The file being read: device and inode (0, 0 for anything but a file).
  uint64_t device() const { return device_; }
  uint64_t inode() const { return inode_; }

 private:
  // Reads more bytes after end_, making room first. Returns false at the end
  // of the input (after waiting for more while following).
  bool Fill();
  // Waits until the input can be read without blocking; false when a stop was
  // asked for and nothing more has arrived.
  bool WaitForInput();
  bool Stopped() const { return follow_.stop != nullptr && *follow_.stop != 0; }

  // At the end of the followed file: looks whether it was cut short or
  // replaced, and moves on if so. Returns true iff there is a file to read on.
  bool FollowPath();
  // A line without its end so far is ended here (it came from a file the
  // reader moves away from).
  void EndPartialLine();
  void Tell(const std::string& what);

  // Bytes of the buffer not yet returned that come from the current file.
  uint64_t pending_in_file() const {
    const std::size_t pending = end_ - begin_;
    return begin_ >= switched_at_ ? pending : end_ - std::min(end_, switched_at_);
  }

  int fd_;
  int own_fd_ = -1;        // a file the reader opened itself after a rotation
  std::size_t switched_at_ = 0;  // buffer index where the current file's bytes begin
  int64_t line_offset_ = -1;
  uint64_t offset_ = 0;    // bytes read from the current file
  uint64_t device_ = 0, inode_ = 0;  // the current file's identity
  bool gone_ = false;      // the path named no file at the last look
  std::string name_;
  FollowOptions follow_;
  std::function<void()> before_wait_;
  std::function<void()> before_move_;
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
