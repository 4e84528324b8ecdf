#include "parse/assembly.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <cstring>
#include <string>

#include "convert/conversion_table.h"
#include "parse/check_marker.h"
#include "parse/date_time.h"
#include "parse/field_decoders.h"
#include "parse/field_steps.h"
#include "parse/layout_plan.h"
#include "parse/record_decode.h"

namespace talvo {
namespace {

// The kind of call being assembled; never returned to the host.
enum class CallKind {
  kNone,         // not decided (the final step then returns no record)
  kNormal,       // a normal call
  kNormalCoded,  // a normal call that carries a code (TCODE)
  kDuty,         // a duty call
};

constexpr int32_t kPrivateMarkerCodeBase = 41;  // PRV_CHKn: 41 + n
constexpr std::string_view kInternalTrunk = "9999";

// Step 1 of every record: the working values start afresh.
void ResetDecode(RecordDecode& d) {
  d.out.call_date.clear();
  d.out.call_date_written = true;
  d.org_ext.clear();
  d.state.dialled.clear();
  d.state.code.clear();
  d.out.error_code = 0;
  d.out.call_index = -1;
  d.state.record_ok = true;
  d.state.foreign_extension = false;
  d.caller.clear();
}

// incoming_call := IN_CALLS, then every IN_CHK entry whose line is buffered.
void TestIncomingMarkers(RecordDecode& d) {
  d.state.incoming_call = d.s.incoming_calls;
  for (const CheckEntry& chk : d.s.incoming_markers) {
    if (auto line = d.lines.Line(chk.line)) CheckMarker(*line, chk, d.state.incoming_call);
  }
}

// private_call := PRV_CALLS, then every PRV_CHK entry whose line is buffered;
// a failing entry records 41 + n. The call goes on either way.
void TestPrivateMarkers(RecordDecode& d) {
  d.state.private_call = d.s.private_calls;
  for (std::size_t i = 0; i < d.s.private_markers.size(); ++i) {
    const CheckEntry& chk = d.s.private_markers[i];
    auto line = d.lines.Line(chk.line);
    if (!line) continue;
    CheckMarker(*line, chk, d.state.private_call);
    RecordCode(d.state.private_call, kPrivateMarkerCodeBase + static_cast<int32_t>(i) + 1, d.out.error_code);
  }
}

// ---- Classification ---------------------------------------------------------

// What the classification looks at, computed once.
struct CallFacts {
  bool incoming;
  bool foreign;
  bool org_empty;
  bool org_differs;        // from the acting extension
  bool usable;             // Org and Cli have the same length, or CLI and ORG_EXT columns differ
  bool org_in_range;
  bool org_len_is_cli_len;
  bool dialled_empty;
  bool dialled_in_range;
  bool cli_empty;
};

enum class ActingRule { kKeep, kOrg, kOrgOrExtension, kDialledIfInRange, kDialledIfSetAndInRange };
enum class DialledRule { kKeep, kOrg, kCli, kEmpty };
enum class Match { kYes, kNo };

// One row of the classification with an originating-extension field. The
// first row whose incoming and foreign columns and condition hold applies.
struct ClassRow {
  Match incoming;
  Match foreign;
  bool (*condition)(const CallFacts&);
  uint32_t flags;
  ActingRule acting;
  DialledRule dialled;
};

constexpr uint32_t kOut = TALVO_FLAG_OUTGOING;
constexpr uint32_t kIn = TALVO_FLAG_INCOMING;
constexpr uint32_t kForeign = TALVO_FLAG_FOREIGN;
constexpr uint32_t kInternal = TALVO_FLAG_INTERNAL;
constexpr uint32_t kOrig = TALVO_FLAG_ORIGINATING;

constexpr std::array<ClassRow, 10> kOriginatingRows = {{
    // Incoming, own extension range:
    {Match::kYes, Match::kNo, [](const CallFacts& f) { return f.org_differs && f.usable && f.org_in_range; },
     kInternal, ActingRule::kKeep, DialledRule::kOrg},
    {Match::kYes, Match::kNo, [](const CallFacts&) { return true; }, kIn, ActingRule::kKeep, DialledRule::kCli},
    // Incoming, foreign extension:
    {Match::kYes, Match::kYes, [](const CallFacts& f) { return f.org_in_range && f.org_len_is_cli_len; },
     kOut | kForeign, ActingRule::kOrg, DialledRule::kEmpty},
    {Match::kYes, Match::kYes, [](const CallFacts&) { return true; }, kIn | kForeign,
     ActingRule::kDialledIfInRange, DialledRule::kCli},
    // Not incoming, own extension range:
    {Match::kNo, Match::kNo, [](const CallFacts& f) { return !f.org_empty && f.usable && !f.org_differs; }, kOut,
     ActingRule::kKeep, DialledRule::kKeep},
    {Match::kNo, Match::kNo, [](const CallFacts& f) { return !f.org_empty && f.usable && f.org_differs; },
     kOut | kOrig, ActingRule::kOrg, DialledRule::kKeep},
    {Match::kNo, Match::kNo, [](const CallFacts& f) { return f.dialled_empty && !f.cli_empty; }, kIn | kForeign,
     ActingRule::kKeep, DialledRule::kCli},
    {Match::kNo, Match::kNo, [](const CallFacts&) { return true; }, kOut, ActingRule::kKeep, DialledRule::kKeep},
    // Not incoming, foreign extension:
    {Match::kNo, Match::kYes, [](const CallFacts& f) { return f.usable && (f.org_in_range || f.org_empty); },
     kOut | kForeign, ActingRule::kOrgOrExtension, DialledRule::kKeep},
    {Match::kNo, Match::kYes, [](const CallFacts&) { return true; }, kIn | kForeign,
     ActingRule::kDialledIfSetAndInRange, DialledRule::kCli},
}};

bool Matches(Match m, bool value) { return (m == Match::kYes) == value; }

// ParseIntField of the text (its flag unused) within EXT_RANGE_ST..EXT_RANGE_END.
bool InExtensionRange(const DriverSettings& s, std::string_view text) {
  bool unused = true;
  const int32_t n = ParseIntField(text, unused);
  return n >= s.extension_range_first && n <= s.extension_range_last;
}

CallKind ClassifyWithoutOriginating(RecordDecode& d) {
  const bool foreign = d.state.foreign_extension;
  const bool priv = d.state.private_call;
  if (d.state.incoming_call) {
    AddFlags(d.rec, kIn | (foreign ? kForeign : 0u));
    if (!d.caller.empty()) d.state.dialled = d.caller;
    return CallKind::kNormal;
  }
  if (!d.state.code.empty()) {
    AddFlags(d.rec, kOut | (priv ? TALVO_FLAG_PRIVATE : 0u));
    return CallKind::kNormalCoded;
  }
  AddFlags(d.rec, kOut | (foreign ? kForeign : 0u) | (priv ? TALVO_FLAG_PRIVATE : 0u));
  return CallKind::kNormal;
}

CallKind ClassifyWithOriginating(RecordDecode& d) {
  const bool has_second = !TextOf(d.rec.SecondExtension).empty();
  // As long as the dialled number it may become; stored back as 8 characters.
  ShortText<24> acting;
  acting.assign(has_second ? TextOf(d.rec.SecondExtension) : TextOf(d.rec.Extension));
  const std::string_view org = d.org_ext.view();
  const std::string_view cli = d.caller.view();
  const std::string_view dialled = d.state.dialled.view();

  const CallFacts facts{
      d.state.incoming_call,
      d.state.foreign_extension,
      org.empty(),
      org != acting.view(),
      org.size() == cli.size() || d.s.caller_column != d.s.originating_extension_column,
      InExtensionRange(d.s, org),
      org.size() == cli.size(),
      dialled.empty(),
      // Only the rows of a foreign extension look at it.
      d.state.foreign_extension && InExtensionRange(d.s, dialled),
      cli.empty(),
  };

  const ClassRow* row = nullptr;
  for (const ClassRow& r : kOriginatingRows) {
    if (Matches(r.incoming, facts.incoming) && Matches(r.foreign, facts.foreign) && r.condition(facts)) {
      row = &r;
      break;
    }
  }
  // The last row of each incoming/foreign group always holds, so a row applies.
  if (row == nullptr) return CallKind::kNone;
  AddFlags(d.rec, row->flags);

  switch (row->acting) {
    case ActingRule::kKeep: break;
    case ActingRule::kOrg: acting.assign(org); break;
    case ActingRule::kOrgOrExtension: acting.assign(org.empty() ? TextOf(d.rec.Extension) : org); break;
    case ActingRule::kDialledIfInRange:
      if (facts.dialled_in_range) acting.assign(dialled);
      break;
    case ActingRule::kDialledIfSetAndInRange:
      if (!facts.dialled_empty && facts.dialled_in_range) acting.assign(dialled);
      break;
  }
  switch (row->dialled) {
    case DialledRule::kKeep: break;
    case DialledRule::kOrg: d.state.dialled.assign(org); break;
    case DialledRule::kCli: d.state.dialled.assign(cli); break;
    case DialledRule::kEmpty: d.state.dialled.clear(); break;
  }

  // The acting extension goes back where it came from, unless it replaced
  // the extension outright.
  if ((row->flags & kOrig) != 0) {
    StoreText(d.rec.Extension, acting.view());
  } else if (!TextOf(d.rec.SecondExtension).empty()) {
    StoreText(d.rec.SecondExtension, acting.view());
  } else {
    StoreText(d.rec.Extension, acting.view());
  }
  if (d.state.private_call) AddFlags(d.rec, TALVO_FLAG_PRIVATE);
  return d.state.code.empty() ? CallKind::kNormal : CallKind::kNormalCoded;
}

CallKind Classify(RecordDecode& d) {
  return d.s.originating_extension_column == 0 ? ClassifyWithoutOriginating(d) : ClassifyWithOriginating(d);
}

// ---- The three paths --------------------------------------------------------

CallKind RunNormalCallSteps(RecordDecode& d) {
  TestIncomingMarkers(d);
  DecodeDateStep(d);
  DecodeDialledNumber(d);
  DecodeCallerNumber(d);
  DecodeTimesStep(d);
  DecodeRingTimeStep(d);
  DecodeIndex(d);
  DecodePulses(d);
  DecodeTrunkGroup(d);
  DecodeTrunk(d);
  DecodeAccount(d);
  DecodeExtension(d);
  DecodeOriginatingExtension(d);
  RequireExtension(d);
  DecodeCode(d);
  TestPrivateMarkers(d);
  const CallKind kind = Classify(d);
  DecodeDisa(d);
  return kind;
}

// ---- The plan's steps ----------------------------------------------------------
// Each quick step reads its fields at fixed offsets of the lines held and
// handles the usual forms itself: two digits or two blanks for a part of a
// time, plain digits for a trunk. Anything else goes to the general step,
// before the quick step has changed anything.

// Two digits at `at` as their value, two blanks as 0 (as ParseIntField reads
// both), anything else as -1.
inline int32_t TwoDigitsOrBlanks(const char* at) {
  const unsigned tens = static_cast<unsigned char>(at[0]) - unsigned{'0'};
  const unsigned ones = static_cast<unsigned char>(at[1]) - unsigned{'0'};
  if (tens <= 9 && ones <= 9) return static_cast<int32_t>(tens * 10 + ones);
  return at[0] == ' ' && at[1] == ' ' ? 0 : -1;
}

// Two digits at `at` as their value, anything else as -1.
inline int32_t TwoDigits(const char* at) {
  const unsigned tens = static_cast<unsigned char>(at[0]) - unsigned{'0'};
  const unsigned ones = static_cast<unsigned char>(at[1]) - unsigned{'0'};
  return tens <= 9 && ones <= 9 ? static_cast<int32_t>(tens * 10 + ones) : -1;
}

// A part of a time read as TwoDigitsOrBlanks; a part not printed reads as 0.
// REQUIRES: the line holds the part.
inline int32_t PartValue(std::string_view line, const LayoutPlan::TwoCharacters& part) {
  return part.printed ? TwoDigitsOrBlanks(line.data() + part.offset) : 0;
}

// Three parts of two digits at at[0..1], at[3..4] and at[6..7] (HH?MM?SS),
// read eight bytes at once. False when any of the six is not a digit.
inline bool ReadClock(const char* at, int32_t& first, int32_t& second, int32_t& third) {
  if constexpr (std::endian::native != std::endian::little) return false;
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  constexpr uint64_t kDigitBytes = 0xFFFF00FFFF00FFFFu;  // bytes 0, 1, 3, 4, 6 and 7
  constexpr uint64_t kHigh = 0x8080008080008080u;
  constexpr uint64_t kZeros = 0x3030003030003030u;
  const uint64_t digits = word & kDigitBytes;
  if ((digits & kHigh) != 0) return false;
  // Per byte, with no carry or borrow between bytes: the top bit of
  // (b | 0x80) - 0x30 is set for b >= '0', that of b + 0x46 for b > '9'.
  if ((((digits | kHigh) - kZeros) & kHigh) != kHigh || ((digits + 0x4646004646004646u) & kHigh) != 0) return false;
  const uint64_t values = digits - kZeros;
  const auto pair = [values](unsigned byte) {
    return static_cast<int32_t>((values >> (8 * byte) & 0xFF) * 10 + (values >> (8 * byte + 8) & 0xFF));
  };
  first = pair(0);
  second = pair(3);
  third = pair(6);
  return true;
}

// Start time and duration of a report that prints both, neither with AM/PM
// nor dated by its end.
void QuickTimesStep(RecordDecode& d, const LayoutPlan& plan) {
  const LayoutPlan::QuickTimes& t = plan.quick_times();
  const std::string_view* start = d.lines.Held(t.start_line);
  const std::string_view* length = d.lines.Held(t.duration_line);
  if (!t.usable || !start || !length || start->size() < t.start_needs || length->size() < t.duration_needs) {
    DecodeTimesStep(d);
    return;
  }
  int32_t hour = 0, minute = 0, second = 0, hours = 0, minutes = 0, seconds = 0;
  if (!t.start_clock || !ReadClock(start->data() + t.hour.offset, hour, minute, second)) {
    hour = PartValue(*start, t.hour);
    minute = PartValue(*start, t.minute);
    second = PartValue(*start, t.second);
  }
  if (!t.duration_clock || !ReadClock(length->data() + t.duration_hours.offset, hours, minutes, seconds)) {
    hours = PartValue(*length, t.duration_hours);
    minutes = PartValue(*length, t.duration_minutes);
    seconds = PartValue(*length, t.duration_seconds);
  }
  if ((hour | minute | second | hours | minutes | seconds) < 0 || hour >= 24 || minute >= 60) {
    DecodeTimesStep(d);
    return;
  }
  d.rec.StartMinute = static_cast<uint16_t>(hour * 60 + minute);
  d.Record(TALVO_ERR_START_TIME_L1);
  if (t.second.printed) d.rec.StartSecond = static_cast<uint8_t>(second);
  int32_t duration = hours * 3600 + minutes * 60 + seconds;
  if (d.s.duration_seconds_in_tenths) duration = (duration / 60) * 60 + (duration % 60) * 6;
  d.rec.Duration = duration;
  d.Record(TALVO_ERR_DURATION_L1);
}

void QuickRingTimeStep(RecordDecode& d, const LayoutPlan& plan) {
  const LayoutPlan::QuickRing& r = plan.quick_ring();
  const std::string_view* line = d.lines.Held(r.line);
  if (!r.usable || !line || line->size() < r.line_needs) {
    DecodeRingTimeStep(d);
    return;
  }
  const int32_t minutes = PartValue(*line, r.minutes);
  const int32_t seconds = PartValue(*line, r.seconds);
  if ((minutes | seconds) < 0) {
    DecodeRingTimeStep(d);
    return;
  }
  d.Record(TALVO_ERR_RING_TIME);
  d.rec.RingSeconds = static_cast<int16_t>(std::min(minutes * 60 + seconds, 255));
}

// The date with its year printed, six digits in their columns.
void QuickDateStep(RecordDecode& d, const LayoutPlan& plan) {
  const LayoutPlan::QuickDate& q = plan.quick_date();
  const std::string_view* line = d.lines.Held(q.line);
  if (!q.usable || !d.state.record_ok || line == nullptr || line->size() < q.line_needs) {
    DecodeDateStep(d);
    return;
  }
  const char* at = line->data();
  const int32_t year = TwoDigits(at + q.year);
  const int32_t month = TwoDigits(at + q.month);
  const int32_t day = TwoDigits(at + q.day);
  if ((year | month | day) < 0) {
    DecodeDateStep(d);
    return;
  }
  char* date = d.out.call_date.chars;
  std::memcpy(date, at + q.year, 2);
  std::memcpy(date + 2, at + q.month, 2);
  std::memcpy(date + 4, at + q.day, 2);
  d.out.call_date.length = 6;
  d.state.record_ok = month >= 1 && month <= 12 && day >= 1 && day <= 31;
  d.Record(TALVO_ERR_CALL_DATE);
}

// The digits of a printed trunk field as PlainTrunk leaves them: blanks
// around dropped, cut to six, leading zeros dropped down to one digit, an
// empty field "0". False when the field is not printed (column or width 0) or
// holds anything but digits.
inline bool QuickTrunkDigits(const std::string_view* held, uint8_t column, uint8_t width, std::string_view& digits) {
  // A line not held keeps the record's own text: the general step reads it.
  if (held == nullptr || column == 0 || width == 0) return false;
  const std::string_view line = *held;
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  const char* text = line.data();
  std::size_t from = column - 1u;
  std::size_t to = std::min(line.size(), from + width);
  while (from < to && blank(text[from])) ++from;
  while (to > from && blank(text[to - 1])) --to;
  if (from >= to) {
    digits = "0";
    return true;
  }
  to = std::min(to, from + 6);
  for (std::size_t i = from; i < to; ++i) {
    if (!IsDigit(text[i])) return false;
  }
  while (from + 1 < to && text[from] == '0') ++from;
  digits = std::string_view(text + from, to - from);
  return true;
}

void QuickTrunkGroupStep(RecordDecode& d, const LayoutPlan& plan) {
  std::string_view digits;
  if (plan.trunk_group_base() == LayoutPlan::TrunkGroupBase::kOther ||
      !QuickTrunkDigits(d.lines.Held(d.s.trunk_group_line), d.s.trunk_group_column, d.s.trunk_group_width,
                        digits)) {
    DecodeTrunkGroup(d);
    return;
  }
  if (plan.trunk_group_base() == LayoutPlan::TrunkGroupBase::kNone) {
    StoreText(d.rec.TrunkGroup, digits);
  } else {
    StoreDecimal(d.rec.TrunkGroup, DigitRunValue(digits) + plan.trunk_group_base_value());
  }
}

void QuickTrunkStep(RecordDecode& d) {
  std::string_view digits;
  if (!QuickTrunkDigits(d.lines.Held(d.s.trunk_line), d.s.trunk_column, d.s.trunk_width, digits)) {
    DecodeTrunk(d);
    return;
  }
  StoreText(d.rec.Trunk, digits);
}

// ClassifyWithOriginating with the rows of kOriginatingRows written out as
// code: a fact is worked out only when a row asks for it, and the acting
// extension is copied only when a row changes it. The same flags, texts and
// kind as the table.
CallKind QuickClassifyWithOriginating(RecordDecode& d) {
  const bool incoming = d.state.incoming_call;
  const bool foreign = d.state.foreign_extension;
  const bool has_second = !TextOf(d.rec.SecondExtension).empty();
  const std::string_view acting = has_second ? TextOf(d.rec.SecondExtension) : TextOf(d.rec.Extension);
  const std::string_view org = d.org_ext.view();
  const std::string_view cli = d.caller.view();
  const std::string_view dialled = d.state.dialled.view();
  const bool usable = org.size() == cli.size() || d.s.caller_column != d.s.originating_extension_column;
  const auto org_in_range = [&] { return InExtensionRange(d.s, org); };
  const auto dialled_in_range = [&] { return InExtensionRange(d.s, dialled); };

  uint32_t flags = 0;
  // The acting extension a row puts in place, copied before any text it was
  // read from changes; the table stores it back cut to eight characters.
  ShortText<8> new_acting;
  bool acting_changed = false;
  const auto set_acting = [&](std::string_view text) {
    new_acting.assign(text);
    acting_changed = true;
  };
  if (incoming && !foreign) {
    if (org != acting && usable && org_in_range()) {
      flags = kInternal;
      d.state.dialled.assign(org);
    } else {
      flags = kIn;
      d.state.dialled.assign(cli);
    }
  } else if (incoming) {
    if (org_in_range() && org.size() == cli.size()) {
      flags = kOut | kForeign;
      set_acting(org);
      d.state.dialled.clear();
    } else {
      flags = kIn | kForeign;
      if (dialled_in_range()) set_acting(dialled);
      d.state.dialled.assign(cli);
    }
  } else if (!foreign) {
    if (!org.empty() && usable && org == acting) {
      flags = kOut;
    } else if (!org.empty() && usable) {
      flags = kOut | kOrig;
      set_acting(org);
    } else if (dialled.empty() && !cli.empty()) {
      flags = kIn | kForeign;
      d.state.dialled.assign(cli);
    } else {
      flags = kOut;
    }
  } else {
    if (usable && (org.empty() || org_in_range())) {
      flags = kOut | kForeign;
      set_acting(org.empty() ? TextOf(d.rec.Extension) : org);
    } else {
      flags = kIn | kForeign;
      if (!dialled.empty() && dialled_in_range()) set_acting(dialled);
      d.state.dialled.assign(cli);
    }
  }
  AddFlags(d.rec, flags);
  // Where the table stores the acting extension back. Unchanged, it is the
  // text it was read from, whose length byte the store keeps to eight.
  const auto store_back = [&](auto& target) {
    if (acting_changed) {
      StoreText(target, new_acting.view());
    } else if (target.length > sizeof target.chars) {
      target.length = sizeof target.chars;
    }
  };
  if ((flags & kOrig) != 0 || !has_second) {
    store_back(d.rec.Extension);
  } else {
    store_back(d.rec.SecondExtension);
  }
  if (d.state.private_call) AddFlags(d.rec, TALVO_FLAG_PRIVATE);
  return d.state.code.empty() ? CallKind::kNormal : CallKind::kNormalCoded;
}

// The digit fields, read straight into the texts they fill.
constexpr KeepDigits kDigit;

void QuickDialledStep(RecordDecode& d) {
  if (const std::string_view* line = d.lines.Held(d.s.number_line)) {
    ExtractCharsInto(d.state.dialled, *line, d.s.number_column, d.s.number_width, kDigit);
  }
}

void QuickCallerStep(RecordDecode& d) {
  if (const std::string_view* line = d.lines.Held(d.s.caller_line)) {
    ExtractCharsInto(d.caller, *line, d.s.caller_column, d.s.caller_width, kDigit);
  }
}

void QuickAccountStep(RecordDecode& d) {
  if (d.s.account_is_extension) {
    DecodeAccount(d);
    return;
  }
  if (const std::string_view* line = d.lines.Held(d.s.account_line)) {
    ShortText<24> digits;
    ExtractCharsInto(digits, *line, d.s.account_column, d.s.account_width, kDigit);
    if (!digits.empty()) StoreText(d.rec.Account, digits.view().substr(0, 8));
  }
}

// The extension and its range, as DecodeExtension.
void QuickExtensionStep(RecordDecode& d) {
  const std::string_view* line = d.lines.Held(d.s.extension_line);
  if (line == nullptr) return;
  const std::string_view text = TrimBlanks(CutText(*line, d.s.extension_column, d.s.extension_width)).substr(0, 8);
  int32_t number = 0;
  if (!TextOf(d.rec.Extension).empty()) {
    StoreText(d.rec.SecondExtension, text);
    bool unused = true;
    number = ParseIntField(TextOf(d.rec.Extension), unused);
  } else {
    StoreText(d.rec.Extension, text);
    // Plain digits, as extensions are printed, read here; anything else as
    // ParseIntField reads it ("12A" as 12, a leading letter as 0).
    bool plain = !text.empty();
    for (char c : text) {
      plain = plain && IsDigit(c);
      number = number * 10 + (c - '0');
    }
    if (!plain) {
      bool unused = true;
      number = ParseIntField(text, unused);
    }
  }
  CheckExtensionRange(d, number);
}

// The pulses when the field is blank or up to six plain digits, whose
// product with any PULSES_MULT is exact; anything else as DecodePulses.
void QuickPulsesStep(RecordDecode& d) {
  const std::string_view* line = d.lines.Held(d.s.pulses_line);
  if (!d.state.record_ok || line == nullptr) {
    DecodePulses(d);
    return;
  }
  const std::string_view field = TrimBlanks(CutText(*line, d.s.pulses_column, d.s.pulses_width));
  if (field.size() > 6 || !std::all_of(field.begin(), field.end(), kDigit)) {
    DecodePulses(d);
    return;
  }
  const int64_t pulses = field.empty() ? 0 : int64_t{DigitRunValue(field)};
  d.rec.Pulses = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(pulses * d.s.pulses_multiplier)));
}

// The originating extension, as DecodeOriginatingExtension reads it.
void QuickOriginatingStep(RecordDecode& d) {
  const std::string_view* line = d.lines.Held(d.s.originating_extension_line);
  if (line == nullptr) return;
  const std::string_view org =
      TrimBlanks(CutText(*line, d.s.originating_extension_column, d.s.originating_extension_width)).substr(0, 8);
  if (org.find('-') != std::string_view::npos) {
    d.org_ext.clear();
  } else {
    d.org_ext.assign(org);
  }
}

// The DISA mark, as DecodeDisa reads it.
void QuickDisaStep(RecordDecode& d) {
  const std::string_view* line = d.lines.Held(d.s.disa_line);
  if (line == nullptr) return;
  const std::string_view marker = TrimBlanks(CutText(*line, d.s.disa_column, d.s.disa_width));
  if (marker.size() == 1 && (marker[0] == 'Y' || marker[0] == 'y')) AddFlags(d.rec, TALVO_FLAG_CONVERTED);
}

// The steps of a normal call as a plan runs them: the marker
// tests compiled, the steps that can change nothing left out.
CallKind RunPlannedCallSteps(RecordDecode& d, const LayoutPlan& plan) {
  const LayoutPlan::Steps& run = plan.steps();
  d.state.incoming_call = plan.IncomingCall(d.lines);
  if (run.date) QuickDateStep(d, plan);
  if (run.dialled) QuickDialledStep(d);
  if (run.caller) QuickCallerStep(d);
  if (run.times) QuickTimesStep(d, plan);
  QuickRingTimeStep(d, plan);
  if (run.index) DecodeIndex(d);
  if (run.pulses) QuickPulsesStep(d);
  QuickTrunkGroupStep(d, plan);
  QuickTrunkStep(d);
  if (run.account) QuickAccountStep(d);
  QuickExtensionStep(d);
  if (run.originating) QuickOriginatingStep(d);
  RequireExtension(d);
  if (run.code) DecodeCode(d);
  d.state.private_call = plan.PrivateCall(d.lines, d.out.error_code);
  const CallKind kind =
      d.s.originating_extension_column == 0 ? ClassifyWithoutOriginating(d) : QuickClassifyWithOriginating(d);
  if (run.disa) QuickDisaStep(d);
  return kind;
}

// A local call that decodes is recorded as an internal call.
CallKind RunLocalCallSteps(RecordDecode& d) {
  DecodeLocalCallDateTime(d);
  DecodeLocalCallParties(d);
  if (!d.state.local_call_pending) return CallKind::kNone;
  d.rec.Flags = TALVO_FLAG_INTERNAL;
  return CallKind::kNormal;
}

CallKind RunDutyCallSteps(RecordDecode& d) {
  DecodeDutyCallDateTime(d);
  DecodeDutyCallParties(d);
  return d.state.record_ok ? CallKind::kDuty : CallKind::kNone;
}

// ---- The final step ---------------------------------------------------------

// Counts the record and copies the working record into its entry of the
// host's array. A count outside 1..20 (including one that was negative on
// entry) copies nothing, so nothing is written outside the array.
void AppendRecord(LineOutputs& out) {
  const auto count = static_cast<int32_t>(static_cast<uint32_t>(out.record_count) + 1u);
  out.record_count = count;
  if (count >= 2 && count <= TALVO_RECORD_ENTRIES) {
    std::memcpy(&out.records[count - 1], &out.records[0], sizeof(CallRecord));
  }
}

int32_t FinalStep(RecordDecode& d, CallKind kind) {
  CheckExtensions(d);
  if (!d.state.record_ok) return TALVO_RESULT_NO_RECORD;
  if (kind == CallKind::kDuty) return TALVO_RESULT_DUTY;
  if (kind == CallKind::kNone) return TALVO_RESULT_NO_RECORD;

  const uint32_t flags = d.rec.Flags;
  if ((flags & TALVO_FLAG_INTERNAL) != 0) {
    StoreText(d.rec.Number, d.state.dialled.view());
    StoreText(d.rec.TrunkGroup, kInternalTrunk);
    StoreText(d.rec.Trunk, kInternalTrunk);
  } else if ((flags & TALVO_FLAG_OUTGOING) != 0) {
    ApplyConversion(d.conversion_table, d.rec, d.state.dialled.view());
    if (kind == CallKind::kNormalCoded) StoreText(d.rec.TCode, d.state.code.view());
    StoreText(d.rec.Number, d.state.dialled.view());
  } else if ((flags & TALVO_FLAG_INCOMING) != 0) {
    if (!d.state.dialled.empty()) StoreText(d.rec.Number, d.state.dialled.view());
  } else {
    return TALVO_RESULT_NO_RECORD;
  }
  AppendRecord(d.out);
  return TALVO_RESULT_RECORD;
}

}  // namespace

int32_t AssembleRecord(const DriverSettings& s, const LayoutPlan* plan, const RecordBuffer& lines,
                       ParserState& state, Env& env, const ConversionTable* conversion_table, LineOutputs& out) {
  RecordDecode d{s, lines, state, out.records[0], out, env, conversion_table, {}, {}};
  ResetDecode(d);
  CallKind kind = CallKind::kNone;
  if (state.local_call_pending || state.duty_call_pending) {
    if (state.local_call_pending && s.local_calls) {
      kind = RunLocalCallSteps(d);
    } else if (state.duty_call_pending && s.duty_calls) {
      kind = RunDutyCallSteps(d);
    }
  } else if (plan != nullptr) {
    kind = RunPlannedCallSteps(d, *plan);
  } else {
    kind = RunNormalCallSteps(d);
  }
  return FinalStep(d, kind);
}

}  // namespace talvo
