#include "config/load_settings.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <variant>

#include "config/profile_reader.h"
#include "util/text.h"

namespace talvo {
namespace {

using S = DriverSettings;
using Byte = uint8_t S::*;
using Flag = bool S::*;
using Whole = int32_t S::*;

// The kinds of key. Each names the fields it fills.

// "column;line": both kept, and the line raises LineCount.
struct Pair {
  Byte col;
  Byte line;
};
// "column;line" of a key whose line is given by another key of its group: the
// line part is read and dropped, and does not raise LineCount.
struct Column {
  Byte col;
};
// An integer kept as its low 8 bits; "12;2" is not an integer and gives 0.
struct ByteNumber {
  Byte field;
};
// An integer kept whole.
struct Number {
  Whole field;
};
struct YesNo {
  Flag flag;
  bool default_flag;
};
// TG_BASE: the first 6 characters as read.
struct TrunkGroupBase {};
// EXT_PREFIX: one digit or capital letter, or nothing.
struct ExtensionPrefix {};
// INDEX_BASE: an integer handed back to the host, not kept.
struct IndexBase {};
// Marker entries <key>n_POS then <key>n_STR for n = 1..N: a pair and a text of
// which the first 10 characters are kept as read, blanks included.
template <std::size_t N>
struct Markers {
  std::array<CheckEntry, N> S::*entries;
};
// Position entries <key>n<suffix> for n = 1..N, each a pair.
template <typename Entry, std::size_t N>
struct Positions {
  std::array<Entry, N> S::*entries;
  std::string_view suffix;
};
// Reads nothing: the length `len` of 0 becomes 2 when the column `col` is set.
struct LengthDefault {
  Byte len;
  Byte col;
};

using Target = std::variant<Pair, Column, ByteNumber, Number, YesNo, TrunkGroupBase,
                            ExtensionPrefix, IndexBase, Markers<6>, Markers<4>,
                            Positions<BlankEntry, 6>, Positions<CharEntry, 4>, LengthDefault>;

// A limit applied to a number as soon as its key has been read.
struct Limit {
  enum Kind : uint8_t { kNone, kAtMost, kAtLeast, kTwoWhenColumnSet };
  Kind kind = kNone;
  int32_t bound = 0;
  Byte column = nullptr;  // kTwoWhenColumnSet: the column that must be set
};

constexpr Limit AtMost(int32_t bound) { return {Limit::kAtMost, bound, nullptr}; }
constexpr Limit AtLeast(int32_t bound) { return {Limit::kAtLeast, bound, nullptr}; }
// A length of 0 means 2 for a field that is in the report.
constexpr Limit TwoWhenSet(Byte column) { return {Limit::kTwoWhenColumnSet, 0, column}; }

struct Row {
  std::string_view key;  // for a group of entries, the part before the digit
  Target target;
  Limit limit = {};
};

// Every key of section "pbx", in the order read.
constexpr Row kRows[] = {
    {"EXT_POS", Pair{&S::ExtCol, &S::ExtLine}},
    {"EXT_LEN", Column{&S::ExtLen}, AtMost(8)},
    {"ORG_EXT_POS", Pair{&S::OrgExtCol, &S::OrgExtLine}},
    {"ORG_EXT_LEN", Column{&S::OrgExtLen}, AtMost(8)},
    {"EXT_RANGE_ST", Number{&S::ExtRangeSt}},
    {"EXT_RANGE_END", Number{&S::ExtRangeEnd}},
    {"SAVE_TRNK_EXT", YesNo{&S::SaveTrnkExt, false}},
    {"EXT_PREFIX", ExtensionPrefix{}},
    {"EXT_LEAD_ZERO", YesNo{&S::ExtLeadZero, false}},
    {"ACCOUNT_POS", Pair{&S::AccountCol, &S::AccountLine}},
    {"ACCOUNT_LEN", Column{&S::AccountLen}},
    {"ACCOUNT_LZERO", YesNo{&S::AccountLzero, false}},
    {"ACCOUNT_EXT", YesNo{&S::AccountExt, false}},
    {"YEAR_POS", Column{&S::YearCol}},
    {"MONTH_POS", Pair{&S::MonthCol, &S::MonthLine}},
    {"DAY_POS", Column{&S::DayCol}},
    {"JULIAN_POS", Pair{&S::JulianCol, &S::JulianLine}},
    {"DATE_END", YesNo{&S::DateEnd, false}},
    {"TIMEHH_POS", Pair{&S::TimeHhCol, &S::TimeHhLine}},
    {"TIMEMM_POS", Column{&S::TimeMmCol}},
    {"TIMESS_POS", Column{&S::TimeSsCol}},
    {"AMPM_POS", Column{&S::AmPmCol}},
    {"ENDHH_POS", Pair{&S::EndHhCol, &S::EndHhLine}},
    {"ENDMM_POS", Column{&S::EndMmCol}},
    {"ENDSS_POS", Column{&S::EndSsCol}},
    {"LENHH_POS", Column{&S::LenHhCol}},
    {"LENMM_POS", Pair{&S::LenMmCol, &S::LenMmLine}},
    {"LENMM_LEN", Column{&S::LenMmLen}, TwoWhenSet(&S::LenMmCol)},
    {"LENSS_POS", Column{&S::LenSsCol}},
    {"LENSS_LEN", ByteNumber{&S::LenSsLen}, TwoWhenSet(&S::LenSsCol)},
    {"PEGS_COUNT", YesNo{&S::PegsCount, false}},
    {"RINGMM_POS", Column{&S::RingMmCol}},
    {"RINGMM_LEN", Column{&S::RingMmLen}},
    {"RINGSS_POS", Pair{&S::RingSsCol, &S::RingSsLine}},
    {"RINGSS_LEN", Column{&S::RingSsLen}, TwoWhenSet(&S::RingSsCol)},
    {"", LengthDefault{&S::RingMmLen, &S::RingMmCol}},  // once the whole ring time is read
    {"CHK", Markers<6>{&S::Chk}},
    {"SPC", Positions<BlankEntry, 6>{&S::Spc, "_POS"}},
    {"NUM_POS", Pair{&S::NumCol, &S::NumLine}},
    {"NUM_LEN", Column{&S::NumLen}},
    {"CLI_POS", Pair{&S::CliCol, &S::CliLine}},
    {"CLI_LEN", Column{&S::CliLen}},
    {"ALUMA_POS", Pair{&S::AlumaCol, &S::AlumaLine}},
    {"ALUMA_LEN", Column{&S::AlumaLen}},
    {"OREK_POS", Pair{&S::OrekCol, &S::OrekLine}},
    {"OREK_LEN", Column{&S::OrekLen}},
    {"TG_BASE", TrunkGroupBase{}},
    {"USE_TG_BASE_AS_STR", YesNo{&S::UseTgBaseAsStr, false}},
    {"PULSES_POS", Pair{&S::PulsesCol, &S::PulsesLine}},
    {"PULSES_LEN", Column{&S::PulsesLen}},
    {"PULSES_MULT", Number{&S::PulsesMult}, AtLeast(1)},
    {"INDEX_POS", Pair{&S::IndexCol, &S::IndexLine}},
    {"INDEX_LEN", Column{&S::IndexLen}},
    {"INDEX_BASE", IndexBase{}},
    {"TCODE_POS", Pair{&S::TcodeCol, &S::TcodeLine}},
    {"TCODE_LEN", Column{&S::TcodeLen}},
    {"DISA_POS", Pair{&S::DisaCol, &S::DisaLine}},
    {"DISA_LEN", Column{&S::DisaLen}},
    {"IN_CALLS", YesNo{&S::InCalls, false}},
    {"IN_CHK", Markers<4>{&S::InChk}},
    {"PRV_CALLS", YesNo{&S::PrvCalls, false}},
    {"PRV_CHK", Markers<4>{&S::PrvChk}},
    {"LOCAL_CALLS", YesNo{&S::LocalCalls, false}},
    {"LCL_CHK", Markers<4>{&S::LclChk}},
    {"LCL_YEAR_POS", ByteNumber{&S::LclYearCol}},
    {"LCL_MONTH_POS", Pair{&S::LclMonthCol, &S::LclMonthLine}},
    {"LCL_DAY_POS", ByteNumber{&S::LclDayCol}},
    {"LCL_TIMEHH_POS", Pair{&S::LclTimeHhCol, &S::LclTimeHhLine}},
    {"LCL_TIMEMM_POS", ByteNumber{&S::LclTimeMmCol}},
    {"LCL_ORG_POS", Pair{&S::LclOrgCol, &S::LclOrgLine}},
    {"LCL_ORG_LEN", ByteNumber{&S::LclOrgLen}},
    {"LCL_TER_POS", Pair{&S::LclTerCol, &S::LclTerLine}},
    {"LCL_TER_LEN", ByteNumber{&S::LclTerLen}},
    {"DUTY_CALL", YesNo{&S::DutyCall, false}},
    {"DC_CHK", Markers<4>{&S::DcChk}},
    {"DC_SPC1_POS", Pair{&S::DcSpc1Col, &S::DcSpc1Line}},
    {"DC_YEAR_POS", ByteNumber{&S::DcYearCol}},
    {"DC_MONTH_POS", Pair{&S::DcMonthCol, &S::DcMonthLine}},
    {"DC_DAY_POS", ByteNumber{&S::DcDayCol}},
    {"DC_TIMEHH_POS", Pair{&S::DcTimeHhCol, &S::DcTimeHhLine}},
    {"DC_TIMEMM_POS", ByteNumber{&S::DcTimeMmCol}},
    {"DC_EXT_POS", Pair{&S::DcExtCol, &S::DcExtLine}},
    {"DC_EXT_LEN", ByteNumber{&S::DcExtLen}},
    {"DC_TRN_D", Positions<CharEntry, 4>{&S::DcTrn, ""}},
    {"DC_EXT_CHK", YesNo{&S::DcExtChk, true}},
};

// The low 8 bits of a number, as the record's byte fields keep it.
uint8_t LowByte(int32_t value) { return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu); }

// Which of start time, end time and duration the report carries, from the
// columns alone.
TimeLayoutKind ComputeTimeLayout(const S& s) {
  const bool start = s.TimeHhCol != 0;
  const bool start_rest = s.TimeMmCol != 0 || s.TimeSsCol != 0;
  const bool duration = s.LenHhCol != 0 || s.LenMmCol != 0 || s.LenSsCol != 0;
  const bool end = s.EndHhCol != 0 || s.EndMmCol != 0 || s.EndSsCol != 0;
  if (start && duration) return TimeLayoutKind::kStartAndDuration;
  if (start && !end) return TimeLayoutKind::kStartOnly;
  if (start) return TimeLayoutKind::kStartAndEnd;
  if (!start_rest && duration && end) return TimeLayoutKind::kEndAndDuration;
  return TimeLayoutKind::kNone;
}

// Reads the rows of kRows into one record.
class SettingsLoader {
 public:
  SettingsLoader(Env& env, std::string_view file, S& settings) : env_(env), file_(file), s_(settings) {}

  void Read(const Row& row) {
    limit_ = row.limit;
    std::visit([&](const auto& target) { ReadKey(row.key, target); }, row.target);
  }

  int32_t index_base() const { return index_base_; }

 private:
  void ReadKey(std::string_view key, const Pair& t) {
    ReadSettingPair(env_, key, file_, s_.*t.col, s_.*t.line, &s_.LineCount);
  }
  void ReadKey(std::string_view key, const Column& t) {
    uint8_t dropped_line = 1;
    ReadSettingPair(env_, key, file_, s_.*t.col, dropped_line);
    Limited(s_.*t.col);
  }
  void ReadKey(std::string_view key, const ByteNumber& t) {
    s_.*t.field = LowByte(ReadInteger(key));
    Limited(s_.*t.field);
  }
  void ReadKey(std::string_view key, const Number& t) {
    s_.*t.field = ReadInteger(key);
    Limited(s_.*t.field);
  }
  void ReadKey(std::string_view key, const YesNo& t) {
    s_.*t.flag = ReadSettingYesNo(env_, kSettingsSection, key, t.default_flag, file_);
  }
  void ReadKey(std::string_view key, const TrunkGroupBase&) {
    s_.TgBase.assign(ReadSettingText(env_, kSettingsSection, key, file_));
  }
  void ReadKey(std::string_view key, const ExtensionPrefix&) {
    const std::string text = ReadSettingText(env_, kSettingsSection, key, file_);
    const std::string_view first = TrimBlanks(text).substr(0, 1);
    const bool usable = !first.empty() && (IsDigit(first[0]) || IsUpperLetter(first[0]));
    s_.ExtPrefix.assign(usable ? first : std::string_view());
  }
  void ReadKey(std::string_view key, const IndexBase&) { index_base_ = ReadInteger(key); }
  template <std::size_t N>
  void ReadKey(std::string_view key, const Markers<N>& t) {
    std::array<CheckEntry, N>& entries = s_.*t.entries;
    for (std::size_t n = 0; n < N; ++n) {
      CheckEntry& entry = entries[n];
      ReadSettingPair(env_, Composed(key, n, "_POS"), file_, entry.Col, entry.Line, &s_.LineCount);
      entry.Text.assign(ReadSettingText(env_, kSettingsSection, Composed(key, n, "_STR"), file_));
    }
  }
  template <typename Entry, std::size_t N>
  void ReadKey(std::string_view key, const Positions<Entry, N>& t) {
    std::array<Entry, N>& entries = s_.*t.entries;
    for (std::size_t n = 0; n < N; ++n) {
      Entry& entry = entries[n];
      ReadSettingPair(env_, Composed(key, n, t.suffix), file_, entry.Col, entry.Line, &s_.LineCount);
    }
  }
  void ReadKey(std::string_view, const LengthDefault& t) {
    if (s_.*t.len == 0 && s_.*t.col != 0) s_.*t.len = 2;
  }

  int32_t ReadInteger(std::string_view key) { return ReadSettingNumber(env_, kSettingsSection, key, file_); }

  // The key of entry `n` (0-based) of a group: "CHK" + "3" + "_POS".
  static std::string Composed(std::string_view stem, std::size_t n, std::string_view suffix) {
    std::string key(stem);
    key += static_cast<char>('1' + n);
    key += suffix;
    return key;
  }

  template <typename T>
  void Limited(T& value) const {
    switch (limit_.kind) {
      case Limit::kNone:
        break;
      case Limit::kAtMost:
        if (value > limit_.bound) value = static_cast<T>(limit_.bound);
        break;
      case Limit::kAtLeast:
        if (value < limit_.bound) value = static_cast<T>(limit_.bound);
        break;
      case Limit::kTwoWhenColumnSet:
        if (value == 0 && s_.*limit_.column != 0) value = 2;
        break;
    }
  }

  Env& env_;
  std::string_view file_;
  S& s_;
  Limit limit_;
  int32_t index_base_ = 0;
};

}  // namespace

void ReadSettingPair(Env& env, std::string_view key, std::string_view file, uint8_t& column, uint8_t& line,
                     uint8_t* line_count) {
  const std::string value = ReadSettingText(env, kSettingsSection, key, file);
  const std::string_view text = CutText(value, 1, 20);
  const std::size_t separator = std::min(text.find(';'), text.size());
  column = LowByte(TextToIntDef(text.substr(0, separator)));
  line = LowByte(TextToIntDef(CutText(text, static_cast<int32_t>(separator) + 2, 10)));
  if (line == 0 || line > kMaxCallLines || column == 0) line = 1;
  if (line_count != nullptr && line > *line_count) *line_count = line;
}

int32_t LoadDriverSettings(Env& env, std::string_view file, DriverSettings& settings) {
  settings = DriverSettings{};
  settings.LineCount = 1;
  SettingsLoader loader(env, file, settings);
  for (const Row& row : kRows) loader.Read(row);
  settings.TimeLayout = ComputeTimeLayout(settings);
  return loader.index_base();
}

}  // namespace talvo
