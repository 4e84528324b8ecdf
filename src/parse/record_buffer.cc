#include "parse/record_buffer.h"

#include <algorithm>

namespace talvo {

bool RecordBuffer::Load(RecordLines& lines, int32_t count) {
  count_ = 0;
  total_ = 0;
  const int32_t n = std::clamp(count, 0, kMaxLines);
  for (int32_t i = 0; i < n; ++i) {
    if (!lines.Get(i, &lines_[static_cast<std::size_t>(i)])) return false;
  }
  count_ = n;
  total_ = std::max(count, 0);
  return true;
}

void RecordBuffer::Assign(std::initializer_list<std::string_view> lines) {
  count_ = 0;
  for (std::string_view line : lines) {
    if (count_ == kMaxLines) break;
    lines_[static_cast<std::size_t>(count_++)].assign(line);
  }
  total_ = static_cast<int32_t>(lines.size());
}

}  // namespace talvo
