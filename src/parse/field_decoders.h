// Decoders that turn one cut-out report field into a number or a cleaned text.
// None raises an error or stops the decoding: a bad number clears the success
// flag passed in, and a field past the end of its line is simply shorter.
#ifndef TALVO_PARSE_FIELD_DECODERS_H_
#define TALVO_PARSE_FIELD_DECODERS_H_

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/short_text.h"
#include "util/text.h"

namespace talvo {

// The integer in `text`, blanks around it ignored. An empty or blank field is
// 0 and no error. Clears `ok` when the text is not an integer; the value is
// then the magnitude of the digits read before the first bad character.
// (Inline: a call decodes about ten such fields.)
inline int32_t ParseIntField(std::string_view text, bool& ok) {
  // Two digits, as every hour, minute and second of a report is printed.
  if (text.size() == 2 && IsDigit(text[0]) && IsDigit(text[1])) return (text[0] - '0') * 10 + (text[1] - '0');
  text = TrimBlanks(text);
  if (text.empty()) return 0;
  const IntegerParse p = ParseInteger(text);
  if (p.error_pos != 0) ok = false;
  return p.value;
}

// True iff `text` is 1 to 9 plain digits: a value ParseInteger reads
// without sign, prefix or overflow.
inline bool IsShortDigitRun(std::string_view text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// The value of a run of plain digits. REQUIRES: IsShortDigitRun(digits).
inline uint32_t DigitRunValue(std::string_view digits) {
  uint32_t value = 0;
  for (char c : digits) value = value * 10u + static_cast<uint32_t>(c - '0');
  return value;
}

// The real number in `text`, whose first comma counts as a decimal point.
// An empty or blank field is 0 and no error. Clears `ok` when not a number.
double ParseRealField(std::string_view text, bool& ok);

// The characters `keep` accepts of the field at 1-based `column`, `width`
// wide, into `result`: characters before the first kept one and between kept
// ones are skipped, the first blank after a kept one ends the field. (Inline:
// a call reads two or three such fields.)
// The test that keeps digits, named so that the quick steps' digit fields
// can take a faster way.
struct KeepDigits {
  bool operator()(char c) const { return IsDigit(c); }
};

template <typename Keep>
inline void ExtractCharsInto(ShortText<24>& result, std::string_view line, uint8_t column, uint8_t width, Keep keep) {
  constexpr std::size_t kCap = ShortText<24>::kCapacity;
  result.length = 0;
  if (width == 0) return;
  // The field's columns that the line has, 0-based; columns below 1 do not exist.
  const std::size_t from = column == 0 ? 0 : std::size_t{column} - 1;
  const std::size_t to = std::min(line.size(), std::size_t{column} + width - 1);
  // Everything before the first kept character is passed over, blanks too;
  // after it, the first blank ends the field. (At most `width` characters
  // are scanned, so no more than `width` are kept.)
  std::size_t i = from;
  // Blanks, which no caller keeps, are passed over eight at a time: a field
  // left empty is the usual case for caller numbers and account codes.
  constexpr uint64_t kEightBlanks = 0x2020202020202020u;
  for (uint64_t word = 0; i + sizeof word <= to; i += sizeof word) {
    std::memcpy(&word, line.data() + i, sizeof word);
    if (word != kEightBlanks) break;
  }
  while (i < to && !keep(line[i])) ++i;
#if defined(__SSE2__)
  if constexpr (std::is_same_v<Keep, KeepDigits>) {
    // A number is one run of digits ended by a blank or by the field: with
    // sixteen bytes of the line at hand, it is found in one compare.
    if (i < to && i + 16 <= line.size()) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + i));
      const __m128i digits = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                                           _mm_cmplt_epi8(bytes, _mm_set1_epi8('9' + 1)));
      const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(digits));
      const std::size_t run = static_cast<std::size_t>(std::countr_one(mask));  // 16 when all are digits
      const std::size_t end = i + run;
      if (end >= to || (run < 16 && line[end] == ' ')) {
        const std::size_t n = std::min<std::size_t>(std::min(end, to) - i, 16);  // run is at most 16
        MoveSmall(result.chars, line.data() + i, n);
        result.length = static_cast<uint8_t>(n);
        return;
      }
    }
  }
#endif
  // The run of kept characters first: in the usual field a blank or the
  // field's end follows it.
  std::size_t n = 0;
  for (; i < to && keep(line[i]); ++i) {
    if (n < kCap) result.chars[n++] = line[i];
  }
  for (; i < to; ++i) {
    const char c = line[i];
    if (c == ' ') break;
    // A character that would make the text longer than 24 is dropped; the
    // scan goes on to the end of the field.
    if (keep(c) && n < kCap) result.chars[n++] = c;
  }
  result.length = static_cast<uint8_t>(n);
}

// Stores `value` (below 100 000 000) in decimal into a bounded text.
template <typename T>
void StoreDecimal(T& text, uint32_t value) {
  char digits[8];
  std::size_t at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + value % 10u);
    value /= 10u;
  } while (value != 0);
  StoreText(text, std::string_view(digits + at, sizeof digits - at));
}

// The digits of the field at 1-based `column`, `width` wide: characters before
// the first digit and between digits are skipped, the first space after a kept
// digit ends the field. At most min(width, 24) digits.
inline ShortText<24> ExtractDigits(std::string_view line, uint8_t column, uint8_t width) {
  ShortText<24> result;
  // The general decoders keep the character-by-character reading: it is the
  // reference the quick steps are compared with.
  ExtractCharsInto(result, line, column, width, [](char c) { return IsDigit(c); });
  return result;
}

// As ExtractDigits, keeping ASCII letters and digits.
ShortText<24> ExtractAlphanumerics(std::string_view line, uint8_t column, uint8_t width);

// A trunk text in its plain form: empty becomes "0" and an integer loses its
// sign, zeros and hexadecimal form ("007" is "7", "$1F" is "31"). Cut to six
// characters.
ShortText<6> PlainTrunk(std::string_view text);
// Applies the trunk-group base: with `as_text`, base followed by trunk (cut to
// 6); otherwise, when both are integers and the base is not empty, their sum;
// otherwise the trunk unchanged.
ShortText<6> ApplyTrunkBase(std::string_view base, std::string_view trunk, bool as_text);

// The pulses field read as ParseRealField and scaled as ScalePulses, whole
// numbers without floating point.
int32_t DecodePulsesField(std::string_view field, int32_t multiplier, bool& ok);
// PULSES_MULT times the pulses value, rounded half to even and kept to 32 bits.
// Clears `ok` when the product is not finite or lies beyond 64 bits.
int32_t ScalePulses(int32_t multiplier, double pulses, bool& ok);

}  // namespace talvo

#endif  // TALVO_PARSE_FIELD_DECODERS_H_
