// The report inside the raw bytes of a link: telnet commands taken out (on
// TCP links), the rest split into lines at LF, CRLF or a lone CR, as
// `talvo decode` splits a file. Every line comes with the place in the archive
// where it starts and ends, so that a record can name the bytes it came from
// and decoding can start again at any line.
#ifndef TALVO_TOOLS_REPORT_STREAM_H_
#define TALVO_TOOLS_REPORT_STREAM_H_

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo::tool {

// A byte of the archive: `file` is an index the reader of the archive keeps
// for a file's name, `offset` the byte's offset in that file.
struct StreamPosition {
  uint32_t file = 0;
  uint64_t offset = 0;
  bool operator==(const StreamPosition&) const = default;
};

// The telnet protocol's commands inside a TCP stream (RFC 854, 855). The
// collector wants no option at all: a request to turn one on (DO, WILL) is
// answered with a refusal (WONT, DONT); the other side's refusals need no
// answer. IAC IAC is a data byte 255; option negotiations, subnegotiations
// and the two-byte commands (NOP, GA, ...) are taken out.
class TelnetParser {
 public:
  // Looks at the next byte of the stream; true iff it is report data.
  // Appends the answer to a request it completes to `*reply` (when not null).
  bool Consume(unsigned char c, std::string* reply);
  // True iff no command is partly read.
  bool at_data() const { return state_ == State::kData; }

  static constexpr unsigned char kIac = 255;
  static constexpr unsigned char kDont = 254;
  static constexpr unsigned char kDo = 253;
  static constexpr unsigned char kWont = 252;
  static constexpr unsigned char kWill = 251;
  static constexpr unsigned char kSb = 250;
  static constexpr unsigned char kSe = 240;

 private:
  enum class State { kData, kIac, kOption, kSub, kSubIac };
  State state_ = State::kData;
  unsigned char verb_ = 0;
};

// Splits the raw bytes of a link into report lines.
class ReportSplitter {
 public:
  // A line longer than this is kept to its first kLineLimit bytes: no layout
  // reads that far, and a link that never sends a line end must not fill
  // the memory. The archive keeps every byte.
  static constexpr std::size_t kLineLimit = 64 * 1024;

  // `telnet`: the bytes come from a TCP link and may hold telnet commands
  // (and CR NUL, telnet's bare CR).
  explicit ReportSplitter(bool telnet) : telnet_(telnet) {}

  // Starts again at `start`, the first byte of a line; `after_cr` says that
  // the byte before ended a line with CR, so that an LF there belongs to it.
  void Reset(StreamPosition start, bool after_cr);

  // Splits `raw`, the bytes from `offset` on in archive file `file`, calling
  // `line(text, start, end)` for every line completed: `text` without its
  // end (valid during the call), `start` its first byte, `end` the byte
  // after its line end.
  template <typename F>
  void Consume(uint32_t file, uint64_t offset, std::string_view raw, F&& line);

  // Where the line not yet complete starts, and whether an LF there would
  // still belong to the line before: the place to start again from when no
  // line is waiting in the driver.
  StreamPosition line_start() const { return start_; }
  bool after_cr() const { return after_cr_; }

 private:
  bool telnet_;
  TelnetParser parser_;
  std::string line_;
  StreamPosition start_;
  bool after_cr_ = false;
};

template <typename F>
void ReportSplitter::Consume(uint32_t file, uint64_t offset, std::string_view raw, F&& line) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    // Most bytes are plain report text: a run of them up to the next line end
    // or telnet command is taken at once.
    if (!after_cr_ && (!telnet_ || parser_.at_data())) {
      std::size_t j = i;
      while (j < raw.size()) {
        const auto b = static_cast<unsigned char>(raw[j]);
        if (b == '\n' || b == '\r' || (telnet_ && b == TelnetParser::kIac)) break;
        ++j;
      }
      if (j > i) {
        const std::size_t room = kLineLimit - std::min(kLineLimit, line_.size());
        line_.append(raw.data() + i, std::min(room, j - i));
        i = j;
        if (i == raw.size()) break;
      }
    }
    const auto c = static_cast<unsigned char>(raw[i]);
    if (telnet_ && !parser_.Consume(c, nullptr)) continue;
    const StreamPosition next{file, offset + i + 1};
    if (after_cr_) {
      after_cr_ = false;
      // CRLF is one line end; so is telnet's CR NUL.
      if (c == '\n' || (telnet_ && c == '\0')) {
        start_ = next;
        continue;
      }
    }
    if (c == '\n' || c == '\r') {
      line(std::string_view(line_), start_, next);
      line_.clear();
      start_ = next;
      after_cr_ = c == '\r';
      continue;
    }
    if (line_.size() < kLineLimit) line_.push_back(static_cast<char>(c));
  }
}

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_REPORT_STREAM_H_
