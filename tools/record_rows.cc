#include "tools/record_rows.h"

#include <algorithm>
#include <charconv>

#include "tools/csv.h"
#include "tools/json.h"

namespace talvo::tool {
namespace {

char* Put(char* p, std::string_view text) {
  for (char c : text) *p++ = c;
  return p;
}

// Two digits, or more for a value above 99.
char* PutTwoDigits(char* p, unsigned value) {
  if (value < 10) *p++ = '0';
  return std::to_chars(p, p + 8, value).ptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// YYMMDD as YYYY-MM-DD in `buf`; any other text is returned as it stands.
std::string_view IsoDate(std::string_view d, char (&buf)[10]) {
  if (d.size() != 6 || !std::all_of(d.begin(), d.end(), IsDigit)) return d;
  const bool last_century = d[0] == '9';
  const char iso[10] = {last_century ? '1' : '2', last_century ? '9' : '0', d[0], d[1], '-', d[2], d[3], '-', d[4], d[5]};
  std::copy(std::begin(iso), std::end(iso), buf);
  return std::string_view(buf, sizeof buf);
}

// HH:MM:SS of the record's start; the hour may run past 99 and the seconds
// past 59 when the host passed such a record in.
std::string_view StartTime(const CallRecord& r, char (&buf)[16]) {
  const unsigned minute = r.StartMinute;
  char* p = PutTwoDigits(buf, minute / 60);
  *p++ = ':';
  p = PutTwoDigits(p, minute % 60);
  *p++ = ':';
  p = PutTwoDigits(p, r.StartSecond);
  return std::string_view(buf, static_cast<std::size_t>(p - buf));
}

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

// Writes one row field by field straight into the output buffer: room for a
// field is made once, then its bytes are stored without a check per byte.
// End() completes the row; until then the buffer holds room past the row.
// The format is a template argument, so a CSV row carries no JSON branches;
// the per-field steps are forced inline, as a call per field costs more than
// the field's bytes.
template <RowFormat kFormat>
class RowBuilder {
 public:
  explicit RowBuilder(std::string& out) : out_(out), used_(out.size()) {
    if constexpr (kJson) Done(Put(Room(1), "{"));
  }
  RowBuilder(const RowBuilder&) = delete;
  RowBuilder& operator=(const RowBuilder&) = delete;
  ~RowBuilder() {
    if (!ended_) out_.resize(used_);  // a row left unfinished by an exception
  }

  [[gnu::always_inline]] void Text(std::string_view name, std::string_view value) {
    if constexpr (kJson) {
      Done(WriteJsonString(Name(name, JsonStringMaxSize(value.size())), value));
    } else {
      Done(WriteCsvField(Name(name, CsvFieldMaxSize(value.size())), value));
    }
  }
  [[gnu::always_inline]] void Number(std::string_view name, int64_t value) {
    char* p = Name(name, kNumberMaxSize);
    Done(std::to_chars(p, p + kNumberMaxSize, value).ptr);
  }
  // Plain characters that need no quoting in CSV and are quoted as a string
  // in JSON.
  [[gnu::always_inline]] void Plain(std::string_view name, std::string_view value) {
    char* p = Name(name, value.size() + 2);
    if constexpr (kJson) *p++ = '"';
    p = Put(p, value);
    if constexpr (kJson) *p++ = '"';
    Done(p);
  }
  void Flags(std::string_view name, uint32_t flags) {
    char* p = Name(name, FlagsMaxSize());
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
    Done(p);
  }
  // An empty CSV field; null in JSON.
  void Null(std::string_view name) { Done(Put(Name(name, 4), kJson ? "null" : "")); }
  void End() {
    Done(Put(Room(2), kJson ? "}\n" : "\n"));
    out_.resize(used_);
    ended_ = true;
  }

 private:
  static constexpr bool kJson = kFormat == RowFormat::kJsonl;
  static constexpr std::size_t kNumberMaxSize = 20;  // "-9223372036854775808"
  // Room is made in steps of at least this much.
  static constexpr std::size_t kStep = 256;

  // Writes the separator and, in JSON, the name; returns where the value goes,
  // with room for `value_size` bytes.
  [[gnu::always_inline]] char* Name(std::string_view name, std::size_t value_size) {
    char* p = Room(name.size() + 4 + value_size);
    if (!first_) *p++ = ',';
    first_ = false;
    if constexpr (kJson) {
      *p++ = '"';
      p = Put(p, name);
      *p++ = '"';
      *p++ = ':';
    }
    return p;
  }
  // Where the row goes on, with room for `n` bytes.
  [[gnu::always_inline]] char* Room(std::size_t n) {
    if (out_.size() - used_ < n) out_.resize(used_ + std::max(n, kStep));
    return out_.data() + used_;
  }
  [[gnu::always_inline]] void Done(char* end) { used_ = static_cast<std::size_t>(end - out_.data()); }

  std::string& out_;
  std::size_t used_;  // bytes of out_ written; the rest is room
  bool first_ = true;
  bool ended_ = false;
};

template <RowFormat kFormat>
void WriteRecordRow(std::string& out, const DecodedRecord& d, std::string_view input, bool line_numbers) {
  const CallRecord& r = *d.record;
  RowBuilder<kFormat> row(out);
  char iso[10];
  row.Text("date", IsoDate(d.call_date, iso));
  char start[16];
  row.Plain("start", StartTime(r, start));
  row.Number("duration", r.Duration);
  row.Number("ring", r.RingSeconds);
  row.Plain("kind", KindWord(d.kind));
  row.Text("extension", RecordFieldText(r.Extension));
  row.Text("second_extension", RecordFieldText(r.SecondExtension));
  row.Text("number", RecordFieldText(r.Number));
  row.Text("trunk_group", RecordFieldText(r.TrunkGroup));
  row.Text("trunk", RecordFieldText(r.Trunk));
  row.Text("account", RecordFieldText(r.Account));
  row.Text("code", RecordFieldText(r.TCode));
  row.Number("pulses", r.Pulses);
  row.Number("index", d.call_index);
  row.Flags("flags", r.Flags);
  if (line_numbers) {
    row.Text("input", input);
    row.Number("first_line", static_cast<int64_t>(d.lines.first));
    row.Number("last_line", static_cast<int64_t>(d.lines.last));
  }
  row.End();
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
  char iso[10];
  out.append(IsoDate(d, iso));
}

void AppendStartTime(std::string& out, const CallRecord& record) {
  char start[16];
  out.append(StartTime(record, start));
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
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool cut = text.size() > limit;
  text = text.substr(0, limit);
  // Runs of plain bytes are appended whole; a report line is nearly all one run.
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b <= 0x7e && b != '\\') continue;
    out.append(text.substr(run, i - run));
    const char escape[4] = {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
    out.append(escape, sizeof escape);
    run = i + 1;
  }
  out.append(text.substr(run));
  if (cut) out += "...";
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

void RecordWriter::Write(const DecodedRecord& d, std::string_view input) {
  if (format_ == RowFormat::kCsv) {
    WriteRecordRow<RowFormat::kCsv>(out_.buffer(), d, input, line_numbers_);
  } else {
    WriteRecordRow<RowFormat::kJsonl>(out_.buffer(), d, input, line_numbers_);
  }
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

template <RowFormat kFormat>
void WriteRejectRow(std::string& out, const Reject& reject, std::string_view input, std::string_view reason,
                    std::string& scratch) {
  RowBuilder<kFormat> row(out);
  row.Text("input", input);
  row.Number("first_line", static_cast<int64_t>(reject.lines.first));
  row.Number("last_line", static_cast<int64_t>(reject.lines.last));
  row.Plain("status", RejectWriter::StatusWord(reject.kind));
  if (reject.kind == RejectKind::kRejected || reject.kind == RejectKind::kSkipped) {
    row.Number("error", reject.error_code);
  } else {
    row.Null("error");
  }
  row.Text("reason", reason.empty() ? RejectWriter::Reason(reject) : reason);
  scratch.clear();
  if constexpr (kFormat == RowFormat::kCsv) {
    AppendVisible(scratch, reject.first_text, kRejectTextLimit);
  } else {
    scratch.append(reject.first_text.substr(0, kRejectTextLimit));
    if (reject.first_text.size() > kRejectTextLimit) scratch += "...";
  }
  row.Text("text", scratch);
  row.End();
}

void RejectWriter::Write(const Reject& reject, std::string_view input, std::string_view reason) {
  if (format_ == RowFormat::kCsv) {
    WriteRejectRow<RowFormat::kCsv>(out_.buffer(), reject, input, reason, scratch_);
  } else {
    WriteRejectRow<RowFormat::kJsonl>(out_.buffer(), reject, input, reason, scratch_);
  }
  out_.EndRow();
}

}  // namespace talvo::tool
