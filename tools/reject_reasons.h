// Why lines went into no record, said in terms of the settings in force.
//
// The driver reports one numeric code per record, and the first one it
// recorded: a marker test that rejects nothing by itself (DC_CHKn, PRV_CHKn)
// may stand beside a rejection it did not cause, and a line that was refused
// before any test recorded anything carries code 0. The host knows the
// settings it loaded, so it names only tests that can have failed, reads the
// field that failed out of the report line, and for code 0 says what the
// driver was waiting for.
#ifndef TALVO_TOOLS_REJECT_REASONS_H_
#define TALVO_TOOLS_REJECT_REASONS_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "config/driver_settings.h"
#include "tools/host_session.h"

namespace talvo::tool {

struct RejectExplanation {
  // What went wrong, without any text of the report ("start time invalid",
  // "extension outside EXT_RANGE_ST..EXT_RANGE_END (200..299)").
  std::string reason;
  // The columns first_column..last_column of line `line` of the stretch
  // (0-based into Reject::texts) hold the field that failed; first_column is
  // 0 when no one field is to blame.
  std::size_t line = 0;
  unsigned first_column = 0;
  unsigned last_column = 0;
};

class RejectExplainer {
 public:
  explicit RejectExplainer(const DriverSettings& settings) : s_(settings) {}

  RejectExplanation Explain(const Reject& reject) const;

  // What a line shows when it starts a call, in words: "a call line shows
  // "/" at column 3 and a blank at column 9; a local call line "LOCAL" at
  // column 1".
  std::string CallStartWords() const;

  // "<input>, line 17: start time invalid: "1?:15:30" in columns 10-17", for
  // standard error (no line end).
  static std::string ReadableLine(const Reject& reject, const RejectExplanation& why, std::string_view input);
  // The reason with its columns, for a reject row: "start time invalid,
  // columns 10-17".
  static std::string RowReason(const Reject& reject, const RejectExplanation& why);

  enum class CallKind { kNone, kNormal, kLocal, kDuty };
  // The kind of call a line starts, by the line-1 tests, in the driver's
  // order: a normal call, a local call, a duty call.
  CallKind KindStartedBy(std::string_view line) const;

 private:
  // The first test of the line `number` of a call of `kind` that `text`
  // fails, as an explanation; reason empty when it passes them all.
  RejectExplanation FailedContinuation(CallKind kind, std::size_t number, std::string_view text) const;
  RejectExplanation ForCode(const Reject& reject) const;
  RejectExplanation AtBuffered(const Reject& reject) const;

  DriverSettings s_;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_REJECT_REASONS_H_
