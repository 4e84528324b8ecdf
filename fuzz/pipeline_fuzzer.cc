// The whole driver through its exports' calls, fed the way a host feeds it.
//
// Input: a settings file and a report, split at the first empty line ("\n\n").
// The settings text is section "pbx" as a person would type it; the report is
// cut into lines at each "\n" only, so CR, NUL and any other byte stay inside
// their line. Without an empty line the whole input is the settings file and
// there is no report.
//
// Each line is handed over with the host protocol (one line appended per
// call, a new working record for each record, the carried-over line kept as
// the first line of the next record), and every call is checked. The working
// record is zero-filled, or for half the inputs byte 3 throughout, as a host
// that does not clear it may leave it:
//  - the result is 1, 2, 4 or 5;
//  - RecordCount grows by one on result 2 and stays put otherwise;
//  - on result 2 the working record was copied to its entry (counts 1..20),
//    and no other entry of the array changed;
//  - every text field of the working record and the call date have a length
//    byte within their capacity, and the ring time is at most 255;
//  - result 4 leaves the call date and the index untouched, and never leaves
//    more than five lines waiting;
//  - the list is left as it was, or without its newest line when exactly that
//    line was handed back as the carried-over line.
//
// Every input is fed to two Drivers, the second deciding every line by the
// general path (its compiled one-line plans switched off): each call's
// result, error code, call date, index, carried-over line, list and whole
// record array must be the same byte for byte.
//
// Every input gets a Driver of its own; settings and the conversion table are
// held in memory (FakeEnv) and the date is fixed, so a run touches no disk and
// every input replays alike.
//
// DrvInitDriver reads the settings one key at a time, each read a pass over
// the whole text, and costs more than all the lines together. So the block
// that a settings text loads is kept, and a later input with the same settings
// text (most mutations change only the report) gets a copy of that block in
// its fresh handle instead of a second load. The block depends on nothing but
// the text, so an input still replays alike.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "config/driver_settings.h"
#include "support/fake_driver.h"
#include "support/test_host.h"
#include "talvo/driver.h"

namespace {

using talvo::testing::FakeDriver;
using talvo::testing::HostCarry;
using talvo::testing::HostLineList;
using talvo::testing::ShortString;

constexpr char kFuzzTarget[] = "pipeline_fuzzer";

constexpr char kSettingsFile[] = "fuzz.ini";

// A small conversion table, so that outgoing calls dialling 0, 1 or 9 take
// the conversion path: one prefix per entry, padded to 16 characters.
std::string ConversionImage() {
  const std::pair<const char*, const char*> entries[] = {
      {"0", "300"}, {"05", "400"}, {"0521", "300"}, {"00", ""}, {"1", "ZZZZZZZZ"}, {"9", "215"},
  };
  const std::size_t count = sizeof entries / sizeof entries[0];
  std::string image(26 * (count + 1), '\0');
  image[0] = static_cast<char>(count);
  for (std::size_t i = 0; i < count; ++i) {
    char* record = image.data() + 26 * (i + 1);
    std::string key(entries[i].first);
    key.resize(16, ' ');
    record[0] = 16;
    std::memcpy(record + 1, key.data(), 16);
    const std::size_t n = std::strlen(entries[i].second);
    record[17] = static_cast<char>(n);
    std::memcpy(record + 18, entries[i].second, n);
  }
  return image;
}

template <typename Text>
bool Within(const Text& t) {
  return t.length <= sizeof t.chars;
}

void CheckRecordTexts(const CallRecord& r, unsigned char fill) {
  FUZZ_CHECK(Within(r.Extension));
  FUZZ_CHECK(Within(r.SecondExtension));
  FUZZ_CHECK(Within(r.TrunkGroup));
  FUZZ_CHECK(Within(r.Trunk));
  FUZZ_CHECK(Within(r.Number));
  FUZZ_CHECK(Within(r.Account));
  FUZZ_CHECK(Within(r.TCode));
  const int16_t ring = r.RingSeconds;
  FUZZ_CHECK(ring <= 255 || ring == static_cast<int16_t>(fill * 0x0101));  // or as the host left it
}

std::vector<std::string_view> SplitLines(std::string_view report) {
  std::vector<std::string_view> lines;
  while (!report.empty()) {
    const std::size_t end = report.find('\n');
    if (end == std::string_view::npos) {
      lines.push_back(report);
      break;
    }
    lines.push_back(report.substr(0, end));
    report.remove_prefix(end + 1);
  }
  return lines;
}

// What one DrvProcessLine call gave the host, for comparing two drivers.
struct CallOutputs {
  int32_t result = 0;
  unsigned char date[7] = {};
  int32_t call_index = 0;
  int32_t error_code = 0;
};

class Host {
 public:
  Host(FakeDriver& driver, int32_t handle, unsigned char fill) : driver_(driver), handle_(handle), fill_(fill) {
    std::memset(records_, 0, sizeof records_);
  }

  CallOutputs Feed(std::string_view line) {
    if (new_record_) std::memset(&records_[0], fill_, sizeof(CallRecord));
    list_.lines.emplace_back(line);
    carry_.value.clear();
    carry_.assigned = false;

    const std::vector<std::string> lines_before = list_.lines;
    CallRecord before[TALVO_RECORD_ENTRIES];
    std::memcpy(before, records_, sizeof before);
    unsigned char date[7];
    std::memset(date, 0xEE, sizeof date);
    int32_t call_index = -77;
    int32_t error_code = 0;
    const int32_t count_before = record_count_;

    const int32_t result = driver_.ProcessLine(handle_, list_.list(), carry_.text(), records_, date,
                                               &record_count_, &call_index, &error_code);

    FUZZ_CHECK(result == TALVO_RESULT_NO_RECORD || result == TALVO_RESULT_RECORD ||
               result == TALVO_RESULT_INCOMPLETE || result == TALVO_RESULT_DUTY);
    if (result == TALVO_RESULT_RECORD) {
      FUZZ_CHECK(record_count_ == count_before + 1);
    } else {
      FUZZ_CHECK(record_count_ == count_before);
    }

    // Only entry 0 and, on an accepted record, the entry it was copied to change.
    const int32_t copied = result == TALVO_RESULT_RECORD && record_count_ >= 2 &&
                                   record_count_ <= TALVO_RECORD_ENTRIES
                               ? record_count_ - 1
                               : 0;
    for (int32_t i = 1; i < TALVO_RECORD_ENTRIES; ++i) {
      if (i == copied) continue;
      FUZZ_CHECK(std::memcmp(&before[i], &records_[i], sizeof(CallRecord)) == 0);
    }
    if (copied != 0) FUZZ_CHECK(std::memcmp(&records_[copied], &records_[0], sizeof(CallRecord)) == 0);
    CheckRecordTexts(records_[0], fill_);

    if (result == TALVO_RESULT_INCOMPLETE) {
      for (unsigned char c : date) FUZZ_CHECK(c == 0xEE);
      FUZZ_CHECK(call_index == -77);
      FUZZ_CHECK(list_.lines.size() < 6);
    }
    if (date[0] != 0xEE) FUZZ_CHECK(date[0] <= 6);

    // The list keeps its lines, or loses exactly its newest line to the carry.
    if (carry_.assigned) {
      FUZZ_CHECK(list_.lines.size() + 1 == lines_before.size());
      FUZZ_CHECK(std::equal(list_.lines.begin(), list_.lines.end(), lines_before.begin()));
      FUZZ_CHECK(carry_.value == lines_before.back());
    } else {
      FUZZ_CHECK(list_.lines == lines_before);
    }

    CallOutputs outputs;
    outputs.result = result;
    std::memcpy(outputs.date, date, sizeof date);
    outputs.call_index = call_index;
    outputs.error_code = error_code;
    if (result == TALVO_RESULT_INCOMPLETE) {
      new_record_ = false;
      return outputs;
    }
    list_.lines.clear();
    if (!carry_.value.empty()) list_.lines.push_back(carry_.value);
    new_record_ = true;
    // The host hands its full array on and starts again, now and then after
    // letting the count run past the array.
    if (record_count_ > TALVO_RECORD_ENTRIES + 2) record_count_ = 0;
    return outputs;
  }

  // True iff both hosts hold the same lines, records and count.
  bool SameStateAs(const Host& other) const {
    return list_.lines == other.list_.lines && carry_.value == other.carry_.value &&
           record_count_ == other.record_count_ && new_record_ == other.new_record_ &&
           std::memcmp(records_, other.records_, sizeof records_) == 0;
  }

 private:
  FakeDriver& driver_;
  int32_t handle_;
  unsigned char fill_;  // every byte of a new working record
  HostLineList list_;
  HostCarry carry_;
  CallRecord records_[TALVO_RECORD_ENTRIES];
  int32_t record_count_ = 0;
  bool new_record_ = true;
};

// A driver ready for the input's lines on handle 1.
void StartDriver(FakeDriver& driver, std::string_view settings, bool use_plans) {
  static const std::string table = ConversionImage();
  driver.driver.set_use_plans(use_plans);
  driver.env.today = talvo::LocalDate{2026, 3, 15};
  driver.env.profile_files[kSettingsFile] = std::string(settings);
  driver.env.shared_files["QUORCNVT.INT"] = table;

  const auto label = ShortString("fuzz");
  FUZZ_CHECK(driver.ProcessStart(label.data()) == 1);
  const int32_t handle = driver.GetHandle();
  FUZZ_CHECK(handle == 1);
  static std::unordered_map<std::string, talvo::DriverSettings> loaded;
  const auto known = loaded.find(std::string(settings));
  if (known != loaded.end()) {
    driver.driver.ReplaceSettings(handle, known->second);
  } else {
    const auto file = ShortString(kSettingsFile);
    int32_t index_base = 0;
    driver.InitDriver(handle, file.data(), &index_base);
    if (loaded.size() >= 20000) loaded.clear();
    loaded.emplace(std::string(settings), *driver.driver.Settings(handle));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find("\n\n");
  const std::string_view settings = input.substr(0, split);
  const std::string_view report =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 2);

  FakeDriver driver;
  FakeDriver general;
  StartDriver(driver, settings, true);
  StartDriver(general, settings, false);
  // A host need not clear the working record: for half the inputs it holds
  // three-character texts of byte 3 where the driver writes nothing.
  const unsigned char fill = report.size() % 2 == 1 ? 0x03 : 0x00;
  Host host(driver, 1, fill);
  Host general_host(general, 1, fill);
  for (std::string_view line : SplitLines(report)) {
    const CallOutputs got = host.Feed(line);
    const CallOutputs want = general_host.Feed(line);
    FUZZ_CHECK(got.result == want.result);
    FUZZ_CHECK(std::memcmp(got.date, want.date, sizeof got.date) == 0);
    FUZZ_CHECK(got.call_index == want.call_index);
    FUZZ_CHECK(got.error_code == want.error_code);
    FUZZ_CHECK(host.SameStateAs(general_host));
  }
  const auto label = ShortString("fuzz");
  driver.ProcessEnd(label.data());
  general.ProcessEnd(label.data());
  return 0;
}
