// The table of ten handles: each slot is empty or holds one handle's settings.
#ifndef TALVO_DRIVER_HANDLE_TABLE_H_
#define TALVO_DRIVER_HANDLE_TABLE_H_

#include <array>
#include <cstdint>
#include <memory>

#include "config/driver_settings.h"

namespace talvo {

class HandleTable {
 public:
  static constexpr int32_t kSlots = 10;

  // Takes the lowest empty slot and returns its number (1..10), or 0 when all
  // are taken. A new handle's settings are those of a missing settings file.
  // Throws std::bad_alloc when the settings cannot be allocated (slot stays empty).
  int32_t Acquire();

  // Empties slot `handle`; handles outside 1..10 and empty slots are ignored.
  void Release(int32_t handle);

  // The settings of a taken handle, or nullptr for 0, a number outside 1..10
  // or an empty slot.
  DriverSettings* Find(int32_t handle) {
    if (handle < 1 || handle > kSlots) return nullptr;
    return slots_[static_cast<std::size_t>(handle - 1)].get();
  }

 private:
  std::array<std::unique_ptr<DriverSettings>, kSlots> slots_{};
};

}  // namespace talvo

#endif  // TALVO_DRIVER_HANDLE_TABLE_H_
