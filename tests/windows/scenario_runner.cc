// Runs every scenario file through talvo.dll as a host loads it: the exports
// looked up with GetProcAddress and called in the host's register convention,
// the settings read by the system's GetPrivateProfileStringA from a file in the
// current folder, the conversion table opened by CreateFileA from the same
// folder. Each result, error code, carried line and record dump must equal the
// scenario file's, which the Linux build meets too: the two builds give the
// same answers call by call.
//
// The scenario's local date is pinned by pointing talvo.dll's import of
// GetLocalTime at a function of ours; nothing else of the DLL is touched.
//
//   talvo_scenario_runner SCENARIO_FOLDER [NAME.scn ...]
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/record_dump.h"
#include "host_call.h"
#include "scenario.h"

namespace {

namespace fs = std::filesystem;
using talvo::testing::Scenario;
using talvo::testing::ScenarioStep;

struct Exports {
  HMODULE module = nullptr;
  GetHandleFn get_handle = nullptr;
  CloseFn close = nullptr;
  StartFn start = nullptr;
  EndFn end = nullptr;
  InitFn init = nullptr;
  ProcessLineFn process_line = nullptr;
};

template <typename Function>
bool Find(HMODULE module, const char* name, Function& out) {
  FARPROC found = GetProcAddress(module, name);
  if (found == nullptr) {
    std::fprintf(stderr, "talvo.dll does not export %s\n", name);
    return false;
  }
  out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  return true;
}

// The local date the DLL sees; set before each scenario.
SYSTEMTIME pinned_today{};

void WINAPI PinnedLocalTime(LPSYSTEMTIME now) {
  *now = pinned_today;
}

// Points the import slot of `function` from `dll` in `module` at `replacement`.
// Returns false iff the module does not import it by name.
bool ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0;
       ++entry) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
      DWORD protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return false;
      slots->u1.Function = reinterpret_cast<uintptr_t>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return true;
    }
  }
  return false;
}

bool LoadExports(Exports& drv) {
  drv.module = LoadLibraryA("talvo.dll");
  if (drv.module == nullptr) {
    std::fprintf(stderr, "LoadLibraryA(talvo.dll) failed: error %lu\n", static_cast<unsigned long>(GetLastError()));
    return false;
  }
  if (!ReplaceImport(drv.module, "KERNEL32.dll", "GetLocalTime", reinterpret_cast<void*>(&PinnedLocalTime))) {
    std::fprintf(stderr, "talvo.dll imports no GetLocalTime from KERNEL32.dll: the date cannot be pinned\n");
    return false;
  }
  return Find(drv.module, "DrvGetHandle", drv.get_handle) && Find(drv.module, "DrvProcessClose", drv.close) &&
         Find(drv.module, "DrvProcessStart", drv.start) && Find(drv.module, "DrvProcessEnd", drv.end) &&
         Find(drv.module, "DrvInitDriver", drv.init) && Find(drv.module, "DrvProcessLine", drv.process_line);
}

// The host's list of buffered lines and its carried-over line variable, with
// the callbacks in the host's convention.
struct HostList {
  LineList base;
  std::vector<std::string> lines;
  std::string copy;  // what Get hands out, valid until the next call
};

int32_t HOST_CALL ListCount(LineList* self) {
  return static_cast<int32_t>(reinterpret_cast<HostList*>(self)->lines.size());
}

int32_t HOST_CALL ListGet(LineList* self, int32_t i, const char** text, int32_t* length) {
  auto* list = reinterpret_cast<HostList*>(self);
  if (i < 0 || static_cast<std::size_t>(i) >= list->lines.size()) return 1;
  list->copy = list->lines[static_cast<std::size_t>(i)];
  *text = list->copy.data();
  *length = static_cast<int32_t>(list->copy.size());
  return 0;
}

int32_t HOST_CALL ListDelete(LineList* self, int32_t i) {
  auto* list = reinterpret_cast<HostList*>(self);
  if (i < 0 || static_cast<std::size_t>(i) >= list->lines.size()) return 1;
  list->lines.erase(list->lines.begin() + i);
  return 0;
}

const LineListOps kListOps = {ListCount, ListGet, ListDelete};

struct HostCarry {
  HostText base;
  std::string value;
};

void HOST_CALL CarryAssign(HostText* self, const char* text, int32_t length) {
  reinterpret_cast<HostCarry*>(self)->value.assign(text, static_cast<std::size_t>(std::max(length, 0)));
}

std::vector<unsigned char> ShortString(const std::string& text) {
  std::vector<unsigned char> out(1 + text.size());
  out[0] = static_cast<unsigned char>(text.size());
  std::memcpy(out.data() + 1, text.data(), text.size());
  return out;
}

bool WriteFileBytes(const char* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// The same outcome text as the scenario files: result, error code, " carry"
// when a line was carried over, " count=N" when the scenario set the count.
std::string Outcome(int32_t result, int32_t error_code, bool carried, bool show_count, int32_t count) {
  std::string s = std::to_string(result) + " err=" + std::to_string(error_code);
  if (carried) s += " carry";
  if (show_count) s += " count=" + std::to_string(count);
  return s;
}

// Runs one scenario; prints each difference and returns how many there were.
int RunScenario(const Exports& drv, const Scenario& sc) {
  int failures = 0;
  auto fail = [&](const ScenarioStep& step, const std::string& what, const std::string& want, const std::string& got) {
    std::fprintf(stderr, "%s:%d: %s\n  line: %s\n  want: %s\n  got:  %s\n", sc.name.c_str(), step.line_number,
                 what.c_str(), step.input.c_str(), want.c_str(), got.c_str());
    ++failures;
  };

  const char* const kSettings = "scenario.ini";
  if (!WriteFileBytes(kSettings, sc.settings)) {
    std::fprintf(stderr, "%s: cannot write %s\n", sc.name.c_str(), kSettings);
    return 1;
  }
  if (sc.table.empty()) {
    DeleteFileA("QUORCNVT.INT");
  } else if (!WriteFileBytes("QUORCNVT.INT", talvo::testing::BuildConversionTable(sc.table))) {
    std::fprintf(stderr, "%s: cannot write QUORCNVT.INT\n", sc.name.c_str());
    return 1;
  }
  pinned_today = SYSTEMTIME{};
  pinned_today.wYear = static_cast<WORD>(sc.today.year);
  pinned_today.wMonth = static_cast<WORD>(sc.today.month);
  pinned_today.wDay = static_cast<WORD>(sc.today.day);
  pinned_today.wHour = 12;

  const auto label = ShortString("run");
  if (drv.start(label.data()) != 1) {
    std::fprintf(stderr, "%s: DrvProcessStart did not answer 1\n", sc.name.c_str());
    return 1;
  }
  const int32_t handle = drv.get_handle();
  // A bare name is looked up in the Windows folder; this one names the current folder.
  const auto settings_name = ShortString(std::string(".\\") + kSettings);
  int32_t index_base = 0;
  drv.init(handle, settings_name.data(), &index_base);

  HostList list{};
  list.base.ops = &kListOps;
  HostCarry carry{};
  carry.base.Assign = CarryAssign;
  std::vector<CallRecord> records(TALVO_RECORD_ENTRIES);
  int32_t record_count = 0;
  bool new_record = true;
  for (const ScenarioStep& step : sc.steps) {
    if (new_record) {
      std::memset(&records[0], 0, sizeof(CallRecord));
      record_count = step.count_on_entry.value_or(0);
    }
    list.lines.push_back(step.input);
    carry.value.clear();
    unsigned char date[7] = {};
    int32_t call_index = -1;
    int32_t error_code = step.error_on_entry.value_or(0);
    int32_t drift = 0;
    const int32_t result =
        HostOrderProcessLine(drv.process_line, handle, &list.base, &carry.base, records.data(), date, &record_count,
                             &call_index, &error_code, 4, &drift);
    if (drift != 0) fail(step, "stack after the call", "0 bytes moved", std::to_string(drift) + " bytes moved");

    const std::string outcome =
        Outcome(result, error_code, !carry.value.empty(), step.count_on_entry.has_value(), record_count);
    if (outcome != step.want_outcome) fail(step, "outcome", step.want_outcome, outcome);
    const std::string call_date(reinterpret_cast<const char*>(date + 1), std::min<std::size_t>(date[0], 6));
    const std::string dump = talvo::DumpRecord(records[0], call_date, call_index);
    if (step.want_dump && dump != *step.want_dump) fail(step, "record", *step.want_dump, dump);
    if (!step.want_dump && (result == TALVO_RESULT_RECORD || result == TALVO_RESULT_DUTY)) {
      fail(step, "record without an expected dump", "(none)", dump);
    }
    if (result == TALVO_RESULT_RECORD && record_count >= 1 && record_count <= TALVO_RECORD_ENTRIES &&
        std::memcmp(&records[static_cast<std::size_t>(record_count - 1)], &records[0], sizeof(CallRecord)) != 0) {
      fail(step, "appended entry", "the working record", "another record");
    }

    new_record = result != TALVO_RESULT_INCOMPLETE;
    if (new_record) {
      list.lines.clear();
      if (!carry.value.empty()) list.lines.push_back(carry.value);
    }
  }
  drv.close(handle);
  drv.end(label.data());
  return failures;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: talvo_scenario_runner SCENARIO_FOLDER [NAME.scn ...]\n");
    return 2;
  }
  const fs::path folder = argv[1];
  std::vector<std::string> names(argv + 2, argv + argc);
  if (names.empty()) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      if (entry.path().extension() == ".scn") names.push_back(entry.path().filename().string());
    }
    if (error) {
      std::fprintf(stderr, "%s: %s\n", folder.string().c_str(), error.message().c_str());
      return 2;
    }
    std::sort(names.begin(), names.end());
  }
  if (names.empty()) {
    std::fprintf(stderr, "%s: no scenario files\n", folder.string().c_str());
    return 2;
  }

  Exports drv;
  if (!LoadExports(drv)) return 1;
  int failed = 0;
  for (const std::string& name : names) {
    int failures = 0;
    try {
      failures = RunScenario(drv, talvo::testing::ParseScenario(name, ReadFile(folder / name)));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      failures = 1;
    }
    std::printf("%s %s\n", failures == 0 ? "ok  " : "FAIL", name.c_str());
    failed += failures != 0;
  }
  FreeLibrary(drv.module);
  std::printf("%zu scenario(s) through talvo.dll, %d failed\n", names.size(), failed);
  return failed == 0 ? 0 : 1;
}
