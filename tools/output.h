// Buffered output to a file descriptor, for the rows the tool writes.
//
// Rows are collected in one reused buffer and written in large blocks. A
// terminal gets each row as soon as it is complete. Any other destination that
// is not a regular file (a pipe, a socket) is live too, but gets its rows in
// blocks: the reading side calls FlushLive() before it waits for more input,
// so a live feed still shows every call as soon as the driver has it, while a
// bulk decode into a pipe is not slowed down by a write per row.
#ifndef TALVO_TOOLS_OUTPUT_H_
#define TALVO_TOOLS_OUTPUT_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace talvo::tool {

// A failure to read or write a file; what() is one line naming the file.
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "<what> '<path>': <strerror(error_number)>".
std::string DescribeError(std::string_view what, std::string_view path, int error_number);

class Output {
 public:
  // Writes to `fd`, which the Output does not own; `name` is used in messages.
  Output(int fd, std::string name);
  // Opens `path` for writing. A regular file, or a file that does not exist
  // yet, is written to a new file beside it that Commit() renames over
  // `path`: until then, and for good when the Output goes without Commit(),
  // `path` keeps what it held. Anything else (a terminal, a pipe, /dev/null)
  // is opened with truncation and written directly. With `stream` set (a live
  // feed read while it grows) a regular file is appended to and written
  // directly, every row out before the input is waited for, so that a run
  // stopped and started again adds to what it wrote. Throws IoError.
  static Output OpenFile(const std::string& path, bool stream = false);
  ~Output();
  Output(Output&& other) noexcept;
  Output& operator=(Output&&) = delete;
  Output(const Output&) = delete;

  // The row buffer: append to it, then call EndRow().
  std::string& buffer() { return buffer_; }
  void Write(std::string_view text) { buffer_.append(text); }

  // Marks the end of a row: flushes at once on a terminal, otherwise when the
  // buffer is large. Throws IoError when a write fails.
  void EndRow();
  // Writes out everything buffered. Throws IoError.
  void Flush();
  // Flushes, and puts a file written beside its path in its place. Throws
  // IoError.
  void Commit();
  // Flushes, and waits until what was written is on disk. Throws IoError.
  void Sync();
  // The size of the file written to. Throws IoError.
  uint64_t Size() const;
  // Flush() on a live destination (anything but a regular file); to be called
  // before the input is waited for. Throws IoError.
  void FlushLive() {
    if (live_ && !buffer_.empty()) Flush();
  }

  bool live() const { return live_; }
  // A stream appended to a file that already held something.
  bool appending() const { return appending_; }
  const std::string& name() const { return name_; }

 private:
  static constexpr std::size_t kBlock = 1 << 16;
  int fd_;
  bool owned_ = false;
  std::string temp_;       // the file written beside target_, until Commit()
  std::string target_;     // the file it replaces: the path, a symbolic link followed
  bool live_ = false;      // not a regular file
  bool per_row_ = false;   // a terminal
  bool appending_ = false;
  std::string name_;
  std::string buffer_;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_OUTPUT_H_
