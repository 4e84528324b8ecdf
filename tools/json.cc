#include "tools/json.h"

namespace talvo::tool {
namespace {

char* Put(char* p, std::string_view text) {
  for (char c : text) *p++ = c;
  return p;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  const std::size_t at = out.size();
  out.resize(at + JsonStringMaxSize(text.size()));
  char* const end = WriteJsonString(out.data() + at, text);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

char* WriteJsonString(char* dest, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char* p = dest;
  *p++ = '"';
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '"': p = Put(p, "\\\""); continue;
      case '\\': p = Put(p, "\\\\"); continue;
      case '\n': p = Put(p, "\\n"); continue;
      case '\r': p = Put(p, "\\r"); continue;
      case '\t': p = Put(p, "\\t"); continue;
      default: break;
    }
    if (b < 0x20 || b >= 0x7f) {
      p = Put(p, "\\u00");
      *p++ = kHex[b >> 4];
      *p++ = kHex[b & 0xF];
    } else {
      *p++ = c;
    }
  }
  *p++ = '"';
  return p;
}

}  // namespace talvo::tool
