// The fields of a sample report's call lines, as `talvo layout guess` sees
// them: the columns blank on every line of a call cut it into fields, and
// fields printed with no blank between them are cut apart again. A field
// keeps what each sample call holds there, to be placed by its shape.
#ifndef TALVO_TOOLS_LAYOUT_GUESS_FIELDS_H_
#define TALVO_TOOLS_LAYOUT_GUESS_FIELDS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvo::tool::layout {

// Share of call lines a marker must stand on, and a field be filled on, to
// count as always there.
inline constexpr double kAlways = 0.9;

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// `s` without the blanks at its ends.
std::string_view Trim(std::string_view s);

// True iff `s` is not empty and holds digits only.
bool AllDigits(std::string_view s);

// Digits as a class ("9"), letters as a class ("A"), everything else as itself.
std::string Mask(std::string_view s);

// A field: columns first..last of line `line` of the call, with what each
// sample line of that line of the call holds there.
struct Segment {
  unsigned line = 1;
  unsigned first = 0, last = 0;
  std::vector<std::string_view> values;  // raw, one per sample line (shorter past a line's end)
  std::size_t present = 0;               // values not blank
  std::string label;                     // the column title above it, upper case
  unsigned width() const { return last - first + 1; }
};

// The fields of line `line_number` of the calls whose lines are `lines`:
// runs of columns that are not blank on every line. A tab that opens a line
// counts as a blank.
std::vector<Segment> Segments(const std::vector<std::string_view>& lines, unsigned line_number);

// `fields` with each field printed into its neighbours cut apart: a date or
// a time that runs straight into another field ("15.03.2622:48:31",
// "10500:0700:11:40"), or a short right-aligned field every call fills
// between fields only some calls fill ("48 24711").
std::vector<Segment> CutGluedFields(const std::vector<Segment>& fields);

// The most common mask of the segment's filled values, padded to its width,
// and how many values have it.
std::pair<std::string, std::size_t> ModalMask(const Segment& s);

// Column by column, the mask class that nine in ten filled values share (a
// blank where they do not), and how many values agree with it on every
// such column.
std::pair<std::string, std::size_t> ConsensusMask(const Segment& s);

// How many different texts the field's filled values hold.
std::size_t Distinct(const Segment& s);

}  // namespace talvo::tool::layout

#endif  // TALVO_TOOLS_LAYOUT_GUESS_FIELDS_H_
