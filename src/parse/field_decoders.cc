#include "parse/field_decoders.h"

#include <charconv>
#include <cmath>
#include <string>

#include "util/text.h"

namespace talvo {
namespace {

template <typename Keep>
ShortText<24> ExtractChars(std::string_view line, uint8_t column, uint8_t width, Keep keep) {
  constexpr std::size_t kCap = ShortText<24>::kCapacity;
  ShortText<24> result;
  if (width == 0) return result;
  // The field's columns that the line has, 0-based; columns below 1 do not exist.
  const std::size_t from = column == 0 ? 0 : std::size_t{column} - 1;
  const std::size_t to = std::min(line.size(), std::size_t{column} + width - 1);
  // Everything before the first kept character is passed over, blanks too;
  // after it, the first blank ends the field. (At most `width` characters
  // are scanned, so no more than `width` are kept.)
  std::size_t i = from;
  while (i < to && !keep(line[i])) ++i;
  std::size_t n = 0;
  for (; i < to; ++i) {
    const char c = line[i];
    if (c == ' ') break;
    // A character that would make the text longer than 24 is dropped; the
    // scan goes on to the end of the field.
    if (keep(c) && n < kCap) result.chars[n++] = c;
  }
  result.length = static_cast<uint8_t>(n);
  return result;
}

}  // namespace

double ParseRealField(std::string_view text, bool& ok) {
  // Only a field with a comma is copied, to put the point in its place.
  std::string copy;
  if (const auto comma = text.find(','); comma != std::string_view::npos) {
    copy.assign(text);
    copy[comma] = '.';
    text = copy;
  }
  const std::string_view trimmed = TrimBlanks(text);
  if (trimmed.empty()) return 0.0;
  const RealParse p = ParseReal(trimmed);
  if (p.error_pos != 0) ok = false;
  return p.value;
}

ShortText<24> ExtractDigits(std::string_view line, uint8_t column, uint8_t width) {
  return ExtractChars(line, column, width, [](char c) { return IsDigit(c); });
}

ShortText<24> ExtractAlphanumerics(std::string_view line, uint8_t column, uint8_t width) {
  return ExtractChars(line, column, width, [](char c) { return IsLetterOrDigit(c); });
}

ShortText<6> ApplyTrunkBase(std::string_view base, std::string_view trunk, bool as_text) {
  base = base.substr(0, 6);
  trunk = trunk.substr(0, 6);
  ShortText<6> result;
  if (as_text) {
    std::string joined(base);
    joined.append(trunk);
    result.assign(joined);
    return result;
  }
  if (!base.empty()) {
    const IntegerParse t = ParseInteger(trunk);
    if (t.error_pos == 0) {
      const IntegerParse b = ParseInteger(base);
      if (b.error_pos == 0) {
        char sum[24];
        const auto end = std::to_chars(sum, sum + sizeof sum, int64_t{b.value} + int64_t{t.value}).ptr;
        result.assign(std::string_view(sum, static_cast<std::size_t>(end - sum)));
        return result;
      }
    }
  }
  result.assign(trunk);
  return result;
}

int32_t ScalePulses(int32_t multiplier, double pulses, bool& ok) {
  const double product = static_cast<double>(multiplier) * pulses;
  // 2^63: beyond it no 64-bit integer holds the rounded value.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(product) || product >= kLimit || product < -kLimit) {
    ok = false;
    return 0;
  }
  double whole = std::floor(product);
  const double fraction = product - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  if (whole >= kLimit) {
    ok = false;
    return 0;
  }
  // Keep the low 32 bits, as the record's field does.
  const auto wide = static_cast<int64_t>(whole);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}

}  // namespace talvo
