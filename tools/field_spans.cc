#include "tools/field_spans.h"

#include <algorithm>

#include "config/settings_keys.h"

namespace talvo::tool {
namespace {

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

CallLayout LayoutOf(std::string_view name) {
  if (name.starts_with("LCL_")) return CallLayout::kLocal;
  if (name.starts_with("DC_")) return CallLayout::kDuty;
  return CallLayout::kNormal;
}

// The switch a key is in force under: the table says it for marker groups;
// the rest of a local or duty-call layout follows its kind's switch.
std::string_view SwitchOf(const SettingsKey& row) {
  if (!row.switched_by.empty()) return row.switched_by;
  switch (LayoutOf(row.name)) {
    case CallLayout::kLocal: return "LOCAL_CALLS";
    case CallLayout::kDuty: return "DUTY_CALL";
    case CallLayout::kNormal: break;
  }
  return {};
}

bool SwitchOn(const DriverSettings& s, std::string_view name) {
  for (const SettingsKey& row : SettingsKeys()) {
    if (row.name == name && row.form == KeyForm::kYesNo) return s.*row.flag;
  }
  return true;
}

// The parts of a date, a time of day, a duration or a ring time, the day of
// the year, the index and the pulses: fields the driver reads as numbers.
bool WantsDigits(std::string_view key) {
  return EndsWith(key, "HH_POS") || EndsWith(key, "MM_POS") || EndsWith(key, "SS_POS") ||
         EndsWith(key, "DAY_POS") || EndsWith(key, "MONTH_POS") || EndsWith(key, "YEAR_POS") ||
         key == "JULIAN_POS" || key == "INDEX_POS" || key == "PULSES_POS";
}

// The width key of a field NAME_POS is NAME_LEN when the table has one; the
// other fields have a fixed width: three digits for the day of the year, two
// for every part of a date or time.
void SetWidth(const DriverSettings& s, FieldSpan& span) {
  if (EndsWith(span.key, "_POS")) {
    const std::string width_key = span.key.substr(0, span.key.size() - 4) + "_LEN";
    for (const SettingsKey& row : SettingsKeys()) {
      if (row.name == width_key && (row.form == KeyForm::kWidth || row.form == KeyForm::kByteWidth)) {
        span.width_key = width_key;
        span.width = s.*row.column;
        return;
      }
    }
  }
  span.width = span.key == "JULIAN_POS" ? 3 : 2;
}

}  // namespace

std::vector<FieldSpan> ConfiguredSpans(const DriverSettings& settings) {
  DriverSettings s = settings;  // the table hands out group entries through a mutable record
  std::vector<FieldSpan> spans;
  const auto add = [&](const SettingsKey& row, FieldSpan span) {
    if (span.column == 0) return;
    span.layout = LayoutOf(row.name);
    span.switched_by = SwitchOf(row);
    span.in_force = span.switched_by.empty() || SwitchOn(s, span.switched_by);
    if (span.role == SpanRole::kField && span.width == 0 && span.width_key.empty()) SetWidth(s, span);
    spans.push_back(std::move(span));
  };
  for (const FileKey& key : FileKeys()) {
    const SettingsKey& row = *key.row;
    FieldSpan span;
    span.key = key.name;
    if (row.entry != nullptr) {
      if (key.is_text) continue;  // the NAMEn_STR half of a marker rides on NAMEn_POS
      const GroupEntry entry = row.entry(s, key.entry);
      span.column = *entry.column;
      span.line = *entry.line;
      if (row.form == KeyForm::kMarkers) {
        span.role = SpanRole::kMarker;
        span.marker = std::string(entry.text->view());
        span.width = static_cast<unsigned>(span.marker.size());
        if (span.marker.empty()) continue;  // a marker without text tests nothing
      } else {
        span.role = row.form == KeyForm::kBlanks ? SpanRole::kBlank : SpanRole::kField;
        span.width = 1;
      }
      add(row, std::move(span));
      continue;
    }
    if (row.form != KeyForm::kPosition && row.form != KeyForm::kColumn && row.form != KeyForm::kByteColumn) continue;
    span.column = s.*row.column;
    span.line = s.*row.line;
    if (row.name.find("SPC") != std::string_view::npos) {
      span.role = SpanRole::kBlank;
      span.width = 1;
    }
    span.digits = span.role == SpanRole::kField && WantsDigits(row.name);
    add(row, std::move(span));
  }
  return spans;
}

std::string_view SpanText(std::string_view line, const FieldSpan& span) {
  if (span.column > line.size()) return {};
  return line.substr(span.column - 1, span.last_column() - span.column + 1);
}

bool SpanMatches(std::string_view line, const FieldSpan& span) {
  switch (span.role) {
    case SpanRole::kMarker: return SpanText(line, span) == span.marker;
    case SpanRole::kBlank: return SpanText(line, span) == " ";
    case SpanRole::kField: break;
  }
  return true;
}

bool IsDigitsOrBlanks(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == ' '; });
}

std::string SpanName(const FieldSpan& span) {
  std::string out = span.key + " " + std::to_string(span.column);
  if (span.last_column() > span.column) out += "-" + std::to_string(span.last_column());
  return out;
}

}  // namespace talvo::tool
