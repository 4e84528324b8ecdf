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

// One marker test: `Text` must stand at `Col` of `Line` for a line to count as
// the kind of line the entry belongs to. Column 0 or an empty text tests nothing.
struct CheckEntry {
  uint8_t Line = 1;
  uint8_t Col = 0;
  ShortText<10> Text;
};

// A single column that must hold a blank.
struct BlankEntry {
  uint8_t Line = 1;
  uint8_t Col = 0;
};

// A single character position (the duty call's code characters).
struct CharEntry {
  uint8_t Col = 0;
  uint8_t Line = 1;
};

// Which of start time, end time and duration the report carries.
enum class TimeLayoutKind : int32_t {
  kNone = 0,              // no times are decoded
  kStartAndDuration = 1,  // start time and duration
  kStartOnly = 2,         // start time only
  kStartAndEnd = 3,       // start and end time
  kEndAndDuration = 4,    // end time and duration
};

struct DriverSettings {
  uint8_t LineCount = 1;  // report lines per call: the highest line any position key names
  std::array<CheckEntry, 6> Chk{};
  std::array<BlankEntry, 6> Spc{};

  uint8_t TimeHhLine = 1, TimeHhCol = 0, TimeMmCol = 0, TimeSsCol = 0, AmPmCol = 0;
  uint8_t EndHhLine = 1, EndHhCol = 0, EndMmCol = 0, EndSsCol = 0;
  uint8_t LenHhCol = 0, LenMmLine = 1, LenMmCol = 0, LenMmLen = 0, LenSsCol = 0, LenSsLen = 0;
  bool PegsCount = false;
  uint8_t RingMmCol = 0, RingMmLen = 0, RingSsLine = 1, RingSsCol = 0, RingSsLen = 0;
  bool DateEnd = false;
  uint8_t YearCol = 0, MonthLine = 1, MonthCol = 0, DayCol = 0;
  uint8_t JulianCol = 0, JulianLine = 1;
  uint8_t NumLine = 1, NumCol = 0, NumLen = 0;
  uint8_t CliLine = 1, CliCol = 0, CliLen = 0;
  uint8_t AlumaLine = 1, AlumaCol = 0, AlumaLen = 0;
  uint8_t OrekLine = 1, OrekCol = 0, OrekLen = 0;
  ShortText<6> TgBase;
  bool UseTgBaseAsStr = false;
  uint8_t ExtLine = 1, ExtCol = 0, ExtLen = 0;          // ExtLen at most 8
  uint8_t OrgExtLine = 1, OrgExtCol = 0, OrgExtLen = 0; // OrgExtLen at most 8
  ShortText<1> ExtPrefix;                               // a digit, a capital letter, or empty
  bool ExtLeadZero = false;
  uint8_t AccountCol = 0, AccountLen = 0, AccountLine = 1;
  bool AccountExt = false;
  bool AccountLzero = false;
  int32_t ExtRangeSt = 0;
  int32_t ExtRangeEnd = 0;
  bool SaveTrnkExt = false;
  uint8_t PulsesLine = 1, PulsesCol = 0, PulsesLen = 0;
  int32_t PulsesMult = 1;  // at least 1
  uint8_t IndexLine = 1, IndexCol = 0, IndexLen = 0;
  uint8_t TcodeLine = 1, TcodeCol = 0, TcodeLen = 0;
  uint8_t DisaLine = 1, DisaCol = 0, DisaLen = 0;
  bool InCalls = false;
  std::array<CheckEntry, 4> InChk{};
  bool PrvCalls = false;
  std::array<CheckEntry, 4> PrvChk{};
  bool LocalCalls = false;
  std::array<CheckEntry, 4> LclChk{};
  uint8_t LclYearCol = 0, LclMonthCol = 0, LclDayCol = 0, LclMonthLine = 1;
  uint8_t LclTimeHhCol = 0, LclTimeMmCol = 0, LclTimeHhLine = 1;
  uint8_t LclOrgCol = 0, LclOrgLen = 0, LclOrgLine = 1;
  uint8_t LclTerCol = 0, LclTerLen = 0, LclTerLine = 1;
  bool DutyCall = false;
  std::array<CheckEntry, 4> DcChk{};
  uint8_t DcSpc1Col = 0, DcSpc1Line = 1;
  uint8_t DcYearCol = 0, DcMonthCol = 0, DcDayCol = 0, DcMonthLine = 1;
  uint8_t DcTimeHhCol = 0, DcTimeMmCol = 0, DcTimeHhLine = 1;
  uint8_t DcExtCol = 0, DcExtLen = 0, DcExtLine = 1;
  bool DcExtChk = true;  // read and kept; nothing consults it
  std::array<CharEntry, 4> DcTrn{};
  TimeLayoutKind TimeLayout = TimeLayoutKind::kNone;
};

}  // namespace talvo

#endif  // TALVO_CONFIG_DRIVER_SETTINGS_H_
