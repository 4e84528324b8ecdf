// The lines of one record, copied out of the host's list so the field steps
// can read them by line number without calling back into the host.
// Recognition reads its lines through the same buffer, so a line it has copied
// is not copied a second time for the record. A record of one line is not
// copied at all: the buffer holds a view of the host's copy (Lend, LendFirst).
// A longer record whose lines arrive one per call can be kept line by line as
// they arrive (Keep), and its last line lent (UseKept), so that its lines are
// read from the host's list once each.
#ifndef TALVO_PARSE_RECORD_BUFFER_H_
#define TALVO_PARSE_RECORD_BUFFER_H_

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "parse/record_lines.h"

namespace talvo {

class RecordBuffer {
 public:
  // A record spans at most six lines; no setting names a later one.
  static constexpr int32_t kMaxLines = 6;

  // Starts a DrvProcessLine call: no line of the host's list is copied yet.
  void BeginCall() { fetched_ = 0; }

  // Line i (0-based) of `lines`, copied from the host's list at its first use
  // in this call (or lent by LendFirst); null when the list refuses it. Valid
  // until the next BeginCall, Load or Assign. REQUIRES: only the newest line
  // has been deleted from the list since BeginCall, and `i` is below it.
  const std::string_view* Fetch(RecordLines& lines, int32_t i);

  // After BeginCall: line 0 of this call is `line`, the host's own copy,
  // which the caller keeps valid (by making no other call on the list) while
  // the buffer is used.
  void LendFirst(std::string_view line) {
    views_[0] = line;
    fetched_ |= 1u;
  }

  // Copies lines 1..min(count, 6) of `lines` (those not fetched yet in this
  // call). Returns false when the host's list refuses a line; the buffer then
  // holds no line.
  bool Load(RecordLines& lines, int32_t count);

  // As Load, with nothing fetched before: the lines before the last are
  // copied, the last is lent from the host, whose text stays valid while the
  // caller makes no other call on the list.
  bool LoadLendingLast(RecordLines& lines, int32_t count);

  // Keeps a copy of `line` as line i (0-based, below kMaxLines) of a record
  // still incomplete, for the calls that follow: the host keeps such a
  // record's lines unchanged, so they need not be read from its list again.
  // (Held lines, below, are those of the record in hand; kept lines outlive
  // the call.)
  void Keep(int32_t i, std::string_view line) {
    const auto k = static_cast<std::size_t>(i);
    if (line.size() <= kKeptWidth) {
      // A report line fits: one fixed copy, without a string's bookkeeping.
      if (!line.empty()) std::memcpy(kept_[k].data(), line.data(), line.size());  // a host may lend null for ""
      kept_views_[k] = std::string_view(kept_[k].data(), line.size());
    } else {
      KeepLong(k, line);
    }
  }
  // The copy of line i kept by Keep.
  std::string_view kept_copy(int32_t i) const { return kept_views_[static_cast<std::size_t>(i)]; }
  // The record's `count` lines are the `kept` lines kept by Keep, then, when
  // count is kept + 1, `last` lent from the host (valid while the caller
  // makes no other call on the list). REQUIRES: kept <= count <= kept + 1,
  // count <= kMaxLines.
  void UseKept(int32_t count, int32_t kept, std::string_view last) {
    fetched_ = 0;
    views_ = kept_views_;  // all six at once: cheaper than a loop over the kept ones
    if (count > kept) views_[static_cast<std::size_t>(count - 1)] = last;
    count_ = count;
    total_ = count;
  }
  // Fills the buffer directly (tests, tools).
  void Assign(std::initializer_list<std::string_view> lines);
  // Holds `line` as the record's only line without copying it. The caller
  // keeps its characters alive and unchanged while the record is decoded.
  void Lend(std::string_view line) {
    fetched_ = 0;
    views_[0] = line;
    count_ = 1;
    total_ = 1;
  }

  // Line k (1-based) of the record, or nothing when it is not buffered.
  std::optional<std::string_view> Line(int32_t k) const {
    if (k < 1 || k > count_) return std::nullopt;
    return views_[static_cast<std::size_t>(k - 1)];
  }

  // Line k (1-based) of the record, or null when it is not buffered: Line
  // without building an optional, for the steps that read every call.
  const std::string_view* Held(int32_t k) const {
    return k < 1 || k > count_ ? nullptr : &views_[static_cast<std::size_t>(k - 1)];
  }

  // Line k, or the empty text when it is not buffered.
  std::string_view LineOrEmpty(int32_t k) const { return Line(k).value_or(std::string_view()); }

  // Number of buffered lines (the record's N, which may exceed six).
  int32_t count() const { return total_; }

 private:
  bool LoadLines(RecordLines& lines, int32_t count, bool lend_last);
  // Keep for a line longer than kKeptWidth. REQUIRES: k < kMaxLines.
  void KeepLong(std::size_t k, std::string_view line);

  std::array<std::string, kMaxLines> lines_{};      // keep their capacity from call to call
  std::array<std::string_view, kMaxLines> views_{};  // the held lines: copies, or one lent line
  // Lines kept by Keep: up to kKeptWidth characters in kept_, longer ones in
  // kept_long_.
  static constexpr std::size_t kKeptWidth = 256;
  std::array<std::array<char, kKeptWidth>, kMaxLines> kept_{};
  std::array<std::string, kMaxLines> kept_long_{};
  std::array<std::string_view, kMaxLines> kept_views_{};
  std::string beyond_;                              // a line fetched past the sixth
  std::string_view beyond_view_;
  uint32_t fetched_ = 0;                            // bit i: views_[i] holds line i of this call
  int32_t count_ = 0;                           // lines held, 0..6
  int32_t total_ = 0;                           // lines in the record
};

}  // namespace talvo

#endif  // TALVO_PARSE_RECORD_BUFFER_H_
