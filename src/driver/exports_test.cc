// The exports' calls seen from a host: handles, identification, and the sound
// handling of arguments a careless host may pass.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/fake_driver.h"
#include "support/test_host.h"
#include "talvo/driver.h"

namespace talvo {
namespace {

using testing::HostCarry;
using testing::HostLineList;
using testing::ShortString;

class ExportsTest : public ::testing::Test {
 protected:
  testing::FakeDriver fake;
};

TEST_F(ExportsTest, HandlesAreTakenLowestFirstAndReleased) {
  for (int32_t want = 1; want <= 10; ++want) EXPECT_EQ(fake.GetHandle(), want);
  EXPECT_EQ(fake.GetHandle(), 0);
  fake.ProcessClose(4);
  EXPECT_EQ(fake.GetHandle(), 4);
  for (int32_t bad : {0, 11, -1}) fake.ProcessClose(bad);
  EXPECT_EQ(fake.GetHandle(), 0);
}

TEST_F(ExportsTest, VersionIsExactlyNineBytes) {
  unsigned char buf[16];
  std::memset(buf, 0xAB, sizeof buf);
  DrvProcessVer(buf);
  EXPECT_EQ(buf[0], 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 1), 8), "TALVO 21");
  for (std::size_t i = 9; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0xAB) << "byte " << i << " written";
  DrvProcessVer(nullptr);  // no crash
}

TEST_F(ExportsTest, ProcessStartReturnsTrueWithoutATableFile) {
  const auto label = ShortString("run");
  EXPECT_EQ(fake.ProcessStart(label.data()), 1);
  fake.ProcessEnd(label.data());
  EXPECT_EQ(fake.ProcessStart(nullptr), 1);
  fake.ProcessEnd(nullptr);
  fake.ProcessEnd(nullptr);  // ending a run that is not open changes nothing
}

TEST_F(ExportsTest, InitDriverIgnoresHandlesThatAreNotTaken) {
  const auto file = ShortString("/nonexistent/settings.ini");
  for (int32_t bad : {0, -1, 11, 3}) {  // 3 is in range but not taken
    int32_t index_base = 77;
    fake.InitDriver(bad, file.data(), &index_base);
    EXPECT_EQ(index_base, 77) << "handle " << bad;
  }
  const int32_t h = fake.GetHandle();
  fake.InitDriver(h, nullptr, nullptr);  // no crash
  int32_t index_base = 77;
  fake.InitDriver(h, file.data(), &index_base);
  EXPECT_EQ(index_base, 0);
}

// Calls DrvProcessLine with everything valid except what `spoil` changes, and
// checks that nothing was written.
struct LineCall {
  int32_t handle;
  HostLineList list;
  HostCarry carry;
  CallRecord records[TALVO_RECORD_ENTRIES];
  unsigned char date[7];
  int32_t count = 3, index = 55, error = 0;

  LineCall() {
    std::memset(records, 0x5A, sizeof records);
    std::memset(date, 0x5A, sizeof date);
  }

  void ExpectUntouched() const {
    for (std::size_t i = 0; i < sizeof records; ++i) {
      ASSERT_EQ(reinterpret_cast<const unsigned char*>(records)[i], 0x5A) << "record byte " << i;
    }
    for (unsigned char c : date) EXPECT_EQ(c, 0x5A);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(index, 55);
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(carry.assigned);
  }
};

TEST_F(ExportsTest, ProcessLineRejectsBadHandlesWithoutSideEffects) {
  fake.GetHandle();  // handle 1 taken; 2 is not
  for (int32_t bad : {0, -1, 11, 2, INT32_MIN}) {
    LineCall c;
    c.list.lines = {"a line"};
    EXPECT_EQ(fake.ProcessLine(bad, c.list.list(), c.carry.text(), c.records, c.date, &c.count, &c.index,
                             &c.error),
              TALVO_RESULT_NO_RECORD)
        << bad;
    c.ExpectUntouched();
    EXPECT_EQ(c.list.lines.size(), 1u);
  }
}

TEST_F(ExportsTest, ProcessLineSurvivesNullArguments) {
  const int32_t h = fake.GetHandle();
  LineCall c;
  c.list.lines = {"a line"};
  EXPECT_EQ(fake.ProcessLine(h, nullptr, c.carry.text(), c.records, c.date, &c.count, &c.index, &c.error), 1);
  EXPECT_EQ(fake.ProcessLine(h, c.list.list(), nullptr, c.records, c.date, &c.count, &c.index, &c.error), 1);
  EXPECT_EQ(fake.ProcessLine(h, c.list.list(), c.carry.text(), nullptr, c.date, &c.count, &c.index, &c.error), 1);
  EXPECT_EQ(fake.ProcessLine(h, c.list.list(), c.carry.text(), c.records, nullptr, &c.count, &c.index, &c.error), 1);
  EXPECT_EQ(fake.ProcessLine(h, c.list.list(), c.carry.text(), c.records, c.date, nullptr, &c.index, &c.error), 1);
  EXPECT_EQ(fake.ProcessLine(h, c.list.list(), c.carry.text(), c.records, c.date, &c.count, nullptr, &c.error), 1);
  EXPECT_EQ(fake.ProcessLine(h, c.list.list(), c.carry.text(), c.records, c.date, &c.count, &c.index, nullptr), 1);
  LineList no_ops{nullptr};
  EXPECT_EQ(fake.ProcessLine(h, &no_ops, c.carry.text(), c.records, c.date, &c.count, &c.index, &c.error), 1);
  HostText no_assign{nullptr};
  EXPECT_EQ(fake.ProcessLine(h, c.list.list(), &no_assign, c.records, c.date, &c.count, &c.index, &c.error), 1);
  c.ExpectUntouched();
}

TEST_F(ExportsTest, ProcessLineWithEmptyOrFailingListReturnsNoRecord) {
  const int32_t h = fake.GetHandle();
  LineCall empty;
  EXPECT_EQ(fake.ProcessLine(h, empty.list.list(), empty.carry.text(), empty.records, empty.date, &empty.count,
                           &empty.index, &empty.error),
            TALVO_RESULT_NO_RECORD);
  empty.ExpectUntouched();

  LineCall failing;
  failing.list.lines = {"a line"};
  failing.list.fail_get = true;
  EXPECT_EQ(fake.ProcessLine(h, failing.list.list(), failing.carry.text(), failing.records, failing.date,
                           &failing.count, &failing.index, &failing.error),
            TALVO_RESULT_NO_RECORD);
  failing.ExpectUntouched();
}

}  // namespace
}  // namespace talvo
