#include "tools/record_rows.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "tools/csv.h"
#include "tools/json.h"

namespace talvo::tool {
namespace {

char* Put(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// "00" .. "99".
constexpr auto kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

char* PutPair(char* p, std::size_t value) {
  p[0] = kDigitPairs[2 * value];
  p[1] = kDigitPairs[2 * value + 1];
  return p + 2;
}

// The decimal digits of `value`, REQUIRES: value >= 100. The length is found
// by a few comparisons and the digits are stored two at a time from the end.
char* PutLongDecimal(char* p, uint64_t value) {
  std::size_t length = 3;
  for (uint64_t rest = value / 1000; rest != 0; rest /= 10) ++length;
  char* at = p + length;
  while (value >= 100) {
    at -= 2;
    PutPair(at, value % 100);
    value /= 100;
  }
  if (value >= 10) {
    PutPair(at - 2, value);
  } else {
    at[-1] = static_cast<char>('0' + value);
  }
  return p + length;
}

// The decimal digits of `value`. The numbers of a row are mostly short
// (seconds, pulses, an index, line numbers): one or two digits are written
// in place.
[[gnu::always_inline]] inline char* PutDecimal(char* p, uint64_t value) {
  if (value < 10) {
    *p = static_cast<char>('0' + value);
    return p + 1;
  }
  if (value < 100) return PutPair(p, value);
  return PutLongDecimal(p, value);
}

[[gnu::always_inline]] inline char* PutSigned(char* p, int64_t value) {
  if (value >= 0) return PutDecimal(p, static_cast<uint64_t>(value));
  *p++ = '-';
  return PutDecimal(p, 0 - static_cast<uint64_t>(value));
}

// Two digits, or more for a value above 99.
char* PutTwoDigits(char* p, unsigned value) { return value < 100 ? PutPair(p, value) : PutDecimal(p, value); }

// True iff `d` is YYMMDD, six digits.
bool IsShortDate(std::string_view d) {
  if (d.size() != 6) return false;
  const auto digit = [&](std::size_t i) { return static_cast<unsigned char>(d[i] - '0') <= 9; };
  return digit(0) & digit(1) & digit(2) & digit(3) & digit(4) & digit(5);
}

// REQUIRES: IsShortDate(d). Writes YYYY-MM-DD.
char* PutIsoDate(char* p, std::string_view d) {
  const bool last_century = d[0] == '9';
  const char iso[10] = {last_century ? '1' : '2', last_century ? '9' : '0', d[0], d[1], '-', d[2], d[3], '-', d[4], d[5]};
  return std::copy(std::begin(iso), std::end(iso), p);
}

// HH:MM:SS of the record's start; the hour may run past 99 and the seconds
// past 59 when the host passed such a record in.
char* PutStartTime(char* p, const CallRecord& r) {
  const unsigned minute = r.StartMinute;
  p = PutTwoDigits(p, minute / 60);
  *p++ = ':';
  p = PutPair(p, minute % 60);
  *p++ = ':';
  return PutTwoDigits(p, r.StartSecond);
}

// The most bytes PutStartTime writes: a five-digit hour, three-digit seconds.
constexpr std::size_t kStartTimeMaxSize = 5 + 1 + 2 + 1 + 3;

struct FlagWord {
  uint32_t bit;
  std::string_view word;
};
constexpr FlagWord kFlagWords[] = {
    {TALVO_FLAG_PRIVATE, "private"},
    {TALVO_FLAG_CONVERTED, "converted"},
    {TALVO_FLAG_FOREIGN, "foreign"},
    {TALVO_FLAG_ORIGINATING, "originating-extension"},
};

// The most bytes the flags take: every word quoted, with separators and brackets.
constexpr std::size_t FlagsMaxSize() {
  std::size_t n = 2;
  for (const FlagWord& w : kFlagWords) n += w.word.size() + 3;
  return n;
}

// Calls `f` with the word of every flag the kind does not already say.
template <typename F>
void ForEachFlagWord(uint32_t flags, F&& f) {
  for (const FlagWord& w : kFlagWords) {
    if ((flags & w.bit) != 0) f(w.word);
  }
}

// Eight bytes at a time: the high bit of a byte of the result is set where a
// byte of `x` matches. A bit may also be set above a byte that matches, never
// where no byte at or below it matches, so the low bytes of the result can
// be kept by a mask and still say exactly whether one of those bytes matches.
constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighs = 0x8080808080808080u;
constexpr uint64_t BytesEqual(uint64_t x, unsigned char c) {
  const uint64_t y = x ^ (kOnes * c);
  return (y - kOnes) & ~y & kHighs;
}
// Bytes below `c`; REQUIRES: c <= 0x80.
constexpr uint64_t BytesBelow(uint64_t x, unsigned char c) { return (x - kOnes * c) & ~x & kHighs; }
// Bytes from 0x7F up.
constexpr uint64_t BytesFromDelete(uint64_t x) { return ((x + kOnes) | x) & kHighs; }

// The bytes that may make a CSV field need quotes: all four (',', '"', CR,
// LF) lie below '-', and the digits and letters of a record's fields above.
// A field with a byte below '-' (a space, say) is written byte by byte.
constexpr uint64_t CsvSuspect(uint64_t x) { return BytesBelow(x, '-'); }
// The bytes a JSON string must escape.
constexpr uint64_t JsonSpecial(uint64_t x) {
  return BytesEqual(x, '"') | BytesEqual(x, '\\') | BytesBelow(x, 0x20) | BytesFromDelete(x);
}

// `n` bytes (at most 8) from `p`, the first in the lowest byte.
template <std::size_t n>
uint64_t LoadBytes(const char* p) {
  uint64_t x = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&x, p, n);
  } else {
    for (std::size_t i = 0; i < n; ++i) x |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  }
  return x;
}

// The characters of a text field of the record, as a CSV field or a JSON
// string. All the field's bytes are copied (a copy of known size), and those
// within the length are tested eight at a time; the rare field that may need
// quotes or escapes is written again byte by byte.
template <RowFormat kFormat, typename Field>
[[gnu::always_inline]] inline char* PutRecordField(char* p, const Field& field) {
  constexpr std::size_t N = sizeof field.chars;
  constexpr bool kJson = kFormat == RowFormat::kJsonl;
  const std::size_t length = std::min<std::size_t>(field.length, N);
  char* const start = p;
  if constexpr (kJson) *p++ = '"';
  std::memcpy(p, field.chars, N);
  uint64_t special = 0;
  [&]<std::size_t... i>(std::index_sequence<i...>) {
    (([&] {
       constexpr std::size_t at = 8 * i;
       constexpr std::size_t n = std::min<std::size_t>(8, N - at);
       if (length <= at) return;
       const uint64_t x = LoadBytes<n>(field.chars + at);
       const uint64_t hits = kJson ? JsonSpecial(x) : CsvSuspect(x);
       special |= length - at >= 8 ? hits : hits & ((uint64_t{1} << (8 * (length - at))) - 1);
     }()),
     ...);
  }(std::make_index_sequence<(N + 7) / 8>{});
  const std::string_view text(field.chars, length);
  if (special != 0) return kJson ? WriteJsonString(start, text) : WriteCsvField(start, text);
  p += length;
  if constexpr (kJson) *p++ = '"';
  return p;
}

// The most bytes a text field of N characters takes in a row.
constexpr std::size_t RecordTextMaxSize(std::size_t n) { return JsonStringMaxSize(n); }

// Writes one row field by field into a buffer with room for the whole row
// (the caller checked the room once). The format is a template argument, so a
// CSV row carries no JSON branches; the per-field steps are forced inline, as
// a call per field costs more than the field's bytes. Every field is written
// after a comma; the first comma is then left out of a CSV row and becomes
// the brace of a JSON object.
template <RowFormat kFormat>
class RowBuilder {
 public:
  explicit RowBuilder(char* row) : begin_(row), p_(row) {}

  // A field already written in the row's format (a cached CSV field or JSON string).
  [[gnu::always_inline]] void Written(std::string_view name, std::string_view field) {
    Name(name);
    p_ = std::copy(field.begin(), field.end(), p_);
  }
  [[gnu::always_inline]] void Text(std::string_view name, std::string_view value) {
    Name(name);
    p_ = kJson ? WriteJsonString(p_, value) : WriteCsvField(p_, value);
  }
  template <typename Field>
  [[gnu::always_inline]] void RecordText(std::string_view name, const Field& field) {
    Name(name);
    p_ = PutRecordField<kFormat>(p_, field);
  }
  [[gnu::always_inline]] void Number(std::string_view name, int64_t value) {
    Name(name);
    p_ = PutSigned(p_, value);
  }
  [[gnu::always_inline]] void Unsigned(std::string_view name, uint64_t value) {
    Name(name);
    p_ = PutDecimal(p_, value);
  }
  // Plain characters that need no quoting in CSV and are quoted as a string
  // in JSON, written by `put`.
  template <typename F>
  [[gnu::always_inline]] void Plain(std::string_view name, F&& put) {
    Name(name);
    if constexpr (kJson) *p_++ = '"';
    p_ = put(p_);
    if constexpr (kJson) *p_++ = '"';
  }
  [[gnu::always_inline]] void Plain(std::string_view name, std::string_view value) {
    Plain(name, [&](char* p) { return Put(p, value); });
  }
  void Flags(std::string_view name, uint32_t flags) {
    Name(name);
    char* p = p_;
    if constexpr (kJson) *p++ = '[';
    bool first = true;
    ForEachFlagWord(flags, [&](std::string_view word) {
      if (!first) *p++ = kJson ? ',' : '+';
      first = false;
      if constexpr (kJson) *p++ = '"';
      p = Put(p, word);
      if constexpr (kJson) *p++ = '"';
    });
    if constexpr (kJson) *p++ = ']';
    p_ = p;
  }
  // An empty CSV field; null in JSON.
  void Null(std::string_view name) {
    Name(name);
    if constexpr (kJson) p_ = Put(p_, "null");
  }
  // Where the next field goes, after its separator and name: for a field
  // written in place by the caller, which then calls Done().
  char* Next(std::string_view name) {
    Name(name);
    return p_;
  }
  void Done(char* end) { p_ = end; }
  // Completes the row; returns it.
  std::string_view End() {
    if constexpr (kJson) {
      *begin_ = '{';
      *p_++ = '}';
    }
    *p_++ = '\n';
    const char* const first = kJson ? begin_ : begin_ + 1;
    return std::string_view(first, static_cast<std::size_t>(p_ - first));
  }

  static constexpr bool kJson = kFormat == RowFormat::kJsonl;

 private:
  // Writes the separator and, in JSON, the name.
  [[gnu::always_inline]] void Name(std::string_view name) {
    *p_++ = ',';
    if constexpr (kJson) {
      *p_++ = '"';
      p_ = Put(p_, name);
      *p_++ = '"';
      *p_++ = ':';
    }
  }

  char* const begin_;
  char* p_;
};

// The most bytes PutVisible writes for `n` bytes of text.
constexpr std::size_t VisibleMaxSize(std::size_t n) { return 4 * n + 3; }

// Writes `text` cut to `limit` bytes ("..." marks a cut) with every byte
// outside ' '..'~' and the backslash written as \xNN. For a CSV field
// (kCsv), quotes are doubled and *needs_quotes is set when the text holds a
// comma or a quote; the escapes hold neither.
template <bool kCsv>
char* PutVisible(char* p, std::string_view text, std::size_t limit, bool* needs_quotes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool cut = text.size() > limit;
  text = text.substr(0, limit);
  // Eight bytes at a time while none needs a second look; a report line is
  // nearly all such bytes.
  std::size_t plain = 0;
  for (; plain + 8 <= text.size(); plain += 8) {
    const uint64_t x = LoadBytes<8>(text.data() + plain);
    uint64_t odd = BytesBelow(x, 0x20) | BytesFromDelete(x) | BytesEqual(x, '\\');
    if constexpr (kCsv) odd |= BytesEqual(x, ',') | BytesEqual(x, '"');
    if (odd != 0) break;
    std::memcpy(p, text.data() + plain, 8);
    p += 8;
  }
  for (char c : text.substr(plain)) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b <= 0x7e && b != '\\') {
      if constexpr (kCsv) {
        if (c == ',' || c == '"') {
          *needs_quotes = true;
          if (c == '"') *p++ = '"';
        }
      }
      *p++ = c;
    } else {
      p[0] = '\\';
      p[1] = 'x';
      p[2] = kHex[b >> 4];
      p[3] = kHex[b & 0xF];
      p += 4;
    }
  }
  return cut ? Put(p, "...") : p;
}

// The row buffer with room for `n` bytes: grown only for a row longer than
// any before.
char* RowRoom(std::vector<char>& row, std::size_t n) {
  if (row.size() < n) row.resize(std::max(n, 2 * row.size()));
  return row.data();
}

// The most bytes a number takes: "-9223372036854775808".
constexpr std::size_t kNumberMaxSize = 20;

// The most bytes of a record row but its date and input fields: every name,
// the longest value of each field, the row's brackets and end.
constexpr std::size_t kRecordRowMaxSize =
    4 + 18 * (4 + 16) +                                     // separators and names
    kStartTimeMaxSize + 2 +                                 // start
    7 * kNumberMaxSize + 2 + 8 +                            // numbers, kind
    RecordTextMaxSize(8) * 2 + RecordTextMaxSize(24) + RecordTextMaxSize(6) * 2 + RecordTextMaxSize(12) +
    RecordTextMaxSize(10) + FlagsMaxSize();
static_assert(sizeof(std::declval<CallRecord&>().Number.chars) == 24 &&
                  sizeof(std::declval<CallRecord&>().Account.chars) == 12 &&
                  sizeof(std::declval<CallRecord&>().TCode.chars) == 10,
              "kRecordRowMaxSize follows the record's text fields");

// KindWord's words, each in eight bytes, so that a row copies a known size.
struct KindWords {
  std::array<std::array<char, 8>, 4> text{};
  std::array<std::size_t, 4> size{};
};

KindWords MakeKindWords() {
  KindWords w;
  for (const RecordKind kind : {RecordKind::kOutgoing, RecordKind::kIncoming, RecordKind::kInternal, RecordKind::kDuty}) {
    const std::string_view word = KindWord(kind);
    const auto k = static_cast<std::size_t>(kind);
    w.size[k] = std::min(word.size(), w.text[k].size());
    std::copy_n(word.begin(), w.size[k], w.text[k].begin());
  }
  return w;
}

const KindWords kKindWords = MakeKindWords();

// `iso`: the date as YYYY-MM-DD, or empty when the driver's text is not
// YYMMDD and goes into the row as it stands.
template <RowFormat kFormat>
std::string_view WriteRecordRow(char* out, const DecodedRecord& d, const std::array<char, 10>* iso,
                                std::string_view input_field, bool line_numbers) {
  const CallRecord& r = *d.record;
  RowBuilder<kFormat> row(out);
  if (iso != nullptr) {
    row.Plain("date", [&](char* p) { return std::copy(iso->begin(), iso->end(), p); });
  } else {
    row.Text("date", d.call_date);
  }
  row.Plain("start", [&](char* p) { return PutStartTime(p, r); });
  row.Number("duration", r.Duration);
  row.Number("ring", r.RingSeconds);
  row.Plain("kind", [&](char* p) {
    const auto k = static_cast<std::size_t>(d.kind) & 3;
    std::memcpy(p, kKindWords.text[k].data(), kKindWords.text[k].size());
    return p + kKindWords.size[k];
  });
  row.RecordText("extension", r.Extension);
  row.RecordText("second_extension", r.SecondExtension);
  row.RecordText("number", r.Number);
  row.RecordText("trunk_group", r.TrunkGroup);
  row.RecordText("trunk", r.Trunk);
  row.RecordText("account", r.Account);
  row.RecordText("code", r.TCode);
  row.Number("pulses", r.Pulses);
  row.Number("index", d.call_index);
  row.Flags("flags", r.Flags);
  if (line_numbers) {
    row.Written("input", input_field);
    row.Unsigned("first_line", d.lines.first);
    row.Unsigned("last_line", d.lines.last);
  }
  return row.End();
}

constexpr std::string_view kRecordColumns =
    "date,start,duration,ring,kind,extension,second_extension,number,trunk_group,trunk,account,code,"
    "pulses,index,flags";
constexpr std::string_view kLineColumns = ",input,first_line,last_line";
constexpr std::string_view kRejectColumns = "input,first_line,last_line,status,error,reason,text";

}  // namespace

std::string_view ErrorWords(int32_t code) {
  switch (code) {
#define TALVO_TOOL_ERROR_WORDS_(value, name, text) \
  case value:                                      \
    return text;
    TALVO_ERROR_CODES(TALVO_TOOL_ERROR_WORDS_)
#undef TALVO_TOOL_ERROR_WORDS_
    default:
      return "unknown error code";
  }
}

std::string_view ResultWords(int32_t result) {
  switch (result) {
    case TALVO_RESULT_NO_RECORD: return "no record";
    case TALVO_RESULT_RECORD: return "record";
    case TALVO_RESULT_INCOMPLETE: return "incomplete";
    case TALVO_RESULT_DUTY: return "duty call";
    default: return "unknown result";
  }
}

void AppendIsoDate(std::string& out, std::string_view d) {
  if (!IsShortDate(d)) {
    out.append(d);
    return;
  }
  char iso[10];
  out.append(iso, static_cast<std::size_t>(PutIsoDate(iso, d) - iso));
}

void AppendStartTime(std::string& out, const CallRecord& record) {
  char start[kStartTimeMaxSize];
  out.append(start, static_cast<std::size_t>(PutStartTime(start, record) - start));
}

void AppendFlagWords(std::string& out, uint32_t flags, char separator) {
  bool first = true;
  ForEachFlagWord(flags, [&](std::string_view word) {
    if (!first) out += separator;
    first = false;
    out.append(word);
  });
}

void AppendVisible(std::string& out, std::string_view text, std::size_t limit) {
  const std::size_t at = out.size();
  out.resize(at + VisibleMaxSize(std::min(text.size(), limit)));
  char* const end = PutVisible<false>(out.data() + at, text, limit, nullptr);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void AppendReadable(std::string& out, std::string_view text, std::size_t limit) {
  const bool cut = text.size() > limit;
  for (char c : text.substr(0, limit)) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b <= 0x7e) {
      out += c;
    } else if (b < 0xA0) {
      out += "\xC2\xB7";  // U+00B7 MIDDLE DOT
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  if (cut) out += "...";
}

void RecordWriter::Header() {
  if (format_ != RowFormat::kCsv) return;
  out_.Write(kRecordColumns);
  if (line_numbers_) out_.Write(kLineColumns);
  out_.Write("\n");
  out_.EndRow();
}

std::string_view FieldCache::Field(std::string_view text) {
  if (has_last_ && text == last_text_) return last_field_;
  auto it = fields_.find(text);
  if (it == fields_.end()) {
    std::string field;
    if (format_ == RowFormat::kCsv) {
      AppendCsvField(field, text);
    } else {
      AppendJsonString(field, text);
    }
    if (fields_.size() >= kMostTexts) {
      spare_ = std::move(field);
      has_last_ = false;
      return spare_;
    }
    it = fields_.emplace(std::string(text), std::move(field)).first;
  }
  has_last_ = true;
  last_text_ = it->first;
  last_field_ = it->second;
  return last_field_;
}

void RecordWriter::Write(const DecodedRecord& d, std::string_view input) {
  const std::string_view input_field = line_numbers_ ? inputs_.Field(input) : std::string_view();
  // The date is YYYY-MM-DD, or the driver's text as it stands.
  const std::size_t date_size = std::max<std::size_t>(10 + 2, JsonStringMaxSize(d.call_date.size()));
  char* const room = RowRoom(row_, kRecordRowMaxSize + date_size + input_field.size());
  // Most rows carry the date of the row before.
  const std::array<char, 10>* iso = nullptr;
  if (d.call_date.size() == last_date_.size() && has_last_date_ &&
      std::memcmp(d.call_date.data(), last_date_.data(), last_date_.size()) == 0) {
    iso = &last_iso_;
  } else if (IsShortDate(d.call_date)) {
    PutIsoDate(last_iso_.data(), d.call_date);
    std::copy_n(d.call_date.begin(), last_date_.size(), last_date_.begin());
    has_last_date_ = true;
    iso = &last_iso_;
  }
  out_.Write(format_ == RowFormat::kCsv ? WriteRecordRow<RowFormat::kCsv>(room, d, iso, input_field, line_numbers_)
                                        : WriteRecordRow<RowFormat::kJsonl>(room, d, iso, input_field, line_numbers_));
  out_.EndRow();
}

bool IsNonRejectingTest(int32_t code) {
  return (code >= TALVO_ERR_DC_CHK1 && code <= TALVO_ERR_DC_CHK4) ||
         (code >= TALVO_ERR_EXT_RANGE_OR_PRV_CHK1 && code <= TALVO_ERR_PRV_CHK4);
}

std::string_view NonRejectingReason(int32_t code) {
  // The driver keeps the first code recorded, and these tests record theirs
  // without rejecting anything, so the code may name an earlier test rather
  // than the cause of the rejection.
  switch (code) {
#define TALVO_TOOL_HINTED_WORDS_(value, name, text) \
  case value:                                       \
    return text " (a marker test rejects nothing by itself: the record may have failed a later check)";
    TALVO_ERROR_CODES(TALVO_TOOL_HINTED_WORDS_)
#undef TALVO_TOOL_HINTED_WORDS_
    default:
      return ErrorWords(code);
  }
}

std::string_view RejectWriter::StatusWord(RejectKind kind) {
  switch (kind) {
    case RejectKind::kRejected: return "rejected";
    case RejectKind::kBuffered: return "incomplete";
    case RejectKind::kDropped: return "dropped";
    case RejectKind::kSkipped: return "skipped";
  }
  return "rejected";
}

std::string_view RejectWriter::Reason(const Reject& reject) {
  switch (reject.kind) {
    case RejectKind::kRejected:
      if (reject.error_code == 0) return "no call record (no reason recorded)";
      if (IsNonRejectingTest(reject.error_code)) return NonRejectingReason(reject.error_code);
      return ErrorWords(reject.error_code);
    case RejectKind::kBuffered:
      return "still buffered at the end of the input: an incomplete record, or a local or duty-call "
             "record waiting for its next line";
    case RejectKind::kDropped:
      return "an empty line that starts the next record; the carried-over line is dropped when empty";
    case RejectKind::kSkipped:
      return "starts no call";
  }
  return "";
}

void RejectWriter::Header() {
  if (format_ != RowFormat::kCsv) return;
  out_.Write(kRejectColumns);
  out_.Write("\n");
  out_.EndRow();
}

namespace {

template <RowFormat kFormat>
std::string_view WriteRejectRow(char* out, const Reject& reject, std::string_view input_field, std::string_view reason_field) {
  RowBuilder<kFormat> row(out);
  row.Written("input", input_field);
  row.Unsigned("first_line", reject.lines.first);
  row.Unsigned("last_line", reject.lines.last);
  row.Plain("status", RejectWriter::StatusWord(reject.kind));
  if (reject.kind == RejectKind::kRejected || reject.kind == RejectKind::kSkipped) {
    row.Number("error", reject.error_code);
  } else {
    row.Null("error");
  }
  row.Written("reason", reason_field);
  char* const at = row.Next("text");
  char* end;
  if constexpr (kFormat == RowFormat::kCsv) {
    // Written one place further on, then moved back when it needs no quotes.
    bool quote = false;
    end = PutVisible<true>(at + 1, reject.first_text, kRejectTextLimit, &quote);
    if (quote) {
      *at = '"';
      *end++ = '"';
    } else {
      end = std::copy(at + 1, end, at);
    }
  } else {
    end = WriteJsonString(at, reject.first_text.substr(0, kRejectTextLimit));
    if (reject.first_text.size() > kRejectTextLimit) {
      end[-1] = '.';
      end = Put(end, "..\"");
    }
  }
  row.Done(end);
  return row.End();
}

// The most bytes of a reject row but its input and reason fields.
constexpr std::size_t kRejectRowMaxSize = 4 + 7 * (4 + 10) + 3 * kNumberMaxSize + 12 +
                                          std::max(VisibleMaxSize(kRejectTextLimit) + 2,
                                                   JsonStringMaxSize(kRejectTextLimit) + 3);

}  // namespace

void RejectWriter::Write(const Reject& reject, std::string_view input, std::string_view reason) {
  const std::string_view input_field = inputs_.Field(input);
  const std::string_view reason_field = reasons_.Field(reason.empty() ? Reason(reject) : reason);
  char* const room = RowRoom(row_, kRejectRowMaxSize + input_field.size() + reason_field.size());
  out_.Write(format_ == RowFormat::kCsv ? WriteRejectRow<RowFormat::kCsv>(room, reject, input_field, reason_field)
                                        : WriteRejectRow<RowFormat::kJsonl>(room, reject, input_field, reason_field));
  out_.EndRow();
}

}  // namespace talvo::tool
