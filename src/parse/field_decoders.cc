#include "parse/field_decoders.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "util/text.h"

namespace talvo {
namespace {


}  // namespace

ShortText<6> PlainTrunk(std::string_view text) {
  text = text.substr(0, 6);
  ShortText<6> t;
  if (text.empty()) {
    t.assign("0");
    return t;
  }
  if (IsShortDigitRun(text)) {
    // The integer's own digits: leading zeros dropped, one digit at least.
    std::size_t first = 0;
    while (first + 1 < text.size() && text[first] == '0') ++first;
    t.assign(text.substr(first));
    return t;
  }
  if (const IntegerParse p = ParseInteger(text); p.error_pos == 0) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, p.value).ptr;
    t.assign(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  } else {
    t.assign(text);
  }
  return t;
}

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

ShortText<24> ExtractAlphanumerics(std::string_view line, uint8_t column, uint8_t width) {
  ShortText<24> result;
  ExtractCharsInto(result, line, column, width, [](char c) { return IsLetterOrDigit(c); });
  return result;
}

ShortText<6> ApplyTrunkBase(std::string_view base, std::string_view trunk, bool as_text) {
  base = base.substr(0, 6);
  trunk = trunk.substr(0, 6);
  ShortText<6> result;
  if (as_text) {
    char joined[12];
    std::memcpy(joined, base.data(), base.size());
    std::memcpy(joined + base.size(), trunk.data(), trunk.size());
    result.assign(std::string_view(joined, base.size() + trunk.size()));
    return result;
  }
  if (!base.empty() && IsShortDigitRun(base) && IsShortDigitRun(trunk)) {
    // Two plain numbers of at most six digits: their sum needs no wider
    // arithmetic and no general formatting.
    StoreDecimal(result, DigitRunValue(base) + DigitRunValue(trunk));
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

int32_t DecodePulsesField(std::string_view field, int32_t multiplier, bool& ok) {
  const std::string_view trimmed = TrimBlanks(field);
  if (trimmed.empty()) return 0;  // no pulses, whatever the multiplier
  if (IsShortDigitRun(trimmed)) {
    // A whole number of pulses: the product is exact in 64 bits, and exact
    // in a double below 2^53, where the rounding has nothing to round.
    const int64_t product = int64_t{multiplier} * int64_t{DigitRunValue(trimmed)};
    constexpr int64_t kExactInDouble = int64_t{1} << 53;
    if (product < kExactInDouble && product > -kExactInDouble) {
      return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(product)));
    }
  }
  const double x = ParseRealField(field, ok);
  return ScalePulses(multiplier, x, ok);
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
