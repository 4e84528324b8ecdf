#include "tools/record_rows.h"

#include <algorithm>
#include <charconv>

#include "tools/csv.h"
#include "tools/json.h"

namespace talvo::tool {
namespace {

// The characters of a text[N] field of the record.
template <typename T>
std::string_view FieldText(const T& field) {
  return std::string_view(field.chars, std::min<std::size_t>(field.length, sizeof field.chars));
}

void AppendNumber(std::string& out, int64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void AppendTwoDigits(std::string& out, unsigned value) {
  if (value < 10) out += '0';
  AppendNumber(out, value);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void AppendStartTime(std::string& out, const CallRecord& r) {
  const unsigned minute = r.StartMinute;
  AppendTwoDigits(out, minute / 60);
  out += ':';
  AppendTwoDigits(out, minute % 60);
  out += ':';
  AppendTwoDigits(out, r.StartSecond);
}

// Calls `f` with the word of every flag the kind does not already say.
template <typename F>
void ForEachFlagWord(uint32_t flags, F&& f) {
  static constexpr struct {
    uint32_t bit;
    std::string_view word;
  } kWords[] = {
      {TALVO_FLAG_PRIVATE, "private"},
      {TALVO_FLAG_CONVERTED, "converted"},
      {TALVO_FLAG_FOREIGN, "foreign"},
      {TALVO_FLAG_ORIGINATING, "originating-extension"},
  };
  for (const auto& w : kWords) {
    if ((flags & w.bit) != 0) f(w.word);
  }
}

// Writes one row field by field, in either format.
class RowBuilder {
 public:
  RowBuilder(std::string& out, RowFormat format) : out_(out), format_(format) {
    if (format_ == RowFormat::kJsonl) out_ += '{';
  }
  void Text(std::string_view name, std::string_view value) {
    Name(name);
    if (format_ == RowFormat::kCsv) {
      AppendCsvField(out_, value);
    } else {
      AppendJsonString(out_, value);
    }
  }
  void Number(std::string_view name, int64_t value) {
    Name(name);
    AppendNumber(out_, value);
  }
  // A field built in place: plain characters that need no quoting in CSV
  // and are quoted as a string in JSON.
  template <typename F>
  void Plain(std::string_view name, F&& append) {
    Name(name);
    if (format_ == RowFormat::kJsonl) out_ += '"';
    append(out_);
    if (format_ == RowFormat::kJsonl) out_ += '"';
  }
  void Flags(std::string_view name, uint32_t flags) {
    Name(name);
    if (format_ == RowFormat::kCsv) {
      AppendFlagWords(out_, flags, '+');
      return;
    }
    out_ += '[';
    bool first = true;
    ForEachFlagWord(flags, [&](std::string_view word) {
      if (!first) out_ += ',';
      first = false;
      AppendJsonString(out_, word);
    });
    out_ += ']';
  }
  // An empty CSV field; null in JSON.
  void Null(std::string_view name) {
    Name(name);
    if (format_ == RowFormat::kJsonl) out_ += "null";
  }
  void End() { out_ += format_ == RowFormat::kJsonl ? "}\n" : "\n"; }

 private:
  void Name(std::string_view name) {
    if (format_ == RowFormat::kCsv) {
      if (!first_) out_ += ',';
    } else {
      if (!first_) out_ += ',';
      out_ += '"';
      out_.append(name);
      out_ += "\":";
    }
    first_ = false;
  }
  std::string& out_;
  RowFormat format_;
  bool first_ = true;
};

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
  if (d.size() != 6 || !std::all_of(d.begin(), d.end(), IsDigit)) {
    out.append(d);
    return;
  }
  out.append(d[0] <= '8' ? "20" : "19");
  out.append(d.substr(0, 2));
  out += '-';
  out.append(d.substr(2, 2));
  out += '-';
  out.append(d.substr(4, 2));
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
  for (char c : text.substr(0, limit)) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b <= 0x7e && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
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
  const CallRecord& r = *d.record;
  RowBuilder row(out_.buffer(), format_);
  scratch_.clear();
  AppendIsoDate(scratch_, d.call_date);
  row.Text("date", scratch_);
  row.Plain("start", [&](std::string& o) { AppendStartTime(o, r); });
  row.Number("duration", r.Duration);
  row.Number("ring", r.RingSeconds);
  row.Plain("kind", [&](std::string& o) { o.append(KindWord(d.kind)); });
  row.Text("extension", FieldText(r.Extension));
  row.Text("second_extension", FieldText(r.SecondExtension));
  row.Text("number", FieldText(r.Number));
  row.Text("trunk_group", FieldText(r.TrunkGroup));
  row.Text("trunk", FieldText(r.Trunk));
  row.Text("account", FieldText(r.Account));
  row.Text("code", FieldText(r.TCode));
  row.Number("pulses", r.Pulses);
  row.Number("index", d.call_index);
  row.Flags("flags", r.Flags);
  if (line_numbers_) {
    row.Text("input", input);
    row.Number("first_line", static_cast<int64_t>(d.lines.first));
    row.Number("last_line", static_cast<int64_t>(d.lines.last));
  }
  row.End();
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
  }
  return "";
}

void RejectWriter::Header() {
  if (format_ != RowFormat::kCsv) return;
  out_.Write(kRejectColumns);
  out_.Write("\n");
  out_.EndRow();
}

void RejectWriter::Write(const Reject& reject, std::string_view input) {
  RowBuilder row(out_.buffer(), format_);
  row.Text("input", input);
  row.Number("first_line", static_cast<int64_t>(reject.lines.first));
  row.Number("last_line", static_cast<int64_t>(reject.lines.last));
  row.Plain("status", [&](std::string& o) { o.append(StatusWord(reject.kind)); });
  if (reject.kind == RejectKind::kRejected) {
    row.Number("error", reject.error_code);
  } else {
    row.Null("error");
  }
  row.Text("reason", Reason(reject));
  scratch_.clear();
  if (format_ == RowFormat::kCsv) {
    AppendVisible(scratch_, reject.first_text, kRejectTextLimit);
  } else {
    scratch_.append(reject.first_text.substr(0, kRejectTextLimit));
    if (reject.first_text.size() > kRejectTextLimit) scratch_ += "...";
  }
  row.Text("text", scratch_);
  row.End();
  out_.EndRow();
}

}  // namespace talvo::tool
