// The driver through its exports, as a host sees it:
//  - DrvInitDriver on the bundled example's settings and on the three-line
//    settings (131 reads of the file);
//  - DrvProcessLine per report line, over 20000 calls of a generated report
//    in either layout, behind a minimal host that keeps its lines as views
//    into the report and does nothing with the records.
//
// The benchmarks run in the examples folder, so that DrvProcessStart loads
// the example's QUORCNVT.INT and the settings names stay short.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/gen/report_gen.h"
#include "talvo/driver.h"

namespace talvo::bench {
namespace {

constexpr uint64_t kCalls = 20000;

// Changes to the examples folder once; every settings name below is relative to it.
bool InExamples() {
  static const bool ok = ::chdir(TALVO_SOURCE_DIR "/examples") == 0;
  return ok;
}

std::vector<unsigned char> ShortString(std::string_view text) {
  std::vector<unsigned char> s(1 + text.size());
  s[0] = static_cast<unsigned char>(text.size());
  std::memcpy(s.data() + 1, text.data(), text.size());
  return s;
}

std::string SettingsName(ReportLayout layout) {
  return layout == ReportLayout::kExample ? "pbx.ini" : "../" + std::string(LayoutSettingsPath(layout));
}

// The report's lines, without their ends.
struct Report {
  std::string bytes;
  std::vector<std::string_view> lines;
};

const Report& GeneratedReport(ReportLayout layout) {
  static Report reports[2];
  Report& r = reports[layout == ReportLayout::kExample ? 0 : 1];
  if (r.lines.empty()) {
    ReportGenerator gen(layout, 20260315);
    for (uint64_t i = 0; i < kCalls; ++i) gen.AppendCall(r.bytes);
    gen.Finish(r.bytes);
    std::string_view rest = r.bytes;
    while (!rest.empty()) {
      const std::size_t end = rest.find("\r\n");
      r.lines.push_back(rest.substr(0, end));
      rest.remove_prefix(end + 2);
    }
  }
  return r;
}

// The host's side of DrvProcessLine, and nothing more.
class MinimalHost {
 public:
  MinimalHost() {
    static const LineListOps ops = {&Count, &Get, &Delete};
    list_.list.ops = &ops;
    list_.host = this;
    carry_.text.Assign = &Assign;
    carry_.host = this;
    lines_.reserve(8);
  }

  // Hands over one line; returns the driver's result.
  int32_t Feed(int32_t handle, std::string_view line) {
    if (new_record_) std::memset(&records_[0], 0, sizeof(CallRecord));
    new_record_ = false;
    lines_.push_back(line);
    unsigned char date[7] = {};
    int32_t count = 0;
    int32_t index = 0;
    int32_t error = 0;
    pending_carry_.clear();
    const int32_t result = DrvProcessLine(handle, &list_.list, &carry_.text, records_, date, &count, &index, &error);
    if (result != TALVO_RESULT_INCOMPLETE) {
      lines_.clear();
      new_record_ = true;
      if (!pending_carry_.empty()) {
        carry_text_.swap(pending_carry_);
        lines_.push_back(carry_text_);
      }
    }
    return result;
  }

  void Reset() {
    lines_.clear();
    new_record_ = true;
  }

 private:
  struct ListBase {
    LineList list;
    MinimalHost* host;
  };
  struct CarryBase {
    HostText text;
    MinimalHost* host;
  };
  static MinimalHost& Of(LineList* l) { return *reinterpret_cast<ListBase*>(l)->host; }
  static int32_t TALVO_CALL Count(LineList* self) { return static_cast<int32_t>(Of(self).lines_.size()); }
  static int32_t TALVO_CALL Get(LineList* self, int32_t i, const char** text, int32_t* length) {
    const std::string_view line = Of(self).lines_.at(static_cast<std::size_t>(i));
    *text = line.data();
    *length = static_cast<int32_t>(line.size());
    return 0;
  }
  static int32_t TALVO_CALL Delete(LineList* self, int32_t i) {
    auto& lines = Of(self).lines_;
    lines.erase(lines.begin() + i);
    return 0;
  }
  static void TALVO_CALL Assign(HostText* self, const char* text, int32_t length) {
    MinimalHost& h = *reinterpret_cast<CarryBase*>(self)->host;
    h.pending_carry_.assign(text, static_cast<std::size_t>(length));
  }

  ListBase list_;
  CarryBase carry_;
  std::vector<std::string_view> lines_;
  // The driver may read the list after handing over the carried-over line,
  // so the line is kept apart until the call returns.
  std::string pending_carry_;
  std::string carry_text_;
  bool new_record_ = true;
  CallRecord records_[TALVO_RECORD_ENTRIES];
};

void BM_DrvInitDriver(benchmark::State& state, ReportLayout layout) {
  if (!InExamples()) {
    state.SkipWithError("cannot change to the examples folder");
    return;
  }
  const int32_t handle = DrvGetHandle();
  const std::vector<unsigned char> name = ShortString(SettingsName(layout));
  int32_t index_base = 0;
  for (auto _ : state) {
    DrvInitDriver(handle, name.data(), &index_base);
    benchmark::DoNotOptimize(index_base);
  }
  DrvProcessClose(handle);
}
BENCHMARK_CAPTURE(BM_DrvInitDriver, example, ReportLayout::kExample)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DrvInitDriver, three_line, ReportLayout::kThreeLine)->Unit(benchmark::kMicrosecond);

void BM_DrvProcessLine(benchmark::State& state, ReportLayout layout) {
  if (!InExamples()) {
    state.SkipWithError("cannot change to the examples folder");
    return;
  }
  const Report& report = GeneratedReport(layout);
  const int32_t handle = DrvGetHandle();
  const std::vector<unsigned char> name = ShortString(SettingsName(layout));
  int32_t index_base = 0;
  DrvInitDriver(handle, name.data(), &index_base);
  const unsigned char no_text[1] = {0};
  DrvProcessStart(no_text);

  MinimalHost host;
  std::size_t i = 0;
  int64_t records = 0;
  for (auto _ : state) {
    records += host.Feed(handle, report.lines[i]) == TALVO_RESULT_RECORD ? 1 : 0;
    if (++i == report.lines.size()) {
      i = 0;
      host.Reset();
    }
  }
  DrvProcessEnd(no_text);
  DrvProcessClose(handle);
  state.SetItemsProcessed(state.iterations());
  state.counters["records"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_DrvProcessLine, example, ReportLayout::kExample);
BENCHMARK_CAPTURE(BM_DrvProcessLine, three_line, ReportLayout::kThreeLine);

}  // namespace
}  // namespace talvo::bench
