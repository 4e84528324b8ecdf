#include "driver/handle_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvo {
namespace {

TEST(HandleTable, HandsOutOneToTenThenZero) {
  HandleTable t;
  for (int32_t want = 1; want <= 10; ++want) EXPECT_EQ(t.Acquire(), want);
  EXPECT_EQ(t.Acquire(), 0);
}

TEST(HandleTable, ReusesTheLowestFreedSlot) {
  HandleTable t;
  for (int i = 0; i < 10; ++i) t.Acquire();
  t.Release(4);
  EXPECT_EQ(t.Acquire(), 4);
  EXPECT_EQ(t.Acquire(), 0);

  HandleTable u;
  u.Acquire();
  u.Acquire();
  u.Acquire();
  u.Release(2);
  u.Release(1);
  EXPECT_EQ(u.Acquire(), 1);
  EXPECT_EQ(u.Acquire(), 2);
}

TEST(HandleTable, IgnoresBadAndEmptyHandles) {
  HandleTable t;
  t.Acquire();
  t.Acquire();
  for (int32_t bad : {0, 11, -1, 7, INT32_MIN, INT32_MAX}) {
    t.Release(bad);
    EXPECT_EQ(t.Find(bad), nullptr) << bad;
  }
  t.Release(2);
  t.Release(2);  // a second close of the same handle changes nothing
  EXPECT_NE(t.Find(1), nullptr);
  EXPECT_EQ(t.Find(2), nullptr);
  EXPECT_EQ(t.Acquire(), 2);
  EXPECT_EQ(t.Acquire(), 3);
}

TEST(HandleTable, NewHandleHoldsTheMissingFileDefaults) {
  HandleTable t;
  const DriverSettings* s = t.Find(t.Acquire());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->line_count, 1);
  EXPECT_EQ(s->extension_column, 0);
  EXPECT_EQ(s->extension_line, 1);
  EXPECT_EQ(s->pulses_multiplier, 1);
  EXPECT_EQ(s->time_layout, TimeLayoutKind::kNone);
}

}  // namespace
}  // namespace talvo
