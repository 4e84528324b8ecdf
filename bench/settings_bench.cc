// One whole settings load, as DrvInitDriver makes it: 131 one-shot reads of
// section pbx, each reading the file afresh through the system layer.
//
// The file is the two-line sample layout of the tests: about a hundred keys,
// comments and empty values, as a site keeps it. A second case loads a file
// that does not exist (every key falls back to its default at once), and a
// third runs the load against a platform layer that answers every read with
// its default without touching a file: the cost of the reader itself.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "config/driver_settings.h"
#include "config/load_settings.h"
#include "platform/env.h"

namespace talvo {
namespace {

const std::string& SampleFile() {
  static const std::string path =
      std::string(TALVO_SOURCE_DIR) + "/src/config/testdata/two_line_pbx.ini";
  return path;
}

void BM_LoadDriverSettings(benchmark::State& state) {
  const std::unique_ptr<Env> env = NewSystemEnv();
  DriverSettings settings;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LoadDriverSettings(*env, SampleFile(), settings));
    benchmark::ClobberMemory();
  }
  if (settings.line_count != 2) state.SkipWithError("sample file not read");
}
BENCHMARK(BM_LoadDriverSettings)->Unit(benchmark::kMicrosecond);

void BM_LoadDriverSettingsMissingFile(benchmark::State& state) {
  const std::unique_ptr<Env> env = NewSystemEnv();
  DriverSettings settings;
  const std::string path = SampleFile() + ".absent";
  for (auto _ : state) {
    benchmark::DoNotOptimize(LoadDriverSettings(*env, path, settings));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LoadDriverSettingsMissingFile)->Unit(benchmark::kMicrosecond);

// Answers every profile read with its default, as for an absent key.
class NoFileEnv final : public Env {
 public:
  ProfileResult ReadProfileString(std::string_view, std::string_view, std::string_view,
                                  std::string_view default_value, std::size_t) override {
    return ProfileResult{std::string(default_value), kErrorFileNotFound};
  }
  void FlushProfile(std::string_view) override {}
  SharedReadResult ReadFileShared(std::string_view, std::size_t) override { return {}; }
  LocalDate Today() override { return {}; }
  void SleepMs(uint32_t) override {}
};

void BM_LoadDriverSettingsReaderOnly(benchmark::State& state) {
  NoFileEnv env;
  DriverSettings settings;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LoadDriverSettings(env, SampleFile(), settings));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LoadDriverSettingsReaderOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace talvo
