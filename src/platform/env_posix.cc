// The platform layer on POSIX systems.
#include <ctime>
#include <thread>
#include <chrono>

#include "platform/env.h"
#include "platform/posix_files.h"

namespace talvo {
namespace {

class PosixEnv final : public Env {
 public:
  ProfileResult ReadProfileString(std::string_view file, std::string_view section, std::string_view key,
                                  std::string_view default_value, std::size_t size) override {
    return PosixReadProfileString(file, section, key, default_value, size);
  }

  void FlushProfile(std::string_view) override {}  // nothing is cached: every read opens the file

  SharedReadResult ReadFileShared(std::string_view path, std::size_t max_bytes) override {
    return PosixReadFileShared(path, max_bytes);
  }

  LocalDate Today() override {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  }

  void SleepMs(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace

std::unique_ptr<Env> NewSystemEnv() { return std::make_unique<PosixEnv>(); }

}  // namespace talvo
