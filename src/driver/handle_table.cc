#include "driver/handle_table.h"

namespace talvo {

int32_t HandleTable::Acquire() {
  for (int32_t i = 0; i < kSlots; ++i) {
    auto& slot = slots_[static_cast<std::size_t>(i)];
    if (!slot) {
      slot = std::make_unique<DriverSettings>();
      return i + 1;
    }
  }
  return 0;
}

void HandleTable::Release(int32_t handle) {
  if (handle < 1 || handle > kSlots) return;
  slots_[static_cast<std::size_t>(handle - 1)].reset();
}

}  // namespace talvo
