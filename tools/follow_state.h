// Where a followed run is, kept in a file (--state), so that a run started
// again after a stop, a crash or a kill neither repeats nor skips a call:
// the followed file (device and inode), the byte its next call starts at,
// and how much of the output file holds the rows of the calls before it.
//
// The state is written after the rows it counts are on disk, so that the
// state never claims rows the output lacks; rows written after the state are
// cut off the output when the run starts again, and their calls decoded anew.
#ifndef TALVO_TOOLS_FOLLOW_STATE_H_
#define TALVO_TOOLS_FOLLOW_STATE_H_

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace talvo::tool {

struct FollowState {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t offset = 0;       // the first byte of the followed file not yet in a call
  uint64_t line = 0;         // the lines before it
  uint64_t output_size = 0;  // bytes of the output file holding the rows so far

  bool operator==(const FollowState&) const = default;
};

// The state kept in `path`, or nothing when there is no such file. Throws
// IoError when it cannot be read or is not a state file.
std::optional<FollowState> ReadFollowState(const std::string& path);

// Replaces `path` with `state`, durably: a new file beside it, synced, then
// renamed over it. Throws IoError.
void WriteFollowState(const std::string& path, const FollowState& state);

// The start offsets of the lines the driver may still hold, so that the
// state can point at the first line of a call not yet complete.
class LineOffsets {
 public:
  // Line `line` starts at `offset` of the followed file (below zero: in a
  // file the reader has moved away from).
  void Add(uint64_t line, int64_t offset) { lines_.emplace_back(line, offset); }
  // Where line `line` starts, forgetting the lines before it; nothing when it
  // is not known or lies in a file left behind.
  std::optional<uint64_t> Find(uint64_t line);

 private:
  std::deque<std::pair<uint64_t, int64_t>> lines_;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_FOLLOW_STATE_H_
