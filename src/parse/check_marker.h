// Marker tests: does a fixed text stand at a fixed column of a line?
#ifndef TALVO_PARSE_CHECK_MARKER_H_
#define TALVO_PARSE_CHECK_MARKER_H_

#include <cstdint>
#include <string_view>

#include "config/driver_settings.h"

namespace talvo {

// Clears `ok` unless `expected` (cut to 10 characters) stands at 1-based
// `column` of `line`, byte for byte with letter case. Column 0 or an empty
// text tests nothing and leaves `ok` as it is; an `ok` already false stays false.
void CheckMarker(std::string_view line, uint8_t column, std::string_view expected, bool& ok);

// CheckMarker with a settings entry's column and text. Most entries of a
// layout are unconfigured, so that case is settled here without a call.
inline void CheckMarker(std::string_view line, const CheckEntry& entry, bool& ok) {
  if (entry.column == 0 || entry.text.empty() || !ok) return;
  CheckMarker(line, entry.column, entry.text.view(), ok);
}

// True iff `line` holds a space at 1-based `column` (a shorter line fails).
inline bool HasBlankAt(std::string_view line, uint8_t column) {
  return column >= 1 && column <= line.size() && line[column - 1u] == ' ';
}

}  // namespace talvo

#endif  // TALVO_PARSE_CHECK_MARKER_H_
