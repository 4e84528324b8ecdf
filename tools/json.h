// JSON strings from report bytes. The report's texts are single bytes of no
// fixed code page; they are read as Latin-1, so every byte becomes one
// character and the output is always valid UTF-8 (in fact plain ASCII):
// control bytes, DEL and bytes 0x80..0xFF are written as \u00XX.
#ifndef TALVO_TOOLS_JSON_H_
#define TALVO_TOOLS_JSON_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace talvo::tool {

// Appends `text` to `out` as a quoted JSON string.
void AppendJsonString(std::string& out, std::string_view text);

// The most bytes WriteJsonString writes for a text of `n` bytes.
constexpr std::size_t JsonStringMaxSize(std::size_t n) { return 6 * n + 2; }

// Writes `text` at `dest` as AppendJsonString appends it; returns the end.
// REQUIRES: room for JsonStringMaxSize(text.size()) bytes at `dest`.
char* WriteJsonString(char* dest, std::string_view text);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_JSON_H_
