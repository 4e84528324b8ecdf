// The collector's stream splitter on raw link bytes, any bytes, arriving in
// any chunks.
//
// Input: a flag byte (bit 0: the bytes come from a TCP link and may hold
// telnet commands), a seed byte for the chunk sizes, then the raw bytes.
//
// Checked: the lines, with the place each starts and ends, and where a new
// line would start, are those of a plain reading written here that takes the
// bytes one at a time (telnet commands out, LF, CRLF, a lone CR and telnet's
// CR NUL as line ends, a line kept to its first 64 KiB), whatever the chunks.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "tools/report_stream.h"

namespace {

using talvo::tool::ReportSplitter;
using talvo::tool::StreamPosition;
using talvo::tool::TelnetParser;

constexpr char kFuzzTarget[] = "report_stream_fuzzer";

struct Line {
  std::string text;
  uint64_t start, end;
  bool operator==(const Line&) const = default;
};

struct Result {
  std::vector<Line> lines;
  uint64_t next_start = 0;
  bool after_cr = false;
};

Result PlainReading(std::string_view raw, bool telnet) {
  Result r;
  TelnetParser parser;
  std::string line;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (telnet && !parser.Consume(c, nullptr)) continue;
    const uint64_t next = i + 1;
    if (r.after_cr) {
      r.after_cr = false;
      if (c == '\n' || (telnet && c == '\0')) {
        r.next_start = next;
        continue;
      }
    }
    if (c == '\n' || c == '\r') {
      r.lines.push_back({line, r.next_start, next});
      line.clear();
      r.next_start = next;
      r.after_cr = c == '\r';
      continue;
    }
    if (line.size() < ReportSplitter::kLineLimit) line.push_back(static_cast<char>(c));
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool telnet = (data[0] & 1) != 0;
  uint32_t seed = data[1] * 2654435761u + 1;
  const std::string_view raw(reinterpret_cast<const char*>(data) + 2, size - 2);

  ReportSplitter splitter(telnet);
  Result got;
  for (std::size_t at = 0; at < raw.size();) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t chunk = std::min<std::size_t>(raw.size() - at, 1 + (seed >> 16) % 97);
    splitter.Consume(0, at, raw.substr(at, chunk), [&](std::string_view text, StreamPosition start, StreamPosition end) {
      FUZZ_CHECK(start.file == 0 && end.file == 0);
      got.lines.push_back({std::string(text), start.offset, end.offset});
    });
    at += chunk;
  }
  got.next_start = splitter.line_start().offset;
  got.after_cr = splitter.after_cr();

  const Result want = PlainReading(raw, telnet);
  FUZZ_CHECK(got.lines == want.lines);
  FUZZ_CHECK(got.next_start == want.next_start);
  FUZZ_CHECK(got.after_cr == want.after_cr);
  return 0;
}
