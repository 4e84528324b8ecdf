#include "parse/field_steps.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "parse/field_decoders.h"

namespace talvo {
namespace {

constexpr int32_t kCodeIndex = TALVO_ERR_INDEX;
constexpr int32_t kCodePulses = TALVO_ERR_PULSES;
constexpr int32_t kCodeLocalNumber = TALVO_ERR_LOCAL_NUMBER;
constexpr int32_t kCodeDutyExtension = TALVO_ERR_DUTY_EXTENSION;
constexpr int32_t kCodeDutyCode = TALVO_ERR_DUTY_CODE;

// Stores `prefix` followed by `text` into a bounded text field, cut to its
// capacity. `text` may lie in the field itself.
template <typename T>
void StorePrefixed(T& field, std::string_view prefix, std::string_view text) {
  constexpr std::size_t kCap = CapacityOf<T>();
  char joined[kCap];
  const std::size_t p = std::min(prefix.size(), kCap);
  if (p > 0) std::memcpy(joined, prefix.data(), p);
  const std::size_t t = std::min(text.size(), kCap - p);
  if (t > 0) std::memcpy(joined + p, text.data(), t);
  StoreText(field, std::string_view(joined, p + t));
}

// The trunk field when both its column and width are set and its line is buffered.
std::optional<std::string_view> TrunkField(const RecordDecode& d, uint8_t line, uint8_t col, uint8_t len) {
  if (col == 0 || len == 0) return std::nullopt;
  return d.Field(line, col, len);
}

using DcTrnEntries = decltype(DriverSettings::duty_second_extension_characters);

// The one character at `column` of `line`, or the empty text.
std::string_view CharAt(const RecordDecode& d, const CharEntry& at) {
  return d.FieldOrEmpty(at.line, at.column, 1);
}

}  // namespace

void DecodeDialledNumber(RecordDecode& d) {
  if (auto line = d.lines.Line(d.s.number_line)) d.state.dialled = ExtractDigits(*line, d.s.number_column, d.s.number_width);
}

void DecodeCallerNumber(RecordDecode& d) {
  if (auto line = d.lines.Line(d.s.caller_line)) d.caller = ExtractDigits(*line, d.s.caller_column, d.s.caller_width);
}

void DecodeIndex(RecordDecode& d) {
  if (d.s.index_column == 0) return;
  auto field = d.Field(d.s.index_line, d.s.index_column, d.s.index_width);
  if (!field) return;
  // Untrimmed: leading blanks are part of the integer syntax, trailing ones are not.
  const IntegerParse p = ParseInteger(*field);
  if (p.error_pos == 0) {
    d.out.call_index = p.value;
  } else {
    d.out.call_index = -1;
    d.state.record_ok = false;
  }
  d.Record(kCodeIndex);
}

void DecodePulses(RecordDecode& d) {
  if (!d.state.record_ok || d.s.pulses_column == 0) return;
  auto field = d.Field(d.s.pulses_line, d.s.pulses_column, d.s.pulses_width);
  if (!field) return;
  d.rec.Pulses = DecodePulsesField(*field, d.s.pulses_multiplier, d.state.record_ok);
  d.Record(kCodePulses);
}

void DecodeTrunkGroup(RecordDecode& d) {
  std::string_view group = TextOf(d.rec.TrunkGroup);
  if (auto field = TrunkField(d, d.s.trunk_group_line, d.s.trunk_group_column, d.s.trunk_group_width)) group = TrimBlanks(*field);
  const ShortText<6> plain = PlainTrunk(group);
  StoreText(d.rec.TrunkGroup, ApplyTrunkBase(d.s.trunk_group_base.view(), plain.view(), d.s.trunk_group_base_as_text).view());
}

void DecodeTrunk(RecordDecode& d) {
  std::string_view trunk = TextOf(d.rec.Trunk);
  if (auto field = TrunkField(d, d.s.trunk_line, d.s.trunk_column, d.s.trunk_width)) trunk = TrimBlanks(*field);
  const ShortText<6> plain = PlainTrunk(trunk);
  StoreText(d.rec.Trunk, plain.view());
}

void DecodeAccount(RecordDecode& d) {
  if (d.s.account_column == 0 || d.s.account_width == 0) return;
  auto line = d.lines.Line(d.s.account_line);
  if (!line) return;
  if (!d.s.account_is_extension) {
    const ShortText<24> digits = ExtractDigits(*line, d.s.account_column, d.s.account_width);
    const std::string_view a = digits.view().substr(0, 8);
    if (!a.empty()) StoreText(d.rec.Account, a);
    return;
  }
  // The account field carries the calling extension.
  std::string a(ExtractAlphanumerics(*line, d.s.account_column, d.s.account_width).view().substr(0, 8));
  if (a.empty()) return;
  if (d.s.account_drops_leading_zeros) a = Int64ToText(TextToIntDef(a)).substr(0, 8);
  StoreText(d.rec.SecondExtension, TextOf(d.rec.Extension));
  StoreText(d.rec.Extension, a);
  FinishExtension(d);
}

void DecodeExtension(RecordDecode& d) {
  auto field = d.Field(d.s.extension_line, d.s.extension_column, d.s.extension_width);
  if (!field) return;
  const std::string_view t = TrimBlanks(*field).substr(0, 8);
  if (!TextOf(d.rec.Extension).empty()) {
    StoreText(d.rec.SecondExtension, t);
  } else {
    StoreText(d.rec.Extension, t);
  }
  bool unused = true;  // "12A" reads as 12 and a leading letter as 0
  CheckExtensionRange(d, ParseIntField(TextOf(d.rec.Extension), unused));
}

void DecodeOriginatingExtension(RecordDecode& d) {
  if (d.s.originating_extension_column == 0) return;
  auto field = d.Field(d.s.originating_extension_line, d.s.originating_extension_column, d.s.originating_extension_width);
  if (!field) return;
  const std::string_view org = TrimBlanks(*field).substr(0, 8);
  if (org.find('-') != std::string_view::npos) {
    d.org_ext.clear();
  } else {
    d.org_ext.assign(org);
  }
}

void DecodeCode(RecordDecode& d) {
  if (!d.state.record_ok || d.s.code_column == 0 || d.s.code_width == 0) return;
  if (auto line = d.lines.Line(d.s.code_line)) {
    d.state.code.assign(ExtractAlphanumerics(*line, d.s.code_column, d.s.code_width).view());
  }
}

void DecodeDisa(RecordDecode& d) {
  auto field = d.Field(d.s.disa_line, d.s.disa_column, d.s.disa_width);
  if (!field) return;
  const std::string_view marker = TrimBlanks(*field);
  if (marker.size() == 1 && (marker[0] == 'Y' || marker[0] == 'y')) AddFlags(d.rec, TALVO_FLAG_CONVERTED);
}

void AddExtensionZerosAndPrefix(RecordDecode& d) {
  // Zeros in front up to EXT_LEN, the whole cut to 8 characters.
  const std::string_view current = TextOf(d.rec.Extension);
  char ext[8];
  std::size_t n = 0;
  if (d.s.extension_leading_zeros && d.s.extension_width > current.size()) {
    n = std::min<std::size_t>(d.s.extension_width - current.size(), sizeof ext);
    std::memset(ext, '0', n);
  }
  const std::size_t kept = std::min(current.size(), sizeof ext - n);
  if (kept > 0) std::memcpy(ext + n, current.data(), kept);
  StorePrefixed(d.rec.Extension, d.s.extension_prefix.view(), std::string_view(ext, n + kept));
}

void DecodeLocalCallParties(RecordDecode& d) {
  // A line that is not buffered reads as an empty field.
  const std::string_view org = TrimBlanks(d.FieldOrEmpty(d.s.local_caller_line, d.s.local_caller_column, d.s.local_caller_width));
  StorePrefixed(d.rec.Extension, d.s.extension_prefix.view(), org);
  d.state.dialled.assign(TrimBlanks(d.FieldOrEmpty(d.s.local_called_line, d.s.local_called_column, d.s.local_called_width)));
  if (d.state.dialled.empty()) d.state.local_call_pending = false;
  RecordCode(d.state.local_call_pending, kCodeLocalNumber, d.out.error_code);
}

void DecodeDutyCallParties(RecordDecode& d) {
  const std::string_view ext = d.FieldOrEmpty(d.s.duty_extension_line, d.s.duty_extension_column, d.s.duty_extension_width);
  StorePrefixed(d.rec.Extension, d.s.extension_prefix.view(), ext);
  d.state.record_ok = d.state.record_ok && !TextOf(d.rec.Extension).empty();
  d.Record(kCodeDutyExtension);

  // The first character replaces what the second extension held; the others
  // are added to it.
  const auto& trn = d.s.duty_second_extension_characters;
  static_assert(std::tuple_size_v<DcTrnEntries> == 4, "one replacing character and three added ones");
  char code[CapacityOf<decltype(d.rec.SecondExtension)>() + 3];
  std::size_t n = 0;
  const auto append = [&](std::string_view text) {
    for (char c : text) code[n++] = c;
  };
  append(trn[0].column != 0 ? CharAt(d, trn[0]) : TextOf(d.rec.SecondExtension));
  for (std::size_t i = 1; i < trn.size(); ++i) {
    if (trn[i].column != 0) append(CharAt(d, trn[i]));
  }
  StoreText(d.rec.SecondExtension, std::string_view(code, n));
  d.state.record_ok = d.state.record_ok && !TextOf(d.rec.SecondExtension).empty();
  d.Record(kCodeDutyCode);
}

}  // namespace talvo
