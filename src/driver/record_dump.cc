#include "driver/record_dump.h"

#include <cstdio>

#include "util/short_text.h"

namespace talvo {

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x21 || b > 0x7e || c == '\\') {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FlagWords(uint32_t flags) {
  static constexpr struct {
    uint32_t bit;
    const char* word;
  } kWords[] = {
      {TALVO_FLAG_OUTGOING, "out"},      {TALVO_FLAG_INCOMING, "in"},       {TALVO_FLAG_CONVERTED, "converted"},
      {TALVO_FLAG_FOREIGN, "foreign"},   {TALVO_FLAG_INTERNAL, "internal"}, {TALVO_FLAG_PRIVATE, "private"},
      {TALVO_FLAG_ORIGINATING, "orig"},
  };
  std::string out;
  uint32_t rest = flags;
  for (const auto& w : kWords) {
    if ((flags & w.bit) == 0) continue;
    if (!out.empty()) out += '+';
    out += w.word;
    rest &= ~w.bit;
  }
  if (rest != 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", rest);
    if (!out.empty()) out += '+';
    out += buf;
  }
  return out.empty() ? "-" : out;
}

std::string DumpRecord(const CallRecord& r, std::string_view call_date, int32_t call_index) {
  const unsigned start_minute = r.StartMinute;
  const unsigned start_second = r.StartSecond;
  const int32_t duration = r.Duration;
  const int ring = r.RingSeconds;
  const int32_t pulses = r.Pulses;
  const uint32_t flags = r.Flags;
  char start[32];
  std::snprintf(start, sizeof start, "%02u:%02u:%02u", start_minute / 60, start_minute % 60, start_second);

  std::string out;
  out.reserve(160);
  out += "ext=" + EscapeText(TextOf(r.Extension));
  out += " ext2=" + EscapeText(TextOf(r.SecondExtension));
  out += " tg=" + EscapeText(TextOf(r.TrunkGroup));
  out += " trunk=" + EscapeText(TextOf(r.Trunk));
  out += " start=";
  out += start;
  out += " dur=" + std::to_string(duration);
  out += " ring=" + std::to_string(ring);
  out += " pulses=" + std::to_string(pulses);
  out += " flags=" + FlagWords(flags);
  out += " number=" + EscapeText(TextOf(r.Number));
  out += " account=" + EscapeText(TextOf(r.Account));
  out += " tcode=" + EscapeText(TextOf(r.TCode));
  out += " date=" + EscapeText(call_date);
  out += " index=" + std::to_string(call_index);
  return out;
}

}  // namespace talvo
