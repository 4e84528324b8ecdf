// The platform layer on Windows: the kernel32 profile, file, clock and sleep
// functions, called as they are. Error codes are the system's own
// (GetLastError), which the layer's constants already number the same way.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace talvo {
namespace {

// A zero-terminated copy for the system, or nothing when `text` holds a NUL
// (the system would see a shorter name than the caller meant).
bool ToSystemText(std::string_view text, std::string* out) {
  if (text.find('\0') != std::string_view::npos) return false;
  out->assign(text);
  return true;
}

// Closes a file handle on every path out of the read.
class HandleCloser {
 public:
  explicit HandleCloser(HANDLE handle) : handle_(handle) {}
  ~HandleCloser() { CloseHandle(handle_); }
  HandleCloser(const HandleCloser&) = delete;
  HandleCloser& operator=(const HandleCloser&) = delete;

 private:
  HANDLE handle_;
};

class WindowsEnv final : public Env {
 public:
  ProfileResult ReadProfileString(std::string_view file, std::string_view section, std::string_view key,
                                  std::string_view default_value, std::size_t size) override {
    std::string file_z, section_z, key_z, default_z;
    if (!ToSystemText(file, &file_z) || !ToSystemText(section, &section_z) || !ToSystemText(key, &key_z) ||
        !ToSystemText(default_value, &default_z)) {
      return ProfileResult{{}, ERROR_INVALID_NAME};
    }
    // The system takes a DWORD size; a larger buffer than it can describe is never filled.
    const DWORD capacity = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    std::string buffer(std::max<DWORD>(capacity, 1), '\0');
    SetLastError(ERROR_SUCCESS);
    const DWORD copied = GetPrivateProfileStringA(section_z.c_str(), key_z.c_str(), default_z.c_str(),
                                                  buffer.data(), capacity, file_z.c_str());
    const DWORD error = GetLastError();
    buffer.resize(std::min<std::size_t>(copied, capacity == 0 ? 0 : capacity - 1));
    return ProfileResult{std::move(buffer), error};
  }

  void FlushProfile(std::string_view file) override {
    std::string file_z;
    if (!ToSystemText(file, &file_z)) return;
    // The result tells nothing useful: the documentation and the systems disagree on it.
    (void)WritePrivateProfileStringA(nullptr, nullptr, nullptr, file_z.c_str());
  }

  SharedReadResult ReadFileShared(std::string_view path, std::size_t max_bytes) override {
    std::string path_z;
    if (!ToSystemText(path, &path_z)) return SharedReadResult{ERROR_INVALID_NAME, {}};
    // Read access, shared with readers only: refused while anyone holds the
    // file for writing, and writers are refused while we hold it.
    HANDLE file = CreateFileA(path_z.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SharedReadResult{GetLastError(), {}};
    HandleCloser closer(file);

    SharedReadResult result;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(max_bytes, MAXDWORD));
    result.bytes.resize(wanted);
    DWORD got = 0;
    if (wanted > 0 && !ReadFile(file, result.bytes.data(), wanted, &got, nullptr)) {
      got = 0;  // a failed read delivers nothing we can trust
    }
    result.bytes.resize(std::min(got, wanted));
    return result;
  }

  LocalDate Today() override {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalDate{now.wYear, now.wMonth, now.wDay};
  }

  void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

std::unique_ptr<Env> NewSystemEnv() { return std::make_unique<WindowsEnv>(); }

}  // namespace talvo
