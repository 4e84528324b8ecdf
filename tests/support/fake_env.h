// An in-memory platform layer for tests: a fixed date, recorded pauses,
// profile files and shared files held in memory, and scripted failures.
#ifndef TALVO_TESTS_SUPPORT_FAKE_ENV_H_
#define TALVO_TESTS_SUPPORT_FAKE_ENV_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace talvo::testing {

class FakeEnv final : public Env {
 public:
  // Profile reads go to the in-memory files below unless `use_system_profiles`
  // is set, in which case they go to the real files of the system layer.
  bool use_system_profiles = false;
  std::map<std::string, std::string> profile_files;  // file name -> content
  // Scripted profile failures: while non-empty, each read pops one error code
  // and returns an empty value with it.
  std::deque<uint32_t> profile_failures;
  int profile_reads = 0;
  std::vector<std::string> profile_keys_read;  // the key of every read, in order
  int profile_flushes = 0;

  // Shared-file reads go to `shared_files` unless `use_system_files` is set.
  bool use_system_files = false;
  std::map<std::string, std::string> shared_files;  // path -> bytes
  // Scripted open errors: while non-empty, each open pops one error code.
  std::deque<uint32_t> open_failures;
  int shared_opens = 0;

  LocalDate today{2026, 3, 15};
  std::vector<uint32_t> sleeps;  // every pause asked for, in milliseconds

  ProfileResult ReadProfileString(std::string_view file, std::string_view section,
                                  std::string_view key, std::string_view default_value,
                                  std::size_t size) override;
  void FlushProfile(std::string_view file) override;
  SharedReadResult ReadFileShared(std::string_view path, std::size_t max_bytes) override;
  LocalDate Today() override { return today; }
  void SleepMs(uint32_t milliseconds) override { sleeps.push_back(milliseconds); }

 private:
  std::unique_ptr<Env> system_ = NewSystemEnv();  // for use_system_profiles and use_system_files
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_FAKE_ENV_H_
