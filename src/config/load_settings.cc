#include "config/load_settings.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "config/profile_reader.h"
#include "config/settings_keys.h"
#include "util/text.h"

namespace talvo {
namespace {

using S = DriverSettings;

// The low 8 bits of a number, as the record's byte fields keep it.
uint8_t LowByte(int32_t value) { return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu); }

// Which of start time, end time and duration the report carries, from the
// columns alone.
TimeLayoutKind ComputeTimeLayout(const S& s) {
  const bool start = s.start_hour_column != 0;
  const bool start_rest = s.start_minute_column != 0 || s.start_second_column != 0;
  const bool duration =
      s.duration_hours_column != 0 || s.duration_minutes_column != 0 || s.duration_seconds_column != 0;
  const bool end = s.end_hour_column != 0 || s.end_minute_column != 0 || s.end_second_column != 0;
  if (start && duration) return TimeLayoutKind::kStartAndDuration;
  if (start && !end) return TimeLayoutKind::kStartOnly;
  if (start) return TimeLayoutKind::kStartAndEnd;
  if (!start_rest && duration && end) return TimeLayoutKind::kEndAndDuration;
  return TimeLayoutKind::kNone;
}

// The key of entry `n` (0-based) of a group: "CHK" + "3" + "_POS".
std::string Composed(std::string_view stem, std::size_t n, std::string_view suffix) {
  std::string key(stem);
  key += std::to_string(n + 1);
  key += suffix;
  return key;
}

// Reads the keys of one row into one record.
class SettingsLoader {
 public:
  SettingsLoader(Env& env, std::string_view file, S& settings) : env_(env), file_(file), s_(settings) {}

  void Read(const SettingsKey& key) {
    const std::string_view name = key.name;
    switch (key.form) {
      case KeyForm::kPosition:
        ReadSettingPair(env_, name, file_, s_.*key.column, s_.*key.line, &s_.line_count);
        break;
      case KeyForm::kColumn:
      case KeyForm::kWidth: {
        uint8_t dropped_line = 1;
        ReadSettingPair(env_, name, file_, s_.*key.column, dropped_line);
        Limit(key, s_.*key.column);
        break;
      }
      case KeyForm::kByteColumn:
      case KeyForm::kByteWidth:
        s_.*key.column = LowByte(ReadInteger(name));
        Limit(key, s_.*key.column);
        break;
      case KeyForm::kNumber:
        s_.*key.number = ReadInteger(name);
        Limit(key, s_.*key.number);
        break;
      case KeyForm::kYesNo:
        s_.*key.flag = ReadSettingYesNo(env_, kSettingsSection, name, key.default_flag, file_);
        break;
      case KeyForm::kTrunkGroupBase:
        s_.trunk_group_base.assign(ReadSettingText(env_, kSettingsSection, name, file_));
        break;
      case KeyForm::kExtensionPrefix: {
        const std::string text = ReadSettingText(env_, kSettingsSection, name, file_);
        const std::string_view first = TrimBlanks(text).substr(0, 1);
        const bool usable = !first.empty() && (IsDigit(first[0]) || IsUpperLetter(first[0]));
        s_.extension_prefix.assign(usable ? first : std::string_view());
        break;
      }
      case KeyForm::kIndexBase:
        index_base_ = ReadInteger(name);
        break;
      case KeyForm::kMarkers:
      case KeyForm::kBlanks:
      case KeyForm::kCharacters:
        for (std::size_t n = 0; n < key.count; ++n) {
          const GroupEntry entry = key.entry(s_, n);
          const std::string_view suffix = key.form == KeyForm::kCharacters ? "" : "_POS";
          ReadSettingPair(env_, Composed(name, n, suffix), file_, *entry.column, *entry.line, &s_.line_count);
          if (entry.text != nullptr) {
            entry.text->assign(ReadSettingText(env_, kSettingsSection, Composed(name, n, "_STR"), file_));
          }
        }
        break;
      case KeyForm::kIgnored:
        break;
    }
  }

  int32_t index_base() const { return index_base_; }

 private:
  int32_t ReadInteger(std::string_view key) { return ReadSettingNumber(env_, kSettingsSection, key, file_); }

  template <typename T>
  void Limit(const SettingsKey& key, T& value) const {
    switch (key.limit) {
      case KeyLimit::kNone:
        break;
      case KeyLimit::kAtMostEight:
        if (value > 8) value = 8;
        break;
      case KeyLimit::kAtLeastOne:
        if (value < 1) value = 1;
        break;
      case KeyLimit::kTwoWhenColumnSet:
        if (value == 0 && s_.*key.width_of != 0) value = 2;
        break;
    }
  }

  Env& env_;
  std::string_view file_;
  S& s_;
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
  settings.line_count = 1;
  SettingsLoader loader(env, file, settings);
  for (const SettingsKey& key : SettingsKeys()) loader.Read(key);
  settings.time_layout = ComputeTimeLayout(settings);
  return loader.index_base();
}

}  // namespace talvo
