// Where a followed file is read on after a run stops.
#include "tools/follow_source.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tools/tool_test_support.h"

namespace talvo::tool {
namespace {

// A run stopped after the collector took a followed file's bytes and before
// the place was saved: the next run reads none of them again, whether the
// bytes came from the first file, from a file that took the path, or from a
// file cut short and written again.
TEST(FollowSource, ARunStoppedBeforeItsSaveReadsNothingTwice) {
  testing::ScratchDir dir;
  const std::string log = dir.Write("pbx.log", "a1\n");
  const std::string position = dir.path() + "/position";
  const auto ignore = [](const std::string&, const std::string&, const std::string&) {};
  uint64_t taken = 0;  // what the collector took: archived bytes
  const auto poll = [&](FollowSource& source) {
    std::string bytes;
    source.Poll(&bytes, std::size_t{1} << 20, taken);
    taken += bytes.size();
    return bytes;
  };
  const auto next_run = [&] {
    auto source = std::make_unique<FollowSource>(log, position, ignore);
    source->Start(taken);
    return source;
  };
  EXPECT_EQ(poll(*next_run()), "a1\n");
  auto run = next_run();
  EXPECT_EQ(poll(*run), "");
  ASSERT_EQ(::link(log.c_str(), (log + ".1").c_str()), 0);
  dir.Write("pbx.log.new", "b22\n");
  ASSERT_EQ(std::rename((log + ".new").c_str(), log.c_str()), 0);
  EXPECT_EQ(poll(*run), "b22\n");
  run = next_run();
  EXPECT_EQ(poll(*run), "");
  std::ofstream(log, std::ios::binary | std::ios::trunc) << "c\n";
  EXPECT_EQ(poll(*run), "c\n");
  EXPECT_EQ(poll(*next_run()), "");
}

}  // namespace
}  // namespace talvo::tool
