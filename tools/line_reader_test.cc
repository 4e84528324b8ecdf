#include "tools/line_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "driver/record_dump.h"
#include "support/fake_env.h"
#include "tools/files.h"
#include "tools/host_session.h"
#include "tools/output.h"

namespace talvo::tool {
namespace {

// A pipe whose write end the test fills by hand.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
  }
  void Write(const std::string& bytes) {
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Close() {
    ::close(fds[1]);
    fds[1] = -1;
  }
  int fds[2] = {-1, -1};
};

// Calls `take` with every line of `bytes` as the reader returns it, and its
// number.
template <typename F>
void ReadLines(const std::string& bytes, std::size_t slice, F&& take,
               const std::function<void(LineReader&)>& setup = {}) {
  Pipe p;
  LineReader reader(p.fds[0], "pipe");
  if (setup) setup(reader);
  // Written in slices by another thread, each once the reader has taken the
  // one before, so that every read gets one slice and line ends fall across
  // reads.
  std::thread writer([&] {
    for (std::size_t at = 0; at < bytes.size(); at += slice) {
      p.Write(bytes.substr(at, slice));
      int unread = 1;
      while (::ioctl(p.fds[0], FIONREAD, &unread) == 0 && unread > 0) ::usleep(20);
    }
    p.Close();
  });
  std::string_view line;
  while (reader.Next(&line)) take(line, reader.line_number());
  writer.join();
}

std::vector<std::string> LinesOf(const std::string& bytes, std::size_t slice = 7) {
  std::vector<std::string> out;
  ReadLines(bytes, slice, [&](std::string_view line, uint64_t) { out.emplace_back(line); });
  return out;
}

TEST(LineReader, SplitsAtEveryLineEnd) {
  using Lines = std::vector<std::string>;
  struct Case {
    std::string in;
    Lines want;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\r\nb", {"a", "", "b"}},
      {"\n", {""}},
      {"\r\n\r\n", {"", ""}},
      {"x\n\r", {"x", ""}},
      {std::string("n\0l\n\xE9\xFF", 6), {std::string("n\0l", 3), "\xE9\xFF"}},
      // Line ends past the first 16 bytes a scan looks at together.
      {std::string(20, 'a') + "\r" + std::string(17, 'b') + "\n" + std::string(33, 'c') + "\r\nd",
       {std::string(20, 'a'), std::string(17, 'b'), std::string(33, 'c'), "d"}},
  };
  for (const Case& c : cases) EXPECT_EQ(LinesOf(c.in), c.want) << c.in;
}

TEST(LineReader, ACrAtTheEndOfOneReadAndAnLfAtTheStartOfTheNextAreOneLineEnd) {
  Pipe p;
  LineReader reader(p.fds[0], "pipe");
  std::string_view line;
  p.Write("first\r");
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "first");
  const uint64_t saved = reader.unread_offset();
  p.Write("\nsecond");
  p.Close();
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "second");
  EXPECT_EQ(reader.line_number(), 2u);
  EXPECT_FALSE(reader.Next(&line));

  // A run resumed at the place saved between CR and LF reads the same lines.
  char path[] = "/tmp/talvo-crlf-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string bytes = "first\r\nsecond";
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  LineReader resumed(fd, path);
  resumed.StartAt(saved, 1);
  ASSERT_TRUE(resumed.Next(&line));
  EXPECT_EQ(line, "second");
  EXPECT_EQ(resumed.line_number(), 2u);
  ::close(fd);
  ::unlink(path);
}

TEST(LineReader, LinesLongerThanItsBuffer) {
  const std::string big(1 << 19, 'q');  // four times the first buffer
  const auto lines = LinesOf("short\n" + big + "\r\nafter", 4096);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], big);
  EXPECT_EQ(lines[2], "after");
}

TEST(LineReader, AStoppedFollowTakesTheUnfinishedLineAsTheLast) {
  Pipe p;
  volatile std::sig_atomic_t stop = 1;
  FollowOptions follow;
  follow.follow = true;
  follow.stop = &stop;
  LineReader reader(p.fds[0], "pipe", follow);
  p.Write("done\nhalf");
  p.Close();
  std::string_view line;
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "done");
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "half");
  EXPECT_FALSE(reader.Next(&line));
}

// Reads what has arrived on `fd` within `ms` milliseconds.
std::string ReadWithin(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return "";
  char buf[256];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
}

TEST(LineReader, RowsHeldBackForAPipeAreWrittenBeforeTheInputIsWaitedFor) {
  Pipe in, out_pipe;
  Output out(out_pipe.fds[1], "pipe");
  LineReader reader(in.fds[0], "pipe");
  reader.set_before_wait([&] { out.FlushLive(); });
  in.Write("first\n");
  std::string_view line;
  ASSERT_TRUE(reader.Next(&line));
  out.Write("row of the first line\n");
  out.EndRow();
  EXPECT_EQ(ReadWithin(out_pipe.fds[0], 0), "") << "a pipe gets its rows in blocks";
  // The peer sends the next line only once it has seen the row: a reader
  // that waited without writing the row out would wait for five seconds.
  std::string seen;
  std::thread peer([&] {
    seen = ReadWithin(out_pipe.fds[0], 5000);
    in.Write("second\n");
    in.Close();
  });
  ASSERT_TRUE(reader.Next(&line));
  peer.join();
  EXPECT_EQ(seen, "row of the first line\n");
  EXPECT_EQ(line, "second");
}

TEST(LineReader, AStopAskedForWhileTheInputIsSilentEndsTheWait) {
  // The stop flag is set between reads, as by a signal that arrives just
  // before the reader would block: the reader must not wait for input that
  // may never come.
  Pipe p;
  volatile std::sig_atomic_t stop = 0;
  FollowOptions options;
  options.stop = &stop;
  LineReader reader(p.fds[0], "pipe", options);
  p.Write("done\n");
  std::string_view line;
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "done");
  stop = 1;
  std::atomic<bool> returned{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 300 && !returned; ++i) ::usleep(10000);
    if (!returned) p.Write("late\n");  // frees a reader that blocked: the test fails instead of hanging
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(reader.Next(&line));
  returned = true;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  watchdog.join();
}

// Every record and rejected stretch, with the texts of the stretch.
class DumpSink final : public HostSink {
 public:
  std::string text;
  void OnRecord(const DecodedRecord& r) override {
    text += std::to_string(r.lines.first) + " record " + DumpRecord(*r.record, r.call_date, r.call_index) + "\n";
  }
  void OnReject(const Reject& r) override {
    text += std::to_string(r.lines.first) + " reject " + std::string(r.first_text);
    for (const std::string& line : r.texts) text += " | " + line;
    text += "\n";
  }
};

// The session lends the driver each line from the reader's buffer. A line the
// driver keeps for a call not yet complete must outlive the reads that follow,
// which move the buffer's bytes: a two-line layout read in 7-byte slices
// decodes as it does from lines held apart.
TEST(LineReader, LinesHeldForAnIncompleteCallOutliveTheReadBuffer) {
  const std::string layouts = TALVO_LAYOUTS_SOURCE_DIR;
  TempDir dir;
  const std::string settings =
      dir.Put("layout.ini", ReadWholeFile(layouts + "/toshiba-strata-ctx-smdr.ini", "settings"));
  const std::string report = ReadWholeFile(layouts + "/samples/toshiba-strata-ctx-smdr.txt", "report");
  talvo::testing::FakeEnv env;
  env.use_system_profiles = true;
  const auto decode = [&](const auto& feed) {
    DumpSink sink;
    HostSession session(env, settings);
    session.Start();
    feed(session, sink);
    session.EndOfInput(sink);
    session.End();
    return sink.text;
  };

  const std::vector<std::string> held = LinesOf(report);
  const std::string want = decode([&](HostSession& session, HostSink& sink) {
    for (std::size_t i = 0; i < held.size(); ++i) session.Feed(held[i], i + 1, sink);
  });
  const std::string got = decode([&](HostSession& session, HostSink& sink) {
    ReadLines(report, 7, [&](std::string_view line, uint64_t number) { session.Feed(line, number, sink); });
  });
  // The lines are copied only when the reader is about to move its buffer.
  const std::string kept = decode([&](HostSession& session, HostSink& sink) {
    session.set_caller_keeps_lines(true);
    ReadLines(
        report, 7, [&](std::string_view line, uint64_t number) { session.Feed(line, number, sink); },
        [&](LineReader& reader) { reader.set_before_move([&session] { session.KeepLentLines(); }); });
  });
  EXPECT_NE(want.find(" record "), std::string::npos) << want;
  EXPECT_EQ(got, want);
  EXPECT_EQ(kept, want);
}

TEST(LineReader, AReadErrorNamesTheInput) {
  const int fd = ::open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  LineReader reader(fd, "somewhere");
  std::string_view line;
  try {
    reader.Next(&line);
    ADD_FAILURE() << "read a directory";
  } catch (const IoError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot read 'somewhere': Is a directory");
  }
  ::close(fd);
}

}  // namespace
}  // namespace talvo::tool
