// The Windows platform layer against the system's own functions (under Wine
// when cross-built): profile reads, reads that refuse writers, the clock and
// the pause. No GoogleTest for this target: plain checks that name their input.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "platform/env.h"

namespace talvo {
namespace {

int failures = 0;

#define EXPECT(cond, what)                                                                     \
  do {                                                                                         \
    if (!(cond)) {                                                                             \
      std::cerr << __FILE__ << ":" << __LINE__ << ": EXPECT failed: " #cond " [" << what << "]\n"; \
      ++failures;                                                                              \
    }                                                                                          \
  } while (0)

// Wine's profile functions leave the last error alone where Windows sets
// ERROR_FILE_NOT_FOUND (default used) or ERROR_MORE_DATA (value cut); the
// layer passes on whatever the system says.
bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT(f != nullptr, "create " << path);
  if (f == nullptr) return;
  EXPECT(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(), "write " << path);
  std::fclose(f);
}

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
  return std::string(buffer, n);
}

void ProfileReads(const std::string& folder, bool wine) {
  const std::string file = folder + "\\env_profile.ini";
  WriteBytes(file,
            "[pbx]\r\n"
            "EXT_POS = 12;3 \r\n"
            "quoted=\"  a b  \"\r\n"
            "empty=\r\n"
            "long=value1\r\n"
            "[other]\r\n"
            "k=v\r\n");

  enum Outcome { kFound, kDefault, kCut };
  struct Case {
    const char* in;  // section/key, for the message
    std::string section, key, default_value;
    std::size_t size;
    std::string want;
    Outcome outcome;
  };
  const Case cases[] = {
      {"pbx/EXT_POS", "pbx", "EXT_POS", "", 2048, "12;3", kFound},
      {"PBX/ext_pos (names ignore case)", "PBX", "ext_pos", "", 2048, "12;3", kFound},
      {"pbx/quoted", "pbx", "quoted", "", 2048, "  a b  ", kFound},
      {"pbx/empty", "pbx", "empty", "Y", 2048, "", kFound},
      {"pbx/missing", "pbx", "missing", "N  ", 2048, "N", kDefault},
      {"pbx/missing, no default", "pbx", "missing", "", 2048, "", kDefault},
      {"other section only", "pbx", "k", "d", 2048, "d", kDefault},
      {"pbx/long in 5", "pbx", "long", "", 5, "valu", kCut},
      {"pbx/long in 7", "pbx", "long", "", 7, "value1", kFound},
  };
  const std::unique_ptr<Env> system = NewSystemEnv();
  Env& env = *system;
  for (const Case& c : cases) {
    const ProfileResult got = env.ReadProfileString(file, c.section, c.key, c.default_value, c.size);
    EXPECT(got.value == c.want, c.in << ": value \"" << got.value << "\", want \"" << c.want << "\"");
    uint32_t want_error = kErrorNone;
    if (!wine && c.outcome == kDefault) want_error = kErrorFileNotFound;
    if (!wine && c.outcome == kCut) want_error = kErrorMoreData;
    EXPECT(got.last_error == want_error, c.in << ": error " << got.last_error << ", want " << want_error);
  }

  // A missing file is reported on every system.
  const ProfileResult missing =
      env.ReadProfileString(folder + "\\no_such_file.ini", "pbx", "EXT_POS", "dflt", 2048);
  EXPECT(missing.value == "dflt" && missing.last_error == kErrorFileNotFound,
         "missing file: \"" << missing.value << "\", error " << missing.last_error);

  // A name holding a NUL would reach the system shorter than meant: refused.
  const ProfileResult nul = env.ReadProfileString(file, std::string("pbx\0x", 5), "EXT_POS", "d", 2048);
  EXPECT(nul.value.empty() && nul.last_error == ERROR_INVALID_NAME,
         "section with a NUL: \"" << nul.value << "\", error " << nul.last_error);

  // Flushing leaves the file as it was, and a change made after a read is seen.
  env.FlushProfile(file);
  WriteBytes(file, "[pbx]\r\nEXT_POS=7\r\n");
  const ProfileResult changed = env.ReadProfileString(file, "pbx", "EXT_POS", "", 2048);
  EXPECT(changed.value == "7", "after rewriting the file: \"" << changed.value << "\"");
  DeleteFileA(file.c_str());
}

void SharedReads(const std::string& folder) {
  const std::string file = folder + "\\env_shared.bin";
  const std::string content("\x01\x00\x02\x00table bytes", 15);
  WriteBytes(file, content);
  const std::unique_ptr<Env> system = NewSystemEnv();
  Env& env = *system;

  struct Case {
    const char* in;
    std::size_t max_bytes;
    std::string want;
  };
  const Case cases[] = {
      {"whole file", 100, content},
      {"exactly its size", content.size(), content},
      {"first 6 bytes", 6, content.substr(0, 6)},
      {"nothing asked", 0, ""},
  };
  for (const Case& c : cases) {
    const SharedReadResult got = env.ReadFileShared(file, c.max_bytes);
    EXPECT(got.error == kErrorNone && got.bytes == c.want,
           c.in << ": error " << got.error << ", " << got.bytes.size() << " bytes");
  }

  // Who else holds the file decides whether we may read it.
  struct Holder {
    const char* in;
    DWORD access, share;
    uint32_t want;
  };
  const Holder holders[] = {
      {"a writer sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, kErrorSharingViolation},
      {"a reader that refuses readers", GENERIC_READ, 0, kErrorSharingViolation},
      {"a reader that lets others read", GENERIC_READ, FILE_SHARE_READ, kErrorNone},
  };
  for (const Holder& h : holders) {
    HANDLE held = CreateFileA(file.c_str(), h.access, h.share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    EXPECT(held != INVALID_HANDLE_VALUE, h.in << ": open error " << GetLastError());
    const SharedReadResult got = env.ReadFileShared(file, 100);
    EXPECT(got.error == h.want, h.in << ": error " << got.error << ", want " << h.want);
    EXPECT(got.error != kErrorNone || got.bytes == content, h.in << ": " << got.bytes.size() << " bytes");
    CloseHandle(held);
  }

  // While we read, a writer is refused: checked from the other side by
  // holding the file the way our read does.
  HANDLE ours = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT(writer == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION,
         "a writer while the file is held for reading");
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  CloseHandle(ours);

  struct Failure {
    const char* in;
    std::string path;
    uint32_t want;
  };
  const Failure failures_[] = {
      {"missing file", folder + "\\no_such_file.bin", kErrorFileNotFound},
      {"missing folder", folder + "\\no_such_folder\\x.bin", kErrorPathNotFound},
      {"a folder", folder, kErrorAccessDenied},
      {"a NUL in the name", file + std::string("\0x", 2), static_cast<uint32_t>(ERROR_INVALID_NAME)},
  };
  for (const Failure& f : failures_) {
    const SharedReadResult got = env.ReadFileShared(f.path, 100);
    EXPECT(got.error == f.want && got.bytes.empty(), f.in << ": error " << got.error << ", want " << f.want);
  }
  DeleteFileA(file.c_str());
}

void ClockAndPause() {
  const std::unique_ptr<Env> system = NewSystemEnv();
  Env& env = *system;
  const LocalDate today = env.Today();
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT(today.year == now.wYear && today.month == now.wMonth && today.day == now.wDay,
         "today " << today.year << "-" << today.month << "-" << today.day);
  EXPECT(today.year >= 2024 && today.month >= 1 && today.month <= 12 && today.day >= 1 && today.day <= 31,
         "a plausible date");

  const DWORD start = GetTickCount();
  env.SleepMs(100);
  const DWORD slept = GetTickCount() - start;
  EXPECT(slept >= 80 && slept < 2000, "SleepMs(100) took " << slept << " ms");
}

}  // namespace
}  // namespace talvo

int main() {
  const std::string folder = talvo::CurrentFolder();
  const bool wine = talvo::RunningUnderWine();
  talvo::ProfileReads(folder, wine);
  talvo::SharedReads(folder);
  talvo::ClockAndPause();
  if (talvo::failures != 0) {
    std::cerr << talvo::failures << " check(s) failed\n";
    return 1;
  }
  std::cout << "Windows platform layer: all checks passed" << (wine ? " (under Wine)" : "") << "\n";
  return 0;
}
