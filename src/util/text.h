// Text and number routines for fixed-column report text.
//
// Conventions:
//  1. Texts are byte strings of single-byte characters; every character class
//     here is ASCII and no locale or code page is involved.
//  2. Positions are 1-based.
//  3. Functions returning std::string_view return a view into their argument,
//     valid as long as the argument's characters are.
//  4. Numbers parse without exceptions; a failure reports the 1-based position
//     of the first character that does not fit (0 means no error).
#ifndef TALVO_UTIL_TEXT_H_
#define TALVO_UTIL_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo {

// ASCII character classes (no locale, safe on any char value).
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsUpperLetter(char c) { return c >= 'A' && c <= 'Z'; }
inline bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
inline bool IsLetterOrDigit(char c) { return IsDigit(c) || IsUpperLetter(c) || IsLowerLetter(c); }

// `text` without every byte of code 32 or less at both ends (space, tab, CR,
// LF and the other control characters); inside it is unchanged. A text of
// blanks only gives the empty text. (Inline, as CutText: both run for every
// field of every call.)
inline std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// At most `count` characters of `text` from the 1-based position `start` on.
// A start below 1 counts as 1 (the count is not reduced); a start past the end
// or a negative count gives the empty text; a count running past the end stops
// at the end. Never fails.
inline std::string_view CutText(std::string_view text, int32_t start, int32_t count) {
  if (text.empty() || count < 0) return {};
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (from >= text.size()) return {};
  return text.substr(from, static_cast<std::size_t>(count));
}

// `text` with "a".."z" turned into "A".."Z"; every other byte unchanged.
std::string UpperText(std::string_view text);

// Result of ParseInteger.
struct IntegerParse {
  // The number when error_pos is 0. On an error: the magnitude of the digits
  // read before it (no sign applied), 0 if none; a magnitude past
  // 2147483647 ("2147483648", "$FFFFFFFF0") is its 32 bits read as signed.
  int32_t value = 0;
  // 0 when the whole text is an integer; otherwise the 1-based position of the
  // first character that does not fit, or length + 1 when the text ends early.
  int32_t error_pos = 0;
};

namespace text_internal {
// ParseInteger's full syntax.
IntegerParse ParseIntegerSyntax(std::string_view text);
}  // namespace text_internal

// Reads a signed 32-bit integer. Syntax: leading spaces (code 32 only), then
// either an optional "+"/"-" and decimal digits, or one of "$", "x", "X",
// "0x", "0X" and hexadecimal digits (no sign). The whole text must be used; a
// trailing blank is an error. Decimal values outside -2147483648..2147483647
// are an error; hexadecimal takes at most 8 significant digits and reads the
// 32 bits as signed ("$FFFFFFFF" is -1).
inline IntegerParse ParseInteger(std::string_view text) {
  // Up to nine plain digits, the usual report field, are read here: no sign,
  // prefix or overflow to look for.
  if (!text.empty() && text.size() <= 9) {
    uint32_t plain = 0;
    std::size_t k = 0;
    for (; k < text.size() && IsDigit(text[k]); ++k) plain = plain * 10u + static_cast<uint32_t>(text[k] - '0');
    if (k == text.size()) return IntegerParse{static_cast<int32_t>(plain), 0};
  }
  return text_internal::ParseIntegerSyntax(text);
}

// Result of ParseReal.
struct RealParse {
  double value = 0;       // the number when error_pos is 0, else 0
  int32_t error_pos = 0;  // as IntegerParse::error_pos
};

// Reads a decimal real: leading spaces, an optional sign, digits, an optional
// "." and digits, an optional exponent ("E"/"e", optional sign, at least one
// digit). Digits on either side of the point may be missing (".5", "5.", and
// "." alone reads as 0), but a digit or the point must come before any
// exponent ("e5" is an error); an empty text or a lone sign is an error, and
// so are "inf", "nan" and hexadecimal forms. The comma is
// not a decimal separator. The value is the correctly rounded double; an
// exponent too large gives an infinite value (and too small gives 0) with no
// error, so callers that need a finite number must check.
RealParse ParseReal(std::string_view text);

// True iff ParseInteger(text) reports no error (leading spaces allowed,
// trailing blanks not; the empty text is not an integer).
bool IsIntegerText(std::string_view text);

// True iff every character is "0".."9", "A".."Z" or "a".."z". The empty text
// is true.
// (Inline: every record tests its extensions.)
inline bool IsAlphanumericText(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    // Setting bit 5 maps "A".."Z" onto "a".."z" and no other byte onto them.
    if (byte - unsigned{'0'} > 9 && (byte | 0x20u) - unsigned{'a'} > 25) return false;
  }
  return true;
}

// ParseInteger(TrimBlanks(text)) when that is an integer, else 0.
int32_t TextToIntDef(std::string_view text);

// `count` copies of `c`; a count of 0 or less gives the empty text.
std::string RepeatChar(int32_t count, char c);

// `text` followed by `fill` up to `width` characters; a text as long as the
// width or longer is returned unchanged, never cut.
std::string PadRight(std::string_view text, int32_t width, char fill);

// The decimal text of `value`, right-aligned in `width` with spaces on the
// left; a number needing more characters is written whole (5 in width 2 is
// " 5", 123 in width 2 is "123", -5 in width 3 is " -5").
std::string IntToTextWidth(int32_t value, int32_t width);

// IntToTextWidth with every leading space turned into "0" (5 in width 2 is
// "05"). The sign is not moved: -5 in width 3 is "0-5".
std::string IntToTextZeroPad(int32_t value, int32_t width);

// Plain decimal text: "-" before negative values, no leading zeros or blanks.
std::string Int64ToText(int64_t value);

// Compares in text order: byte by byte as unsigned values, the first
// difference deciding; a text that is the beginning of the other is smaller.
// Returns <0, 0 or >0.
int CompareText(std::string_view a, std::string_view b);

}  // namespace talvo

#endif  // TALVO_UTIL_TEXT_H_
