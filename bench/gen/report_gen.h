// Large synthetic call reports for measurements: what a busy site's PBX
// prints over months, in one of two layouts, the same bytes for the same
// seed on every machine.
//
// The mix: outgoing calls (local, national, mobile, international, free-phone
// and branch numbers, some with an account code, some set up by the front
// desk for a room, some private, a few through DISA), incoming calls (most
// with a caller number, some ringing long), internal calls (incoming lines
// whose originating extension is another extension of the site), local
// (room to room) and duty lines, page headings, and about one call in two
// hundred malformed: a "?" in the start hour, an extension outside the range, a
// month 13, a line cut short, a local line without its called extension, a
// duty line with a broken year, a broken continuation line.
//
// The generator counts what the driver should make of every line
// (ReportTally), so that a run over the report can be checked against it.
#ifndef TALVO_BENCH_GEN_REPORT_GEN_H_
#define TALVO_BENCH_GEN_REPORT_GEN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::bench {

enum class ReportLayout {
  // The bundled example's layout (examples/pbx.ini): one line per call.
  kExample,
  // Three lines per call (bench/data/three_line.ini); local and duty lines
  // are printed in a block at the end of each page.
  kThreeLine,
};

// "example" or "three-line"; nothing for another name.
std::optional<ReportLayout> LayoutByName(std::string_view name);
std::string_view LayoutName(ReportLayout layout);

// The layout's settings file, relative to the source tree.
std::string_view LayoutSettingsPath(ReportLayout layout);

// What the driver makes of the lines written so far, plus the lines a
// closing Finish() writes.
struct ReportTally {
  uint64_t calls = 0;  // call entries written, malformed ones included
  uint64_t lines = 0;  // report lines written
  // Records expected, by the host's kinds (a local call is an internal call).
  uint64_t outgoing = 0;
  uint64_t incoming = 0;
  uint64_t internal = 0;
  uint64_t duty = 0;
  uint64_t malformed = 0;      // call entries that make no record
  uint64_t other_lines = 0;    // headings, separators, empty lines and the closing line
  uint64_t lines_in_records = 0;
  uint64_t records() const { return outgoing + incoming + internal + duty; }
};

class ReportGenerator {
 public:
  ReportGenerator(ReportLayout layout, uint64_t seed);

  // Appends the lines of the next call, preceded by a page break and heading
  // when the page is full. Every line ends with CR LF, as the PBX prints it.
  void AppendCall(std::string& out);

  // Appends the report's closing line, which also closes a local or duty
  // record still waiting for its next line.
  void Finish(std::string& out);

  const ReportTally& tally() const { return tally_; }

 private:
  struct Call;
  enum class Kind : uint8_t;
  enum class Fault : uint8_t;

  uint64_t Next();
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  bool Percent(uint32_t p) { return Below(100) < p; }

  void AdvanceClock();
  Call NewCall();
  std::string Extension();
  std::string DialledNumber();
  std::string CallerNumber();
  std::string Digits(uint32_t n);

  static std::string CallDate(const Call& c);
  static std::string StartTime(const Call& c);
  void Line(std::string& out, std::string_view text);
  // Writes out the lines held back for the end of the page (none is fine).
  void WriteHeld(std::string& out);
  void PageHeading(std::string& out);
  void WriteExample(std::string& out, const Call& call);
  void WriteThreeLine(std::string& out, const Call& call);
  void WriteLocalOrDuty(std::string& out, const Call& call);
  void Count(const Call& call);

  ReportLayout layout_;
  uint64_t state_;
  ReportTally tally_;
  // The clock of the report: a day number from 2020-01-01 and seconds since midnight.
  uint32_t day_ = 0;
  uint32_t second_ = 7 * 3600;
  uint32_t page_ = 0;
  uint32_t page_lines_ = 0;
  // Three-line layout: local and duty lines held back to the end of the page.
  std::string held_;
  uint32_t held_lines_ = 0;
};

}  // namespace talvo::bench

#endif  // TALVO_BENCH_GEN_REPORT_GEN_H_
