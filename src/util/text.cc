#include "util/text.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <limits>

namespace talvo {
namespace {

// A 1-based position from a 0-based index, held to the 32-bit range.
int32_t PositionOf(std::size_t index) {
  constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
  return index >= kMax ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(index + 1);
}

// The 32 bits of `bits` read as a signed value (two's complement, well defined).
int32_t AsSigned(uint32_t bits) { return static_cast<int32_t>(bits); }

// 0..15 for a hexadecimal digit, -1 for anything else.
int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Largest value that may still take one more decimal digit, and one more
// hexadecimal digit, without leaving 32 bits.
constexpr uint32_t kDecimalStepLimit = 214748364;
constexpr uint32_t kHexStepLimit = 0x0FFFFFFF;

IntegerParse IntegerError(std::size_t index, uint32_t magnitude) {
  return IntegerParse{AsSigned(magnitude), PositionOf(index)};
}

RealParse RealError(std::size_t index) { return RealParse{0, PositionOf(index)}; }

// Beyond this an exponent's digits only decide between infinity and zero.
constexpr int64_t kExponentCap = 1000000000;

// The correctly rounded double of (digits) x 10^exponent with the sign
// applied. `digits` holds decimal digits only.
double DecimalToDouble(std::string digits, int64_t exponent, bool negative) {
  const double zero = negative ? -0.0 : 0.0;
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return zero;
  const std::size_t last = digits.find_last_not_of('0');
  exponent += static_cast<int64_t>(digits.size() - 1 - last);
  digits = digits.substr(first, last - first + 1);

  // The value lies in [10^(magnitude-1), 10^magnitude).
  const int64_t magnitude = static_cast<int64_t>(digits.size()) + exponent;
  if (magnitude > 310) return negative ? -std::numeric_limits<double>::infinity()
                                       : std::numeric_limits<double>::infinity();
  if (magnitude < -330) return zero;

  // Digits, "e" and a signed exponent: no decimal point, so the conversion
  // reads the same in every locale.
  std::string canonical;
  canonical.reserve(digits.size() + 24);
  if (negative) canonical.push_back('-');
  canonical += digits;
  canonical.push_back('e');
  canonical += Int64ToText(exponent);
  return std::strtod(canonical.c_str(), nullptr);
}

}  // namespace

std::string UpperText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (IsLowerLetter(c)) c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

namespace text_internal {

IntegerParse ParseIntegerSyntax(std::string_view text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  if (i == n) return IntegerError(n, 0);

  bool hex = false;
  bool negative = false;
  const char lead = text[i];
  if (lead == '$' || lead == 'x' || lead == 'X') {
    hex = true;
    i += 1;
  } else if (lead == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  } else if (lead == '-' || lead == '+') {
    negative = lead == '-';
    i += 1;
  }
  if (i == n) return IntegerError(n, 0);  // a sign or prefix with no digit after it

  uint32_t value = 0;
  if (hex) {
    for (; i < n; ++i) {
      const int digit = HexDigitValue(text[i]);
      if (digit < 0 || value > kHexStepLimit) return IntegerError(i, value);
      value = value * 16u + static_cast<uint32_t>(digit);
    }
    return IntegerParse{AsSigned(value), 0};
  }

  for (; i < n; ++i) {
    if (!IsDigit(text[i]) || value > kDecimalStepLimit) return IntegerError(i, value);
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  if (value > limit) return IntegerError(n, value);
  return IntegerParse{AsSigned(negative ? 0u - value : value), 0};
}

}  // namespace text_internal

RealParse ParseReal(std::string_view text) {
  // Up to fifteen plain digits: an integer that a double holds exactly, so
  // there is no rounding to do.
  if (!text.empty() && text.size() <= 15) {
    uint64_t plain = 0;
    std::size_t k = 0;
    for (; k < text.size() && IsDigit(text[k]); ++k) plain = plain * 10u + static_cast<uint64_t>(text[k] - '0');
    if (k == text.size()) return RealParse{static_cast<double>(plain), 0};
  }

  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  if (i == n) return RealError(n);

  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
    if (i == n) return RealError(n);
  }

  std::string digits;
  int64_t fraction_digits = 0;
  bool mantissa = false;  // a digit or the point was seen
  for (; i < n && IsDigit(text[i]); ++i) {
    digits.push_back(text[i]);
    mantissa = true;
  }
  if (i < n && text[i] == '.') {
    mantissa = true;
    for (++i; i < n && IsDigit(text[i]); ++i) {
      digits.push_back(text[i]);
      ++fraction_digits;
    }
  }
  if (!mantissa) return RealError(i);

  int64_t exponent = 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool exponent_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      exponent_negative = text[i] == '-';
      ++i;
    }
    if (i == n) return RealError(n);
    if (!IsDigit(text[i])) return RealError(i);
    for (; i < n && IsDigit(text[i]); ++i) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (i != n) return RealError(i);

  return RealParse{DecimalToDouble(std::move(digits), exponent - fraction_digits, negative), 0};
}

bool IsIntegerText(std::string_view text) { return ParseInteger(text).error_pos == 0; }

int32_t TextToIntDef(std::string_view text) {
  const IntegerParse r = ParseInteger(TrimBlanks(text));
  return r.error_pos == 0 ? r.value : 0;
}

std::string RepeatChar(int32_t count, char c) {
  if (count <= 0) return {};
  return std::string(static_cast<std::size_t>(count), c);
}

std::string PadRight(std::string_view text, int32_t width, char fill) {
  std::string out(text);
  if (width > 0 && static_cast<std::size_t>(width) > out.size()) {
    out.append(static_cast<std::size_t>(width) - out.size(), fill);
  }
  return out;
}

std::string IntToTextWidth(int32_t value, int32_t width) {
  std::string digits = Int64ToText(value);
  if (width > 0 && static_cast<std::size_t>(width) > digits.size()) {
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), ' ');
  }
  return digits;
}

std::string IntToTextZeroPad(int32_t value, int32_t width) {
  std::string out = IntToTextWidth(value, width);
  for (char& c : out) {
    if (c != ' ') break;
    c = '0';
  }
  return out;
}

std::string Int64ToText(int64_t value) {
  // Work on the unsigned magnitude so that the most negative value has one.
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) magnitude = 0u - magnitude;
  char buffer[24];
  char* end = buffer + sizeof(buffer);
  char* p = end;
  do {
    *--p = static_cast<char>('0' + magnitude % 10u);
    magnitude /= 10u;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  return std::string(p, end);
}

int CompareText(std::string_view a, std::string_view b) {
  // char_traits<char> compares characters as unsigned char, and a text that
  // is the beginning of the other is the smaller.
  return a.compare(b);
}

}  // namespace talvo
