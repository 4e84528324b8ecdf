// Every layout of the layouts folder decodes its sample report to its expected
// records, through the exports, with today's date pinned to the layout's
// sample-today (2026-03-15 by default). The layout's header must be sound and
// its settings free of warnings.
//
// With TALVO_REWRITE_EXPECTED=1 in the environment the test writes each
// layouts/samples/NAME.expected from what the driver gives instead of
// comparing; every rewritten file is to be checked by hand against the
// sample before it is committed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/load_settings.h"
#include "driver/record_dump.h"
#include "support/fake_env.h"
#include "tools/files.h"
#include "tools/host_session.h"
#include "tools/layouts_command.h"
#include "tools/line_reader.h"
#include "tools/record_rows.h"
#include "tools/settings_report.h"
#include "tools/tool_test_support.h"

namespace talvo::tool {
namespace {

namespace fs = std::filesystem;

const fs::path kFolder = TALVO_LAYOUTS_SOURCE_DIR;

// The fewest calls a sample report holds.
constexpr int kMinimumSampleCalls = 20;

std::string ReadIfThere(const fs::path& path, bool& found) {
  std::ifstream file(path, std::ios::binary);
  found = static_cast<bool>(file);
  std::stringstream text;
  if (found) text << file.rdbuf();
  return text.str();
}

std::string Span(const LineSpan& lines) {
  return lines.count() <= 1 ? std::to_string(lines.first)
                            : std::to_string(lines.first) + "-" + std::to_string(lines.last);
}

// One line per outcome, in report order:
//   LINES record DUMP | LINES duty DUMP | LINES rejected CODE REASON |
//   LINES skipped REASON | LINES incomplete REASON | LINES dropped REASON
// LINES is the report line of a one-line stretch, FIRST-LAST otherwise.
class ExpectedSink final : public HostSink {
 public:
  std::string text;
  int records = 0;

  void OnRecord(const DecodedRecord& r) override {
    ++records;
    text += Span(r.lines) + (r.kind == RecordKind::kDuty ? " duty " : " record ") +
            DumpRecord(*r.record, r.call_date, r.call_index) + "\n";
  }
  void OnReject(const Reject& r) override {
    text += Span(r.lines);
    switch (r.kind) {
      case RejectKind::kRejected:
        text += " rejected " + std::to_string(r.error_code);
        break;
      case RejectKind::kSkipped:
        text += " skipped";
        break;
      case RejectKind::kBuffered:
        text += " incomplete";
        break;
      case RejectKind::kDropped:
        text += " dropped";
        break;
    }
    text += " " + std::string(RejectWriter::Reason(r)) + "\n";
  }
};

std::vector<std::string> LayoutNames() {
  std::vector<std::string> names = ListLayouts(kFolder.string());
  if (names.empty()) names.push_back("(no layouts)");
  return names;
}

class LayoutSample : public ::testing::TestWithParam<std::string> {};

TEST_P(LayoutSample, DecodesToExpected) {
  const std::string name = GetParam();
  const fs::path ini = kFolder / (name + ".ini");
  bool found = false;
  const std::string settings = ReadIfThere(ini, found);
  ASSERT_TRUE(found) << ini;

  const LayoutHeader header = ReadLayoutHeader(settings);
  for (const std::string& p : header.problems) ADD_FAILURE() << ini.string() << ": " << p;

  // The settings as the driver reads them: no warnings, and as many lines per
  // call as the header says.
  TempDir dir;
  const std::string settings_copy = dir.Put("layout.ini", settings);
  {
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    Output discard(null_fd, "/dev/null");
    EXPECT_EQ(WriteSettingsReport(settings_copy, discard), 0)
        << ini.string() << ": talvo settings --layout " << name << " shows the warnings";
    discard.Flush();
    ::close(null_fd);
  }
  talvo::testing::FakeEnv env;
  env.today = header.today;
  env.use_system_profiles = true;  // the settings copy on disk; no QUORCNVT.INT
  DriverSettings driver_settings;
  LoadDriverSettings(env, settings_copy, driver_settings);
  EXPECT_EQ(driver_settings.line_count, header.lines) << ini.string() << ": lines-per-call";

  const fs::path sample = kFolder / "samples" / (name + ".txt");
  ASSERT_TRUE(fs::is_regular_file(sample)) << "no sample report " << sample;

  ExpectedSink sink;
  {
    HostSession session(env, settings_copy);
    session.Start();
    const int fd = OpenInput(sample.string());
    LineReader reader(fd, sample.string());
    std::string_view line;
    while (reader.Next(&line)) session.Feed(line, reader.line_number(), sink);
    ::close(fd);
    session.EndOfInput(sink);
    session.End();
  }
  EXPECT_GE(sink.records, kMinimumSampleCalls) << sample << " holds too few calls";

  const fs::path expected_path = kFolder / "samples" / (name + ".expected");
  const char* rewrite = std::getenv("TALVO_REWRITE_EXPECTED");
  if (rewrite != nullptr && std::string_view(rewrite) == "1") {
    WriteFileAtomically(expected_path.string(), sink.text);
    std::cerr << "wrote " << expected_path.string() << ": check it by hand against " << sample.string() << "\n";
    return;
  }
  const std::string expected = ReadIfThere(expected_path, found);
  ASSERT_TRUE(found) << "no expected records " << expected_path
                     << " (TALVO_REWRITE_EXPECTED=1 writes it; check it by hand)";
  EXPECT_EQ(sink.text, expected) << sample.string() << " against " << expected_path.string();
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutSample, ::testing::ValuesIn(LayoutNames()),
                         [](const ::testing::TestParamInfo<std::string>& param_info) {
                           std::string test_name = param_info.param;
                           for (char& c : test_name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return test_name;
                         });

// The header's fixed form, which `talvo layouts` and the sample test read.
TEST(LayoutHeader, ReadsFieldsAndFlagsWhatIsNotInTheFixedForm) {
  const LayoutHeader good = ReadLayoutHeader(
      "; models: Vendor PBX 100,\r\n"
      ";   PBX 200\r\n"
      ";\n"
      "; lines-per-call: 3\n"
      "; pbx-options: CDR on\n"
      "; source: Manual, p. 7\n"
      "; cannot-express: nothing\n"
      "; sample-today: 2024-02-29\n"
      "\n"
      "; prose after the block is free\n"
      "[pbx]\n");
  EXPECT_TRUE(good.problems.empty()) << ::testing::PrintToString(good.problems);
  EXPECT_EQ(good.models, "Vendor PBX 100, PBX 200");
  EXPECT_EQ(good.lines, 3);
  EXPECT_EQ(good.today.year, 2024);
  EXPECT_EQ(good.today.month, 2);
  EXPECT_EQ(good.today.day, 29);

  const struct {
    const char* text;
    const char* problem;
  } bad[] = {
      {"; models: a\n;   b\n[pbx]\n", "no \"; lines-per-call:\" field"},
      {";   orphan\n", "line 1: a continuation line with no field before it"},
      {"; Models: x\n", "line 1: not a field"},
      {";models: x\n", "line 1: not a field"},
      {"; note: x\n", "line 1: not a field"},
      {"; models: a\n; models: b\n", "line 2: field models given twice"},
      {"; lines-per-call: 7\n", "lines-per-call is not a number from 1 to 6"},
      {"; sample-today: 2026-02-29\n", "sample-today is not a date"},
      {"; models: a\n;\n;   b\n", "line 3: a continuation line with no field before it"},
  };
  for (const auto& c : bad) {
    const LayoutHeader h = ReadLayoutHeader(c.text);
    const bool named = std::any_of(h.problems.begin(), h.problems.end(),
                                   [&](const std::string& p) { return p.starts_with(c.problem); });
    EXPECT_TRUE(named) << c.text << "gives " << ::testing::PrintToString(h.problems);
  }
}

// The command line: the listing, show, and --layout beside a settings file,
// with the layouts folder named by TALVO_LAYOUTS.
TEST(TalvoLayouts, ListShowAndLayoutInPlaceOfSettings) {
  using testing::RunTool;
  const testing::ScratchDir dir;
  bool found = false;
  const std::string layout = "; models: Acme 100,\n;   Acme 200\n; lines-per-call: 1\n; pbx-options: SMDR on\n"
                             "; source: Acme manual, p. 1\n; cannot-express: nothing\n\n" +
                             ReadIfThere(testing::TestData("one_line.ini"), found);
  ASSERT_TRUE(found);
  const std::string path = dir.Write("acme-100-smdr.ini", layout);
  const std::string report = testing::TestData("one_line.txt");
  ::setenv("TALVO_LAYOUTS", dir.path().c_str(), 1);

  const auto list = RunTool({"layouts"});
  EXPECT_EQ(list.exit_code, 0) << list.err;
  EXPECT_EQ(list.out, "layout         lines  models\nacme-100-smdr      1  Acme 100, Acme 200\n");
  const auto show = RunTool({"layouts", "show", "acme-100-smdr"});
  EXPECT_EQ(show.exit_code, 0) << show.err;
  EXPECT_EQ(show.out, layout);
  EXPECT_EQ(RunTool({"decode", "--layout", "acme-100-smdr", "-q", report}).out,
            RunTool({"decode", "--settings", path, "-q", report}).out);
  EXPECT_EQ(RunTool({"settings", "--layout", "acme-100-smdr"}).out, RunTool({"settings", path}).out);

  const struct {
    std::vector<std::string> args;
    std::string message;
  } refused[] = {
      {{"decode", report}, "--settings FILE or --layout NAME is required"},
      {{"settings"}, "a settings file or --layout NAME is required"},
      {{"decode", "--layout", "acme-100-smdr", "--settings", path, report}, "excludes"},
      {{"decode", "--layout", "acme-300-smdr", report}, "no layout named 'acme-300-smdr'"},
      {{"settings", "--layout", "../acme-100-smdr"}, "no layout named"},
      {{"layouts", "show", "acme-300-smdr"}, "no layout named"},
  };
  for (const auto& c : refused) {
    const auto r = RunTool(c.args);
    EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(c.args);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << ::testing::PrintToString(c.args) << r.err;
  }
  ::unsetenv("TALVO_LAYOUTS");
}

}  // namespace
}  // namespace talvo::tool
