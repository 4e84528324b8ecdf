// Every key of section "pbx" in one table: how its value is written, where it
// goes in DriverSettings, and what it means. The loader reads the file by this
// table, `talvo settings` reports by it, and docs/settings.md shows exactly
// its kinds, defaults, limits and meanings (a test compares them).
//
// A row is one key, or one numbered group of keys: CHK stands for CHK1_POS,
// CHK1_STR, .. CHK6_STR. Rows are in the order the driver reads them.
#ifndef TALVO_CONFIG_SETTINGS_KEYS_H_
#define TALVO_CONFIG_SETTINGS_KEYS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/driver_settings.h"

namespace talvo {

// How a key's value is written and read.
enum class KeyForm : uint8_t {
  kPosition,         // "column;line" into `column` and `line`; the line raises the call's line count
  kColumn,           // "column;line" into `column`; the column is read on the line of `line_of`, so
                     // the part after ";" is dropped
  kWidth,            // a width, written like a column: the part after ";" is dropped
  kByteColumn,       // an integer column on the line of `line_of`, kept as its low 8 bits ("12;2" is 0)
  kByteWidth,        // an integer width kept as its low 8 bits ("3;1" is 0)
  kNumber,           // an integer kept whole
  kYesNo,            // Y or N in either case; anything else gives `default_flag`
  kTrunkGroupBase,   // TG_BASE: the first 6 characters as read
  kExtensionPrefix,  // EXT_PREFIX: one digit or capital letter, else nothing
  kIndexBase,        // INDEX_BASE: handed back to the host, not kept
  kMarkers,          // NAMEn_POS, a position, and NAMEn_STR, a text of 10 characters, n = 1..count
  kBlanks,           // NAMEn_POS, positions that must hold a blank, n = 1..count
  kCharacters,       // NAMEn, positions of single characters, n = 1..count
  kIgnored,          // accepted in a file and not read: it has no effect
};

// A limit applied to a value as soon as its key has been read.
enum class KeyLimit : uint8_t {
  kNone,
  kAtMostEight,       // above 8 becomes 8
  kAtLeastOne,        // below 1 becomes 1
  kTwoWhenColumnSet,  // a width of 0 becomes 2 when the field's column is set
};

// Entry n of a numbered group: its column and line, and its text for markers.
struct GroupEntry {
  uint8_t* column;
  uint8_t* line;
  ShortText<10>* text;  // null for blanks and characters
};

struct SettingsKey {
  std::string_view name;  // the key; for a group, the part before the number
  KeyForm form;
  // Where the value goes; which of these a row sets depends on its form.
  uint8_t DriverSettings::*column = nullptr;  // the byte a position, column or width fills
  uint8_t DriverSettings::*line = nullptr;    // kPosition: its line; kColumn, kByteColumn: the line it is read on
  int32_t DriverSettings::*number = nullptr;  // kNumber
  bool DriverSettings::*flag = nullptr;       // kYesNo
  bool default_flag = false;                  // kYesNo
  KeyLimit limit = KeyLimit::kNone;
  uint8_t DriverSettings::*width_of = nullptr;  // kTwoWhenColumnSet: the column of the field measured
  uint8_t count = 0;                                          // groups: how many entries
  GroupEntry (*entry)(DriverSettings&, std::size_t) = nullptr;  // groups: entry n, 0-based
  std::string_view line_of = {};      // kColumn, kByteColumn: the key whose line the column is read on
  std::string_view switched_by = {};  // keys of a kind of call: the yes/no key that puts them in force
  // For people, as docs/settings.md shows them.
  std::string_view kind = {};
  std::string_view default_value = {};
  std::string_view limit_text = {};
  std::string_view meaning = {};
  std::string_view text_meaning = {};  // kMarkers: the meaning of NAMEn_STR
};

// Every row, in the order the driver reads them.
std::span<const SettingsKey> SettingsKeys();

// One key as it stands in a file ("CHK3_STR"), with the row it belongs to.
struct FileKey {
  std::string name;
  const SettingsKey* row = nullptr;
  std::size_t entry = 0;  // groups: which entry, 0-based
  bool is_text = false;   // kMarkers: the NAMEn_STR key of the entry
};

// Every key a settings file may hold, groups spelt out, in the order read.
std::vector<FileKey> FileKeys();

}  // namespace talvo

#endif  // TALVO_CONFIG_SETTINGS_KEYS_H_
