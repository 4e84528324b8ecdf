#include "parse/check_marker.h"

#include "util/text.h"

namespace talvo {

void CheckMarker(std::string_view line, uint8_t column, std::string_view expected, bool& ok) {
  expected = expected.substr(0, 10);
  if (column == 0 || expected.empty()) return;
  if (!ok) return;
  ok = CutText(line, column, static_cast<int32_t>(expected.size())) == expected;
}

}  // namespace talvo
