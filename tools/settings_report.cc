#include "tools/settings_report.h"

#include <algorithm>
#include <functional>
#include <set>

#include "config/driver_settings.h"
#include "config/profile_reader.h"
#include "config/load_settings.h"
#include "platform/env.h"
#include "tools/files.h"
#include "tools/record_rows.h"
#include "util/text.h"

namespace talvo::tool {
namespace {

using S = DriverSettings;
using Byte = uint8_t S::*;
using ByteOf = std::function<unsigned(const S&)>;

// Columns past this one are almost surely a slip of the keyboard.
constexpr unsigned kWideColumn = 200;

enum class KeyKind {
  kPair,        // "column;line", the line its own
  kColumn,      // "column", read on the line of another key of its group
  kLength,      // a width read like a position: "5;3" is 5
  kByteColumn,  // an integer that is a column (local and duty-call layouts)
  kByteNumber,  // an integer kept in a byte
  kNumber,      // a 32-bit integer
  kYesNo,
  kText,
  kIndexBase,
};

struct KeyInfo {
  std::string key;
  KeyKind kind = KeyKind::kPair;
  ByteOf column;          // position kinds: the column used
  ByteOf line;            // position kinds: the line it is read on
  std::string carrier;    // kColumn, kByteColumn: the key whose line applies
  ByteOf number;          // kLength, kByteNumber
  std::function<int32_t(const S&)> whole;        // kNumber
  std::function<bool(const S&)> flag;            // kYesNo
  bool default_yes = false;                      // kYesNo
  std::function<std::string(const S&)> text;     // kText
  std::string enabled_by;  // marker keys: the switch that puts them in force
};

ByteOf Field(Byte f) {
  return [f](const S& s) { return static_cast<unsigned>(s.*f); };
}

KeyInfo Pair(std::string key, ByteOf col, ByteOf line, std::string enabled_by = {}) {
  KeyInfo k;
  k.key = std::move(key);
  k.kind = KeyKind::kPair;
  k.column = std::move(col);
  k.line = std::move(line);
  k.enabled_by = std::move(enabled_by);
  return k;
}
KeyInfo Pair(std::string key, Byte col, Byte line) { return Pair(std::move(key), Field(col), Field(line)); }
KeyInfo Column(std::string key, Byte col, Byte line, std::string carrier, KeyKind kind = KeyKind::kColumn) {
  KeyInfo k;
  k.key = std::move(key);
  k.kind = kind;
  k.column = Field(col);
  k.line = Field(line);
  k.carrier = std::move(carrier);
  return k;
}
KeyInfo Length(std::string key, Byte f, KeyKind kind = KeyKind::kLength) {
  KeyInfo k;
  k.key = std::move(key);
  k.kind = kind;
  k.number = Field(f);
  return k;
}
KeyInfo Number(std::string key, int32_t S::*f) {
  KeyInfo k;
  k.key = std::move(key);
  k.kind = KeyKind::kNumber;
  k.whole = [f](const S& s) { return s.*f; };
  return k;
}
KeyInfo YesNo(std::string key, bool S::*f, bool default_yes) {
  KeyInfo k;
  k.key = std::move(key);
  k.kind = KeyKind::kYesNo;
  k.flag = [f](const S& s) { return s.*f; };
  k.default_yes = default_yes;
  return k;
}
KeyInfo Text(std::string key, std::function<std::string(const S&)> f, std::string enabled_by = {}) {
  KeyInfo k;
  k.key = std::move(key);
  k.kind = KeyKind::kText;
  k.text = std::move(f);
  k.enabled_by = std::move(enabled_by);
  return k;
}

// The marker entries <stem>n_POS and <stem>n_STR of one group.
template <std::size_t N>
void Markers(std::vector<KeyInfo>& keys, const std::string& stem, std::array<CheckEntry, N> S::*entries,
             const std::string& enabled_by) {
  for (std::size_t n = 0; n < N; ++n) {
    const std::string base = stem + std::to_string(n + 1);
    keys.push_back(Pair(
        base + "_POS", [entries, n](const S& s) { return static_cast<unsigned>((s.*entries)[n].Col); },
        [entries, n](const S& s) { return static_cast<unsigned>((s.*entries)[n].Line); }, enabled_by));
    keys.push_back(Text(
        base + "_STR", [entries, n](const S& s) { return std::string((s.*entries)[n].Text.view()); }, enabled_by));
  }
}

// Every key in the order DrvInitDriver reads it.
const std::vector<KeyInfo>& Keys() {
  static const std::vector<KeyInfo> keys = [] {
    std::vector<KeyInfo> k;
    k.push_back(Pair("EXT_POS", &S::ExtCol, &S::ExtLine));
    k.push_back(Length("EXT_LEN", &S::ExtLen));
    k.push_back(Pair("ORG_EXT_POS", &S::OrgExtCol, &S::OrgExtLine));
    k.push_back(Length("ORG_EXT_LEN", &S::OrgExtLen));
    k.push_back(Number("EXT_RANGE_ST", &S::ExtRangeSt));
    k.push_back(Number("EXT_RANGE_END", &S::ExtRangeEnd));
    k.push_back(YesNo("SAVE_TRNK_EXT", &S::SaveTrnkExt, false));
    k.push_back(Text("EXT_PREFIX", [](const S& s) { return std::string(s.ExtPrefix.view()); }));
    k.push_back(YesNo("EXT_LEAD_ZERO", &S::ExtLeadZero, false));
    k.push_back(Pair("ACCOUNT_POS", &S::AccountCol, &S::AccountLine));
    k.push_back(Length("ACCOUNT_LEN", &S::AccountLen));
    k.push_back(YesNo("ACCOUNT_LZERO", &S::AccountLzero, false));
    k.push_back(YesNo("ACCOUNT_EXT", &S::AccountExt, false));
    k.push_back(Column("YEAR_POS", &S::YearCol, &S::MonthLine, "MONTH_POS"));
    k.push_back(Pair("MONTH_POS", &S::MonthCol, &S::MonthLine));
    k.push_back(Column("DAY_POS", &S::DayCol, &S::MonthLine, "MONTH_POS"));
    k.push_back(Pair("JULIAN_POS", &S::JulianCol, &S::JulianLine));
    k.push_back(YesNo("DATE_END", &S::DateEnd, false));
    k.push_back(Pair("TIMEHH_POS", &S::TimeHhCol, &S::TimeHhLine));
    k.push_back(Column("TIMEMM_POS", &S::TimeMmCol, &S::TimeHhLine, "TIMEHH_POS"));
    k.push_back(Column("TIMESS_POS", &S::TimeSsCol, &S::TimeHhLine, "TIMEHH_POS"));
    k.push_back(Column("AMPM_POS", &S::AmPmCol, &S::TimeHhLine, "TIMEHH_POS"));
    k.push_back(Pair("ENDHH_POS", &S::EndHhCol, &S::EndHhLine));
    k.push_back(Column("ENDMM_POS", &S::EndMmCol, &S::EndHhLine, "ENDHH_POS"));
    k.push_back(Column("ENDSS_POS", &S::EndSsCol, &S::EndHhLine, "ENDHH_POS"));
    k.push_back(Column("LENHH_POS", &S::LenHhCol, &S::LenMmLine, "LENMM_POS"));
    k.push_back(Pair("LENMM_POS", &S::LenMmCol, &S::LenMmLine));
    k.push_back(Length("LENMM_LEN", &S::LenMmLen));
    k.push_back(Column("LENSS_POS", &S::LenSsCol, &S::LenMmLine, "LENMM_POS"));
    k.push_back(Length("LENSS_LEN", &S::LenSsLen, KeyKind::kByteNumber));
    k.push_back(YesNo("PEGS_COUNT", &S::PegsCount, false));
    k.push_back(Column("RINGMM_POS", &S::RingMmCol, &S::RingSsLine, "RINGSS_POS"));
    k.push_back(Length("RINGMM_LEN", &S::RingMmLen));
    k.push_back(Pair("RINGSS_POS", &S::RingSsCol, &S::RingSsLine));
    k.push_back(Length("RINGSS_LEN", &S::RingSsLen));
    Markers(k, "CHK", &S::Chk, "");
    for (std::size_t n = 0; n < 6; ++n) {
      k.push_back(Pair(
          "SPC" + std::to_string(n + 1) + "_POS", [n](const S& s) { return static_cast<unsigned>(s.Spc[n].Col); },
          [n](const S& s) { return static_cast<unsigned>(s.Spc[n].Line); }));
    }
    k.push_back(Pair("NUM_POS", &S::NumCol, &S::NumLine));
    k.push_back(Length("NUM_LEN", &S::NumLen));
    k.push_back(Pair("CLI_POS", &S::CliCol, &S::CliLine));
    k.push_back(Length("CLI_LEN", &S::CliLen));
    k.push_back(Pair("ALUMA_POS", &S::AlumaCol, &S::AlumaLine));
    k.push_back(Length("ALUMA_LEN", &S::AlumaLen));
    k.push_back(Pair("OREK_POS", &S::OrekCol, &S::OrekLine));
    k.push_back(Length("OREK_LEN", &S::OrekLen));
    k.push_back(Text("TG_BASE", [](const S& s) { return std::string(s.TgBase.view()); }));
    k.push_back(YesNo("USE_TG_BASE_AS_STR", &S::UseTgBaseAsStr, false));
    k.push_back(Pair("PULSES_POS", &S::PulsesCol, &S::PulsesLine));
    k.push_back(Length("PULSES_LEN", &S::PulsesLen));
    k.push_back(Number("PULSES_MULT", &S::PulsesMult));
    k.push_back(Pair("INDEX_POS", &S::IndexCol, &S::IndexLine));
    k.push_back(Length("INDEX_LEN", &S::IndexLen));
    KeyInfo index_base;
    index_base.key = "INDEX_BASE";
    index_base.kind = KeyKind::kIndexBase;
    k.push_back(index_base);
    k.push_back(Pair("TCODE_POS", &S::TcodeCol, &S::TcodeLine));
    k.push_back(Length("TCODE_LEN", &S::TcodeLen));
    k.push_back(Pair("DISA_POS", &S::DisaCol, &S::DisaLine));
    k.push_back(Length("DISA_LEN", &S::DisaLen));
    k.push_back(YesNo("IN_CALLS", &S::InCalls, false));
    Markers(k, "IN_CHK", &S::InChk, "IN_CALLS");
    k.push_back(YesNo("PRV_CALLS", &S::PrvCalls, false));
    Markers(k, "PRV_CHK", &S::PrvChk, "PRV_CALLS");
    k.push_back(YesNo("LOCAL_CALLS", &S::LocalCalls, false));
    Markers(k, "LCL_CHK", &S::LclChk, "LOCAL_CALLS");
    k.push_back(Column("LCL_YEAR_POS", &S::LclYearCol, &S::LclMonthLine, "LCL_MONTH_POS", KeyKind::kByteColumn));
    k.push_back(Pair("LCL_MONTH_POS", &S::LclMonthCol, &S::LclMonthLine));
    k.push_back(Column("LCL_DAY_POS", &S::LclDayCol, &S::LclMonthLine, "LCL_MONTH_POS", KeyKind::kByteColumn));
    k.push_back(Pair("LCL_TIMEHH_POS", &S::LclTimeHhCol, &S::LclTimeHhLine));
    k.push_back(
        Column("LCL_TIMEMM_POS", &S::LclTimeMmCol, &S::LclTimeHhLine, "LCL_TIMEHH_POS", KeyKind::kByteColumn));
    k.push_back(Pair("LCL_ORG_POS", &S::LclOrgCol, &S::LclOrgLine));
    k.push_back(Length("LCL_ORG_LEN", &S::LclOrgLen, KeyKind::kByteNumber));
    k.push_back(Pair("LCL_TER_POS", &S::LclTerCol, &S::LclTerLine));
    k.push_back(Length("LCL_TER_LEN", &S::LclTerLen, KeyKind::kByteNumber));
    k.push_back(YesNo("DUTY_CALL", &S::DutyCall, false));
    Markers(k, "DC_CHK", &S::DcChk, "DUTY_CALL");
    KeyInfo dc_spc = Pair("DC_SPC1_POS", &S::DcSpc1Col, &S::DcSpc1Line);
    dc_spc.enabled_by = "DUTY_CALL";
    k.push_back(dc_spc);
    k.push_back(Column("DC_YEAR_POS", &S::DcYearCol, &S::DcMonthLine, "DC_MONTH_POS", KeyKind::kByteColumn));
    k.push_back(Pair("DC_MONTH_POS", &S::DcMonthCol, &S::DcMonthLine));
    k.push_back(Column("DC_DAY_POS", &S::DcDayCol, &S::DcMonthLine, "DC_MONTH_POS", KeyKind::kByteColumn));
    k.push_back(Pair("DC_TIMEHH_POS", &S::DcTimeHhCol, &S::DcTimeHhLine));
    k.push_back(
        Column("DC_TIMEMM_POS", &S::DcTimeMmCol, &S::DcTimeHhLine, "DC_TIMEHH_POS", KeyKind::kByteColumn));
    k.push_back(Pair("DC_EXT_POS", &S::DcExtCol, &S::DcExtLine));
    k.push_back(Length("DC_EXT_LEN", &S::DcExtLen, KeyKind::kByteNumber));
    for (std::size_t n = 0; n < 4; ++n) {
      k.push_back(Pair(
          "DC_TRN_D" + std::to_string(n + 1), [n](const S& s) { return static_cast<unsigned>(s.DcTrn[n].Col); },
          [n](const S& s) { return static_cast<unsigned>(s.DcTrn[n].Line); }));
    }
    k.push_back(YesNo("DC_EXT_CHK", &S::DcExtChk, true));
    return k;
  }();
  return keys;
}

// A key's text as the driver reads it, or nothing when the key is absent.
struct RawValue {
  bool present = false;
  std::string text;
};

RawValue ReadRaw(Env& env, const std::string& file, const std::string& key) {
  const ProfileResult r = env.ReadProfileString(file, kSettingsSection, key, "", kProfileBufferSize);
  env.FlushProfile(file);
  if (r.last_error == kErrorFileNotFound) return {};
  return {true, r.value};
}

std::string Visible(std::string_view text, std::size_t limit) {
  std::string out;
  AppendVisible(out, text, limit);
  return out;
}

std::string Effective(const KeyInfo& k, const S& s, int32_t index_base) {
  switch (k.kind) {
    case KeyKind::kPair: {
      const unsigned col = k.column(s);
      if (col == 0) return "not in the report";
      return "column " + std::to_string(col) + ", line " + std::to_string(k.line(s));
    }
    case KeyKind::kColumn:
    case KeyKind::kByteColumn: {
      const unsigned col = k.column(s);
      if (col == 0) return "not in the report";
      return "column " + std::to_string(col) + ", line " + std::to_string(k.line(s)) + " (of " + k.carrier + ")";
    }
    case KeyKind::kLength:
    case KeyKind::kByteNumber:
      return std::to_string(k.number(s));
    case KeyKind::kNumber:
      return std::to_string(k.whole(s));
    case KeyKind::kYesNo:
      return k.flag(s) ? "yes" : "no";
    case KeyKind::kText:
      return "\"" + Visible(k.text(s), 40) + "\"";
    case KeyKind::kIndexBase:
      return std::to_string(index_base);
  }
  return {};
}

// The numbers written before and after the ';' of a position, as the driver
// splits it (only the first 20 characters count).
struct WrittenPosition {
  int32_t column = 0;
  int32_t line = 0;
  bool has_line = false;
};
WrittenPosition SplitPosition(std::string_view raw) {
  const std::string_view text = CutText(raw, 1, 20);
  const std::size_t sep = text.find(';');
  WrittenPosition p;
  p.column = TextToIntDef(text.substr(0, std::min(sep, text.size())));
  if (sep != std::string_view::npos) {
    p.has_line = !TrimBlanks(text.substr(sep + 1)).empty();
    p.line = TextToIntDef(CutText(text, static_cast<int32_t>(sep) + 2, 10));
  }
  return p;
}

bool SwitchOn(const S& s, std::string_view name) {
  if (name == "IN_CALLS") return s.InCalls;
  if (name == "PRV_CALLS") return s.PrvCalls;
  if (name == "LOCAL_CALLS") return s.LocalCalls;
  if (name == "DUTY_CALL") return s.DutyCall;
  return true;
}

std::string_view TimeLayoutWords(TimeLayoutKind layout) {
  switch (layout) {
    case TimeLayoutKind::kNone: return "none: no times are decoded";
    case TimeLayoutKind::kStartAndDuration: return "start time and duration";
    case TimeLayoutKind::kStartOnly: return "start time only";
    case TimeLayoutKind::kStartAndEnd: return "start and end time";
    case TimeLayoutKind::kEndAndDuration: return "end time and duration";
  }
  return "";
}

std::string Upper(std::string_view s) { return UpperText(s); }

// Warnings about one key.
void KeyWarnings(const KeyInfo& k, const RawValue& raw, const S& s, std::vector<std::string>& w) {
  const std::string& key = k.key;
  const bool positional = k.kind == KeyKind::kPair || k.kind == KeyKind::kColumn ||
                          k.kind == KeyKind::kByteColumn;
  if (positional && k.column(s) > kWideColumn) {
    w.push_back(key + ": column " + std::to_string(k.column(s)) + " is past column 200");
  }
  if (!raw.present) return;
  const std::string shown = "\"" + Visible(raw.text, 40) + "\"";
  switch (k.kind) {
    case KeyKind::kPair: {
      if (raw.text.size() > 20) w.push_back(key + ": only the first 20 characters of " + shown + " count");
      const WrittenPosition p = SplitPosition(raw.text);
      if (p.has_line && (p.line < 1 || p.line > 6)) {
        w.push_back(key + ": line " + std::to_string(p.line) + " is outside 1..6; line 1 is used");
      } else if (p.has_line && (p.column & 0xFF) == 0) {
        w.push_back(key + ": column 0 puts the field out of the report; its line is not used");
      }
      break;
    }
    case KeyKind::kColumn:
    case KeyKind::kLength: {
      const WrittenPosition p = SplitPosition(raw.text);
      if (!p.has_line) break;
      if (k.kind == KeyKind::kLength) {
        w.push_back(key + ": " + shown + " is a width; the part after ';' is ignored");
      } else if (static_cast<unsigned>(p.line) != k.line(s)) {
        w.push_back(key + ": " + shown + " names line " + std::to_string(p.line) +
                    ", which is ignored; the column is read on line " + std::to_string(k.line(s)) + ", the line of " +
                    k.carrier);
      }
      break;
    }
    case KeyKind::kByteColumn:
    case KeyKind::kByteNumber:
    case KeyKind::kNumber:
    case KeyKind::kIndexBase:
      if (!IsIntegerText(raw.text)) {
        w.push_back(key + ": " + shown + " is not an integer; 0 is used" +
                    (raw.text.find(';') != std::string::npos ? " (this key takes no line)" : ""));
      }
      break;
    case KeyKind::kYesNo: {
      const std::string v = Upper(raw.text);
      if (!v.empty() && v != "Y" && v != "N") {
        w.push_back(key + ": " + shown + " is neither Y nor N; read as " + (k.flag(s) ? "yes" : "no"));
      }
      break;
    }
    case KeyKind::kText:
      if (key.size() > 4 && key.compare(key.size() - 4, 4, "_STR") == 0 && raw.text.size() > 10) {
        w.push_back(key + ": " + shown + " is cut to its first 10 characters");
      }
      break;
  }
}

// Warnings about the settings as a whole.
void LayoutWarnings(const S& s, const std::string& file, const SectionKeys& section,
                    const std::vector<RawValue>& raws, std::vector<std::string>& w) {
  const auto& keys = Keys();
  auto raw_of = [&](std::string_view key) -> const RawValue& {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i].key == key) return raws[i];
    }
    static const RawValue kNone;
    return kNone;
  };

  if (!section.found) w.push_back(file + " has no section [pbx]: every key takes its default");
  std::set<std::string> known;
  for (const KeyInfo& k : keys) known.insert(k.key);
  std::set<std::string> seen;
  for (const std::string& key : section.keys) {
    const std::string upper = Upper(key);
    if (known.count(upper) == 0) w.push_back("key " + key + " is not a setting of the driver; it is ignored");
    if (!seen.insert(upper).second) w.push_back("key " + key + " is given more than once; the first counts");
  }

  // Markers in force only under a switch that is off.
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const KeyInfo& k = keys[i];
    if (k.enabled_by.empty() || k.kind != KeyKind::kPair || !raws[i].present) continue;
    if (k.column(s) != 0 && !SwitchOn(s, k.enabled_by)) {
      w.push_back(k.key + " is set but " + k.enabled_by + " is off, so it is not tested");
    }
  }
  // A marker needs both its column and its text.
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
    const KeyInfo& pos = keys[i];
    const KeyInfo& str = keys[i + 1];
    if (pos.kind != KeyKind::kPair || str.kind != KeyKind::kText) continue;
    const bool has_col = pos.column(s) != 0;
    const bool has_text = !str.text(s).empty();
    if (has_col != has_text && (raws[i].present || raws[i + 1].present)) {
      w.push_back((has_col ? str.key + " is empty" : pos.key + " has no column") + ", so the marker " +
                  pos.key.substr(0, pos.key.size() - 4) + " tests nothing");
    }
  }

  if (raw_of("EXT_LEN").present && s.ExtLen == 8 && TextToIntDef(CutText(raw_of("EXT_LEN").text, 1, 20)) > 8) {
    w.push_back("EXT_LEN is above 8; 8 is used");
  }
  if (raw_of("ORG_EXT_LEN").present && s.OrgExtLen == 8 &&
      TextToIntDef(CutText(raw_of("ORG_EXT_LEN").text, 1, 20)) > 8) {
    w.push_back("ORG_EXT_LEN is above 8; 8 is used");
  }
  if (raw_of("PULSES_MULT").present && TextToIntDef(raw_of("PULSES_MULT").text) < 1) {
    w.push_back("PULSES_MULT is below 1; 1 is used");
  }
  const RawValue& prefix = raw_of("EXT_PREFIX");
  if (prefix.present && !TrimBlanks(prefix.text).empty() && s.ExtPrefix.empty()) {
    w.push_back("EXT_PREFIX \"" + Visible(prefix.text, 20) + "\" does not start with a digit or capital letter; "
                "no prefix is used");
  }
  if (section.found && s.ExtCol == 0) {
    w.push_back("EXT_POS is not set: every call is rejected for want of an extension (error 20)");
  }
  const bool any_time = s.TimeHhCol != 0 || s.TimeMmCol != 0 || s.TimeSsCol != 0 || s.EndHhCol != 0 ||
                        s.EndMmCol != 0 || s.EndSsCol != 0 || s.LenHhCol != 0 || s.LenMmCol != 0 ||
                        s.LenSsCol != 0;
  if (any_time && s.TimeLayout == TimeLayoutKind::kNone) {
    w.push_back("time columns are set but they make no time layout: no times are decoded");
  }
  bool line_one_test = false;
  for (const CheckEntry& c : s.Chk) line_one_test |= c.Line == 1 && c.Col != 0 && !c.Text.empty();
  for (const BlankEntry& b : s.Spc) line_one_test |= b.Line == 1 && b.Col != 0;
  if (section.found && !line_one_test) {
    w.push_back("no CHK or SPC test on line 1: every report line starts a new call record");
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view TrimLine(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

void Pad(std::string& out, std::string_view text, std::size_t width) {
  out.append(text);
  out.append(text.size() < width ? width - text.size() : 1, ' ');
}

}  // namespace

SectionKeys ListSectionKeys(std::string_view content, std::string_view section) {
  // A UTF-16LE file (FF FE first) is read by its low bytes: enough to find
  // ASCII section and key names.
  std::string narrowed;
  if (content.size() >= 2 && content[0] == '\xFF' && content[1] == '\xFE') {
    for (std::size_t i = 2; i < content.size(); i += 2) narrowed += content[i];
    content = narrowed;
  }
  SectionKeys out;
  bool inside = false;
  bool done = false;
  std::size_t pos = 0;
  while (pos < content.size() && !done) {
    const std::size_t end = std::min(content.find_first_of("\r\n", pos), content.size());
    const std::string_view line = TrimLine(content.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::string_view name = line.substr(1);
      name = TrimLine(name.substr(0, std::min(name.find(']'), name.size())));
      if (inside) {
        done = true;
      } else if (Upper(name) == Upper(section)) {
        inside = out.found = true;
      }
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!inside || eq == std::string_view::npos) continue;
    out.keys.emplace_back(TrimLine(line.substr(0, eq)));
  }
  return out;
}

std::vector<std::string> KnownSettingsKeys() {
  std::vector<std::string> out;
  for (const KeyInfo& k : Keys()) out.push_back(k.key);
  return out;
}

std::vector<std::string> SettingsWarnings(const std::string& file) {
  const SectionKeys section = ListSectionKeys(ReadWholeFile(file, "settings file"), kSettingsSection);
  const std::unique_ptr<Env> env = NewSystemEnv();
  DriverSettings s;
  LoadDriverSettings(*env, file, s);
  std::vector<RawValue> raws;
  std::vector<std::string> warnings;
  for (const KeyInfo& k : Keys()) {
    raws.push_back(ReadRaw(*env, file, k.key));
    KeyWarnings(k, raws.back(), s, warnings);
  }
  LayoutWarnings(s, file, section, raws, warnings);
  return warnings;
}

int WriteSettingsReport(const std::string& file, Output& out) {
  const std::string content = ReadWholeFile(file, "settings file");
  const SectionKeys section = ListSectionKeys(content, kSettingsSection);

  const std::unique_ptr<Env> env = NewSystemEnv();
  DriverSettings s;
  const int32_t index_base = LoadDriverSettings(*env, file, s);

  const auto& keys = Keys();
  std::vector<RawValue> raws;
  raws.reserve(keys.size());
  for (const KeyInfo& k : keys) raws.push_back(ReadRaw(*env, file, k.key));

  std::string& o = out.buffer();
  o += "settings file: " + file + "\n";
  o += section.found ? "section [pbx]: " + std::to_string(section.keys.size()) + " key line(s)\n"
                     : std::string("section [pbx]: not found\n");
  o += "\n";
  Pad(o, "key", 20);
  Pad(o, "as read", 24);
  o += "used by the driver\n";
  std::vector<std::string> warnings;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const KeyInfo& k = keys[i];
    Pad(o, k.key, 20);
    Pad(o, raws[i].present ? "\"" + Visible(raws[i].text, 20) + "\"" : "-", 24);
    o += Effective(k, s, index_base);
    o += '\n';
    KeyWarnings(k, raws[i], s, warnings);
    out.EndRow();
  }
  LayoutWarnings(s, file, section, raws, warnings);

  o += "\nLineCount: " + std::to_string(s.LineCount) + " (a call spans " + std::to_string(s.LineCount) +
       (s.LineCount == 1 ? " line" : " lines") + ")\n";
  o += "TimeLayout: " + std::to_string(static_cast<int32_t>(s.TimeLayout)) + " (" +
       std::string(TimeLayoutWords(s.TimeLayout)) + ")\n";
  o += "\n" + std::to_string(warnings.size()) + " warning(s)\n";
  for (const std::string& w : warnings) o += "warning: " + w + "\n";
  out.Flush();
  return static_cast<int>(warnings.size());
}

}  // namespace talvo::tool
