#include "bench/gen/report_gen.h"

#include <algorithm>
#include <array>

namespace talvo::bench {
namespace {

constexpr uint32_t kPageLines = 60;
constexpr uint32_t kSecondsPerDay = 86400;

struct Date {
  uint32_t year;
  uint32_t month;
  uint32_t day;
};

bool IsLeapYear(uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Day 0 is 2020-01-01.
Date DateOfDay(uint32_t n) {
  static constexpr std::array<uint32_t, 12> kMonthDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  Date d{2020, 1, 1};
  for (;;) {
    const uint32_t year_days = IsLeapYear(d.year) ? 366 : 365;
    if (n < year_days) break;
    n -= year_days;
    ++d.year;
  }
  for (;;) {
    const uint32_t month_days = kMonthDays[d.month - 1] + (d.month == 2 && IsLeapYear(d.year) ? 1 : 0);
    if (n < month_days) break;
    n -= month_days;
    ++d.month;
  }
  d.day += n;
  return d;
}

void AppendTwo(std::string& out, uint32_t v) {
  out += static_cast<char>('0' + v / 10 % 10);
  out += static_cast<char>('0' + v % 10);
}

// "DD/MM/YY".
std::string DateText(const Date& d) {
  std::string s;
  AppendTwo(s, d.day);
  s += '/';
  AppendTwo(s, d.month);
  s += '/';
  AppendTwo(s, d.year % 100);
  return s;
}

// "HH:MM:SS", or "HH:MM" without the seconds.
std::string ClockText(uint32_t seconds, bool with_seconds) {
  std::string s;
  AppendTwo(s, seconds / 3600);
  s += ':';
  AppendTwo(s, seconds / 60 % 60);
  if (with_seconds) {
    s += ':';
    AppendTwo(s, seconds % 60);
  }
  return s;
}

// "MM:SS".
std::string MinutesText(uint32_t seconds) {
  std::string s;
  AppendTwo(s, seconds / 60);
  s += ':';
  AppendTwo(s, seconds % 60);
  return s;
}

std::string RightAligned(uint32_t v, std::size_t width) {
  std::string s = std::to_string(v);
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

// A fixed-column line: texts put at 1-based columns, the rest blank; the
// line ends at its last printed character.
class Columns {
 public:
  void Put(std::size_t column, std::string_view text) {
    if (text.empty()) return;
    const std::size_t at = column - 1;
    if (s_.size() < at + text.size()) s_.resize(at + text.size(), ' ');
    s_.replace(at, text.size(), text);
  }
  void Put(std::size_t column, char c) { Put(column, std::string_view(&c, 1)); }
  // Cuts the line after `length` characters.
  void Cut(std::size_t length) { s_.resize(std::min(s_.size(), length)); }
  std::string_view text() const {
    std::string_view t = s_;
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return t;
  }

 private:
  std::string s_;
};

}  // namespace

enum class ReportGenerator::Kind : uint8_t { kOutgoing, kIncoming, kInternal, kLocal, kDuty };

// How a malformed call is broken; each one makes the driver refuse the call.
enum class ReportGenerator::Fault : uint8_t {
  kNone,
  kStartHour,     // a "?" for the start hour's second digit ("0?", "1?")
  kExtension,     // an extension outside the site's range
  kMonth,         // month 13
  kCutShort,      // the call line ends inside the duration, before the extension
  kNoCalled,      // a local line without the called extension
  kDutyYear,      // a duty line with the year "2X"
  kContinuation,  // three-line layout: the second line's marker garbled
};

struct ReportGenerator::Call {
  Kind kind = Kind::kOutgoing;
  Fault fault = Fault::kNone;
  Date date{};
  uint32_t start = 0;     // seconds since midnight
  uint32_t duration = 0;  // seconds
  std::string extension;
  std::string group;  // trunk group, two digits; empty for an internal call
  std::string trunk;  // three digits; empty for an internal call
  std::string dialled;
  std::string caller;
  uint32_t ring = 0;  // seconds, incoming calls
  uint32_t pulses = 0;
  std::string account;
  std::string origin;  // originating extension
  std::string code;    // duty code digits
  bool private_call = false;
  bool disa = false;
};

std::optional<ReportLayout> LayoutByName(std::string_view name) {
  if (name == "example") return ReportLayout::kExample;
  if (name == "three-line") return ReportLayout::kThreeLine;
  return std::nullopt;
}

std::string_view LayoutName(ReportLayout layout) {
  return layout == ReportLayout::kExample ? "example" : "three-line";
}

std::string_view LayoutSettingsPath(ReportLayout layout) {
  return layout == ReportLayout::kExample ? "examples/pbx.ini" : "bench/data/three_line.ini";
}

ReportGenerator::ReportGenerator(ReportLayout layout, uint64_t seed) : layout_(layout), state_(seed) {}

// splitmix64: a fixed sequence for a fixed seed, whatever the platform.
uint64_t ReportGenerator::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

std::string ReportGenerator::Digits(uint32_t n) {
  std::string s;
  for (uint32_t i = 0; i < n; ++i) s += static_cast<char>('0' + Below(10));
  return s;
}

// About 2000 calls a day: one every half minute by day, every two and a half
// minutes by night.
void ReportGenerator::AdvanceClock() {
  const bool night = second_ < 7 * 3600 || second_ >= 21 * 3600;
  second_ += night ? Below(300) : Below(60);
  if (second_ >= kSecondsPerDay) {
    second_ -= kSecondsPerDay;
    ++day_;
  }
}

// Rooms and offices 200..279; 280 is the sales office, 200 the front desk.
std::string ReportGenerator::Extension() {
  const uint32_t n = 200 + Below(82);
  return layout_ == ReportLayout::kExample ? std::to_string(n) : std::to_string(n * 10 + Below(10));
}

std::string ReportGenerator::DialledNumber() {
  static constexpr std::array<std::string_view, 8> kAreas = {"231", "317", "521", "612", "699", "30", "40", "89"};
  static constexpr std::array<std::string_view, 6> kCountries = {"44", "33", "49", "1", "39", "34"};
  const uint32_t r = Below(100);
  if (r < 30) return "06" + Digits(8);
  if (r < 62) {
    const std::string_view area = kAreas[Below(kAreas.size())];
    return "0" + std::string(area) + Digits(9 - static_cast<uint32_t>(area.size()));
  }
  if (r < 75) {
    const std::string_view country = kCountries[Below(kCountries.size())];
    return "00" + std::string(country) + Digits(9 + Below(2));
  }
  if (r < 80) return "0800" + Digits(6);
  if (r < 85) return "0521" + Digits(6);
  if (r < 87) return Below(2) == 0 ? "112" : "1888";
  return Digits(7);
}

// Mostly national and mobile numbers; a fifth of the callers withhold theirs.
std::string ReportGenerator::CallerNumber() {
  const uint32_t r = Below(100);
  if (r < 20) return {};
  if (r < 50) return "06" + Digits(8);
  if (r < 92) return "0" + Digits(9);
  return "0044" + Digits(8);
}

ReportGenerator::Call ReportGenerator::NewCall() {
  AdvanceClock();
  Call c;
  c.date = DateOfDay(day_);
  c.start = second_;
  const uint32_t r = Below(1000);
  if (r < 540) {
    c.kind = Kind::kOutgoing;
  } else if (r < 800) {
    c.kind = Kind::kIncoming;
  } else if (r < 860) {
    c.kind = Kind::kInternal;
  } else if (r < 950) {
    c.kind = Kind::kLocal;
  } else {
    c.kind = Kind::kDuty;
  }
  c.extension = Extension();
  const uint32_t length = Below(100);
  c.duration = length < 70 ? Below(300) : length < 97 ? Below(3600) : Below(5 * 3600);
  c.group = "0" + std::to_string(1 + Below(2));
  c.trunk = "0";
  AppendTwo(c.trunk, 1 + Below(12));

  switch (c.kind) {
    case Kind::kOutgoing:
      c.dialled = DialledNumber();
      c.pulses = std::min<uint32_t>(9999, c.duration / (c.dialled.rfind("00", 0) == 0 ? 10 : 60) + Below(2));
      if (Percent(5)) c.account = Digits(4 + Below(3));
      if (Percent(6)) {
        c.origin = c.extension;  // printed although the room dialled itself
      } else if (Percent(4)) {
        c.origin = c.extension;  // the front desk set the call up for a room
        c.extension = layout_ == ReportLayout::kExample ? "200" : "2000";
      }
      c.private_call = Percent(10);
      c.disa = Percent(1);
      break;
    case Kind::kIncoming:
      c.caller = CallerNumber();
      c.ring = Percent(3) ? Below(300) : Below(45);
      c.duration = Percent(10) ? 0 : c.duration;  // unanswered
      c.private_call = Percent(3);
      break;
    case Kind::kInternal:
      c.group.clear();
      c.trunk.clear();
      do {
        c.origin = Extension();
      } while (c.origin == c.extension);
      break;
    case Kind::kLocal:
      do {
        c.dialled = Extension();
      } while (c.dialled == c.extension);
      break;
    case Kind::kDuty: {
      static constexpr std::array<std::string_view, 5> kCodes = {"41", "35", "2", "41", "7120"};
      c.code = kCodes[Below(kCodes.size())];
      break;
    }
  }

  if (Below(1000) < 5) {
    switch (c.kind) {
      case Kind::kLocal: c.fault = Fault::kNoCalled; break;
      case Kind::kDuty: c.fault = Fault::kDutyYear; break;
      default: {
        static constexpr std::array<Fault, 5> kFaults = {Fault::kStartHour, Fault::kExtension, Fault::kMonth,
                                                         Fault::kCutShort, Fault::kContinuation};
        const uint32_t n = layout_ == ReportLayout::kThreeLine ? 5 : 4;
        c.fault = kFaults[Below(n)];
        break;
      }
    }
  }
  return c;
}

void ReportGenerator::Line(std::string& out, std::string_view text) {
  out.append(text);
  out += "\r\n";
  ++tally_.lines;
  ++page_lines_;
}

void ReportGenerator::WriteHeld(std::string& out) {
  out += held_;
  tally_.lines += held_lines_;
  held_.clear();
  held_lines_ = 0;
}

void ReportGenerator::PageHeading(std::string& out) {
  if (page_ > 0) {
    WriteHeld(out);
    Line(out, "");
    ++tally_.other_lines;
  }
  ++page_;
  page_lines_ = 0;
  if (layout_ == ReportLayout::kExample) {
    Line(out, "LAKESIDE HOTEL - CALL RECORDS                              PAGE " + std::to_string(page_));
    Line(out, "DATE     START    DURATION EXT  TG TRK D DIALLED              CALLER       RING  MTR  ACCT   ORG  P DISA");
    Line(out, "-------- -------- -------- ---- -- --- - -------------------- ------------ ----- ---- ------ ---- - ----");
  } else {
    Line(out, "MERIDIAN OFFICES          CALL ACCOUNTING          PAGE " + std::to_string(page_));
    Line(out, "==============================================================================");
  }
  tally_.other_lines += layout_ == ReportLayout::kExample ? 3 : 2;
}

void ReportGenerator::Count(const Call& c) {
  ++tally_.calls;
  if (c.fault != Fault::kNone) {
    ++tally_.malformed;
    return;
  }
  const uint64_t lines = layout_ == ReportLayout::kThreeLine && c.kind != Kind::kLocal && c.kind != Kind::kDuty ? 3 : 1;
  tally_.lines_in_records += lines;
  switch (c.kind) {
    case Kind::kOutgoing: ++tally_.outgoing; break;
    case Kind::kIncoming: ++tally_.incoming; break;
    case Kind::kInternal:
    case Kind::kLocal: ++tally_.internal; break;
    case Kind::kDuty: ++tally_.duty; break;
  }
}

// LOCAL    15/03/26 08:20    215  > 231      (example layout)
// DUTY     15/03/26 07:30    215  41
// LOCAL 15/03/26 08:20 2150 > 2310           (three-line layout)
// DUTY  15/03/26 07:30 2150 41
void ReportGenerator::WriteLocalOrDuty(std::string& out, const Call& c) {
  const bool example = layout_ == ReportLayout::kExample;
  Columns l;
  l.Put(1, c.kind == Kind::kLocal ? "LOCAL" : "DUTY");
  std::string date = DateText(c.date);
  if (c.fault == Fault::kDutyYear) date[6] = '2', date[7] = 'X';
  l.Put(example ? 10 : 7, date);
  l.Put(example ? 19 : 16, ClockText(c.start, false));
  l.Put(example ? 28 : 22, c.extension);
  if (c.kind == Kind::kLocal) {
    l.Put(example ? 33 : 27, '>');
    if (c.fault != Fault::kNoCalled) l.Put(example ? 35 : 29, c.dialled);
  } else {
    l.Put(example ? 33 : 27, c.code);
  }
  if (example) {
    Line(out, l.text());
  } else {
    // Held back to the end of the page, where the page break closes the
    // last of them: a call line arriving would break such a record off.
    held_.append(l.text());
    held_ += "\r\n";
    ++held_lines_;
  }
}

// The call line's date DD/MM/YY and start time HH:MM:SS, broken as the call's
// fault says.
std::string ReportGenerator::CallDate(const Call& c) {
  std::string date = DateText(c.date);
  if (c.fault == Fault::kMonth) date.replace(3, 2, "13");
  return date;
}

std::string ReportGenerator::StartTime(const Call& c) {
  std::string start = ClockText(c.start, true);
  if (c.fault == Fault::kStartHour) start[1] = '?';
  return start;
}

// 15/03/26 09:02:05 00:06:10 250  02 010 O 0317654321                                 6 4711   215  P Y
void ReportGenerator::WriteExample(std::string& out, const Call& c) {
  Columns l;
  l.Put(1, CallDate(c));
  l.Put(10, StartTime(c));
  l.Put(19, ClockText(c.duration, true));
  l.Put(28, c.fault == Fault::kExtension ? "999" : c.extension);
  l.Put(33, c.group);
  l.Put(36, c.trunk);
  l.Put(40, c.kind == Kind::kOutgoing ? 'O' : 'I');
  l.Put(42, c.dialled);
  l.Put(63, c.caller);
  if (c.kind == Kind::kIncoming) l.Put(76, MinutesText(c.ring));
  if (c.kind == Kind::kOutgoing) l.Put(82, RightAligned(c.pulses, 4));
  l.Put(87, c.account);
  l.Put(94, c.origin);
  if (c.private_call) l.Put(99, 'P');
  if (c.disa) l.Put(101, 'Y');
  if (c.fault == Fault::kCutShort) l.Cut(20);
  Line(out, l.text());
}

// CALL 15/03/26 09:02:05 00:06:10 2150 02 010 O
//      DIALLED 0317654321           CALLER 0612345000
//      METER    6 RING 00:08 ACCOUNT 4711   ORIGIN 2150 P Y
void ReportGenerator::WriteThreeLine(std::string& out, const Call& c) {
  Columns l1;
  l1.Put(1, "CALL");
  l1.Put(6, CallDate(c));
  l1.Put(15, StartTime(c));
  l1.Put(24, ClockText(c.duration, true));
  l1.Put(33, c.fault == Fault::kExtension ? "9990" : c.extension);
  l1.Put(38, c.group);
  l1.Put(41, c.trunk);
  l1.Put(45, c.kind == Kind::kOutgoing ? 'O' : 'I');
  if (c.fault == Fault::kCutShort) l1.Cut(20);

  Columns l2;
  l2.Put(6, c.fault == Fault::kContinuation ? "DIALLEX" : "DIALLED");
  l2.Put(14, c.dialled);
  l2.Put(35, "CALLER");
  l2.Put(42, c.caller);

  Columns l3;
  l3.Put(6, "METER");
  l3.Put(12, RightAligned(c.pulses, 4));
  l3.Put(17, "RING");
  l3.Put(22, MinutesText(c.ring));
  l3.Put(28, "ACCOUNT");
  l3.Put(36, c.account);
  l3.Put(43, "ORIGIN");
  l3.Put(50, c.origin);
  if (c.private_call) l3.Put(55, 'P');
  if (c.disa) l3.Put(57, 'Y');

  Line(out, l1.text());
  Line(out, l2.text());
  Line(out, l3.text());
}

void ReportGenerator::AppendCall(std::string& out) {
  if (page_ == 0 || page_lines_ + held_lines_ >= kPageLines) PageHeading(out);
  const Call c = NewCall();
  Count(c);
  if (c.kind == Kind::kLocal || c.kind == Kind::kDuty) {
    WriteLocalOrDuty(out, c);
  } else if (layout_ == ReportLayout::kExample) {
    WriteExample(out, c);
  } else {
    WriteThreeLine(out, c);
  }
}

void ReportGenerator::Finish(std::string& out) {
  WriteHeld(out);
  Line(out, "*** END OF REPORT ***");
  ++tally_.other_lines;
}

}  // namespace talvo::bench
