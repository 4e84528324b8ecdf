// The host's side of the driver's calling protocol, through the seven exports'
// calls on a driver of the session's own: one report line appended per DrvProcessLine call, a zero-filled
// working record for each new record, the list cleared after every result but
// 4 with a carried-over line kept as the first line of the next record, and
// the records read after every result 2 so that none is ever overwritten.
//
// Every line handed over ends up in exactly one place: a record (result 2 or
// 5), a skipped line (result 1 for a lone line that starts no call), a
// rejected stretch of lines (any other result 1), or the lines still buffered
// at the end of an input. The session tells its sink which, with the input line
// numbers.
#ifndef TALVO_TOOLS_HOST_SESSION_H_
#define TALVO_TOOLS_HOST_SESSION_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/driver.h"
#include "platform/env.h"
#include "talvo/driver.h"

namespace talvo::tool {

// Input lines first..last (1-based, both included); empty when count is 0.
struct LineSpan {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t count() const { return first == 0 ? 0 : last - first + 1; }
};

enum class RecordKind { kOutgoing, kIncoming, kInternal, kDuty };

// A record the driver produced; valid during the sink's call only.
struct DecodedRecord {
  RecordKind kind = RecordKind::kOutgoing;
  const CallRecord* record = nullptr;
  std::string_view call_date;  // as the driver wrote it: YYMMDD, or empty
  int32_t call_index = -1;     // -1 when the report has no index
  int32_t error_code = 0;      // a test that did not match beside the record (e.g. 42)
  LineSpan lines;
};

enum class RejectKind {
  kRejected,  // result 1: the lines are no record, or assembly refused them
  kBuffered,  // the input ended while these lines waited for more
  kDropped,   // the driver carried over an empty line, which the protocol drops
  kSkipped,   // result 1 for a lone line that starts no call while no call was
              // pending (a blank line, a page header): nothing was lost
};

// Lines that went into no record; valid during the sink's call only.
struct Reject {
  RejectKind kind = RejectKind::kRejected;
  LineSpan lines;
  int32_t error_code = 0;       // kRejected: the driver's reason (0 when none recorded)
  std::string_view first_text;  // the first line of the stretch
  // kRejected after assembly ran: the partly filled working record, else null.
  const CallRecord* record = nullptr;
  std::string_view call_date;
  int32_t call_index = -1;
  // Every line of the stretch, oldest first (empty for kDropped).
  std::span<const std::string> texts;
};

// One DrvProcessLine call, for tracing.
struct LineCall {
  uint64_t line = 0;
  int32_t result = 0;
  int32_t error_code = 0;
  bool carried = false;  // the line was moved to the carried-over line variable
};

class HostSink {
 public:
  // `lines`: OnLine is called for every line; a sink that does not look at
  // the calls says false, and is spared a call per line.
  explicit HostSink(bool lines = true) : lines_(lines) {}
  virtual ~HostSink() = default;
  bool wants_lines() const { return lines_; }
  virtual void OnLine(const LineCall&) {}
  virtual void OnRecord(const DecodedRecord& record) = 0;
  virtual void OnReject(const Reject& reject) = 0;

 private:
  bool lines_;
};

// "outgoing", "incoming", "internal", "duty".
std::string_view KindWord(RecordKind kind);

class HostSession {
 public:
  // Makes a driver of its own on `env`, takes a handle (DrvGetHandle) and
  // loads `settings_name` (DrvInitDriver), through the exports' calls.
  // REQUIRES: settings_name is at most 80 characters (the driver cuts longer
  // names); `env` outlives the session. Throws std::runtime_error when no
  // handle is free.
  HostSession(Env& env, const std::string& settings_name);
  // Ends a run still open and releases the handle.
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // INDEX_BASE of the settings.
  int32_t index_base() const { return index_base_; }

  // Opens the run (DrvProcessStart): the driver loads QUORCNVT.INT from the
  // current directory.
  void Start();
  // Closes the run (DrvProcessEnd).
  void End();

  // Hands over input line `line_number` of the current input. The line is
  // lent to the driver, not copied: it need only stay valid during the call.
  // The session copies it when the driver keeps it for a record not yet
  // complete (result 4).
  void Feed(std::string_view line, uint64_t line_number, HostSink& sink);

  // The caller keeps every line it feeds valid until it calls KeepLentLines
  // (before its buffer moves on) or the input ends: the lines of a call not
  // yet complete are then no longer copied after each line.
  void set_caller_keeps_lines(bool keeps) { caller_keeps_lines_ = keeps; }
  // Copies every lent line of the list into its own storage.
  void KeepLentLines();

  // The current input has ended: reports the lines still buffered and starts
  // the next input with an empty list.
  void EndOfInput(HostSink& sink);

  // The number of the oldest line the driver still holds for a call not yet
  // complete; 0 when it holds none. Decoding that starts again from this
  // line with a new session gives what this session would have given.
  uint64_t first_buffered_line() const { return count_ == 0 ? 0 : slots_[0].number; }

 private:
  struct ListBase {
    LineList list;
    HostSession* owner;
  };
  struct CarryBase {
    HostText text;
    HostSession* owner;
  };
  static int32_t TALVO_CALL ListCount(LineList* self);
  static int32_t TALVO_CALL ListGet(LineList* self, int32_t i, const char** text, int32_t* length);
  static int32_t TALVO_CALL ListDelete(LineList* self, int32_t i);
  static void TALVO_CALL CarryAssign(HostText* self, const char* text, int32_t length);

  // One line of the list: lent by the caller of Feed for the call's
  // duration, or held in `storage` once it must outlive that call.
  struct Slot {
    std::string_view lent;
    std::string storage;
    uint64_t number = 0;
    bool owned = false;
    std::string_view text() const { return owned ? std::string_view(storage) : lent; }
  };

  void Append(std::string_view text, uint64_t number);
  // One more slot, for a list longer than any before (kept out of line).
  [[gnu::noinline]] void AddSlot();
  // The list's texts, oldest first, as a rejected stretch reports them.
  std::span<const std::string> ListTexts();
  LineSpan ListSpan() const;

  Driver driver_;
  int32_t handle_ = 0;
  int32_t index_base_ = 0;
  bool started_ = false;
  bool caller_keeps_lines_ = false;
  bool new_record_ = true;

  ListBase list_;
  CarryBase carry_;
  // The list: slots keep their storage's capacity from record to record.
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  // Line numbers the driver deleted during the current call.
  std::vector<uint64_t> deleted_;
  std::string carry_text_;
  // Copies of the list's texts for a rejected stretch (rare: not kept up
  // while lines are lent).
  std::vector<std::string> reject_texts_;

  std::array<CallRecord, TALVO_RECORD_ENTRIES> records_{};
  int32_t record_count_ = 0;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_HOST_SESSION_H_
