#include "tools/settings_report.h"

#include <algorithm>
#include <functional>
#include <set>

#include "config/driver_settings.h"
#include "config/profile_reader.h"
#include "config/load_settings.h"
#include "config/settings_keys.h"
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
  kIgnored,     // accepted, has no effect
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

// The report's view of each key of the table: its kind and how to read the
// value the driver keeps for it.
std::vector<KeyInfo> BuildKeys() {
  std::vector<KeyInfo> keys;
  for (const FileKey& f : FileKeys()) {
    const SettingsKey* row = &f.row[0];
    const std::size_t n = f.entry;
    KeyInfo k;
    k.key = f.name;
    k.enabled_by = std::string(row->switched_by);
    k.carrier = std::string(row->line_of);
    if (row->entry != nullptr) {
      // A group's entry is reached through a copy: the table hands out pointers.
      k.kind = f.is_text ? KeyKind::kText : KeyKind::kPair;
      k.column = [row, n](const S& s) { S copy = s; return unsigned{*row->entry(copy, n).column}; };
      k.line = [row, n](const S& s) { S copy = s; return unsigned{*row->entry(copy, n).line}; };
      k.text = [row, n](const S& s) { S copy = s; return std::string(row->entry(copy, n).text->view()); };
      keys.push_back(std::move(k));
      continue;
    }
    const auto byte = [row](const S& s) { return unsigned{s.*row->column}; };
    switch (row->form) {
      case KeyForm::kPosition:
      case KeyForm::kColumn:
      case KeyForm::kByteColumn:
        k.kind = row->form == KeyForm::kPosition ? KeyKind::kPair
                 : row->form == KeyForm::kColumn ? KeyKind::kColumn
                                                 : KeyKind::kByteColumn;
        k.column = byte;
        k.line = [row](const S& s) { return unsigned{s.*row->line}; };
        break;
      case KeyForm::kWidth:
      case KeyForm::kByteWidth:
        k.kind = row->form == KeyForm::kWidth ? KeyKind::kLength : KeyKind::kByteNumber;
        k.number = byte;
        break;
      case KeyForm::kNumber:
        k.kind = KeyKind::kNumber;
        k.whole = [row](const S& s) { return s.*row->number; };
        break;
      case KeyForm::kYesNo:
        k.kind = KeyKind::kYesNo;
        k.flag = [row](const S& s) { return s.*row->flag; };
        k.default_yes = row->default_flag;
        break;
      case KeyForm::kTrunkGroupBase:
        k.kind = KeyKind::kText;
        k.text = [](const S& s) { return std::string(s.trunk_group_base.view()); };
        break;
      case KeyForm::kExtensionPrefix:
        k.kind = KeyKind::kText;
        k.text = [](const S& s) { return std::string(s.extension_prefix.view()); };
        break;
      case KeyForm::kIndexBase:
        k.kind = KeyKind::kIndexBase;
        break;
      default:
        k.kind = KeyKind::kIgnored;
        break;
    }
    keys.push_back(std::move(k));
  }
  return keys;
}

// Every key in the order DrvInitDriver reads it.
const std::vector<KeyInfo>& Keys() {
  static const std::vector<KeyInfo> keys = BuildKeys();
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
    case KeyKind::kIgnored:
      return "no effect";
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
  if (name == "IN_CALLS") return s.incoming_calls;
  if (name == "PRV_CALLS") return s.private_calls;
  if (name == "LOCAL_CALLS") return s.local_calls;
  if (name == "DUTY_CALL") return s.duty_calls;
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
    case KeyKind::kIgnored:
      w.push_back(key + " has no effect; it may be left out");
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

  if (raw_of("EXT_LEN").present && s.extension_width == 8 && TextToIntDef(CutText(raw_of("EXT_LEN").text, 1, 20)) > 8) {
    w.push_back("EXT_LEN is above 8; 8 is used");
  }
  if (raw_of("ORG_EXT_LEN").present && s.originating_extension_width == 8 &&
      TextToIntDef(CutText(raw_of("ORG_EXT_LEN").text, 1, 20)) > 8) {
    w.push_back("ORG_EXT_LEN is above 8; 8 is used");
  }
  if (raw_of("PULSES_MULT").present && TextToIntDef(raw_of("PULSES_MULT").text) < 1) {
    w.push_back("PULSES_MULT is below 1; 1 is used");
  }
  const RawValue& prefix = raw_of("EXT_PREFIX");
  if (prefix.present && !TrimBlanks(prefix.text).empty() && s.extension_prefix.empty()) {
    w.push_back("EXT_PREFIX \"" + Visible(prefix.text, 20) + "\" does not start with a digit or capital letter; "
                "no prefix is used");
  }
  if (section.found && s.extension_column == 0) {
    w.push_back("EXT_POS is not set: every call is rejected for want of an extension (error 20)");
  }
  const bool any_time = s.start_hour_column != 0 || s.start_minute_column != 0 || s.start_second_column != 0 || s.end_hour_column != 0 ||
                        s.end_minute_column != 0 || s.end_second_column != 0 || s.duration_hours_column != 0 || s.duration_minutes_column != 0 ||
                        s.duration_seconds_column != 0;
  if (any_time && s.time_layout == TimeLayoutKind::kNone) {
    w.push_back("time columns are set but they make no time layout: no times are decoded");
  }
  bool line_one_test = false;
  for (const CheckEntry& c : s.markers) line_one_test |= c.line == 1 && c.column != 0 && !c.text.empty();
  for (const BlankEntry& b : s.blank_columns) line_one_test |= b.line == 1 && b.column != 0;
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

std::size_t WriteSettingsWarnings(const std::string& file, Output& err) {
  const std::vector<std::string> warnings = SettingsWarnings(file);
  for (const std::string& w : warnings) {
    const bool names_file = w.compare(0, file.size(), file) == 0;
    err.Write("talvo: warning: " + (names_file ? w : file + ": " + w) + "\n");
  }
  err.Flush();
  return warnings.size();
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

  o += "\nLineCount: " + std::to_string(s.line_count) + " (a call spans " + std::to_string(s.line_count) +
       (s.line_count == 1 ? " line" : " lines") + ")\n";
  o += "TimeLayout: " + std::to_string(static_cast<int32_t>(s.time_layout)) + " (" +
       std::string(TimeLayoutWords(s.time_layout)) + ")\n";
  o += "\n" + std::to_string(warnings.size()) + " warning(s)\n";
  for (const std::string& w : warnings) o += "warning: " + w + "\n";
  out.Flush();
  return static_cast<int>(warnings.size());
}

}  // namespace talvo::tool
