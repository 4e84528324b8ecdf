// The driver: all the state the seven exports work on, in one object.
//
// A Driver holds
//  - the table of ten handles, each with its own settings (DrvInitDriver loads
//    them from the handle's settings file);
//  - one conversion table for all handles: DrvProcessStart and DrvProcessEnd
//    name no handle, so the table they load and release is the driver's;
//  - one parser state for all handles: the local- and duty-call flags carried
//    from one DrvProcessLine call to the next belong to the run in progress.
//    A host makes one call at a time and does not interleave the lines of two
//    handles' runs, and a host that did would find the flags carried across
//    handles, as they always have been;
//  - the buffer the record's lines are copied into, kept from call to call so
//    that a line costs no allocation; the lines of a record still incomplete
//    are kept there as they arrive, one call after another, so that each is
//    read from the host's list once;
//  - for each handle, the plan compiled from its settings
//    (parse/layout_plan.h);
//  - the platform layer it was given, through which it reads settings files,
//    the conversion table and today's date.
//
// The exports use one Driver on the system's platform layer (exports.cc).
// Tests, fuzzers, benchmarks and the command-line host make their own, each
// with the platform layer it wants, and drive it through driver_calls.h as
// the exports do. Not for use by two threads at once.
#ifndef TALVO_DRIVER_DRIVER_H_
#define TALVO_DRIVER_DRIVER_H_

#include <cstdint>
#include <array>
#include <memory>
#include <optional>
#include <string_view>

#include "config/driver_settings.h"
#include "convert/conversion_table.h"
#include "driver/handle_table.h"
#include "parse/layout_plan.h"
#include "parse/parser_state.h"
#include "parse/record_buffer.h"
#include "parse/record_lines.h"
#include "platform/env.h"

namespace talvo {

class Driver {
 public:
  // REQUIRES: `env` outlives the driver.
  explicit Driver(Env& env) : env_(env) {}
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  Env& env() { return env_; }

  // The lowest free handle (1..10), or 0 when all are taken. A new handle's
  // settings are those of a missing settings file.
  int32_t AcquireHandle();

  // Frees `handle`; 0, numbers outside 1..10 and free handles are ignored.
  void ReleaseHandle(int32_t handle);

  // The settings of a taken handle, or nullptr.
  const DriverSettings* Settings(int32_t handle) { return handles_.Find(handle); }
  // Replaces the settings of a taken handle as a load would (tools that keep
  // settings already read); false for a handle that is not taken.
  bool ReplaceSettings(int32_t handle, const DriverSettings& settings);

  // Loads section "pbx" of `file` into the settings of `handle` and returns
  // INDEX_BASE; nothing, and no file read, for a handle that is not taken.
  // The settings are replaced only once the whole file has been read.
  std::optional<int32_t> LoadSettings(int32_t handle, std::string_view file);

  // Starts a processing run: reads QUORCNVT.INT (an unreadable file is an
  // empty table). Throws std::bad_alloc when memory runs out; the table is
  // then absent and nothing is converted.
  void StartRun();

  // Ends the run: releases the conversion table.
  void EndRun() { conversion_table_.reset(); }

  // The table of the run in progress, or nullptr outside a run.
  const ConversionTable* conversion_table() const { return conversion_table_.get(); }

  // DrvProcessLine's work: looks at the host's buffered lines under the
  // settings of `handle`, assembling a record when they complete one, and
  // returns a TALVO_RESULT_* value; TALVO_RESULT_NO_RECORD for a handle that
  // is not taken. REQUIRES: lines.Count() >= 1.
  int32_t ProcessLine(int32_t handle, RecordLines& lines, LineOutputs& out);

  // Whether records are decoded through the handle's compiled plan (the
  // default) or by the general path. Both give the same results for a host
  // that keeps its lines as DrvProcessLine asks; tests compare them.
  void set_use_plans(bool use) { use_plans_ = use; }
  // The flags carried from one line to the next.
  const ParserState& parser_state() const { return parser_state_; }

 private:
  Env& env_;
  // Compiles the plan of `handle` from its settings.
  void CompilePlan(int32_t handle);
  // ProcessLine by the plan's compiled recognition; `newest` is the host's
  // text of the newest of the `n` lines, and the `kept` lines before it were
  // kept by Keep in the earlier calls of this record (0 or n - 1).
  // `source` is lines.Source(). Inlined into its caller: it runs for most
  // lines, and the call itself was a measurable share of a line's cost.
  [[gnu::always_inline]] inline int32_t ProcessPlanned(const DriverSettings& settings, const LayoutPlan& plan,
                                                       int32_t handle, const void* source, RecordLines& lines,
                                                       int32_t n, int32_t kept, std::string_view newest,
                                                       LineOutputs& out);
  // Keeps a copy of `newest`, line n - 1 of an incomplete record in list
  // `source`, so that the next call of the record reads only its new line
  // from the host's list.
  void Keep(int32_t handle, const void* source, int32_t n, std::string_view newest) {
    // A record that could still grow past the buffer is read from the list,
    // and so are the lines of a list that cannot say it is the same one.
    if (n >= RecordBuffer::kMaxLines || source == nullptr) return;
    record_buffer_.Keep(n - 1, newest);
    kept_source_ = source;
    kept_handle_ = handle;
    kept_lines_ = n;
  }

  HandleTable handles_;
  // The compiled plan of each taken handle, by handle - 1.
  std::array<LayoutPlan, HandleTable::kSlots> plans_{};
  bool use_plans_ = true;
  std::unique_ptr<ConversionTable> conversion_table_;
  ParserState parser_state_;
  RecordBuffer record_buffer_;
  // The first `kept_lines_` lines of an incomplete record, copied into
  // record_buffer_ by Keep while the host lent them, from list `kept_source_`
  // under handle `kept_handle_`. The host keeps those lines unchanged and
  // appends one line per call until the record is complete, so the next
  // call finds them in place when the same list holds one line more. (A list
  // that would refuse one of those lines on that call is not asked for it.)
  const void* kept_source_ = nullptr;
  int32_t kept_handle_ = 0;
  int32_t kept_lines_ = 0;
};

}  // namespace talvo

#endif  // TALVO_DRIVER_DRIVER_H_
