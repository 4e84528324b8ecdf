#include "parse/record_buffer.h"

#include <algorithm>

namespace talvo {

const std::string_view* RecordBuffer::Fetch(RecordLines& lines, int32_t i) {
  if (i < 0 || i >= kMaxLines) {
    if (!lines.Get(i, &beyond_)) return nullptr;
    beyond_view_ = beyond_;
    return &beyond_view_;
  }
  const auto k = static_cast<std::size_t>(i);
  if ((fetched_ >> k & 1u) == 0) {
    if (!lines.Get(i, &lines_[k])) return nullptr;
    views_[k] = lines_[k];
    fetched_ |= 1u << k;
  }
  return &views_[k];
}

bool RecordBuffer::Load(RecordLines& lines, int32_t count) { return LoadLines(lines, count, false); }

bool RecordBuffer::LoadLendingLast(RecordLines& lines, int32_t count) {
  fetched_ = 0;
  return LoadLines(lines, count, true);
}

bool RecordBuffer::LoadLines(RecordLines& lines, int32_t count, bool lend_last) {
  count_ = 0;
  total_ = 0;
  const int32_t n = std::clamp(count, 0, kMaxLines);
  const int32_t copied = lend_last && n > 0 ? n - 1 : n;
  bool ok = true;
  for (int32_t i = 0; i < copied && ok; ++i) ok = Fetch(lines, i) != nullptr;
  if (ok && copied < n) ok = lines.View(n - 1, &views_[static_cast<std::size_t>(n - 1)]);
  fetched_ = 0;
  if (!ok) return false;
  count_ = n;
  total_ = std::max(count, 0);
  return true;
}

void RecordBuffer::KeepLong(std::size_t k, std::string_view line) {
  kept_long_[k].assign(line);
  kept_views_[k] = kept_long_[k];
}

void RecordBuffer::Assign(std::initializer_list<std::string_view> lines) {
  fetched_ = 0;
  count_ = 0;
  for (std::string_view line : lines) {
    if (count_ == kMaxLines) break;
    const auto k = static_cast<std::size_t>(count_++);
    lines_[k].assign(line);
    views_[k] = lines_[k];
  }
  total_ = static_cast<int32_t>(lines.size());
}

}  // namespace talvo
