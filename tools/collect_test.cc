// talvo collect: the report stream, the collector's exactly-once store under
// failing disks, and the live tool against a fake PBX on loopback (TCP in
// both directions, a pseudo-terminal for a serial port, kill -9 and restart).
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tools/collect_test_support.h"
#include "tools/collector.h"
#include "tools/postgres_store.h"
#include "tools/report_stream.h"
#include "tools/sqlite_db.h"
#include "tools/sqlite_store.h"
#include "tools/tool_test_support.h"

namespace talvo::tool {
namespace {

// --- the stream --------------------------------------------------------------

// Splits `raw` in pieces of `step` bytes; "text@start" per line, joined by |.
std::string Split(std::string_view raw, bool telnet, std::size_t step) {
  ReportSplitter splitter(telnet);
  std::string out;
  for (std::size_t at = 0; at < raw.size(); at += step) {
    splitter.Consume(0, at, raw.substr(at, step), [&](std::string_view text, StreamPosition start, StreamPosition) {
      out += std::string(text) + "@" + std::to_string(start.offset) + "|";
    });
  }
  return out + "next@" + std::to_string(splitter.line_start().offset) + (splitter.after_cr() ? "+cr" : "");
}

TEST(ReportStream, LinesAndWhereTheyStartInEveryChunking) {
  struct Case {
    std::string raw;
    bool telnet;
    std::string lines;
  } cases[] = {
      {"ab\r\ncd\nef", false, "ab@0|cd@4|next@7"},
      {"ab\rcd\r", false, "ab@0|cd@3|next@6+cr"},
      {"\n\r\n\r\r", false, "@0|@1|@3|@4|next@5+cr"},
      // Telnet: CR NUL is a bare CR; IAC IAC a data byte; commands vanish.
      {std::string("ab\r\0cd\n", 7), true, "ab@0|cd@4|next@7"},
      {std::string("a\xff\xff" "b\n", 5), true, "a\xff" "b@0|next@5"},
      {"\xff\xfd\x01" "ab\xff\xf1\n\xff\xfa\x18\x01\xff\xf0" "c\n", true, "ab@0|c@8|next@16"},
      // Without telnet the same bytes are data.
      {"\xff\xfd\x01" "a\n", false, "\xff\xfd\x01" "a@0|next@5"},
  };
  for (const Case& c : cases) {
    for (std::size_t step : {std::size_t{1}, std::size_t{2}, std::size_t{3}, c.raw.size()}) {
      EXPECT_EQ(Split(c.raw, c.telnet, step), c.lines) << ::testing::PrintToString(c.raw) << " in steps of " << step;
    }
  }
}

TEST(ReportStream, TelnetRequestsAreRefused) {
  TelnetParser parser;
  std::string reply;
  std::string data;
  for (char c : std::string("\xff\xfd\x01\xff\xfb\x03\xff\xfc\x05\xff\xfe\x06ok", 14)) {
    if (parser.Consume(static_cast<unsigned char>(c), &reply)) data += c;
  }
  EXPECT_EQ(data, "ok");
  // DO ECHO -> WONT ECHO, WILL SGA -> DONT SGA; WONT and DONT need no answer.
  EXPECT_EQ(reply, std::string("\xff\xfc\x01\xff\xfe\x03", 6));
}

TEST(PostgresText, AnyBytesBecomeValidUtf8) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x93\x9e", "M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x93\x9e"},  // UTF-8 stays
      {"M\xfcller", "M\xc3\xbcller"},                        // Latin-1
      {std::string("a\0b", 3), "a\xef\xbf\xbd" "b"},             // NUL
      {"\xc0\xaf", "\xc3\x80\xc2\xaf"},                          // overlong
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},               // surrogate
      {"\xe2\x82", "\xc3\xa2\xc2\x82"},                          // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(ValidUtf8(c.in), c.out) << ::testing::PrintToString(c.in);
}

// --- shared helpers ------------------------------------------------------------

int64_t Count(const std::string& db, const std::string& sql) {
  if (!std::filesystem::exists(db)) return 0;
  try {
    SqliteDb d(db);
    return d.QueryInt(sql);
  } catch (const SqliteError&) {
    return 0;  // the collector is creating it
  }
}

// --- the collector in this process, with disks that fail -------------------------

// The archive's file layer with a switch that makes every write fail as on a
// full disk.
class FullDisk : public ArchiveFileLayer {
 public:
  long Write(int fd, const char* data, std::size_t size) override {
    if (full) return -ENOSPC;
    return ArchiveFileLayer::Write(fd, data, size);
  }
  bool full = false;
};

TEST(Collector, FullArchiveAndFullDatabaseLoseNothing) {
  ScratchDir dir;
  const std::string report = SampleReport(40);
  const std::string settings =
      dir.Write("pbx.ini", ReadFile(std::string(TALVO_LAYOUTS_SOURCE_DIR) + "/" + kLayout + ".ini"));
  FullDisk disk;
  const std::unique_ptr<Env> env = NewSystemEnv();
  Output log(2, "standard error");
  CollectorOptions options{settings, dir.path() + "/calls.sqlite", dir.path() + "/archive", "test", true};
  options.batch_calls = 50;
  Collector collector(options, *env, disk, log);
  collector.Recover();

  const std::size_t third = report.size() / 3;
  collector.Receive(std::string_view(report).substr(0, third));
  collector.Tick();
  const int64_t stored = Count(options.database, "SELECT count(*) FROM calls");
  EXPECT_GT(stored, 0);

  // The archive cannot be written: the bytes wait in memory, nothing past them is decoded.
  disk.full = true;
  collector.Receive(std::string_view(report).substr(third, third));
  collector.Tick();
  EXPECT_EQ(Count(options.database, "SELECT count(*) FROM calls"), stored);
  EXPECT_FALSE(collector.settled());
  disk.full = false;
  collector.Tick();

  // The database is full: decoding waits, the archive goes on.
  SqliteDb& db = dynamic_cast<SqliteStore&>(collector.store()).db();
  db.Exec("PRAGMA max_page_count = " + std::to_string(db.QueryInt("PRAGMA page_count")));
  collector.Receive(std::string_view(report).substr(2 * third));
  collector.Tick();
  EXPECT_GT(collector.counts().database_errors, 0u);
  db.Exec("PRAGMA max_page_count = 1000000");
  collector.Tick();
  collector.Tick();
  EXPECT_TRUE(collector.settled());
  EXPECT_EQ(collector.counts().archive_errors, 1u);

  EXPECT_EQ(ArchiveContents(options.archive), report);
  EXPECT_EQ(Exported(options.database), Decoded(dir, report));
  EXPECT_EQ(Count(options.database, "SELECT count(*) FROM events WHERE event IN ('archive-error', "
                                    "'archive-resumed', 'database-error', 'database-resumed')"),
            4);
}

TEST(Collector, NoiseAndHugeLinesAreArchivedAndSkippedWhileCallsGoOn) {
  ScratchDir dir;
  std::mt19937 random(11);
  std::string noise(20000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const std::string input = noise + "\n" + std::string(1 << 20, '7') + "\r\n" + SampleReport(2);
  const std::string settings =
      dir.Write("pbx.ini", ReadFile(std::string(TALVO_LAYOUTS_SOURCE_DIR) + "/" + kLayout + ".ini"));
  const std::unique_ptr<Env> env = NewSystemEnv();
  Output log(2, "standard error");
  CollectorOptions options{settings, dir.path() + "/calls.sqlite", dir.path() + "/archive", "serial test", false};
  // An archive whose last day is ahead of the clock: it is decoded at the
  // start, and the bytes received go on in the same file.
  const std::size_t half = input.size() / 2;
  std::filesystem::create_directory(options.archive);
  dir.Write("archive/2099-01-01.raw", input.substr(0, half));
  {
    Collector collector(options, *env, SystemArchiveFiles(), log);
    collector.Recover();
    for (std::size_t at = half; at < input.size(); at += 4096) {
      collector.Receive(std::string_view(input).substr(at, std::min<std::size_t>(4096, input.size() - at)));
    }
    collector.Tick();
    EXPECT_TRUE(collector.settled());
    // The noise and the long line start no call: skipped, as talvo decode skips them.
    EXPECT_GE(collector.counts().skipped + collector.counts().rejects, 2u);
  }
  EXPECT_EQ(dir.Read("archive/2099-01-01.raw"), input);
  EXPECT_EQ(Exported(options.database), Decoded(dir, input));
}

TEST(Collector, UpgradesAVersionOneDatabaseKeepingItsCallsAndPlace) {
  ScratchDir dir;
  const std::string report = SampleReport(5);
  const std::string settings =
      dir.Write("pbx.ini", ReadFile(std::string(TALVO_LAYOUTS_SOURCE_DIR) + "/" + kLayout + ".ini"));
  const std::unique_ptr<Env> env = NewSystemEnv();
  Output log(2, "standard error");
  CollectorOptions options{settings, dir.path() + "/new.sqlite", dir.path() + "/archive", "test", false};
  {
    Collector collector(options, *env, SystemArchiveFiles(), log);
    collector.Recover();
    collector.Receive(report);
    collector.Tick();
  }
  // The same rows in the tables of version 1: no site, no version table.
  options.database = dir.path() + "/old.sqlite";
  {
    SqliteDb old(options.database);
    old.Exec("ATTACH '" + dir.path() + "/new.sqlite' AS new");
    for (const char* table : {"calls", "rejects", "events"}) {
      old.Exec(std::string("CREATE TABLE ") + table + " AS SELECT * FROM new." + table + "; ALTER TABLE " + table +
               " DROP COLUMN site");
    }
    old.Exec("CREATE TABLE position AS SELECT archive, first_byte AS offset, after_cr FROM new.position");
  }
  options.site = "pbx1";
  {
    Collector collector(options, *env, SystemArchiveFiles(), log);
    collector.Recover();
    EXPECT_EQ(collector.counts().calls, 0u) << "decoding goes on from the stored place";
  }
  EXPECT_EQ(Count(options.database, "SELECT max(version) FROM schema_version"), 2);
  EXPECT_EQ(Count(options.database, "SELECT count(*) FROM calls WHERE site = 'pbx1'"),
            Count(options.database, "SELECT count(*) FROM calls"));
  EXPECT_EQ(Exported(options.database), Decoded(dir, report));
}
// --- the live tool against a fake PBX ------------------------------------------

void StopWhenStored(CollectProcess& collect, const ScratchDir& dir, const std::string& expected, int signal) {
  const auto calls = static_cast<int64_t>(testing::CsvRows(expected).size()) - 1;
  EXPECT_GT(calls, 0);
  EXPECT_TRUE(WaitFor([&] { return Count(dir.path() + "/calls.sqlite", "SELECT count(*) FROM calls") == calls; }))
      << collect.Log();
  collect.Signal(signal);
  EXPECT_EQ(collect.Wait(), 0) << collect.Log();
}

TEST(Collect, LinkDropsMidLineLoseNothingAndStoreNothingTwice) {
  ScratchDir dir;
  const std::string report = SampleReport(30);
  FakePbx pbx(report, 12, 20260315);
  CollectProcess collect(dir, {"--connect", "127.0.0.1:" + std::to_string(pbx.port())});
  const std::string expected = Decoded(dir, report);
  StopWhenStored(collect, dir, expected, SIGTERM);
  EXPECT_EQ(ArchiveContents(dir.path() + "/archive"), report);
  EXPECT_EQ(Exported(dir.path() + "/calls.sqlite"), expected);
  EXPECT_GE(Count(dir.path() + "/calls.sqlite", "SELECT count(*) FROM events WHERE event = 'disconnected'"), 12);
}

TEST(Collect, KillNineAtRandomInstantsThenRestartStoresEachCallOnce) {
  ScratchDir dir;
  const std::string report = SampleReport(60);
  FakePbx pbx(report, 0, 7, 2ms);
  const std::vector<std::string> link = {"--connect", "127.0.0.1:" + std::to_string(pbx.port())};
  std::mt19937 random(42);
  std::uniform_int_distribution<int> pause_ms(5, 60);
  for (int i = 0; i < 20; ++i) {
    CollectProcess collect(dir, link);
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    collect.Signal(SIGKILL);
    EXPECT_EQ(collect.Wait(), 128 + SIGKILL);
  }
  CollectProcess collect(dir, link);
  ASSERT_TRUE(WaitFor([&] { return pbx.sent() == report.size(); })) << collect.Log();
  std::this_thread::sleep_for(200ms);
  // What reached the archive before each kill is all stored, once.
  const std::string expected = Decoded(dir, ArchiveContents(dir.path() + "/archive"));
  StopWhenStored(collect, dir, expected, SIGTERM);
  EXPECT_EQ(Exported(dir.path() + "/calls.sqlite"), Decoded(dir, ArchiveContents(dir.path() + "/archive")));
}

TEST(Collect, ListenRefusesTelnetOptionsRunsTheLoginAndTurnsAwayASecondPbx) {
  ScratchDir dir;
  uint16_t port = 0;
  ::close(ListenOnLoopback(&port));  // a free port for the collector
  CollectProcess collect(dir, {"--listen", "127.0.0.1:" + std::to_string(port), "--expect", "Password:", "--send",
                               "secret\\r\\n"});
  int pbx = -1;
  ASSERT_TRUE(WaitFor([&] { return (pbx = ConnectToLoopback(port)) >= 0; })) << collect.Log();
  const std::string negotiation("\xff\xfd\x01\xff\xfb\x03", 6);
  ASSERT_TRUE(SendAll(pbx, negotiation + "Password:"));
  std::string answer;
  const std::string wanted = std::string("\xff\xfc\x01\xff\xfe\x03", 6) + "secret\r\n";
  ASSERT_TRUE(WaitFor([&] {
    char buf[64];
    pollfd p{pbx, POLLIN, 0};
    if (::poll(&p, 1, 10) > 0) {
      const ssize_t n = ::recv(pbx, buf, sizeof buf, 0);
      if (n > 0) answer.append(buf, static_cast<std::size_t>(n));
    }
    return answer.size() >= wanted.size();
  })) << collect.Log();
  EXPECT_EQ(answer, wanted);

  // A second PBX is closed at once while the first is connected.
  const int second = ConnectToLoopback(port);
  ASSERT_GE(second, 0);
  char c;
  EXPECT_EQ(::recv(second, &c, 1, 0), 0);
  ::close(second);

  const std::string report = SampleReport(3);
  ASSERT_TRUE(SendAll(pbx, "\r\n" + report));
  const std::string expected = Decoded(dir, report);
  StopWhenStored(collect, dir, expected, SIGINT);
  ::close(pbx);
  EXPECT_EQ(Exported(dir.path() + "/calls.sqlite"), expected);
  EXPECT_EQ(ArchiveContents(dir.path() + "/archive"), negotiation + "Password:\r\n" + report);
  const std::string db = dir.path() + "/calls.sqlite";
  EXPECT_EQ(Count(db, "SELECT count(*) FROM events WHERE event = 'refused'"), 1);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM events WHERE event = 'login'"), 1);
}

TEST(Collect, SerialPortThroughAPseudoTerminal) {
  ScratchDir dir;
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  CollectProcess collect(dir, {"--serial", name, "--baud", "19200"});
  ASSERT_TRUE(WaitFor([&] { return collect.Log().find("connected") != std::string::npos; })) << collect.Log();
  ::close(slave);  // the collector has the port in raw mode now
  const std::string report = SampleReport(10);
  std::mt19937 random(3);
  std::uniform_int_distribution<std::size_t> burst(1, 300);
  for (std::size_t at = 0; at < report.size();) {
    const std::size_t n = std::min(burst(random), report.size() - at);
    ASSERT_EQ(::write(master, report.data() + at, n), static_cast<ssize_t>(n));
    at += n;
  }
  const std::string expected = Decoded(dir, report);
  StopWhenStored(collect, dir, expected, SIGTERM);
  ::close(master);
  EXPECT_EQ(ArchiveContents(dir.path() + "/archive"), report);
  EXPECT_EQ(Exported(dir.path() + "/calls.sqlite"), expected);
}

}  // namespace
}  // namespace talvo::tool

namespace talvo::tool {
namespace {

// --follow: a report file another program writes, rotated and cut short while
// the collector follows it, and the collector killed and started again: the
// archive holds every byte written once, and the database each call once.
TEST(Collect, FollowingAFileThroughRotationTruncationAndKills) {
  ScratchDir dir;
  const std::string report = SampleReport(12);
  // Four parts, each ending at a line end.
  std::vector<std::string> parts;
  for (std::size_t from = 0, i = 1; i <= 4; ++i) {
    std::size_t to = i == 4 ? report.size() : report.find('\n', report.size() * i / 4) + 1;
    parts.push_back(report.substr(from, to - from));
    from = to;
  }
  const std::string log = dir.path() + "/pbx.log";
  const auto append = [&](const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
  };
  const std::vector<std::string> link = {"--follow", "pbx.log"};
  const auto archived = [&](std::size_t n) {
    return WaitFor([&] { return std::filesystem::exists(dir.path() + "/archive") &&
                                ArchiveContents(dir.path() + "/archive").size() >= n; });
  };
  append(log, parts[0]);
  {
    CollectProcess collect(dir, link);
    ASSERT_TRUE(archived(parts[0].size())) << collect.Log();
    collect.Signal(SIGKILL);
    collect.Wait();
  }
  append(log, parts[1]);  // while nobody follows
  CollectProcess collect(dir, link);
  ASSERT_TRUE(archived(parts[0].size() + parts[1].size())) << collect.Log();
  // Rotated so that the name is never missing: the old file keeps a second
  // name and the new one takes the name in one step.
  ASSERT_EQ(::link(log.c_str(), (log + ".1").c_str()), 0);
  append(log + ".new", parts[2]);
  ASSERT_EQ(std::rename((log + ".new").c_str(), log.c_str()), 0);
  ASSERT_TRUE(archived(parts[0].size() + parts[1].size() + parts[2].size())) << collect.Log();
  std::ofstream(log, std::ios::binary | std::ios::trunc) << "";  // cut short
  std::this_thread::sleep_for(1200ms);
  append(log, parts[3]);
  const std::string expected = Decoded(dir, report);
  StopWhenStored(collect, dir, expected, SIGTERM);
  EXPECT_EQ(ArchiveContents(dir.path() + "/archive"), report);
  EXPECT_EQ(Exported(dir.path() + "/calls.sqlite"), expected);
  const std::string events = collect.Log();
  EXPECT_NE(events.find("was rotated"), std::string::npos) << events;
  EXPECT_NE(events.find("cut short"), std::string::npos) << events;
}

}  // namespace
}  // namespace talvo::tool
