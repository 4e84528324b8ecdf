// The conversion table read from a real QUORCNVT.INT in the current directory,
// through the system layer, with real pauses: a writer holding the file makes
// the load wait and retry until it lets go.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "convert/conversion_table.h"
#include "driver/driver.h"
#include "driver/driver_calls.h"
#include "platform/env.h"
#include "platform/posix_files.h"
#include "talvo/driver.h"
#include "util/short_text.h"

namespace talvo {
namespace {

// The system layer with its pauses counted (and really taken).
class CountingSystemEnv final : public Env {
 public:
  int opens = 0;
  int sleeps = 0;
  std::unique_ptr<Env> system = NewSystemEnv();

  ProfileResult ReadProfileString(std::string_view file, std::string_view section, std::string_view key,
                                  std::string_view default_value, std::size_t size) override {
    return system->ReadProfileString(file, section, key, default_value, size);
  }
  void FlushProfile(std::string_view file) override { system->FlushProfile(file); }
  SharedReadResult ReadFileShared(std::string_view path, std::size_t max_bytes) override {
    ++opens;
    return system->ReadFileShared(path, max_bytes);
  }
  LocalDate Today() override { return system->Today(); }
  void SleepMs(uint32_t milliseconds) override {
    ++sleeps;
    system->SleepMs(milliseconds);
  }
};

// A fresh folder made the current directory for the life of the test.
class ConversionTableFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/talvo-convert-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    previous_dir_ = cwd;
    free(cwd);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }

  void TearDown() override {
    EXPECT_EQ(chdir(previous_dir_.c_str()), 0);
    std::remove(TablePath().c_str());
    rmdir(dir_.c_str());
  }

  std::string TablePath() const { return dir_ + "/" + kConversionFileName; }

  // Writes a table of one entry: 0521 charged to 300.
  void WriteTable() {
    std::string file(2 * kConversionRecordSize, '\0');
    file[0] = 1;
    file[26] = 16;
    std::string("0521            ").copy(&file[27], 16);
    file[43] = 3;
    std::string("300").copy(&file[44], 3);
    std::ofstream(TablePath(), std::ios::binary) << file;
  }

  const ConversionTable* Loaded() const { return driver_.conversion_table(); }

  CountingSystemEnv env_;
  Driver driver_{env_};

 private:
  std::string dir_;
  std::string previous_dir_;
};

TEST_F(ConversionTableFileTest, MissingFileIsNotRetried) {
  EXPECT_EQ(calls::ProcessStart(driver_, nullptr), 1);
  ASSERT_NE(Loaded(), nullptr);
  EXPECT_EQ(Loaded()->EntryCount(), 0);
  EXPECT_EQ(env_.opens, 1);
  EXPECT_EQ(env_.sleeps, 0);
}

TEST_F(ConversionTableFileTest, LoadsFromTheCurrentDirectory) {
  WriteTable();
  driver_.StartRun();
  ASSERT_NE(Loaded(), nullptr);
  EXPECT_EQ(Loaded()->EntryCount(), 1);
  EXPECT_EQ(env_.opens, 1);
  CallRecord r{};
  StoreText(r.Extension, "215");
  ApplyConversion(Loaded(), r, "0521234567");
  EXPECT_EQ(TextOf(r.Extension), "300");
  EXPECT_EQ(TextOf(r.SecondExtension), "215");
}

TEST_F(ConversionTableFileTest, WaitsForAWriterThatHoldsTheFileBriefly) {
  WriteTable();
  std::promise<bool> locked;
  std::thread writer([this, &locked] {
    PosixFileWriterLock lock(TablePath());
    locked.set_value(lock.held());
    if (lock.held()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });
  const bool held = locked.get_future().get();
  const auto start = std::chrono::steady_clock::now();
  driver_.StartRun();
  const auto waited = std::chrono::steady_clock::now() - start;
  writer.join();
  ASSERT_TRUE(held) << "the writer could not take the file";

  ASSERT_NE(Loaded(), nullptr);
  EXPECT_EQ(Loaded()->EntryCount(), 1) << "loaded once the writer let go";
  // About 20 pauses of 10 ms; fewer when the machine oversleeps.
  EXPECT_GE(env_.sleeps, 3);
  EXPECT_LT(env_.sleeps, 49);
  EXPECT_EQ(env_.opens, env_.sleeps + 1);
  EXPECT_GE(waited, std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace talvo
