// DriverSettings: where every field of a call stands in the PBX's report, which
// marker texts identify the lines of a call, and the decoding switches. One
// record per handle, filled from section "pbx" of the handle's settings file.
//
// Positions are a line of the call (1..6) and a 1-based column; column 0 means
// the field is not in the report. A default-constructed record holds exactly
// what a missing settings file gives.
#ifndef TALVO_CONFIG_DRIVER_SETTINGS_H_
#define TALVO_CONFIG_DRIVER_SETTINGS_H_

#include <array>
#include <cstdint>

#include "util/short_text.h"

namespace talvo {

// One marker test: `text` must stand at `column` of `line` for a line to
// count as the kind of line the entry belongs to. Column 0 or an empty text
// tests nothing.
struct CheckEntry {
  uint8_t line = 1;
  uint8_t column = 0;
  ShortText<10> text;
};

// A single column that must hold a blank.
struct BlankEntry {
  uint8_t line = 1;
  uint8_t column = 0;
};

// A single character position (the duty call's code characters).
struct CharEntry {
  uint8_t column = 0;
  uint8_t line = 1;
};

// Which of start time, end time and duration the report carries.
enum class TimeLayoutKind : int32_t {
  kNone = 0,              // no times are decoded
  kStartAndDuration = 1,  // start time and duration
  kStartOnly = 2,         // start time only
  kStartAndEnd = 3,       // start and end time
  kEndAndDuration = 4,    // end time and duration
};

// The settings of one handle. Each member names the key of section "pbx" it
// comes from (config/settings_keys.h has them all, with their meaning). A
// width is the number of characters read from the column on.
struct DriverSettings {
  uint8_t line_count = 1;  // report lines per call: the highest line any position key names

  // Recognising a call: CHKn_POS/CHKn_STR markers, SPCn_POS blank columns.
  std::array<CheckEntry, 6> markers{};
  std::array<BlankEntry, 6> blank_columns{};

  // Start time (TIMEHH_POS, TIMEMM_POS, TIMESS_POS, AMPM_POS), on start_line.
  uint8_t start_line = 1, start_hour_column = 0, start_minute_column = 0, start_second_column = 0;
  uint8_t am_pm_column = 0;
  // End time (ENDHH_POS, ENDMM_POS, ENDSS_POS), on end_line.
  uint8_t end_line = 1, end_hour_column = 0, end_minute_column = 0, end_second_column = 0;
  // Duration (LENHH_POS, LENMM_POS/LENMM_LEN, LENSS_POS/LENSS_LEN), on duration_line.
  uint8_t duration_line = 1, duration_hours_column = 0;
  uint8_t duration_minutes_column = 0, duration_minutes_width = 0;
  uint8_t duration_seconds_column = 0, duration_seconds_width = 0;
  bool duration_seconds_in_tenths = false;  // PEGS_COUNT: the seconds count tenths of a minute
  // Ring time (RINGMM_POS/RINGMM_LEN, RINGSS_POS/RINGSS_LEN), on ring_line.
  uint8_t ring_line = 1, ring_minutes_column = 0, ring_minutes_width = 0;
  uint8_t ring_seconds_column = 0, ring_seconds_width = 0;

  // Date (YEAR_POS, MONTH_POS, DAY_POS) on date_line, or a day of the year (JULIAN_POS).
  bool dated_by_end = false;  // DATE_END: the printed date is the day the call ended
  uint8_t date_line = 1, year_column = 0, month_column = 0, day_column = 0;
  uint8_t day_of_year_line = 1, day_of_year_column = 0;

  // Numbers: dialled (NUM_*), caller (CLI_*), trunk group (ALUMA_*), trunk (OREK_*).
  uint8_t number_line = 1, number_column = 0, number_width = 0;
  uint8_t caller_line = 1, caller_column = 0, caller_width = 0;
  uint8_t trunk_group_line = 1, trunk_group_column = 0, trunk_group_width = 0;
  uint8_t trunk_line = 1, trunk_column = 0, trunk_width = 0;
  ShortText<6> trunk_group_base;           // TG_BASE
  bool trunk_group_base_as_text = false;   // USE_TG_BASE_AS_STR

  // The extension charged (EXT_*), the originating extension (ORG_EXT_*).
  uint8_t extension_line = 1, extension_column = 0, extension_width = 0;  // width at most 8
  uint8_t originating_extension_line = 1, originating_extension_column = 0;
  uint8_t originating_extension_width = 0;  // at most 8
  ShortText<1> extension_prefix;            // EXT_PREFIX: a digit, a capital letter, or empty
  bool extension_leading_zeros = false;     // EXT_LEAD_ZERO
  int32_t extension_range_first = 0;        // EXT_RANGE_ST
  int32_t extension_range_last = 0;         // EXT_RANGE_END
  bool keep_foreign_extensions = false;     // SAVE_TRNK_EXT

  // Account code (ACCOUNT_*).
  uint8_t account_line = 1, account_column = 0, account_width = 0;
  bool account_is_extension = false;         // ACCOUNT_EXT
  bool account_drops_leading_zeros = false;  // ACCOUNT_LZERO

  // Metering pulses (PULSES_*), the running index (INDEX_*), the code field
  // (TCODE_*), the DISA field (DISA_*).
  uint8_t pulses_line = 1, pulses_column = 0, pulses_width = 0;
  int32_t pulses_multiplier = 1;  // at least 1
  uint8_t index_line = 1, index_column = 0, index_width = 0;
  uint8_t code_line = 1, code_column = 0, code_width = 0;
  uint8_t disa_line = 1, disa_column = 0, disa_width = 0;

  // Incoming calls (IN_CALLS, IN_CHKn) and private calls (PRV_CALLS, PRV_CHKn).
  bool incoming_calls = false;
  std::array<CheckEntry, 4> incoming_markers{};
  bool private_calls = false;
  std::array<CheckEntry, 4> private_markers{};

  // Local (extension to extension) calls: LOCAL_CALLS and the LCL_* keys.
  bool local_calls = false;
  std::array<CheckEntry, 4> local_markers{};
  uint8_t local_date_line = 1, local_year_column = 0, local_month_column = 0, local_day_column = 0;
  uint8_t local_time_line = 1, local_hour_column = 0, local_minute_column = 0;
  uint8_t local_caller_line = 1, local_caller_column = 0, local_caller_width = 0;
  uint8_t local_called_line = 1, local_called_column = 0, local_called_width = 0;

  // Duty calls: DUTY_CALL and the DC_* keys.
  bool duty_calls = false;
  std::array<CheckEntry, 4> duty_markers{};
  uint8_t duty_blank_line = 1, duty_blank_column = 0;
  uint8_t duty_date_line = 1, duty_year_column = 0, duty_month_column = 0, duty_day_column = 0;
  uint8_t duty_time_line = 1, duty_hour_column = 0, duty_minute_column = 0;
  uint8_t duty_extension_line = 1, duty_extension_column = 0, duty_extension_width = 0;
  std::array<CharEntry, 4> duty_second_extension_characters{};  // DC_TRN_Dn

  // Worked out from the time columns once the file is read.
  TimeLayoutKind time_layout = TimeLayoutKind::kNone;
};

}  // namespace talvo

#endif  // TALVO_CONFIG_DRIVER_SETTINGS_H_
