// Runs every scenario file under tests/scenarios through the exports' calls,
// with a host that follows the calling protocol exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include <stdlib.h>

#include "driver/record_dump.h"
#include "scenario.h"
#include "support/fake_driver.h"
#include "support/test_host.h"

namespace talvo::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> ScenarioFiles() {
  std::vector<std::string> files;
  const fs::path dir = fs::path(TALVO_SOURCE_DIR) / "tests" / "scenarios";
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".scn") files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Outcome(const LineOutcome& o, bool show_count, int32_t count) {
  std::string s = std::to_string(o.result) + " err=" + std::to_string(o.error_code);
  if (!o.carried.empty()) s += " carry";
  if (show_count) s += " count=" + std::to_string(count);
  return s;
}

// Each scenario runs twice: one-line layouts through their compiled plan,
// and every line by the general path.
class ScenarioTest : public ::testing::TestWithParam<std::tuple<std::string, bool>> {};

TEST_P(ScenarioTest, Runs) {
  const std::string& file_name = std::get<0>(GetParam());
  const fs::path path = fs::path(TALVO_SOURCE_DIR) / "tests" / "scenarios" / file_name;
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file) << path;
  std::stringstream text;
  text << file.rdbuf();
  const Scenario sc = ParseScenario(file_name, text.str());

  // The settings file goes to disk and is read by the real profile reader.
  char dir_template[] = "/tmp/talvo-scenario-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const fs::path dir = dir_template;
  const std::string settings_file = (dir / "scenario.ini").string();
  {
    std::ofstream out(settings_file, std::ios::binary);
    out << sc.settings;
  }

  FakeDriver fake;
  fake.driver.set_use_plans(std::get<1>(GetParam()));
  fake.env.today = sc.today;
  fake.env.use_system_profiles = true;
  if (!sc.table.empty()) fake.env.shared_files["QUORCNVT.INT"] = BuildConversionTable(sc.table);

  ASSERT_EQ(fake.ProcessStart(ShortString("run").data()), 1);
  {
    TestHost host(fake.driver, settings_file);
    bool new_record = true;
    for (const ScenarioStep& step : sc.steps) {
      SCOPED_TRACE(sc.name + ":" + std::to_string(step.line_number));
      if (new_record) host.record_count = step.count_on_entry.value_or(0);
      if (step.error_on_entry) host.next_error_code = *step.error_on_entry;
      const LineOutcome o = host.Feed(step.input);
      EXPECT_EQ(Outcome(o, step.count_on_entry.has_value(), host.record_count), step.want_outcome)
          << "line: " << step.input;
      const std::string dump = DumpRecord(o.record, o.call_date, o.call_index);
      if (step.want_dump) {
        EXPECT_EQ(dump, *step.want_dump) << "line: " << step.input;
      } else if (o.result == TALVO_RESULT_RECORD || o.result == TALVO_RESULT_DUTY) {
        ADD_FAILURE() << "result " << o.result << " needs an expected '=' dump; got\n= " << dump;
      }
      if (o.result == TALVO_RESULT_RECORD && host.record_count >= 1 && host.record_count <= TALVO_RECORD_ENTRIES) {
        EXPECT_EQ(std::memcmp(&host.records[static_cast<std::size_t>(host.record_count - 1)], &o.record,
                              sizeof(CallRecord)),
                  0)
            << "the appended entry differs from the working record";
      }
      new_record = o.result != TALVO_RESULT_INCOMPLETE;
    }
  }
  fake.ProcessEnd(ShortString("run").data());
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioTest,
                         ::testing::Combine(::testing::ValuesIn(ScenarioFiles()), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<std::string, bool>>& param_info) {
                           const std::string& file = std::get<0>(param_info.param);
                           std::string name = file.substr(0, file.rfind('.')) +
                                              (std::get<1>(param_info.param) ? "_plan" : "_general");
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace talvo::testing
