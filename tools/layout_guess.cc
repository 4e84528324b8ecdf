#include "tools/layout_guess.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "tools/files.h"
#include "tools/layout_guess_fields.h"
#include "tools/report_run.h"
#include "tools/record_rows.h"

namespace talvo::tool {
namespace {

using layout::AllDigits;
using layout::ConsensusMask;
using layout::CutGluedFields;
using layout::Distinct;
using layout::IsDigit;
using layout::IsLetter;
using layout::kAlways;
using layout::Mask;
using layout::ModalMask;
using layout::Segment;
using layout::Segments;
using layout::Trim;

// Lines after a call line that can belong to it.
constexpr std::size_t kMaxFollowing = 5;

bool IsBlankLine(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\f'; });
}
char At(std::string_view line, std::size_t column) { return column >= 1 && column <= line.size() ? line[column - 1] : ' '; }

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A dialled number written with dashes ("1-201-555-0187"): its digits;
// empty when the text holds anything else or starts or ends with a dash.
std::string DashedDigits(std::string_view s) {
  if (s.empty() || s.front() == '-' || s.back() == '-') return {};
  std::string out;
  for (char c : s) {
    if (IsDigit(c)) {
      out += c;
    } else if (c != '-') {
      return {};
    }
  }
  return out;
}

// A word that says a call came in: "I", "IN", "INC", "INCOMING", or a class
// word of three or four letters that ends in "IN" ("PIN").
bool IsIncomingWord(std::string_view w) {
  return w == "I" || w == "IN" || w == "INC" || w == "INCOMING" || (w.size() >= 3 && w.size() <= 4 && w.ends_with("IN"));
}

std::string Percent(std::size_t part, std::size_t whole) {
  return std::to_string(whole == 0 ? 0 : (part * 100 + whole / 2) / whole) + " %";
}

// Where a line's first date (two or three groups of two digits joined by
// "/", "." or "-") and first time of day ("HH:MM") stand: the columns of
// their first separator, 0 when absent.
struct Anchors {
  std::size_t date = 0;
  std::size_t time = 0;
  std::string word;  // a word of three letters or more that opens the line
};

Anchors FindAnchors(std::string_view line) {
  Anchors a;
  for (std::size_t i = 2; i + 2 < line.size() + 1 && (a.date == 0 || a.time == 0); ++i) {
    const char sep = line[i];
    const bool two_before = IsDigit(line[i - 1]) && IsDigit(line[i - 2]) && (i < 3 || !IsDigit(line[i - 3]));
    const bool two_after = i + 2 < line.size() && IsDigit(line[i + 1]) && IsDigit(line[i + 2]);
    if (!two_before || !two_after) continue;
    if (a.time == 0 && sep == ':') a.time = i + 1;
    if (a.date == 0 && a.time == 0 && (sep == '/' || sep == '-' || sep == '.')) a.date = i + 1;
  }
  std::size_t n = 0;
  while (n < line.size() && IsLetter(line[n])) ++n;
  if (n >= 3 && (n == line.size() || line[n] == ' ')) a.word = Upper(line.substr(0, n));
  return a;
}

// Column titles: what a label says the field under it is.
enum class Title {
  kNone, kExtension, kTrunkGroup, kTrunk, kNumber, kCaller, kRing, kPulses, kAccount, kOrigin, kDisa, kCode,
  kPrivate, kDirection, kDuration, kTime, kDate, kIndex,
};

Title TitleOf(std::string_view label) {
  struct Word {
    std::string_view prefix;
    Title title;
  };
  // Longer words first, where one starts another.
  static constexpr Word kWords[] = {
      {"DISA", Title::kDisa},         {"DIAL", Title::kNumber},     {"DUR", Title::kDuration},
      {"DATE", Title::kDate},         {"DIR", Title::kDirection},   {"EXT", Title::kExtension},
      {"STN", Title::kExtension},     {"STATION", Title::kExtension}, {"TG", Title::kTrunkGroup},
      {"GRP", Title::kTrunkGroup},    {"TRUNK", Title::kTrunk},     {"TRK", Title::kTrunk},
      {"CO", Title::kTrunk},          {"LINE", Title::kTrunk},      {"NUMBER", Title::kNumber},
      {"CALLED", Title::kNumber},     {"DIGITS", Title::kNumber},   {"CALLER", Title::kCaller},
      {"CLI", Title::kCaller},        {"ANI", Title::kCaller},      {"RING", Title::kRing},
      {"MTR", Title::kPulses},        {"METER", Title::kPulses},    {"PULSE", Title::kPulses},
      {"UNITS", Title::kPulses},      {"ACC", Title::kAccount},     {"ORIGIN", Title::kOrigin},
      {"ORG", Title::kOrigin},        {"CD", Title::kCode},         {"CODE", Title::kCode},
      {"COND", Title::kCode},         {"PRV", Title::kPrivate},     {"PRIV", Title::kPrivate},
      {"P", Title::kPrivate},         {"D", Title::kDirection},     {"I/O", Title::kDirection},
      {"TIME", Title::kTime},         {"START", Title::kTime},      {"SEQ", Title::kIndex},
      {"NO", Title::kIndex},          {"REC", Title::kIndex},
  };
  for (const Word& w : kWords) {
    const bool whole_only = w.prefix.size() <= 2;  // "P", "D", "CO", "TG": the whole word
    if (whole_only ? label == w.prefix : label.starts_with(w.prefix)) return w.title;
  }
  return Title::kNone;
}

// One group of keys of the file, with the comment that gives its evidence.
struct KeyGroup {
  std::string comment;
  std::vector<std::pair<std::string, std::string>> keys;
};

class Guesser {
 public:
  Guesser(const std::vector<std::string>& lines, const std::string& source) : lines_(lines), source_(source) {}

  LayoutGuess Run() {
    LayoutGuess out;
    FindShapes();
    if (main_.size() < 2) {
      out.doubts.push_back(main_.empty() ? "no line holds a date or a time of day HH:MM: no call line to start from"
                                         : "only one line holds a date and a time of day: too few to align");
      return out;
    }
    out.placed = true;
    FindTitles();
    FindFollowingLines();
    PlaceCallLines();
    PlaceOtherKinds();
    out.settings = Write();
    out.doubts = doubts_;
    return out;
  }

 private:
  // Groups the lines that hold a time of day by the columns of their first
  // date and time, and a word that opens them; the largest group holds the
  // call lines.
  void FindShapes() {
    std::map<std::tuple<std::size_t, std::size_t, std::string>, std::vector<std::size_t>> groups;
    std::map<std::pair<std::size_t, std::size_t>, std::map<std::string, std::size_t>> words;
    std::vector<Anchors> anchors(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      anchors[i] = FindAnchors(lines_[i]);
      if (anchors[i].time != 0) ++words[{anchors[i].date, anchors[i].time}][anchors[i].word];
    }
    // Words that open the lines of one shape but change from line to line
    // (a class of call: "POT", "PIN", "POTA") are no word of the shape:
    // where more than two words open its lines and none opens nine in ten
    // of them, the lines stay together; otherwise a word keeps lines apart
    // (local and duty calls among the calls).
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const Anchors& a = anchors[i];
      if (a.time == 0) continue;
      const auto& counts = words[{a.date, a.time}];
      std::size_t total = 0, top = 0;
      for (const auto& [w, n] : counts) total += n, top = std::max(top, n);
      const bool mixed = counts.size() > 2 && static_cast<double>(top) < kAlways * static_cast<double>(total);
      groups[{a.date, a.time, mixed ? std::string() : a.word}].push_back(i);
    }
    // Lines that open with the same word in most of a shape keep the word;
    // a word that changes from line to line (a record type) is no word.
    // Lines with a date before lines without one, then the most lines.
    bool main_dated = false;
    for (const auto& [key, members] : groups) {
      const bool dated = std::get<0>(key) != 0;
      if (std::make_pair(dated, members.size()) > std::make_pair(main_dated, main_.size())) {
        main_ = members;
        main_word_ = std::get<2>(key);
        main_dated = dated;
      }
    }
    for (const auto& [key, members] : groups) {
      if (members == main_) continue;
      const auto& [date, time, word] = key;
      others_.push_back({word, members});
      // A time alone (a ring time on a further line) starts nothing; a line
      // opened by a word of its own does.
      if (date == 0 && word.empty()) continue;
      for (std::size_t i : members) call_like_.insert(i);
    }
    for (std::size_t i : main_) call_like_.insert(i);
  }

  // A line repeated word for word, now and then, or mostly dashes: a
  // heading or a ruler.
  bool IsHeading(std::size_t i) {
    if (headings_.empty()) {
      std::map<std::string_view, std::size_t> count;
      for (const std::string& l : lines_) ++count[l];
      for (std::size_t k = 0; k < lines_.size(); ++k) {
        const std::string_view l = Trim(lines_[k]);
        const auto rule = std::count_if(l.begin(), l.end(), [](char c) { return c == '-' || c == '=' || c == '_' || c == '*'; });
        const bool ruler = !l.empty() && static_cast<std::size_t>(rule) * 10 >= l.size() * 6;
        // A page heading comes back once a page; a further line of a call
        // whose fields hold the same values often ("METER 0 RING 00:00")
        // comes back far more often, with the calls.
        const std::size_t repeats = count[lines_[k]];
        const bool heading = repeats > 1 && repeats * 20 <= main_.size() + 40 && !IsBlankLine(lines_[k]);
        headings_.push_back(heading || ruler);
      }
    }
    return headings_[i];
  }

  // Column titles: the line before the first call line, or a repeated
  // heading, whose words stand over the most fields; read later, per field.
  void FindTitles() {
    std::size_t best = 0;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      if (call_like_.count(i) != 0 || IsBlankLine(lines_[i])) continue;
      if (i > main_.front() && !IsHeading(i)) continue;
      std::size_t words = 0;
      const std::string& l = lines_[i];
      for (std::size_t c = 0; c < l.size(); ++c) words += IsLetter(l[c]) && (c == 0 || l[c - 1] == ' ') ? 1u : 0u;
      if (words >= 3 && words > best) {
        best = words;
        titles_ = l;
      }
    }
  }

  // Column titles stand over the fields: half their words or more start
  // within a column of a field's start or end at its end. A page heading
  // ("MERIDIAN OFFICES CALL ACCOUNTING PAGE 1") does not.
  bool TitlesAlign(const std::vector<Segment>& segments) const {
    std::size_t words = 0, aligned = 0;
    for (std::size_t c = 1; c <= titles_.size(); ++c) {
      if (!IsLetter(titles_[c - 1]) || (c > 1 && titles_[c - 2] != ' ')) continue;
      std::size_t e = c;
      while (e < titles_.size() && titles_[e] != ' ') ++e;  // the word's last column
      ++words;
      aligned += std::any_of(segments.begin(), segments.end(), [&](const Segment& s) {
        return s.line == 1 && ((c + 1 >= s.first && c <= s.first + 1) || e == s.last);
      }) ? 1u : 0u;
    }
    return aligned * 2 >= words;
  }

  // The word of the title line that starts within the segment's columns (or
  // one before), upper case.
  std::string TitleOver(const Segment& s) const {
    if (s.line != 1 || titles_.empty()) return {};
    // A title starts within a column of its field (a page heading's words
    // stand anywhere).
    for (std::size_t c = s.first > 1 ? s.first - 1 : 1; c <= s.first + 1 && c <= s.last && c <= titles_.size(); ++c) {
      const bool starts = IsLetter(titles_[c - 1]) && (c == 1 || titles_[c - 2] == ' ');
      if (!starts) continue;
      std::size_t e = c;
      while (e < titles_.size() && titles_[e] != ' ') ++e;
      return Upper(std::string_view(titles_).substr(c - 1, e - c + 1));
    }
    // A number right-aligned under a wider title ("Trk" over "  1"): the
    // word that ends over the field.
    for (std::size_t c = s.first; c <= s.last && c <= titles_.size(); ++c) {
      const bool ends = IsLetter(titles_[c - 1]) && (c == titles_.size() || titles_[c] == ' ');
      if (!ends) continue;
      std::size_t b = c;
      while (b > 1 && titles_[b - 2] != ' ') --b;
      return Upper(std::string_view(titles_).substr(b - 1, c - b + 1));
    }
    return {};
  }

  // The lines between one call line and the next that recur: lines 2.. of
  // a call.
  void FindFollowingLines() {
    std::vector<std::vector<std::size_t>> tails;
    for (std::size_t i : main_) {
      std::vector<std::size_t> tail;
      for (std::size_t j = i + 1; j < lines_.size() && tail.size() < kMaxFollowing; ++j) {
        if (IsBlankLine(lines_[j]) || call_like_.count(j) != 0 || IsHeading(j)) break;
        tail.push_back(j);
      }
      tails.push_back(std::move(tail));
    }
    std::size_t lines = 1;
    for (std::size_t m = 1; m <= kMaxFollowing; ++m) {
      const auto with = std::count_if(tails.begin(), tails.end(), [m](const auto& t) { return t.size() >= m; });
      if (static_cast<std::size_t>(with) * 4 >= main_.size()) lines = m + 1;
    }
    following_.assign(lines - 1, {});
    for (const auto& t : tails) {
      for (std::size_t k = 0; k + 1 < lines && k < t.size(); ++k) following_[k].push_back(t[k]);
    }
    for (std::size_t k = 0; k < following_.size(); ++k) {
      const std::size_t with = following_[k].size();
      if (with < main_.size()) {
        doubts_.push_back("line " + std::to_string(k + 2) + " of a call follows " + std::to_string(with) + " of " +
                          std::to_string(main_.size()) + " call lines only: it is taken as part of the call where "
                          "it shows its marker; a call without it is closed by the next call");
      }
    }
  }

  std::vector<std::string_view> LinesOf(const std::vector<std::size_t>& indices) const {
    std::vector<std::string_view> out;
    for (std::size_t i : indices) out.emplace_back(lines_[i]);
    return out;
  }

  // Markers of one line of the call: the punctuation (line 1) or the text
  // (further lines) that stands at the same column on nine in ten of them.
  void Markers(const std::vector<std::string_view>& lines, unsigned line_number) {
    std::size_t width = 0;
    for (std::string_view l : lines) width = std::max(width, l.size());
    const auto constant = [&](std::size_t c, bool letters) -> std::optional<char> {
      std::map<char, std::size_t> count;
      for (std::string_view l : lines) ++count[At(l, c)];
      for (const auto& [ch, n] : count) {
        const bool kind = letters ? (ch != ' ' && !IsDigit(ch)) : (ch != ' ' && !IsDigit(ch) && !IsLetter(ch));
        if (kind && static_cast<double>(n) >= kAlways * static_cast<double>(lines.size())) return ch;
      }
      return std::nullopt;
    };
    KeyGroup g;
    std::size_t used = 0;
    if (line_number == 1) {
      std::string words;
      // Room is kept for a marker on each further line and for the opening word.
      const std::size_t room = 6 - following_.size() - (main_word_.empty() ? 0 : 1);
      for (std::size_t c = 1; c <= width && markers_ < room; ++c) {
        const auto ch = constant(c, false);
        if (!ch) continue;
        ++markers_;
        g.keys.push_back({"CHK" + std::to_string(markers_) + "_POS", std::to_string(c) + ";1"});
        g.keys.push_back({"CHK" + std::to_string(markers_) + "_STR", *ch == '\'' ? "\"'\"" : std::string(1, *ch)});
        words += (used++ > 0 ? ", \"" : "\"") + std::string(1, *ch) + "\" at " + std::to_string(c);
      }
      if (!main_word_.empty() && markers_ < 6) {
        ++markers_;
        g.keys.push_back({"CHK" + std::to_string(markers_) + "_POS", "1;1"});
        g.keys.push_back({"CHK" + std::to_string(markers_) + "_STR", main_word_.substr(0, 10)});
        words += ", \"" + main_word_ + "\" at 1";
      }
      // A column blank on every call line between the date and the time.
      const Anchors a = FindAnchors(lines.front());
      if (a.date != 0 && a.time > a.date) {
        for (std::size_t c = a.date; c < a.time; ++c) {
          const bool blank = std::all_of(lines.begin(), lines.end(), [c](std::string_view l) { return At(l, c) == ' '; });
          if (!blank) continue;
          ++blanks_;
          g.keys.push_back({"SPC" + std::to_string(blanks_) + "_POS", std::to_string(c) + ";1"});
          words += ", a blank at " + std::to_string(c);
          break;
        }
      }
      g.comment = "A call line: " + words + " on " + std::to_string(lines.size()) +
                  " call lines, which headings and rulers lack (sure).";
      if (used == 0) doubts_.push_back("no punctuation stands at the same column on the call lines: no marker");
    } else {
      // The longest run of one text (letters and punctuation) at fixed columns.
      std::size_t best_first = 0, best_len = 0;
      for (std::size_t c = 1; c <= width; ++c) {
        std::size_t n = 0;
        while (c + n <= width && constant(c + n, true) && n < 10) ++n;
        if (n > best_len) {
          best_first = c;
          best_len = n;
        }
      }
      if (best_len == 0 || markers_ >= 6) {
        // No fixed text: a blank column where every call line prints something still tells them apart.
        const std::vector<std::string_view> calls = LinesOf(main_);
        for (std::size_t c = 1; c <= width && blanks_ < 6; ++c) {
          const bool blank_here = std::all_of(lines.begin(), lines.end(), [c](std::string_view l) { return At(l, c) == ' '; });
          const bool filled_there = std::all_of(calls.begin(), calls.end(), [c](std::string_view l) { return At(l, c) != ' '; });
          if (!blank_here || !filled_there) continue;
          ++blanks_;
          g.keys.push_back({"SPC" + std::to_string(blanks_) + "_POS", std::to_string(c) + ";" + std::to_string(line_number)});
          g.comment = "Line " + std::to_string(line_number) + " of a call: no fixed text, but column " + std::to_string(c) +
                      " is blank on the " + std::to_string(lines.size()) + " lines after a call line and filled on "
                      "every call line (a guess).";
          groups_.push_back(std::move(g));
          doubts_.push_back("line " + std::to_string(line_number) + " of a call shows no fixed text: it is told by a "
                            "blank at column " + std::to_string(c));
          return;
        }
        doubts_.push_back("line " + std::to_string(line_number) + " of a call shows no fixed text: it is not tested");
        return;
      }
      std::string text;
      for (std::size_t c = best_first; c < best_first + best_len; ++c) text += *constant(c, true);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      ++markers_;
      const std::string at = std::to_string(best_first) + ";" + std::to_string(line_number);
      g.keys.push_back({"CHK" + std::to_string(markers_) + "_POS", at});
      g.keys.push_back({"CHK" + std::to_string(markers_) + "_STR", "\"" + text + "\""});
      if (best_first > 1 && blanks_ < 6 &&
          std::all_of(lines.begin(), lines.end(), [](std::string_view l) { return At(l, 1) == ' '; })) {
        ++blanks_;
        g.keys.push_back({"SPC" + std::to_string(blanks_) + "_POS", "1;" + std::to_string(line_number)});
      }
      g.comment = "Line " + std::to_string(line_number) + " of a call: \"" + text + "\" at column " +
                  std::to_string(best_first) + " on " + std::to_string(lines.size()) + " lines after a call line (" +
                  (lines.size() == main_.size() ? "sure" : "likely") + ").";
    }
    groups_.push_back(std::move(g));
  }

  void PlaceCallLines() {
    Markers(LinesOf(main_), 1);
    for (std::size_t k = 0; k < following_.size(); ++k) Markers(LinesOf(following_[k]), static_cast<unsigned>(k + 2));
    // Kept for the whole guess: the places found point into it.
    std::vector<Segment>& segments = segments_;
    segments = Segments(LinesOf(main_), 1);
    for (std::size_t k = 0; k < following_.size(); ++k) {
      std::vector<Segment> more = Segments(LinesOf(following_[k]), static_cast<unsigned>(k + 2));
      segments.insert(segments.end(), more.begin(), more.end());
    }
    segments = CutGluedFields(segments);
    if (!TitlesAlign(segments)) titles_.clear();
    for (Segment& s : segments) s.label = TitleOver(s);
    // Labels printed on the lines themselves ("ACCOUNT 4711"): a constant
    // word names the field after it.
    for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
      Segment& word = segments[i];
      Segment& next = segments[i + 1];
      if (word.line != next.line || !next.label.empty() || Distinct(word) != 1 || word.present != word.values.size()) continue;
      const std::string text = Upper(Trim(word.values.front()));
      if (std::all_of(text.begin(), text.end(), IsLetter) && TitleOf(text) != Title::kNone) {
        next.label = text;
        word.label = "(label)";
      }
    }
    clock_ = ChooseTimeOfDay(segments);
    station_ = ChooseExtension(segments);
    if (station_ == nullptr) PlaceParties(segments);
    std::vector<const Segment*> small_codes;  // short fields of few values after the extension
    for (const Segment& s : segments) {
      if (s.label == "(label)" || taken_.count(&s) != 0) continue;
      if (PlaceTimed(s) || PlaceDigits(s, small_codes) || PlaceLetters(s) || PlaceCode(s)) continue;
      if (IsMarkerOnly(s)) continue;
      Unplaced(s);
    }
    // Trunk group and trunk: two such fields are group then trunk; one is
    // the trunk. Where titles name them, the titles say which; a field
    // without one beside them is a code.
    const auto titled = [&](Title t) {
      return std::find_if(small_codes.begin(), small_codes.end(), [&](const Segment* s) { return TitleOf(s->label) == t; });
    };
    if (titled(Title::kTrunk) != small_codes.end() || titled(Title::kTrunkGroup) != small_codes.end()) {
      for (const Segment* s : small_codes) {
        const Title t = TitleOf(s->label);
        if (t == Title::kTrunk || t == Title::kTrunkGroup) {
          AddField(t == Title::kTrunkGroup ? "ALUMA" : "OREK", *s, std::string("the ") +
                   (t == Title::kTrunkGroup ? "trunk group" : "trunk") + ": " + std::to_string(Distinct(*s)) +
                   " distinct short numbers" + LabelNote(*s), "likely");
        } else if (!code_) {
          code_ = true;
          AddField("TCODE", *s, "a code: " + std::to_string(Distinct(*s)) + " distinct short numbers beside the titled "
                   "trunk fields", "a guess");
        } else {
          Unplaced(*s);
        }
      }
    } else if (!small_codes.empty()) {
      // A group and its trunk stand side by side: no other field between them.
      const bool pair = small_codes.size() >= 2 && small_codes[1] == small_codes[0] + 1;
      const std::size_t placed = pair ? 2 : 1;
      for (std::size_t i = 0; i < placed; ++i) {
        const Segment& s = *small_codes[i];
        const bool group = pair && i == 0;
        AddField(group ? "ALUMA" : "OREK", s, std::string("the ") + (group ? "trunk group" : "trunk") + ": " +
                 std::to_string(Distinct(s)) + " distinct short numbers" + LabelNote(s), s.label.empty() ? "a guess" : "likely");
      }
      for (std::size_t i = placed; i < small_codes.size(); ++i) {
        if (code_) {
          Unplaced(*small_codes[i]);
          continue;
        }
        code_ = true;
        AddField("TCODE", *small_codes[i], "a code: " + std::to_string(Distinct(*small_codes[i])) +
                 " distinct short numbers apart from the trunk", "a guess");
      }
    }
    if (!extension_) doubts_.push_back("no field of short numbers repeats across calls: no extension (every call "
                                       "would be refused with error 20); set EXT_POS and EXT_LEN by hand");
    if (!time_) doubts_.push_back("no time of day was found on the call lines");
  }

  // A marker's column only (the "/" of a date is part of the date).
  bool IsMarkerOnly(const Segment& s) const {
    const auto [mask, n] = ModalMask(s);
    return Trim(mask).size() == 1 && !IsDigit(Trim(mask)[0]) && !IsLetter(Trim(mask)[0]);
  }

  std::string LabelNote(const Segment& s) const {
    return s.label.empty() ? std::string() : ", under the title \"" + s.label + "\"";
  }

  // Of the fields that hold HH:MM on nearly every call, the time of day: a
  // duration's hours are mostly 00, a time of day's run through the day.
  // The field whose hours are 00 least often wins; the first on a tie.
  const Segment* ChooseTimeOfDay(const std::vector<Segment>& segments) const {
    const Segment* best = nullptr;
    std::size_t best_zero = 0;
    for (const Segment& s : segments) {
      const Title title = TitleOf(s.label);
      if (title == Title::kDuration || title == Title::kRing) continue;
      if (static_cast<double>(s.present) < kAlways * static_cast<double>(s.values.size())) continue;
      const auto [mask, n] = ModalMask(s);
      const std::size_t colon = mask.find("99:99");
      if (colon == std::string::npos || n * 10 < s.present * 8 || mask.compare(colon + 5, 3, "'99") == 0) continue;
      std::size_t zero = 0;
      for (std::string_view v : s.values) zero += v.size() >= colon + 2 && v.substr(colon, 2) == "00" ? 1u : 0u;
      if (best == nullptr || zero < best_zero) {
        best = &s;
        best_zero = zero;
      }
    }
    return best;
  }

  // The extension: short numbers on every call that repeat across calls.
  // A field titled as the extension wins; else the one whose numbers have
  // the most significant digits, counted up to five (trunks, codes and
  // zero-padded counters have fewer); the first on a tie.
  const Segment* ChooseExtension(const std::vector<Segment>& segments) const {
    const Segment* best = nullptr;
    std::size_t best_score = 0;
    for (const Segment& s : segments) {
      const bool every_call = s.line == 1 || following_[s.line - 2].size() == main_.size();
      const Title title = TitleOf(s.label);
      if (!every_call || (title != Title::kNone && title != Title::kExtension) || s.present == 0 || ReadCompactDate(s)) continue;
      if (static_cast<double>(s.present) < kAlways * static_cast<double>(s.values.size())) continue;
      std::size_t digits = 0, longest = 0;
      std::map<std::size_t, std::size_t> widths;
      for (std::string_view v : s.values) {
        const std::string_view t = Trim(v);
        if (!AllDigits(t)) continue;
        ++digits;
        longest = std::max(longest, t.size());
        // Leading zeros pad a counter to its width; an extension's own digits count.
        ++widths[std::to_string(std::stoull(std::string(t.substr(0, 18)))).size()];
      }
      // A sample of fewer than ten calls is too small for repeats, or for a
      // stray value, to say much.
      const std::size_t distinct = Distinct(s);
      const bool small = s.present < 10;
      if (digits * 10 < s.present * (small ? 7 : 8) || longest > (title == Title::kExtension ? 8u : 6u) ||
          distinct < (small ? 2u : 3u) || (!small && distinct * 10 >= s.present * 9)) {
        continue;
      }
      std::size_t modal = 0;
      for (const auto& [w, n] : widths) modal = n > widths[modal] ? w : modal;
      const std::size_t score = (title == Title::kExtension ? 100 : 0) + std::min<std::size_t>(modal, 5);
      if (score > best_score) {
        best = &s;
        best_score = score;
      }
    }
    return best;
  }

  // The letters that open a party ("DN" of "DN2001", "T" of "T054"; empty
  // for digits alone), or "?" when the value is not up to three letters and
  // then digits.
  static std::string PartyPrefix(std::string_view t) {
    std::size_t n = 0;
    while (n < t.size() && IsLetter(t[n])) ++n;
    if (n > 3 || n == t.size() || !AllDigits(t.substr(n))) return "?";
    return std::string(t.substr(0, n));
  }

  // A calling and a called party, each an extension or a trunk as the
  // call's direction has it ("2014" and "T054" out, "T102" and "2011" in).
  // The extension form is the opening that one of the two has on nine in
  // ten calls: digits alone, or digits after a fixed text. The called party
  // is read as the extension and the calling party as the originating
  // extension, so that an outgoing call, whose called party is a trunk, is
  // charged to its caller; the extension form in the called party, or a
  // trunk's letter in the calling party, marks the incoming calls.
  void PlaceParties(const std::vector<Segment>& segments) {
    std::vector<const Segment*> parties;
    for (const Segment& s : segments) {
      if (s.line != 1 || static_cast<double>(s.present) < kAlways * static_cast<double>(s.values.size())) continue;
      std::set<std::string> prefixes;
      std::size_t shaped = 0;
      for (std::string_view v : s.values) {
        const std::string p = PartyPrefix(Trim(v));
        shaped += p != "?" ? 1u : 0u;
        if (p != "?") prefixes.insert(p);
      }
      if (shaped * 10 >= s.present * 9 && prefixes.size() >= 2) parties.push_back(&s);
    }
    for (std::size_t a = 0; a < parties.size(); ++a) {
      for (std::size_t b = a + 1; b < parties.size(); ++b) {
        const Segment& from = *parties[a];
        const Segment& to = *parties[b];
        std::map<std::string, std::size_t> either;  // opening -> calls on which one party has it
        for (std::size_t i = 0; i < from.values.size(); ++i) {
          const std::string p = PartyPrefix(Trim(from.values[i])), q = PartyPrefix(Trim(to.values[i]));
          ++either[p];
          if (q != p) ++either[q];
        }
        for (const auto& [form, calls] : either) {
          if (form == "?" || calls * 10 < from.values.size() * 9) continue;
          std::size_t longest = 0, in_to = 0;
          std::map<std::string, std::size_t> trunk_letters;
          for (std::size_t i = 0; i < from.values.size(); ++i) {
            const std::string_view f = Trim(from.values[i]), t = Trim(to.values[i]);
            if (PartyPrefix(f) == form) longest = std::max(longest, f.size() - form.size());
            if (PartyPrefix(t) == form) longest = std::max(longest, t.size() - form.size()), ++in_to;
            if (PartyPrefix(f) != form && !f.empty() && IsLetter(f.front())) ++trunk_letters[std::string(1, f.front())];
          }
          if (longest < 2 || longest > 8 || in_to == 0 || in_to == from.values.size()) continue;
          std::string letter;
          for (const auto& [l, n] : trunk_letters) letter = letter.empty() || n > trunk_letters[letter] ? l : letter;
          if (form.empty() && letter.empty()) continue;
          WriteParties(from, to, form, longest, letter);
          return;
        }
      }
    }
  }

  void WriteParties(const Segment& from, const Segment& to, const std::string& form, std::size_t digits,
                    const std::string& letter) {
    taken_.insert(&from);
    taken_.insert(&to);
    extension_ = &to;
    station_ = &to;
    extension_low_ = 1;
    extension_high_ = 1;
    for (std::size_t k = 0; k < digits; ++k) extension_high_ *= 10;
    --extension_high_;
    const std::string shown = form.empty() ? "digits alone" : "\"" + form + "\" and digits";
    const std::string in_column = std::to_string(form.empty() ? from.first : to.first) + ";1";
    Add("The parties: columns " + std::to_string(from.first) + "-" + std::to_string(from.last) + " (calling) and " +
            std::to_string(to.first) + "-" + std::to_string(to.last) + " (called) hold an extension (" + shown +
            ") or a trunk, as the call's direction has it. The called party is read as the extension and the "
            "calling party as the originating extension: a call whose called party is a trunk is charged to its "
            "caller. Incoming calls: " +
            (form.empty() ? "a trunk (\"" + letter + "\") as the calling party" : "an extension as the called party") +
            " (a guess). The range is every number of up to " + std::to_string(digits) + " digits.",
        {{"EXT_POS", std::to_string(to.first + form.size()) + ";1"}, {"EXT_LEN", std::to_string(digits)},
         {"EXT_RANGE_ST", "1"}, {"EXT_RANGE_END", std::to_string(extension_high_)}, {"SAVE_TRNK_EXT", "Y"},
         {"ORG_EXT_POS", std::to_string(from.first + form.size()) + ";1"},
         {"ORG_EXT_LEN", std::to_string(std::min<std::size_t>(from.width() - form.size(), 8))},
         {"IN_CALLS", "Y"}, {"IN_CHK1_POS", in_column}, {"IN_CHK1_STR", form.empty() ? letter : form}});
    incoming_ = form.empty() ? letter : form;
    doubts_.push_back("the extension moves between the calling and the called party with the call's direction: "
                      "check the extension of a few incoming and outgoing calls with talvo explain");
  }

  // Minutes and tenths of a minute ("3.2", "120.5"), right-aligned: the
  // column of the point, or npos when most filled values are not so.
  static std::size_t TenthsPoint(const Segment& s) {
    std::map<std::size_t, std::size_t> points;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (t.empty() || t.size() < 3 || t.size() > 5 || t[t.size() - 2] != '.' || !IsDigit(t.back()) ||
          !AllDigits(t.substr(0, t.size() - 2))) {
        continue;
      }
      ++points[static_cast<std::size_t>(t.data() - v.data()) + t.size() - 2];
    }
    for (const auto& [at, n] : points) {
      if (n * 10 >= s.present * 8) return at;
    }
    return std::string::npos;
  }

  // A duration in minutes and tenths; a second such field on some calls
  // only (a ring or hold time, which an outgoing call lacks) marks the
  // incoming calls by its point.
  bool PlaceTenths(const Segment& s) {
    const std::size_t point = TenthsPoint(s);
    if (point == std::string::npos) return false;
    const auto col = [&](std::size_t offset) { return std::to_string(s.first + offset); };
    const bool always = static_cast<double>(s.present) >= kAlways * static_cast<double>(s.values.size());
    if (!duration_ && always) {
      duration_ = &s;
      duration_tenths_ = true;
      Add("Duration in minutes and tenths of a minute in columns " + col(0) + "-" + col(point + 1) + ", on " +
              Percent(s.present, s.values.size()) + " of the calls" + LabelNote(s) + " (likely).",
          {{"LENMM_POS", col(0) + ";" + std::to_string(s.line)}, {"LENMM_LEN", std::to_string(point)},
           {"LENSS_POS", col(point + 1)}, {"LENSS_LEN", "1"}, {"PEGS_COUNT", "Y"}});
      return true;
    }
    if (duration_ && !always && incoming_.empty()) {
      AddIncoming("Incoming calls: a second time in minutes and tenths, in columns " + col(0) + "-" + col(point + 1) +
                      ", is filled on " + Percent(s.present, s.values.size()) + " of the calls only" + LabelNote(s) +
                      "; taken for a ring time, which only a call from outside has (a guess).",
                  s.first + point, s.line, ".");
      doubts_.push_back("the calls with a time in columns " + col(0) + "-" + col(point + 1) +
                        " are taken as incoming: check them");
      return true;
    }
    return false;
  }

  // Dates, times of day, durations and ring times, by their punctuation.
  bool PlaceTimed(const Segment& s) {
    if (PlaceTenths(s)) return true;
    auto [mask, n] = ModalMask(s);
    // A mark of a few kinds before the field ("%03/15", "+03/15") splits the
    // masks: the columns where nine in ten values agree can still make one.
    if (n * 10 < s.present * 8) std::tie(mask, n) = ConsensusMask(s);
    if (n * 10 < s.present * 8) return false;
    const std::string at_line = ";" + std::to_string(s.line);
    const auto col = [&](std::size_t offset) { return std::to_string(s.first + offset); };
    if (PlaceCompactDate(s)) return true;
    // A date: DD/MM/YY, MM/DD/YY, YY-MM-DD, or day and month alone.
    for (const char sep : {'/', '-', '.'}) {
      const std::string three = std::string("99") + sep + "99" + sep + "99";
      const std::string two = std::string("99") + sep + "99";
      std::size_t at = mask.find(three);
      const bool has_year = at != std::string::npos;
      if (!has_year) at = mask.find(two);
      if (at == std::string::npos || date_ || (!has_year && mask.find(':') != std::string::npos)) continue;
      if (!has_year && (at + 5 < mask.size() && mask[at + 5] != ' ')) continue;
      PlaceDate(s, at, has_year, sep);
      return true;
    }
    if (PlaceLetteredDuration(s, mask)) return true;
    const std::size_t colon = mask.find("99:99");
    const std::size_t tick = mask.find("9'99");
    if (colon == std::string::npos && tick != std::string::npos && !ring_) {
      ring_ = true;
      // M'SS: a ring time.
      Add("Ring time M'SS in columns " + col(tick) + "-" + col(tick + 3) + ", filled on " + Percent(s.present, s.values.size()) +
              " of the calls" + LabelNote(s) + " (likely).",
          {{"RINGMM_POS", col(tick)}, {"RINGMM_LEN", "1"}, {"RINGSS_POS", col(tick + 2) + at_line}, {"RINGSS_LEN", "2"}});
      return true;
    }
    if (colon == std::string::npos) return false;
    const bool seconds = mask.compare(colon + 5, 3, ":99") == 0;
    // HH:MM'SS or HH:MM.SS: seconds after another mark.
    const bool tick_seconds = mask.compare(colon + 5, 3, "'99") == 0 || mask.compare(colon + 5, 3, ".99") == 0;
    const std::size_t after = colon + (seconds || tick_seconds ? 8 : 5);
    const std::size_t am_pm = mask.find("AA", after);
    const bool twelve = am_pm != std::string::npos && am_pm <= after + 1;
    const bool always = static_cast<double>(s.present) >= kAlways * static_cast<double>(s.values.size());
    const Title title = TitleOf(s.label);
    if (!time_ && &s == clock_) {
      time_ = &s;
      time_colon_ = colon;
      time_seconds_ = seconds;
      time_twelve_ = twelve ? am_pm : std::string::npos;
      // Its place in the file; written once the duration is known: start or end.
      time_group_ = groups_.size();
      groups_.emplace_back();
      return true;
    }
    if (!duration_ && (always || title == Title::kDuration) && title != Title::kRing) {
      duration_ = &s;
      const std::string what = tick_seconds ? "HH:MM" + mask.substr(colon + 5, 1) + "SS" : seconds ? "HH:MM:SS" : "MM:SS";
      std::vector<std::pair<std::string, std::string>> keys;
      if (seconds || tick_seconds) {
        keys = {{"LENHH_POS", col(colon)}, {"LENMM_POS", col(colon + 3) + at_line}, {"LENMM_LEN", "2"},
                {"LENSS_POS", col(colon + 6)}, {"LENSS_LEN", "2"}};
      } else {
        keys = {{"LENMM_POS", col(colon) + at_line}, {"LENMM_LEN", "2"}, {"LENSS_POS", col(colon + 3)}, {"LENSS_LEN", "2"}};
      }
      duration_offset_ = colon;
      duration_seconds_ = seconds || tick_seconds;
      Add("Duration " + what + " in columns " + col(colon) + "-" + col(after - 1) + ", the second time on " +
              Percent(s.present, s.values.size()) + " of the calls" + LabelNote(s) + " (" +
              (title == Title::kDuration ? "sure" : "likely") + ").",
          std::move(keys));
      return true;
    }
    if (!ring_ && (duration_ || !always)) {
      ring_ = true;
      // Filled on some calls only, a ring time marks the calls from outside.
      if (!always && incoming_.empty()) {
        AddIncoming("Incoming calls: the ring time in columns " + col(colon) + "-" + col(colon + 4) + " is filled on " +
                        Percent(s.present, s.values.size()) + " of the calls only, and only a call from outside rings "
                        "(a guess).",
                    s.first + colon + 2, s.line, ":");
        doubts_.push_back("the calls with a ring time are taken as incoming: check them");
      }
      Add("Ring time MM:SS in columns " + col(colon) + "-" + col(colon + 4) + ", filled on " +
              Percent(s.present, s.values.size()) + " of the calls" + LabelNote(s) + " (" +
              (title == Title::kRing ? "likely" : "a guess") + ").",
          {{"RINGMM_POS", col(colon)}, {"RINGMM_LEN", "2"}, {"RINGSS_POS", col(colon + 3) + at_line}, {"RINGSS_LEN", "2"}});
      return true;
    }
    return false;
  }

  // Hours, minutes and seconds marked by letters ("00H04M12") on nearly
  // every call: the duration.
  bool PlaceLetteredDuration(const Segment& s, const std::string& mask) {
    const std::size_t at = mask.find("99A99A99");
    if (duration_ || at == std::string::npos || static_cast<double>(s.present) < kAlways * static_cast<double>(s.values.size())) {
      return false;
    }
    duration_ = &s;
    duration_offset_ = at;
    duration_seconds_ = true;
    const auto col = [&](std::size_t offset) { return std::to_string(s.first + offset); };
    const std::string_view v = s.values.front().size() >= at + 8 ? s.values.front().substr(at, 8) : std::string_view("HH?MM?SS");
    Add("Duration HH" + std::string(1, v[2]) + "MM" + std::string(1, v[5]) + "SS in columns " + col(at) + "-" + col(at + 7) +
            ", on " + Percent(s.present, s.values.size()) + " of the calls" + LabelNote(s) + " (likely).",
        {{"LENHH_POS", col(at)}, {"LENMM_POS", col(at + 3) + ";" + std::to_string(s.line)}, {"LENMM_LEN", "2"},
         {"LENSS_POS", col(at + 6)}, {"LENSS_LEN", "2"}});
    return true;
  }

  // Six digits with no separator on nearly every call, YYMMDD or DDMMYY:
  // the middle pair never passes 12, and of the outer pairs the year is the
  // one that runs past 31, or else the one that holds fewer values (the day
  // changes within a sample, the year seldom).
  struct CompactDate {
    bool year_first = false;
    bool past_31 = false;  // a pair runs past 31: it is the year
    bool sure = false;
  };

  static std::optional<CompactDate> ReadCompactDate(const Segment& s) {
    if (s.width() != 6 || static_cast<double>(s.present) < kAlways * static_cast<double>(s.values.size())) {
      return std::nullopt;
    }
    std::set<std::string_view> first, last;
    std::size_t dated = 0;
    bool first_past_31 = false, last_past_31 = false;
    for (std::string_view v : s.values) {
      if (v.size() != 6 || !AllDigits(v)) continue;
      const int a = std::stoi(std::string(v.substr(0, 2))), m = std::stoi(std::string(v.substr(2, 2)));
      const int b = std::stoi(std::string(v.substr(4, 2)));
      if (m < 1 || m > 12 || ((a < 1 || a > 31) && (b < 1 || b > 31))) return std::nullopt;
      ++dated;
      first.insert(v.substr(0, 2));
      last.insert(v.substr(4, 2));
      first_past_31 = first_past_31 || a > 31;
      last_past_31 = last_past_31 || b > 31;
    }
    if (dated * 10 < s.present * 9 || (first_past_31 && last_past_31)) return std::nullopt;
    const bool by_values = first.size() < last.size() || (first.size() == last.size() && first.size() == 1);
    CompactDate d;
    d.year_first = first_past_31 || (!last_past_31 && by_values);
    d.past_31 = first_past_31 || last_past_31;
    d.sure = d.past_31 || first.size() != last.size();
    return d;
  }

  bool PlaceCompactDate(const Segment& s) {
    const std::optional<CompactDate> d = date_ ? std::nullopt : ReadCompactDate(s);
    if (!d) return false;
    const bool year_first = d->year_first, sure = d->sure;
    compact_year_first_ = year_first;
    date_ = true;
    const auto col = [&](std::size_t offset) { return std::to_string(s.first + offset); };
    Add(std::string("Date ") + (year_first ? "YYMMDD" : "DDMMYY") + " in columns " + col(0) + "-" + col(5) +
            ": six digits whose middle pair never passes 12; the " + (year_first ? "first" : "last") +
            " pair " + (d->past_31 ? "runs past 31" : "changes least") + " and is taken for the year (" +
            (sure ? "likely" : "a guess") + ").",
        {{"YEAR_POS", col(year_first ? 0 : 4)}, {"MONTH_POS", col(2) + ";" + std::to_string(s.line)},
         {"DAY_POS", col(year_first ? 4 : 0)}});
    if (!sure) doubts_.push_back("the order of the six-digit date is a guess: check the year");
    return true;
  }

  void PlaceDate(const Segment& s, std::size_t at, bool has_year, char sep) {
    date_ = true;
    // Which part can be the month: the one that does not run past 12. A
    // part counts as running past 12 (or 31) on two values and one in a
    // hundred at least: a garbled date or two does not turn the order round.
    std::size_t parts = has_year ? 3 : 2;
    std::vector<std::size_t> past_12(parts, 0), past_31(parts, 0);
    for (std::string_view v : s.values) {
      if (v.size() < at + parts * 3 - 1) continue;
      for (std::size_t p = 0; p < parts; ++p) {
        const std::string_view d = v.substr(at + p * 3, 2);
        const int n = AllDigits(d) ? std::stoi(std::string(d)) : 0;
        past_12[p] += n > 12 ? 1u : 0u;
        past_31[p] += n > 31 ? 1u : 0u;
      }
    }
    const auto runs = [&](std::size_t count) { return count >= 2 && count * 100 >= s.values.size(); };
    std::size_t day = 0, month = 1, year = 2;  // DD/MM/YY
    std::string order = "DD/MM/YY";
    std::string why = "the first part runs past 12";
    if (has_year && sep == '-' && runs(past_31[0]) && !runs(past_31[2])) {
      day = 2, month = 1, year = 0, order = "YY-MM-DD", why = "the first part runs past 31";
    } else if (runs(past_12[1]) && past_12[1] > past_12[0]) {
      day = 1, month = 0, year = 2, order = "MM/DD/YY", why = "the second part runs past 12";
      month_first_ = true;
    } else if (!runs(past_12[0])) {
      why = "no part runs past 12: day first is a guess";
    }
    if (!has_year) order = order.substr(0, 5);
    for (char& c : order) c = c == '/' ? sep : c;
    const auto col = [&](std::size_t p) { return std::to_string(s.first + at + p * 3); };
    std::vector<std::pair<std::string, std::string>> keys = {{"DAY_POS", col(day)}, {"MONTH_POS", col(month) + ";" + std::to_string(s.line)}};
    if (has_year) keys.push_back({"YEAR_POS", col(year)});
    const bool sure = why.find("guess") == std::string::npos;
    Add("Date " + order + " in columns " + std::to_string(s.first + at) + "-" +
            std::to_string(s.first + at + parts * 3 - 2) + ": " + why +
            (has_year ? "" : "; no year is printed, so it comes from the day of decoding") + " (" +
            (sure ? "sure" : "a guess") + ").",
        std::move(keys));
    if (!sure) doubts_.push_back("date order " + order + " is a guess: no day past 12 in the sample");
  }

  // Short numbers that repeat (the extension), numbers that count up (the
  // index), long digit runs (numbers dialled and calling), sparse numbers
  // (pulses, account, originating extension) and short codes.
  bool PlaceDigits(const Segment& s, std::vector<const Segment*>& small_codes) {
    if (PlaceLetteredNumber(s) || PlaceRingSeconds(s)) return true;
    std::size_t digits = 0, longest = 0, right_aligned = 0, prefixed = 0;
    std::map<std::string, std::size_t> prefixes;  // text before the digits of a number field
    std::map<std::string, std::pair<std::size_t, std::size_t>> words;  // a word instead of digits: calls, column
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (t.empty()) continue;
      const std::string dashed = DashedDigits(t);
      if (!dashed.empty()) {
        ++digits;
        longest = std::max(longest, dashed.size());
        right_aligned += v.size() == s.width() && v.back() != ' ' ? 1u : 0u;
      } else if (std::all_of(t.begin(), t.end(), IsLetter)) {
        auto& [n, column] = words[std::string(t)];
        ++n;
        column = s.first + static_cast<std::size_t>(t.data() - v.data());
      } else {
        std::size_t d = 0;
        while (d < t.size() && !IsDigit(t[d])) ++d;
        if (d < t.size() && d > 0 && d <= 3 && AllDigits(t.substr(d))) {
          ++prefixed;
          ++prefixes[std::string(t.substr(0, d))];
          longest = std::max(longest, t.size() - d);
        }
      }
    }
    // A word that stands for the number on incoming calls ("IN") counts with the digits.
    std::size_t incoming_words = 0;
    for (const auto& [w, at] : words) incoming_words += IsIncomingWord(w) ? at.first : 0u;
    if (s.present == 0 || ((digits + prefixed + incoming_words) * 10 < s.present * 8 && &s != station_)) return false;
    // Texts of several kinds before the digits ("DN2001", "T00100100") make
    // no number field: one kind ("<I>", a line's mark) may stand before one.
    const bool number_like = digits >= prefixed || prefixes.size() == 1;
    // An extension holds at most 8 digits: a longer run under such a title
    // ("Ext number") is a number all the same.
    const Title title = TitleOf(s.label) == Title::kExtension && longest > 8 ? Title::kNone : TitleOf(s.label);
    const double filled = static_cast<double>(s.present) / static_cast<double>(s.values.size());
    const std::string share = Percent(s.present, s.values.size());
    const std::string cols = std::to_string(s.first) + "-" + std::to_string(s.last);

    // A second run of digits is the caller's number when most calls have
    // it; on a few calls only, it is taken for an account code below.
    const bool sparse_second = title == Title::kNone && number_ && filled < 0.5;
    // Numbers that all open with the same six digits or more are the site's
    // own (its number and an extension's digits): the calling party, not
    // the number dialled.
    const bool own_number = title == Title::kNone && !caller_ && CommonOpening(s) >= 6 && Distinct(s) >= 3;
    if (number_like && !sparse_second &&
        (title == Title::kNumber || title == Title::kCaller || (longest >= 7 && title == Title::kNone))) {
      const bool caller = title == Title::kCaller || (title == Title::kNone && (number_ || own_number));
      if (caller ? caller_ : number_) return false;
      (caller ? caller_ : number_) = true;
      AddField(caller ? "CLI" : "NUM", s, std::string(caller ? "the caller's number" : "the number dialled") +
                   ": digit runs of up to " + std::to_string(longest) + ", filled on " + share + LabelNote(s),
               title != Title::kNone ? "likely" : "a guess");
      // A word in place of the number on some calls: the incoming marker.
      for (const auto& [w, at] : words) {
        if (at.first >= 2 && IsIncomingWord(w) && incoming_.empty()) {
          AddIncoming("Incoming calls: \"" + w + "\" stands for the number on " + std::to_string(at.first) +
                          " calls (likely).",
                      at.second, s.line, w);
        }
      }
      // A text before the digits on some calls: the incoming marker.
      for (const auto& [prefix, n] : prefixes) {
        if (n >= 2 && prefix.find('I') != std::string::npos && incoming_.empty()) {
          AddIncoming("Incoming calls: \"" + prefix + "\" opens the number on " + std::to_string(n) + " calls (likely).",
                      s.first, s.line, prefix);
        }
      }
      return true;
    }
    if (prefixed * 2 > digits) return false;
    // Numbers that count up by one from call to call.
    std::size_t steps = 0;
    long prev = -1;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (!AllDigits(t) || t.size() > 9) continue;
      const long n = std::stol(std::string(t));
      steps += prev >= 0 && n == prev + 1 ? 1u : 0u;
      prev = n;
    }
    // A running number counts up and so never repeats.
    // Ten calls at least: in fewer, extensions in a row count up as well.
    const bool counts_up = title == Title::kNone && s.present >= 10 && steps * 10 >= s.values.size() * 7 &&
                           Distinct(s) * 10 >= s.present * 9;
    if ((title == Title::kIndex || counts_up) && !index_ && filled >= kAlways) {
      index_ = true;
      AddField("INDEX", s, "the call's running number: it counts up by one on " + std::to_string(steps) + " of " +
                   std::to_string(s.values.size()) + " calls" + LabelNote(s), "likely");
      return true;
    }
    const std::size_t distinct = Distinct(s);
    // Zero-padded counts ("00003", "00000"): a zero says nothing was counted.
    const auto zeros = std::count_if(s.values.begin(), s.values.end(), [](std::string_view v) {
      const std::string_view t = Trim(v);
      return !t.empty() && t.find_first_not_of('0') == std::string_view::npos;
    });
    const bool counted_on_some = filled < kAlways || static_cast<std::size_t>(zeros) * 4 >= s.present;
    // Counts run over several orders of magnitude or are zero-padded; codes
    // of one width on a few calls ("4711", "3302") are accounts.
    std::set<std::size_t> magnitudes;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (AllDigits(t)) magnitudes.insert(std::to_string(std::stoull(std::string(t.substr(0, 18)))).size());
    }
    const bool counts = magnitudes.size() >= 2 || zeros > 0;
    if (title == Title::kPulses || (title == Title::kNone && right_aligned * 2 >= digits && extension_ && counted_on_some && counts &&
                                    !pulses_ && longest <= 6 && &s != station_)) {
      if (pulses_) return false;
      pulses_ = true;
      AddField("PULSES", s, "metering pulses: right-aligned numbers, filled on " + share + LabelNote(s),
               title == Title::kPulses ? "likely" : "a guess");
      return true;
    }
    if (!extension_ && &s == station_) {
      extension_ = &s;
      std::vector<long> values;
      for (std::string_view v : s.values) {
        const std::string_view t = Trim(v);
        if (AllDigits(t) && t.size() <= 8) values.push_back(std::stol(std::string(t)));
      }
      std::sort(values.begin(), values.end());
      // The range of the widths extensions have: a value of a width seen on
      // one call only is a stray, not an extension.
      std::map<std::size_t, std::size_t> widths;
      for (long v : values) ++widths[std::to_string(v).size()];
      long low = 0, high = 0;
      bool any = false;
      for (long v : values) {
        if (widths[std::to_string(v).size()] < 2) continue;
        low = any ? std::min(low, v) : v;
        high = any ? std::max(high, v) : v;
        any = true;
      }
      Add("The extension, columns " + cols + ": short numbers that repeat (" + std::to_string(distinct) + " distinct on " +
              std::to_string(s.present) + " calls)" + LabelNote(s) + " (" + (title == Title::kExtension ? "sure" : "likely") +
              "). The range is what the sample shows, " + std::to_string(low) + ".." + std::to_string(high) +
              ": widen it to every extension of the site, and never leave EXT_RANGE_ST at 0 when the field can hold a "
              "trunk number.",
          {{"EXT_POS", std::to_string(s.first) + ";" + std::to_string(s.line)}, {"EXT_LEN", std::to_string(s.width())},
           {"EXT_RANGE_ST", std::to_string(low)}, {"EXT_RANGE_END", std::to_string(high)}});
      extension_low_ = low;
      extension_high_ = high;
      doubts_.push_back("extension range " + std::to_string(low) + ".." + std::to_string(high) +
                        " is the sample's: check it against the site's numbering plan");
      return true;
    }
    if (title == Title::kOrigin || (title == Title::kNone && extension_ && filled < kAlways && !origin_ &&
                                    longest == extension_->width() && InExtensionRange(s))) {
      if (origin_) return false;
      origin_ = true;
      AddField("ORG_EXT", s, "the originating extension: numbers of the extensions' range on " + share + " of the calls" +
                   LabelNote(s), title == Title::kOrigin ? "likely" : "a guess");
      return true;
    }
    if (title == Title::kAccount || (title == Title::kNone && extension_ && filled < kAlways && !account_ && longest >= 4)) {
      if (account_) return false;
      account_ = true;
      AddField("ACCOUNT", s, "an account code: numbers on " + share + " of the calls" + LabelNote(s),
               title == Title::kAccount ? "likely" : "a guess");
      return true;
    }
    if (station_ && (title == Title::kTrunk || title == Title::kTrunkGroup ||
                       (title == Title::kNone && longest <= 4 && distinct <= 16))) {
      small_codes.push_back(&s);
      return true;
    }
    return false;
  }

  // Which call lines the incoming marker found so far (on line 1) matches;
  // empty when there is none.
  std::vector<bool> IncomingCalls() const {
    std::size_t column = 0;
    std::string text;
    for (const KeyGroup& g : groups_) {
      for (const auto& [key, value] : g.keys) {
        if (key == "IN_CHK1_POS" && value.ends_with(";1")) column = std::stoul(value);
        if (key == "IN_CHK1_STR") text = value.size() >= 2 && value.front() == '"' ? value.substr(1, value.size() - 2) : value;
      }
    }
    std::vector<bool> out;
    if (column == 0 || text.empty()) return out;
    for (std::size_t i : main_) out.push_back(std::string_view(lines_[i]).substr(std::min(column - 1, lines_[i].size())).starts_with(text));
    return out;
  }

  // A number of up to four digits on the incoming calls and on no other:
  // the seconds the call rang before it was answered.
  bool PlaceRingSeconds(const Segment& s) {
    if (ring_ || s.line != 1 || s.present < 2) return false;
    const std::vector<bool> incoming = IncomingCalls();
    if (incoming.size() != s.values.size()) return false;
    std::size_t on_incoming = 0, incoming_calls = 0, longest = 0;
    std::map<std::size_t, std::size_t> starts;  // column of the first digit
    for (std::size_t i = 0; i < s.values.size(); ++i) {
      incoming_calls += incoming[i] ? 1u : 0u;
      const std::string_view v = s.values[i];
      const std::string_view t = Trim(v);
      if (t.empty()) continue;
      std::size_t d = 0;
      while (d < t.size() && !IsDigit(t[d])) ++d;
      if (d == 1 && t.size() == 1) continue;  // a mark alone
      if (d > 1 || d == t.size() || !AllDigits(t.substr(d)) || t.size() - d > 4 || !incoming[i]) return false;
      ++on_incoming;
      longest = std::max(longest, t.size() - d);
      ++starts[s.first + static_cast<std::size_t>(t.data() - v.data()) + d];
    }
    if (on_incoming * 2 < incoming_calls) return false;
    std::size_t column = 0;
    for (const auto& [c, n] : starts) column = column == 0 || n > starts[column] ? c : column;
    ring_ = true;
    Add("Ring time in seconds, columns " + std::to_string(column) + "-" + std::to_string(column + longest - 1) +
            ": a number on " + std::to_string(on_incoming) + " of the " + std::to_string(incoming_calls) +
            " incoming calls and on no other call" + LabelNote(s) + " (a guess).",
        {{"RINGSS_POS", std::to_string(column) + ";1"}, {"RINGSS_LEN", std::to_string(longest)}});
    return true;
  }

  // A letter glued to the number on every call ("O5551212", "I",
  // "T4805550133"): the letter says the kind of call, the digits after it
  // are the number.
  bool PlaceLetteredNumber(const Segment& s) {
    if (number_ || s.present * 10 < s.values.size() * 9) return false;
    std::map<char, std::size_t> letters;
    std::size_t longest = 0;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (t.empty()) continue;
      if (v.front() == ' ' || !IsLetter(t.front()) || (t.size() > 1 && !AllDigits(t.substr(1)))) return false;
      ++letters[t.front()];
      longest = std::max(longest, t.size() - 1);
    }
    if (letters.size() < 2 || letters.size() > 6 || longest < 7) return false;
    number_ = true;
    const std::string line = ";" + std::to_string(s.line);
    Add("The number dialled, columns " + std::to_string(s.first + 1) + "-" + std::to_string(s.last) +
            ": digit runs of up to " + std::to_string(longest) + " after a letter of " + std::to_string(letters.size()) +
            " kinds" + LabelNote(s) + " (a guess).",
        {{"NUM_POS", std::to_string(s.first + 1) + line}, {"NUM_LEN", std::to_string(s.width() - 1)}});
    for (const auto& [letter, n] : letters) {
      if (!IsIncomingWord(std::string_view(&letter, 1)) || !incoming_.empty()) continue;
      AddIncoming("Incoming calls: \"" + std::string(1, letter) + "\" opens the number field on " +
                      std::to_string(n) + " calls (likely).",
                  s.first, s.line, std::string(1, letter));
    }
    return true;
  }

  // How many characters every filled value of the field opens with.
  static std::size_t CommonOpening(const Segment& s) {
    std::optional<std::string_view> common;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (t.empty()) continue;
      if (!common) {
        common = t;
        continue;
      }
      std::size_t n = 0;
      while (n < common->size() && n < t.size() && (*common)[n] == t[n]) ++n;
      common = common->substr(0, n);
    }
    return common ? common->size() : 0;
  }

  bool InExtensionRange(const Segment& s) const {
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (t.empty()) continue;
      if (!AllDigits(t) || t.size() > 8) return false;
      const long n = std::stol(std::string(t));
      if (n < extension_low_ || n > extension_high_) return false;
    }
    return true;
  }

  // One to three letters of few values: the direction, the private-call
  // mark, the DISA mark, a condition code.
  bool PlaceLetters(const Segment& s) {
    if (s.width() > 4 || s.present == 0) return false;
    std::map<std::string, std::size_t> values;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (t.empty()) continue;
      if (!std::all_of(t.begin(), t.end(), IsLetter)) return false;
      ++values[std::string(t)];
    }
    const Title title = TitleOf(s.label);
    const std::string at = std::to_string(s.first) + ";" + std::to_string(s.line);
    const std::string share = Percent(s.present, s.values.size());
    // AM or PM just after the time of day: a 12-hour time.
    const bool am_pm = std::all_of(values.begin(), values.end(), [](const auto& v) { return v.first == "AM" || v.first == "PM"; });
    if (am_pm && time_ != nullptr && time_twelve_ == std::string::npos && s.line == time_->line &&
        s.first <= time_->first + time_colon_ + (time_seconds_ ? 9 : 6)) {
      time_twelve_ = s.first - time_->first;
      am_pm_ = &s;
      return true;
    }
    if (values.size() >= 2 && values.size() <= 12 && incoming_.empty()) {
      // The most frequent incoming word, where several could be ("PIN", "IVIN").
      std::string best;
      for (const auto& [v, n] : values) {
        if (IsIncomingWord(v) && (best.empty() || n > values[best])) best = v;
      }
      if (!best.empty()) {
        // Blanks to the field's end, so that a longer word that starts the same does not match.
        const bool left = std::all_of(s.values.begin(), s.values.end(), [](std::string_view v) { return v.empty() || v.front() != ' '; });
        const std::string text = left && best.size() < s.width() ? "\"" + best + std::string(s.width() - best.size(), ' ') + "\"" : best;
        AddIncoming("Incoming calls: column " + std::to_string(s.first) + " holds " + std::to_string(values.size()) +
                        " values that split the calls; \"" + best + "\" on " + std::to_string(values[best]) +
                        LabelNote(s) + " (likely).",
                    left ? s.first : s.last + 1 - best.size(), s.line, text);
        return true;
      }
    }
    // One letter of a few kinds on some calls only: a status or condition code.
    if (values.size() >= 2 && values.size() <= 8 && s.width() == 1 && !code_ && title == Title::kNone &&
        static_cast<double>(s.present) < kAlways * static_cast<double>(s.values.size())) {
      code_ = true;
      AddField("TCODE", s, "a code: " + std::to_string(values.size()) + " letters on " + share + " of the calls",
               "a guess");
      return true;
    }
    if (values.size() != 1 && title != Title::kCode) return false;
    const std::string& only = values.begin()->first;
    if (values.size() == 1 && (title == Title::kPrivate || (title == Title::kNone && only == "P")) && !private_) {
      private_ = true;
      Add("Private calls: \"" + only + "\" at column " + std::to_string(s.first) + " on " + share + " of the calls" +
              LabelNote(s) + " (a guess).",
          {{"PRV_CALLS", "Y"}, {"PRV_CHK1_POS", at}, {"PRV_CHK1_STR", only}});
      doubts_.push_back("column " + std::to_string(s.first) + " (\"" + only + "\") is taken for the private-call mark");
      return true;
    }
    if (values.size() == 1 && only == "Y" && (title == Title::kDisa || title == Title::kNone) && !disa_) {
      disa_ = true;
      AddField("DISA", s, "\"Y\" on " + share + " of the calls: direct inward system access" + LabelNote(s), "a guess");
      return true;
    }
    if (title == Title::kCode && !code_) {
      code_ = true;
      AddField("TCODE", s, "a condition code of letters on " + share + " of the calls" + LabelNote(s), "likely");
      return true;
    }
    return false;
  }

  // Letters and digits together in one word ("V0012"): a code.
  bool PlaceCode(const Segment& s) {
    if (code_ || s.present == 0 || s.width() > 10) return false;
    std::size_t mixed = 0;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      const bool letter = std::any_of(t.begin(), t.end(), IsLetter), digit = std::any_of(t.begin(), t.end(), IsDigit);
      const bool word = std::all_of(t.begin(), t.end(), [](char c) { return IsLetter(c) || IsDigit(c); });
      mixed += word && letter && digit ? 1u : 0u;
    }
    if (mixed * 10 < s.present * 9) return false;
    code_ = true;
    AddField("TCODE", s, "a code of letters and digits on " + Percent(s.present, s.values.size()) + " of the calls" +
                 LabelNote(s), "a guess");
    return true;
  }

  // Local-call and duty-call lines: other shapes opened by a word that says so.
  void PlaceOtherKinds() {
    for (const auto& [word, members] : others_) {
      const bool local = word.starts_with("LOC") || word.starts_with("INT");
      const bool duty = word.starts_with("DUTY") || word.starts_with("SERV") || word.starts_with("SVC");
      if (word.empty() || (!local && !duty)) {
        doubts_.push_back(std::to_string(members.size()) + " lines of another shape (" +
                          (word.empty() ? "first at line " + std::to_string(members.front() + 1) : "\"" + word + "\"") +
                          ") are not placed: they start no call with these settings");
        continue;
      }
      const std::string prefix = local ? "LCL_" : "DC_";
      std::vector<Segment> segments = Segments(LinesOf(members), 1);
      KeyGroup g;
      g.comment = std::string(local ? "Local calls" : "Duty calls") + ": " + std::to_string(members.size()) +
                  " lines open with \"" + word + "\" and hold a date and a time (a guess from the word).";
      g.keys.push_back({local ? "LOCAL_CALLS" : "DUTY_CALL", "Y"});
      g.keys.push_back({prefix + "CHK1_POS", "1;1"});
      g.keys.push_back({prefix + "CHK1_STR", word.substr(0, 10)});
      std::size_t numbers = 0;
      for (const Segment& s : segments) {
        const auto [mask, n] = ModalMask(s);
        const std::size_t date = mask.find("99/99/99") != std::string::npos ? mask.find("99/99/99") : mask.find("99.99.99");
        const std::size_t time = mask.find("99:99");
        const auto col = [&](std::size_t offset) { return std::to_string(s.first + offset); };
        const std::optional<CompactDate> compact = ReadCompactDate(s);
        if (date != std::string::npos) {
          // In the order of the call lines' date.
          g.keys.push_back({prefix + "DAY_POS", col(month_first_ ? date + 3 : date)});
          g.keys.push_back({prefix + "MONTH_POS", col(month_first_ ? date : date + 3) + ";1"});
          g.keys.push_back({prefix + "YEAR_POS", col(date + 6)});
        } else if (compact) {
          // In the order of the call lines' six-digit date, where they have one.
          const bool year_first = compact_year_first_.value_or(compact->year_first);
          g.keys.push_back({prefix + "YEAR_POS", col(year_first ? 0 : 4)});
          g.keys.push_back({prefix + "MONTH_POS", col(2) + ";1"});
          g.keys.push_back({prefix + "DAY_POS", col(year_first ? 4 : 0)});
        } else if (time != std::string::npos) {
          g.keys.push_back({prefix + "TIMEHH_POS", col(time) + ";1"});
          g.keys.push_back({prefix + "TIMEMM_POS", col(time + 3)});
        } else if (AllDigits(Trim(mask.substr(0, s.width()))) || Trim(mask).find_first_not_of('9') == std::string_view::npos) {
          ++numbers;
          if (numbers == 1) {
            g.keys.push_back({prefix + (local ? "ORG_POS" : "EXT_POS"), std::to_string(s.first) + ";1"});
            g.keys.push_back({prefix + (local ? "ORG_LEN" : "EXT_LEN"), std::to_string(s.width())});
          } else if (numbers == 2 && local) {
            g.keys.push_back({"LCL_TER_POS", std::to_string(s.first) + ";1"});
            g.keys.push_back({"LCL_TER_LEN", std::to_string(s.width())});
          } else if (numbers == 2) {
            for (unsigned c = 0; c < s.width() && c < 4; ++c) {
              g.keys.push_back({"DC_TRN_D" + std::to_string(c + 1), std::to_string(s.first + c) + ";1"});
            }
          }
        }
      }
      groups_.push_back(std::move(g));
      doubts_.push_back(std::string(local ? "local" : "duty") + " calls are taken from the word \"" + word + "\"");
    }
  }

  // Whether the printed time is the end of the call, and why.
  struct EndEvidence {
    bool end = false;
    std::string why;
  };

  // Start or end of the call. A report printed as calls end runs in the
  // order of their ends: printed times out of order are starts; printed
  // times in order whose sums with the durations break that order on a
  // fifth of the calls or more are ends. A sample sorted by time shows
  // neither, and then the call over midnight tells: read as starts, a call
  // late in the evening runs past midnight (time plus duration); read as
  // ends, a call early in the morning began the day before (time less
  // duration). The reading under which the calls near midnight cross it
  // wins; with no such call the start, which most reports print, is kept.
  EndEvidence TimeIsEnd() const {
    if (duration_ == nullptr || time_ == nullptr) return {false, "no duration to tell start from end"};
    // A duration on a further line that some calls lack is not paired call by call with the time.
    if (duration_->values.size() != time_->values.size()) {
      return {false, "the duration is not on every call, so the order of the calls cannot be read"};
    }
    // Seconds into the day; a 12-hour time counts from midnight through its AM or PM.
    const auto seconds = [](std::string_view v, std::size_t colon, bool with_seconds, char half = ' ') -> long {
      if (v.size() < colon + 5) return -1;
      const std::string_view h = v.substr(colon, 2), m = v.substr(colon + 3, 2);
      if (!AllDigits(h) || !AllDigits(m)) return -1;
      long hour = std::stol(std::string(h));
      if (half == 'A' || half == 'P') hour = hour % 12 + (half == 'P' ? 12 : 0);
      long s = hour * 3600 + std::stol(std::string(m)) * 60;
      if (with_seconds && v.size() >= colon + 8 && AllDigits(v.substr(colon + 6, 2))) s += std::stol(std::string(v.substr(colon + 6, 2)));
      return s;
    };
    std::size_t end_breaks = 0, start_breaks = 0, past_midnight = 0, before_midnight = 0;
    long prev_time = -1, prev_end = -1;
    for (std::size_t i = 0; i < time_->values.size(); ++i) {
      const long t = seconds(time_->values[i], time_colon_, time_seconds_, HalfOfDay(i));
      long d = duration_tenths_ ? TenthsSeconds(duration_->values[i])
                                : seconds(duration_->values[i], duration_offset_, duration_seconds_);
      // MM:SS: the pair read as hours and minutes is minutes and seconds.
      if (!duration_tenths_ && !duration_seconds_ && d >= 0) d /= 60;
      if (t < 0 || d < 0) continue;
      past_midnight += t + d >= 86400 ? 1u : 0u;
      before_midnight += t - d < 0 ? 1u : 0u;
      // Over midnight, both run on into the next day.
      const long day = prev_time >= 0 && t + 12 * 3600 < prev_time ? 86400 : 0;
      end_breaks += prev_time >= 0 && t + day < prev_time ? 1u : 0u;
      start_breaks += prev_end >= 0 && t + day + d / 60 * 60 < prev_end - 59 ? 1u : 0u;
      prev_time = t;
      prev_end = t + d / 60 * 60;
    }
    if (end_breaks > 0) {
      return {false, "the printed times do not run in order, as starts of calls printed when they end do not"};
    }
    if (start_breaks * 5 >= time_->values.size()) {
      return {true, "the printed times run in order and the times plus durations do not, as in a report printed "
                    "when each call ends: the time is the end of the call"};
    }
    const std::string sorted = "the printed times run in order, which says nothing in a sample sorted by time; ";
    if (before_midnight > past_midnight) {
      return {true, sorted + "read as the start, no call runs past midnight, and read as the end, " +
                        std::to_string(before_midnight) + " began the day before: the time is the end of the call"};
    }
    if (past_midnight > 0) {
      return {false, sorted + std::to_string(past_midnight) + " call(s) late in the evening run past midnight when "
                         "the time is read as the start: the time is the start of the call"};
    }
    return {false, sorted + "no call near midnight tells either: taken as the start of the call, which most reports print"};
  }

  // Minutes and tenths ("12.5") as seconds; -1 when not so.
  static long TenthsSeconds(std::string_view v) {
    const std::string_view t = Trim(v);
    if (t.size() < 3 || t.size() > 8 || t[t.size() - 2] != '.' || !AllDigits(t.substr(0, t.size() - 2)) ||
        !IsDigit(t.back())) {
      return -1;
    }
    return std::stol(std::string(t.substr(0, t.size() - 2))) * 60 + (t.back() - '0') * 6;
  }

  // "A" or "P" of call `i`'s 12-hour time, a blank for a 24-hour time.
  char HalfOfDay(std::size_t i) const {
    if (time_twelve_ == std::string::npos) return ' ';
    const Segment& s = am_pm_ != nullptr ? *am_pm_ : *time_;
    const std::string_view v = i < s.values.size() ? s.values[i] : std::string_view();
    const std::size_t at = am_pm_ != nullptr ? 0 : time_twelve_;
    const std::string_view half = at < v.size() ? Trim(v.substr(at)) : std::string_view();
    return half.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(half.front())));
  }

  void WriteTime() {
    if (time_ == nullptr) return;
    const Segment& s = *time_;
    // AM/PM is read on a start time only: a 12-hour end time is read as the
    // start, which then comes out late by the call's duration.
    const bool twelve = time_twelve_ != std::string::npos;
    const EndEvidence evidence = TimeIsEnd();
    const bool printed_end = evidence.end;
    const bool end = printed_end && !twelve;
    const std::string stem = end ? "END" : "TIME";
    const auto col = [&](std::size_t offset) { return std::to_string(s.first + offset); };
    std::vector<std::pair<std::string, std::string>> keys = {{stem + "HH_POS", col(time_colon_) + ";" + std::to_string(s.line)},
                                                             {stem + "MM_POS", col(time_colon_ + 3)}};
    if (time_seconds_) keys.push_back({stem + "SS_POS", col(time_colon_ + 6)});
    if (time_twelve_ != std::string::npos) keys.push_back({"AMPM_POS", col(time_twelve_)});
    const std::string what = std::string(time_seconds_ ? "HH:MM:SS" : "HH:MM") +
                             (time_twelve_ != std::string::npos ? " and AM/PM" : "");
    const std::string why =
        evidence.why + (end ? " (likely)"
                        : printed_end ? "; AM/PM is read only with the start time, so it is read as the start, and "
                                        "each call comes out as starting when it ended (likely)"
                        : duration_ ? " (likely; if the report prints the end of the call, write ENDHH_POS and "
                                      "ENDMM_POS instead)"
                                    : " (likely)");
    groups_[time_group_] = KeyGroup{"Time of day " + what + " in columns " + col(time_colon_) + "-" + col(time_colon_ + (time_seconds_ ? 7 : 4)) +
            ", on every call line: " + why + ".",
        std::move(keys)};
    if (printed_end && twelve) {
      doubts_.push_back("the 12-hour time of day looks like the end of the call; it is read as the start, since "
                        "AM/PM goes with the start time only");
    } else if (!end && duration_) {
      doubts_.push_back("the time of day is taken as the start of the call");
    }
  }

  void Add(std::string comment, std::vector<std::pair<std::string, std::string>> keys) {
    groups_.push_back({std::move(comment), std::move(keys)});
  }

  // The calls with `text` at `column` of line `line` are the incoming ones.
  void AddIncoming(std::string comment, std::size_t column, unsigned line, const std::string& text) {
    incoming_ = text;
    Add(std::move(comment), {{"IN_CALLS", "Y"},
                             {"IN_CHK1_POS", std::to_string(column) + ";" + std::to_string(line)},
                             {"IN_CHK1_STR", text}});
  }

  void AddField(const std::string& stem, const Segment& s, const std::string& what, const std::string& confidence) {
    std::string text = what;
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    Add(text + ", columns " + std::to_string(s.first) + "-" + std::to_string(s.last) + " of line " +
            std::to_string(s.line) + " (" + confidence + ").",
        {{stem + "_POS", std::to_string(s.first) + ";" + std::to_string(s.line)}, {stem + "_LEN", std::to_string(s.width())}});
  }

  void Unplaced(const Segment& s) {
    std::string sample;
    std::size_t shown = 0;
    std::set<std::string_view> seen;
    for (std::string_view v : s.values) {
      const std::string_view t = Trim(v);
      if (t.empty() || !seen.insert(t).second || shown == 3) continue;
      sample += (shown++ > 0 ? ", \"" : "\"");
      AppendReadable(sample, t, 20);
      sample += "\"";
    }
    unplaced_.push_back("line " + std::to_string(s.line) + ", columns " + std::to_string(s.first) + "-" +
                        std::to_string(s.last) + (s.label.empty() ? "" : " (\"" + s.label + "\")") + ": " + sample +
                        ", filled on " + Percent(s.present, s.values.size()) + " of the calls");
  }

  std::string Write() {
    WriteTime();
    std::string o;
    o += "; Settings guessed by talvo layout guess from " + source_ + " (" + std::to_string(lines_.size()) +
         " lines, " + std::to_string(main_.size()) + " call lines).\n";
    o += "; Every key below says what it was found from and how sure the guess is.\n";
    o += "; Check them with: talvo explain --settings THIS-FILE " + source_ + "\n";
    o += "; A call spans " + std::to_string(following_.size() + 1) + (following_.empty() ? " line.\n" : " lines.\n");
    o += "\n[pbx]\n";
    // Markers first, then the fields in the order found.
    for (const KeyGroup& g : groups_) {
      o += "\n";
      std::string_view rest = g.comment;
      while (!rest.empty()) {
        std::size_t cut = rest.size() <= 76 ? rest.size() : rest.rfind(' ', 76);
        if (cut == std::string_view::npos || cut == 0) cut = std::min<std::size_t>(rest.size(), 76);
        o += "; ";
        o.append(rest.substr(0, cut));
        o += "\n";
        rest.remove_prefix(cut);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
      }
      for (const auto& [key, value] : g.keys) o += key + "=" + value + "\n";
    }
    if (!unplaced_.empty()) {
      o += "\n; Not placed: columns that hold something this guess could not name.\n";
      for (const std::string& u : unplaced_) {
        o += ";   ";
        o += u;
        o += "\n";
        doubts_.push_back("not placed: " + u);
      }
    }
    return o;
  }

  const std::vector<std::string>& lines_;
  std::string source_;
  std::vector<std::size_t> main_;  // the call lines (line 1 of each call), 0-based
  std::string main_word_;
  std::vector<std::pair<std::string, std::vector<std::size_t>>> others_;
  std::set<std::size_t> call_like_;
  std::vector<bool> headings_;
  std::string titles_;
  std::vector<std::vector<std::size_t>> following_;  // lines 2.. of calls, per line of the call
  std::vector<Segment> segments_;
  std::vector<KeyGroup> groups_;
  std::vector<std::string> unplaced_;
  std::vector<std::string> doubts_;
  std::size_t markers_ = 0, blanks_ = 0;
  const Segment* time_ = nullptr;
  std::size_t time_group_ = 0, time_colon_ = 0, time_twelve_ = std::string::npos;
  bool time_seconds_ = false;
  const Segment* clock_ = nullptr;  // the field taken for the time of day
  const Segment* station_ = nullptr;  // the field taken for the extension
  std::set<const Segment*> taken_;     // fields placed before the pass over all of them
  bool duration_tenths_ = false;
  const Segment* am_pm_ = nullptr;  // AM/PM in a field of its own, else null
  const Segment* duration_ = nullptr;
  std::size_t duration_offset_ = 0;
  bool duration_seconds_ = false;
  const Segment* extension_ = nullptr;
  long extension_low_ = 0, extension_high_ = 0;
  bool month_first_ = false;
  std::optional<bool> compact_year_first_;  // the order of a six-digit date on the call lines
  bool date_ = false, ring_ = false, number_ = false, caller_ = false, index_ = false, pulses_ = false;
  bool origin_ = false, account_ = false, private_ = false, disa_ = false, code_ = false;
  std::string incoming_;
};

}  // namespace

LayoutGuess GuessLayout(const std::vector<std::string>& lines, const std::string& source) {
  return Guesser(lines, source).Run();
}

CLI::App* AddLayoutGuessCommand(CLI::App& app, GuessOptions& options) {
  CLI::App* layout = app.add_subcommand("layout", "Work out a PBX layout");
  layout->require_subcommand(1);
  CLI::App* guess = layout->add_subcommand("guess", "Propose a settings file from a sample report alone");
  guess->add_option("report", options.report, "Sample report; - for standard input")->required()->type_name("REPORT");
  guess->add_option("-o,--output", options.output, "Write the settings here instead of standard output")
      ->type_name("FILE");
  return guess;
}

int RunLayoutGuess(const GuessOptions& options, Output& out, Output& err) {
  if (!options.output.empty() && options.report != "-" &&
      SameFile(IdentifyPath(options.output), IdentifyPath(options.report))) {
    throw IoError("the output " + options.output + " is the report " + options.report + "; nothing was written");
  }
  const std::vector<std::string> lines = ReadReportLines(options.report);
  const std::string name = options.report == "-" ? "standard input" : options.report;
  const LayoutGuess guess = GuessLayout(lines, name);
  for (const std::string& d : guess.doubts) {
    err.Write("talvo: layout guess: " + name + ": " + d + "\n");
    err.EndRow();
  }
  if (!guess.placed) {
    err.Write("talvo: layout guess: " + name + ": no call line could be placed; nothing was written\n");
    err.Flush();
    return 1;
  }
  if (options.output.empty()) {
    out.Write(guess.settings);
    out.Flush();
  } else {
    WriteFileAtomically(options.output, guess.settings);
  }
  err.Flush();
  return 0;
}

}  // namespace talvo::tool
