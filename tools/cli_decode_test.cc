// talvo decode, run as a program: line endings, edge inputs, the accounting
// of every line, formats, exit codes and live feeds.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/files.h"
#include "tools/tool_test_support.h"

namespace talvo::tool::testing {
namespace {

const std::string kCall1 = "260315 13:05:07 00:01:35 215  0521234567           003";
const std::string kHeader = "---- call report, page 1 ----";
const std::string kCall2 = "260315 13:07:00 00:00:12 216  0044123456789        001";
const std::string kBadTime = "260315 1?:07:00 00:00:12 216  0044123456789        001";

std::string Settings() { return TestData("one_line.ini"); }

std::string Join(const std::vector<std::string>& lines, const std::string& end, bool final_end = true) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += lines[i];
    if (final_end || i + 1 < lines.size()) out += end;
  }
  return out;
}

// Decodes `input` with the records and rejects (skipped lines too) in files,
// and checks that every input line is in exactly one record row or reject
// row, and that the summary counts them so.
void ExpectEveryLineAccounted(const std::string& settings, const std::string& input, const std::string& why) {
  ScratchDir dir;
  const std::string report = dir.Write("report.txt", input);
  const RunResult r = RunTool({"decode", "--settings", settings, "--line-numbers", "-o", dir.path() + "/out.csv",
                               "--rejects", dir.path() + "/rejects.csv", "--with-skipped", report});
  ASSERT_EQ(r.exit_code, 0) << why << "\n" << r.err;
  const std::size_t lines = CountLines(input);
  std::vector<int> seen(lines + 1, 0);
  Tally rows;
  auto mark = [&](const std::string& first, const std::string& last, uint64_t& count) {
    for (std::size_t n = std::stoul(first); n <= std::stoul(last); ++n) {
      ASSERT_LE(n, lines) << why;
      ++seen[n];
      ++count;
    }
  };
  const auto records = CsvRows(dir.Read("out.csv"));
  for (std::size_t i = 1; i < records.size(); ++i) mark(records[i][16], records[i][17], rows.in_records);
  const auto rejects = CsvRows(dir.Read("rejects.csv"));
  ASSERT_FALSE(rejects.empty()) << why << ": the reject file has its header";
  for (std::size_t i = 1; i < rejects.size(); ++i) {
    mark(rejects[i][1], rejects[i][2], rejects[i][3] == "skipped" ? rows.skipped : rows.rejected);
  }
  for (std::size_t n = 1; n <= lines; ++n) EXPECT_EQ(seen[n], 1) << why << ": line " << n;
  const auto summary = ExpectTallyAddsUp(r.err);
  ASSERT_TRUE(summary) << why << "\n" << r.err;
  EXPECT_EQ(summary->read, lines) << why;
  EXPECT_EQ(summary->in_records, rows.in_records) << why;
  EXPECT_EQ(summary->rejected, rows.rejected) << why;
  EXPECT_EQ(summary->skipped, rows.skipped) << why;
}

TEST(TalvoDecode, EveryLineEndingGivesTheSameRows) {
  const std::vector<std::string> lines = {kCall1, kHeader, kCall2};
  const RunResult want = RunTool({"decode", "-q", "--settings", Settings(), "--line-numbers"}, Join(lines, "\n"));
  ASSERT_EQ(want.exit_code, 0) << want.err;
  ASSERT_EQ(CsvRows(want.out).size(), 3u) << want.out;
  struct Case {
    std::string in;
    std::string name;
  } cases[] = {
      {Join(lines, "\r\n"), "CRLF"},
      {Join(lines, "\r"), "CR"},
      {Join(lines, "\n", false), "LF, no final end"},
      {Join(lines, "\r\n", false), "CRLF, no final end"},
      {Join(lines, "\r", false), "CR, no final end"},
      {kCall1 + "\r\n" + kHeader + "\r" + kCall2 + "\n", "mixed"},
  };
  for (const Case& c : cases) {
    const RunResult got = RunTool({"decode", "-q", "--settings", Settings(), "--line-numbers"}, c.in);
    EXPECT_EQ(got.exit_code, 0) << c.name;
    EXPECT_EQ(got.out, want.out) << c.name;
    EXPECT_EQ(got.err, want.err) << c.name;
  }
}

TEST(TalvoDecode, EveryLineIsInARecordOrReported) {
  struct Case {
    std::string settings;
    std::string in;
    std::string name;
  } cases[] = {
      {Settings(), Join({kCall1, kHeader, kCall2}, "\r\n"), "CRLF"},
      {Settings(), Join({kCall1, kCall2}, "\n", false), "no final newline"},
      {Settings(), "", "empty input"},
      {Settings(), "\n\n\r\n", "blank lines only"},
      {Settings(), kCall1 + "\n" + std::string(1 << 20, '7') + "\n" + kCall2 + "\n", "a 1 MB line"},
      {Settings(), kCall1 + "\n" + std::string("a\0b\xE9\xFF", 5) + "\n" + kCall2 + std::string("\0\x80", 2) + "\n",
       "NUL and high bytes"},
      {TestData("two_line.ini"), Join({"CALL 260315 13:05:07 00:01:35 215", "  TO 0521234567           003",
                                       "LOCAL 260315 14:00 215 216", "DUTY 260315 15:30 215 12",
                                       "CALL 260315 16:00:00 00:00:10 216", "  XX 0521234567           003",
                                       "CALL 260316 09:00:00 00:02:00 217"},
                                      "\n", false),
       "two-line layout with carried lines and a record left open"},
      {TestData("two_line.ini"), "DUTY 260315 15:30 215 12\nDUTY 260315 15:31 216 34\nx\n", "duty lines"},
  };
  for (const Case& c : cases) ExpectEveryLineAccounted(c.settings, c.in, c.name);
}

TEST(TalvoDecode, WritesCsvRowsWithTheDateInFull) {
  const RunResult r = RunTool({"decode", "-q", "--settings", Settings(), TestData("one_line.txt")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "date,start,duration,ring,kind,extension,second_extension,number,trunk_group,trunk,account,code,pulses,"
            "index,flags\n"
            "2026-03-15,13:05:07,95,0,outgoing,215,,0521234567,0,3,,,0,-1,\n"
            "2026-03-15,13:07:00,12,0,outgoing,216,,0044123456789,0,1,,,0,-1,\n"
            "1999-12-31,08:00:00,600,0,outgoing,300,,0800123,0,2,,,0,-1,\n");
}

TEST(TalvoDecode, WritesJsonLines) {
  const RunResult r = RunTool({"decode", "-q", "--format", "jsonl", "--settings", Settings()}, kCall1 + "\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"date\":\"2026-03-15\",\"start\":\"13:05:07\",\"duration\":95,\"ring\":0,\"kind\":\"outgoing\","
            "\"extension\":\"215\",\"second_extension\":\"\",\"number\":\"0521234567\",\"trunk_group\":\"0\","
            "\"trunk\":\"3\",\"account\":\"\",\"code\":\"\",\"pulses\":0,\"index\":-1,\"flags\":[]}\n");
}

TEST(TalvoDecode, NulAndHighBytesAreExactInRowsAndOneColumnEachForPeople) {
  ScratchDir dir;
  // A lone line that starts no call (skipped) and a call whose extension
  // holds a NUL (rejected).
  const std::string odd("a\0b\xE9", 4);
  const std::string bad_ext = "260315 13:05:07 00:01:35 2" + std::string(1, '\0') + "15  0521234567";
  const RunResult csv = RunTool({"decode", "-q", "--settings", Settings(), "--rejects", dir.path() + "/r.csv",
                                 "--with-skipped"},
                                odd + "\n" + bad_ext + "\n");
  EXPECT_EQ(csv.exit_code, 0);
  const std::string rows = dir.Read("r.csv");
  EXPECT_NE(rows.find("-,1,1,skipped,0,starts no call,a\\x00b\\xE9\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find(", columns 26-29\",260315 13:05:07 00:01:35 2\\x0015  0521234567\n"), std::string::npos) << rows;
  EXPECT_EQ(csv.err,
            "standard input, line 2: extension outside EXT_RANGE_ST..EXT_RANGE_END (100..999): \"2\xC2\xB7" "15\" "
            "in columns 26-29\n");
  const RunResult json = RunTool({"decode", "-q", "--format", "jsonl", "--settings", Settings(), "--rejects",
                                  dir.path() + "/r.jsonl", "--with-skipped"},
                                 odd + "\n");
  const std::string json_rows = dir.Read("r.jsonl");
  EXPECT_NE(json_rows.find("\"text\":\"a\\u0000b\\u00E9\"}"), std::string::npos) << json_rows;
  for (char c : json_rows) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "JSON output is plain ASCII";
}

TEST(TalvoDecode, AOneMegabyteLineIsSkippedAndTheNextLinesDecode) {
  ScratchDir dir;
  const std::string input = std::string(1 << 20, 'x') + "\n" + kCall2 + "\n";
  const RunResult r =
      RunTool({"decode", "--settings", Settings(), "--rejects", dir.path() + "/r.csv", "--with-skipped"}, input);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(CsvRows(r.out).size(), 2u);
  const auto skipped = RowsWhere(dir.Read("r.csv"), 3, "skipped");
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0][1], "1");
  EXPECT_EQ(skipped[0][6], std::string(200, 'x') + "...");
  EXPECT_NE(r.err.find("talvo: 2 lines read from 1 input = 1 in records + 0 rejected + 1 skipped"), std::string::npos)
      << r.err;
}

TEST(TalvoDecode, EmptyInputGivesTheHeaderAlone) {
  const RunResult r = RunTool({"decode", "--settings", Settings()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(CsvRows(r.out).size(), 1u);
  EXPECT_NE(r.err.find("talvo: 0 lines read from 1 input = 0 in records + 0 rejected + 0 skipped"), std::string::npos)
      << r.err;
}

TEST(TalvoDecode, ReportsLinesStillBufferedAtTheEnd) {
  ScratchDir dir;
  const RunResult r = RunTool({"decode", "--settings", TestData("two_line.ini"), "--line-numbers", "--rejects",
                               dir.path() + "/r.csv"},
                              "CALL 260315 13:05:07 00:01:35 215\n  TO 0521234567           003\n"
                              "CALL 260316 09:10:00 00:00:05 218\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(RowsWhere(r.out, 4, "outgoing").size(), 1u) << r.out;
  EXPECT_NE(r.err.find("standard input, line 3: the input ended before line 2 of 2 of the call (a line that shows "
                       "\"TO\" at column 3)\n"),
            std::string::npos)
      << r.err;
  const auto open = RowsWhere(dir.Read("r.csv"), 3, "incomplete");
  ASSERT_EQ(open.size(), 1u) << r.err;
  EXPECT_EQ(open[0][1], "3");
  EXPECT_EQ(open[0][2], "3");
  EXPECT_EQ(open[0][4], "");
}

TEST(TalvoDecode, RecordsOfSeveralLinesNameTheirLines) {
  const RunResult r = RunTool({"decode", "-q", "--settings", TestData("two_line.ini"), "--line-numbers",
                               TestData("two_line.txt")});
  EXPECT_EQ(r.exit_code, 0);
  const auto rows = CsvRows(r.out);
  ASSERT_EQ(rows.size(), 4u) << r.out;
  EXPECT_EQ(rows[1][16] + "-" + rows[1][17], "1-2");  // a two-line call
  EXPECT_EQ(rows[2][4], "internal");                 // the local call, ended by the next line
  EXPECT_EQ(rows[2][16] + "-" + rows[2][17], "3-3");
  EXPECT_EQ(rows[2][9], "9999");
}

TEST(TalvoDecode, ExitCodes) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int want;
  } cases[] = {
      {{"decode", "--settings", Settings()}, kCall1 + "\n" + kBadTime + "\n", 0},
      {{"decode", "--strict", "--settings", Settings()}, kCall1 + "\n" + kBadTime + "\n", 1},
      {{"decode", "--strict", "--settings", Settings()}, kCall1 + "\n" + kHeader + "\n\n", 0},  // skipped only
      {{"decode", "--settings", Settings(), "--today", "2004-02-30"}, "", 2},
      {{"decode", "--settings", Settings(), "--with-skipped"}, "", 2},
      {{"decode"}, "", 2},
      {{"decode", "--settings", Settings(), "--format", "xml"}, "", 2},
      {{"decode", "--settings", Settings(), "--no-such-option"}, "", 2},
      {{"frobnicate"}, "", 2},
      {{}, "", 2},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    const RunResult r = RunTool(c.args, c.input);
    EXPECT_EQ(r.exit_code, c.want) << shown << "\n" << r.err;
    if (c.want == 2) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << ": one line\n" << r.err;
    }
  }
  // A misspelt option is named as unknown, not taken for a missing one.
  const RunResult misspelt = RunTool({"decode", "--setings", Settings()});
  EXPECT_EQ(misspelt.exit_code, 2);
  EXPECT_EQ(misspelt.err, "talvo: unknown option --setings (see talvo --help)\n");
}

TEST(TalvoDecode, FilesThatCannotBeReadStopTheRunNamingTheFile) {
  ScratchDir dir;
  const std::string locked = dir.Write("locked.txt", kCall1 + "\n");
  ::chmod(locked.c_str(), 0);
  struct Case {
    std::vector<std::string> args;
    std::string names;
  } cases[] = {
      {{"decode", "--settings", dir.path() + "/missing.ini"}, "settings file '" + dir.path() + "/missing.ini'"},
      {{"decode", "--settings", Settings(), dir.path() + "/missing.txt"}, "'" + dir.path() + "/missing.txt'"},
      {{"decode", "--settings", Settings(), dir.path()}, "'" + dir.path() + "': Is a directory"},
      {{"decode", "--settings", Settings(), "--table", dir.path() + "/none.INT"}, "'" + dir.path() + "/none.INT'"},
      {{"decode", "--settings", Settings(), "-o", dir.path() + "/no/such/dir.csv"}, dir.path() + "/no/such/dir.csv"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunTool(c.args, kCall1 + "\n");
    EXPECT_EQ(r.exit_code, 2) << c.names;
    EXPECT_EQ(r.out, "") << c.names;
    EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  if (::geteuid() != 0) {  // root reads anything
    const RunResult r = RunTool({"decode", "--settings", Settings(), locked});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  }
}

TEST(TalvoDecode, ConversionTableFromAnotherFile) {
  ScratchDir dir;
  ASSERT_EQ(RunTool({"table", "build", "-", "-o", dir.path() + "/site.tbl"}, "0521,300\n").exit_code, 0);
  // Relative names given with --table still reach their files: the tool
  // changes directory only while the driver loads the table.
  const RunResult r =
      RunTool({"decode", "--settings", Settings(), "--table", "site.tbl", "-o", "out.csv"}, kCall1 + "\n", dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const auto rows = CsvRows(dir.Read("out.csv"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][5], "300");
  EXPECT_EQ(rows[1][6], "215");
  EXPECT_EQ(rows[1][14], "converted");
  EXPECT_NE(r.err.find("conversion table: site.tbl, 1 entry"), std::string::npos) << r.err;
}

TEST(TalvoDecode, SettingsNamesLongerThanTheDriverTakes) {
  // The driver keeps only the first 80 characters of the settings file name.
  ScratchDir dir;
  std::string deep = dir.path();
  while (deep.size() < 100) {
    deep += "/a-rather-long-directory-name";
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  }
  std::ifstream in(Settings(), std::ios::binary);
  std::ofstream(deep + "/one_line.ini", std::ios::binary) << in.rdbuf();
  const std::string settings = deep + "/one_line.ini";
  ASSERT_GT(settings.size(), 80u);
  const RunResult want = RunTool({"decode", "-q", "--settings", Settings()}, kCall1 + "\n");
  const RunResult got = RunTool({"decode", "-q", "--settings", settings}, kCall1 + "\n");
  EXPECT_EQ(got.exit_code, 0) << got.err;
  EXPECT_EQ(got.out, want.out);
  EXPECT_EQ(CsvRows(got.out).size(), 2u);
}

TEST(TalvoDecode, TraceShowsEveryLineAndEveryRecord) {
  const RunResult r = RunTool({"decode", "-q", "--trace", "--settings", Settings()}, kCall1 + "\n" + kHeader + "\n");
  EXPECT_NE(r.err.find("trace: -:1: result 2 (record)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("trace:   = ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("trace: -:2: result 1 (no record)"), std::string::npos) << r.err;
}

TEST(TalvoDecode, RejectFileHasItsHeaderEvenWhenNothingIsRejected) {
  ScratchDir dir;
  const RunResult r =
      RunTool({"decode", "-q", "--settings", Settings(), "--rejects", dir.path() + "/rejects.csv"}, kCall1 + "\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.Read("rejects.csv"), "input,first_line,last_line,status,error,reason,text\n");
}

// A running talvo with its standard output on a pipe.
struct Running {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

Running Start(const std::vector<std::string>& args, int stdin_fd = -1, int stdout_fd = -1) {
  int out[2], err[2];
  EXPECT_EQ(::pipe(out), 0);
  EXPECT_EQ(::pipe(err), 0);
  std::vector<std::string> store = {TALVO_TOOL_PATH};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (stdin_fd >= 0) ::dup2(stdin_fd, 0);
    ::dup2(stdout_fd >= 0 ? stdout_fd : out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  return {pid, out[0], err[0]};
}

// Reads from `fd` until `text` has arrived or 10 seconds have passed.
std::string ReadUntil(int fd, std::string& got, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

// Stops a running talvo with `signal`; with SIGTERM, reads its standard error
// up to the summary's last line into *err. Returns the wait status.
int Stop(Running& t, int signal, std::string* err = nullptr) {
  ::kill(t.pid, signal);
  if (err != nullptr) ReadUntil(t.err, *err, "conversion table");
  int status = 0;
  ::waitpid(t.pid, &status, 0);
  ::close(t.out);
  ::close(t.err);
  return status;
}

void Append(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(TalvoDecode, FollowsAGrowingReportAndShowsEachCallAsItArrives) {
  ScratchDir dir;
  const std::string report = dir.Write("live.txt", kCall1 + "\n");
  Running t = Start({"decode", "--follow", "--poll-ms", "20", "--settings", Settings(), report});
  std::string out;
  ReadUntil(t.out, out, ",0521234567,");
  EXPECT_NE(out.find(",215,,0521234567,"), std::string::npos) << "the first call, before the input ends";
  Append(report, kCall2 + "\n");
  ReadUntil(t.out, out, ",0044123456789,");
  EXPECT_NE(out.find(",216,,0044123456789,"), std::string::npos) << "a call appended later";
  Append(report, "260315 23:59:59 00:00:01 217  0044");  // no line end yet
  ::usleep(200000);
  std::string err;
  const int status = Stop(t, SIGTERM, &err);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(err.find("talvo: 3 lines read from 1 input"), std::string::npos) << err;
}

// Call i of a followed report: the dialled number ends in i, so each call
// can be found once in the output.
std::string FollowedCall(int i) {
  char line[64];
  std::snprintf(line, sizeof line, "260315 10:%02d:00 00:00:05 215  05212300%02d           001", i, i);
  return line;
}

// Waits up to `seconds` for `path` to hold `rows` rows after its header.
bool WaitForRows(const std::string& path, std::size_t rows, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    std::ifstream in(path);
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    if (lines >= rows + 1) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(10000);
  }
}

// tail -F: a file cut short is read again from its start, a rotated file is
// read to its end and the new one from its start, a file that disappears is
// waited for; a line cut off by a rotation is not joined to the next file.
// Every call written appears once in the output file, within a second, and
// a run stopped and started again appends to the output.
TEST(TalvoDecode, FollowingSurvivesTruncationRotationAndRemoval) {
  ScratchDir dir;
  const std::string report = dir.Write("pbx.log", "");
  const std::string output = dir.Write("calls.csv", "");
  const std::vector<std::string> args = {"decode", "--follow", "--poll-ms", "20", "--settings", Settings(),
                                         "-o", output, report};
  Running t = Start(args);
  int next = 0;
  std::size_t want = 0;
  const auto write_calls = [&](int n, const char* how, const std::string& path) {
    std::string text;
    for (int i = 0; i < n; ++i) text += FollowedCall(next++) + "\n";
    std::ofstream(path, std::string_view(how) == "a" ? std::ios::app : std::ios::trunc) << text;
    want += static_cast<std::size_t>(n);
  };
  write_calls(3, "a", report);
  EXPECT_TRUE(WaitForRows(output, want, 1.0)) << "rows reach the file within a second";
  write_calls(2, "w", report);  // cut short and written again
  EXPECT_TRUE(WaitForRows(output, want, 5.0)) << "after truncation";
  ::usleep(100000);
  Append(report, "260315 10:59");  // a line cut off by the rotation
  // Rotated so that the name is never missing (a poll between a rename and
  // the new file's creation would see the file gone, which is tested below):
  // the old file keeps a second name, and the new one takes the name in one
  // step.
  ASSERT_EQ(::link(report.c_str(), (report + ".1").c_str()), 0);
  write_calls(2, "w", report + ".new");
  ASSERT_EQ(std::rename((report + ".new").c_str(), report.c_str()), 0);
  EXPECT_TRUE(WaitForRows(output, want, 5.0)) << "after rotation";
  ::usleep(100000);
  ASSERT_EQ(std::remove(report.c_str()), 0);
  ::usleep(300000);
  write_calls(1, "w", report);
  EXPECT_TRUE(WaitForRows(output, want, 5.0)) << "after the file came back";
  std::string err;
  Stop(t, SIGTERM, &err);
  EXPECT_NE(err.find("cut short"), std::string::npos) << err;
  EXPECT_NE(err.find("replaced by a new file"), std::string::npos) << err;
  EXPECT_NE(err.find("gone"), std::string::npos) << err;
  const std::optional<Tally> tally = ExpectTallyAddsUp(err);
  ASSERT_TRUE(tally.has_value()) << err;
  EXPECT_EQ(tally->in_records, want);
  EXPECT_EQ(tally->rejected, 1u) << "the line cut off by the rotation stands alone";

  // Started again on the same output: the rows are appended, the header not repeated.
  std::ofstream(report) << FollowedCall(next++) << "\n";
  ++want;
  Running again = Start(args);
  EXPECT_TRUE(WaitForRows(output, want, 5.0));
  Stop(again, SIGTERM);
  const std::string rows = dir.Read("calls.csv");
  EXPECT_EQ(rows.find("date,"), 0u);
  EXPECT_EQ(rows.find("date,", 1), std::string::npos) << "one header";
  for (int i = 0; i < next; ++i) {
    char number[32];
    std::snprintf(number, sizeof number, ",05212300%02d,", i);
    const std::size_t first = rows.find(number);
    EXPECT_NE(first, std::string::npos) << number;
    EXPECT_EQ(rows.find(number, first + 1), std::string::npos) << number << " twice";
  }
}

// --state: a run killed at any moment and started again on the same state
// neither repeats nor skips a call.
TEST(TalvoDecode, StateResumesAfterAKillWithoutRepeatingOrSkipping) {
  ScratchDir dir;
  const std::string report = dir.Write("pbx.log", "");
  const std::string output = dir.Write("calls.csv", "");
  const std::vector<std::string> args = {"decode", "--follow", "--poll-ms", "20", "--settings", Settings(), "-o",
                                         output, "--state", dir.path() + "/state", report};
  int next = 0;
  const auto write_calls = [&](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += FollowedCall(next++) + "\n";
    Append(report, text);
  };
  Running t = Start(args);
  write_calls(4);
  EXPECT_TRUE(WaitForRows(output, 4, 5.0));
  // Killed at moments from at once to well after the calls arrived: each
  // call may or may not be decoded, written or saved when the run dies.
  for (int wait_ms : {0, 5, 15, 30, 60}) {
    write_calls(3);
    ::usleep(static_cast<useconds_t>(wait_ms) * 1000);
    Stop(t, SIGKILL);
    write_calls(1);  // while nobody follows
    t = Start(args);
  }
  write_calls(2);
  Append(report, "260315 11:");  // half a line when the run is killed
  ::usleep(40000);
  Stop(t, SIGKILL);
  Append(report, "00:00 00:00:05 215  0521239999           001\n");
  t = Start(args);
  EXPECT_TRUE(WaitForRows(output, static_cast<std::size_t>(next) + 1, 5.0));
  Stop(t, SIGTERM);

  const std::string rows = dir.Read("calls.csv");
  EXPECT_EQ(rows.find("date,", 1), std::string::npos) << "one header";
  for (int i = 0; i < next; ++i) {
    char number[32];
    std::snprintf(number, sizeof number, ",05212300%02d,", i);
    const std::size_t first = rows.find(number);
    EXPECT_NE(first, std::string::npos) << number << " skipped";
    EXPECT_EQ(rows.find(number, first + 1), std::string::npos) << number << " twice";
  }
  EXPECT_NE(rows.find(",0521239999,"), std::string::npos) << "the line finished after the kill";
  EXPECT_EQ(RunTool({"decode", "--settings", Settings(), "--state", "s", report}).exit_code, 2)
      << "--state needs --follow and -o";
}

}  // namespace
}  // namespace talvo::tool::testing

namespace talvo::tool::testing {
namespace {

TEST(TalvoDecode, ASignalEndsAnUnfinishedInputWithTheSummary) {
  int in[2];
  ASSERT_EQ(::pipe(in), 0);
  Running t = Start({"decode", "--settings", Settings(), "--line-numbers"}, in[0]);
  ::close(in[0]);
  const std::string lines = kCall1 + "\n" + kBadTime + "\n";
  ASSERT_EQ(::write(in[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  std::string out;
  ReadUntil(t.out, out, ",-,1,1\n");
  EXPECT_NE(out.find(",215,,0521234567,"), std::string::npos) << "written before the input ends";
  std::string err;
  ReadUntil(t.err, err, "line 2: ");  // both lines are in before the signal
  ::kill(t.pid, SIGINT);
  ReadUntil(t.err, err, "interrupted");
  int status = 0;
  ::waitpid(t.pid, &status, 0);
  ::close(in[1]);
  ::close(t.out);
  ::close(t.err);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(err.find("talvo: 2 lines read from 1 input = 1 in records + 1 rejected + 0 skipped"), std::string::npos)
      << err;
  EXPECT_NE(err.find("talvo: interrupted before the end of the input\n"), std::string::npos) << err;
}

}  // namespace
}  // namespace talvo::tool::testing

namespace talvo::tool::testing {
namespace {

// Waits for the run to end, reading what is left of its standard error into
// `err`; returns its exit code.
int Finish(Running& t, std::string& err) {
  ReadUntil(t.err, err, "\x01never\x01");
  int status = 0;
  ::waitpid(t.pid, &status, 0);
  ::close(t.out);
  ::close(t.err);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The lines of standard error that are not the tool's own messages: the
// readable lines of rejected stretches.
std::vector<std::string> ReadableRejects(const std::string& err) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < err.size()) {
    const std::size_t end = err.find('\n', pos);
    const std::string line = err.substr(pos, end - pos);
    if (line.rfind("talvo: ", 0) != 0) out.push_back(line);
    pos = end == std::string::npos ? err.size() : end + 1;
  }
  return out;
}

std::string Example(std::string_view name) { return std::string(TALVO_EXAMPLES) + "/" + std::string(name); }

TEST(TalvoDecode, BundledExampleShowsOnlyTheCallsThatFailed) {
  const std::vector<std::string> args = {"decode", "--settings", Example("pbx.ini"), "--table",
                                         Example("QUORCNVT.INT")};
  const std::string report = ReadWholeFile(Example("report.txt"), "report");
  const RunResult r = RunTool(args, report);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const auto shown = ReadableRejects(r.err);
  ASSERT_EQ(shown.size(), 5u) << r.err;
  const char* lines[] = {"line 17: start time invalid", "line 22: extension outside",
                         "line 36: local call: no called extension", "line 39: call date invalid",
                         "line 42: duty call: date invalid"};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_NE(shown[i].find(lines[i]), std::string::npos) << shown[i];
  EXPECT_EQ(shown[0], "standard input, line 17: start time invalid: \"1?:15:30\" in columns 10-17");
  EXPECT_NE(r.err.find("talvo: 45 lines read from 1 input = 33 in records + 5 rejected + 7 skipped\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("talvo: skipped: 1 blank line, 6 lines that start no call\n"), std::string::npos);

  // --strict fails because of those five calls, and only because of them.
  auto strict = args;
  strict.push_back("--strict");
  EXPECT_EQ(RunTool(strict, report).exit_code, 1);
  std::string without;
  std::size_t pos = 0;
  for (int n = 1; pos < report.size(); ++n) {
    const std::size_t end = report.find('\n', pos) + 1;
    if (n != 17 && n != 22 && n != 36 && n != 39 && n != 42) without += report.substr(pos, end - pos);
    pos = end;
  }
  const RunResult clean = RunTool(strict, without);
  EXPECT_EQ(clean.exit_code, 0) << clean.err;
}

TEST(TalvoDecode, BlankLinesAndHeadersAreSkippedAndBrokenCallsRejected) {
  const std::string input =
      "DAILY CALL REPORT               PAGE 1\n"
      "\n"
      "CALL 260315 13:05:07 00:01:35 215\n"
      "  TO 0521234567           003\n"
      "\n"
      "   \n"
      "CALL 260315 13:07:00 00:00:12 216\n"
      "\n"  // a blank line where line 2 of the call belongs
      "CALL 260315 13:09:00 00:00:12 217\n"
      "  TO 0521234567           003\n";
  const RunResult r = RunTool({"decode", "--settings", TestData("two_line.ini")}, input);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(CsvRows(r.out).size(), 3u) << r.out;
  const auto tally = ExpectTallyAddsUp(r.err);
  ASSERT_TRUE(tally) << r.err;
  EXPECT_EQ(tally->in_records, 4u);
  EXPECT_EQ(tally->rejected, 2u);
  EXPECT_EQ(tally->skipped, 4u);
  EXPECT_NE(r.err.find("talvo: skipped: 3 blank lines, 1 line that starts no call\n"), std::string::npos) << r.err;
  EXPECT_EQ(ReadableRejects(r.err),
            std::vector<std::string>{"standard input, lines 7-8 (line 8): line 2 of the call: CHK2 \"TO\" is not at "
                                     "column 3: nothing in columns 3-4"});
}

TEST(TalvoDecode, ReasonsNameOnlyTestsThatCanHaveFailed) {
  ScratchDir dir;
  const std::string one_line = ReadWholeFile(Settings(), "settings");
  const std::string private_marker = dir.Write("prv.ini", one_line + "PRV_CALLS=Y\nPRV_CHK1_POS=60\nPRV_CHK1_STR=P\n");
  struct Case {
    std::string settings;
    std::string line;
    std::string want;
  } cases[] = {
      {Settings(), kBadTime, "start time invalid: \"1?:07:00\" in columns 8-15"},
      // Error 42 without PRV_CALLS is the extension range alone.
      {Settings(), "260315 13:07:00 00:00:12 050  0044123456789",
       "extension outside EXT_RANGE_ST..EXT_RANGE_END (100..999): \"050 \" in columns 26-29"},
      // With PRV_CALLS, an extension in range was refused by the extension
      // check, after the private marker had recorded 42.
      {private_marker, "260315 13:07:00 00:00:12 215? 0044123456789",
       "PRV_CHK1 did not match, which refuses nothing; the call was refused by the extension check (no extension, "
       "or not letters and digits): \"215?\" in columns 26-29"},
      {private_marker, "260315 13:07:00 00:00:12 050  0044123456789",
       "extension outside EXT_RANGE_ST..EXT_RANGE_END (100..999): \"050 \" in columns 26-29"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunTool({"decode", "-q", "--settings", c.settings}, c.line + "\n");
    EXPECT_EQ(r.err, "standard input, line 1: " + c.want + "\n") << c.line;
  }
  // The driver reports error 32 (a duty marker tested on line 1) for a
  // two-line call whose second line is wrong; the reason is that line.
  const RunResult two = RunTool({"decode", "-q", "--settings", TestData("two_line.ini"), TestData("two_line.txt")});
  EXPECT_NE(two.err.find("lines 5-6 (line 6): line 2 of the call: CHK2 \"TO\" is not at column 3: \"XX\" in "
                         "columns 3-4\n"),
            std::string::npos)
      << two.err;
}

TEST(TalvoDecode, AnOutputIsNeverOverwrittenByAnotherOrReplacedByAFailedRun) {
  ScratchDir dir;
  const std::string old = "old records\n";
  const std::string calls = dir.Write("calls.csv", old);
  const std::string report = dir.Write("report.txt", kCall1 + "\n" + kBadTime + "\n");
  const std::vector<std::vector<std::string>> refused = {
      {"-o", calls, "--rejects", calls},
      {"-o", "calls.csv", "--rejects", "./sub/../calls.csv"},
      {"-o", "report.txt"},
      {"--rejects", "report.txt", "-o", "new.csv"},
  };
  ASSERT_EQ(::mkdir((dir.path() + "/sub").c_str(), 0700), 0);
  for (const auto& outputs : refused) {
    std::vector<std::string> args = {"decode", "--settings", Settings(), "report.txt"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    const RunResult r = RunTool(args, {}, dir.path());
    EXPECT_EQ(r.exit_code, 2) << outputs[1];
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    EXPECT_EQ(dir.Read("calls.csv"), old);
    EXPECT_EQ(dir.Read("report.txt"), kCall1 + "\n" + kBadTime + "\n");
    EXPECT_FALSE(std::ifstream(dir.path() + "/new.csv").good()) << "no file touched";
  }
  // --rejects /dev/stdout while standard output goes to the file.
  const int fd = ::open(calls.c_str(), O_WRONLY | O_APPEND);
  Running t = Start({"decode", "--settings", Settings(), "--rejects", "/dev/stdout", report}, -1, fd);
  ::close(fd);
  std::string err;
  EXPECT_EQ(Finish(t, err), 2);
  EXPECT_NE(err.find("would go to the same file"), std::string::npos) << err;
  EXPECT_EQ(dir.Read("calls.csv"), old);

  // A run stopped before the end of its input replaces nothing.
  int in[2];
  ASSERT_EQ(::pipe(in), 0);
  t = Start({"decode", "--settings", Settings(), "-o", calls}, in[0]);
  ::close(in[0]);
  const std::string lines = kCall1 + "\n" + kBadTime + "\n";
  ASSERT_EQ(::write(in[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  err.clear();
  ReadUntil(t.err, err, "line 2: ");
  ::kill(t.pid, SIGINT);
  EXPECT_EQ(Finish(t, err), 2);
  ::close(in[1]);
  EXPECT_EQ(dir.Read("calls.csv"), old);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 3u) << "calls.csv, report.txt, sub: no temporary file is left";

  // A run that reads its input to the end replaces the file.
  EXPECT_EQ(RunTool({"decode", "-q", "--settings", Settings(), "-o", calls, report}).exit_code, 0);
  EXPECT_EQ(CsvRows(dir.Read("calls.csv")).size(), 2u);
}

TEST(TalvoDecode, StandardErrorStaysBoundedAndBinaryInputWarnsOnce) {
  // 2 MB of bytes a third of which are NUL: a binary file given by mistake.
  std::string binary(2 << 20, '\0');
  uint32_t x = 12345;
  for (char& c : binary) {
    x = x * 1103515245u + 12345u;
    c = (x >> 16) % 3 == 0 ? '\0' : static_cast<char>(x >> 24);
  }
  const RunResult r = RunTool({"decode", "--settings", Settings()}, binary);
  EXPECT_EQ(r.exit_code, 0);
  std::size_t warnings = 0;
  for (std::size_t at = r.err.find("does not look like a report"); at != std::string::npos;
       at = r.err.find("does not look like a report", at + 1)) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 1u) << r.err.substr(0, 400);
  EXPECT_LT(r.err.size(), 8000u) << r.err.substr(0, 400);

  // At most 20 rejected stretches are told; the rest are counted.
  std::string bad;
  for (int i = 0; i < 30; ++i) bad += kBadTime + "\n";
  const RunResult many = RunTool({"decode", "--settings", Settings()}, bad);
  EXPECT_EQ(ReadableRejects(many.err).size(), 20u);
  EXPECT_NE(many.err.find("talvo: and 10 more rejected stretches: --rejects FILE lists them all\n"),
            std::string::npos)
      << many.err;
}

TEST(TalvoDecode, SettingsWarningsComeFirstAndStrictMakesThemFatal) {
  ScratchDir dir;
  std::string text = ReadWholeFile(Settings(), "settings");
  const std::string settings = dir.Write("typo.ini", text + "CHK1_PSO=3\nEXT_LNE=4\n");
  const RunResult r = RunTool({"decode", "--settings", settings}, kCall1 + "\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.find("talvo: warning: " + settings + ": key CHK1_PSO is not a setting of the driver; it is ignored\n"),
            0u)
      << r.err;
  EXPECT_NE(r.err.find("key EXT_LNE is not a setting"), std::string::npos);
  EXPECT_EQ(r.err.find("CHK1_PSO", r.err.find("CHK1_PSO") + 1), std::string::npos) << "once";
  const RunResult strict = RunTool({"decode", "--strict", "--settings", settings}, kCall1 + "\n");
  EXPECT_EQ(strict.exit_code, 1);
  EXPECT_EQ(strict.out, "") << "nothing decoded";
}

TEST(TalvoDecode, TodayIsTheDayYearlessDatesResolveAgainst) {
  ScratchDir dir;
  std::string text = ReadWholeFile(Settings(), "settings");
  text.erase(text.find("YEAR_POS=1\n"), 11);
  const std::string yearless = dir.Write("yearless.ini", text);
  struct Case {
    std::string today;
    std::string date;  // of a call printed on 15 March
  } cases[] = {
      {"2004-06-30", "2004-03-15"},
      {"2004-03-15", "2004-03-15"},
      {"2004-01-10", "2003-03-15"},  // a March after today's January is last year's
      {"1995-12-31", "1995-03-15"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunTool({"decode", "-q", "--settings", yearless, "--today", c.today}, kCall1 + "\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto rows = CsvRows(r.out);
    ASSERT_EQ(rows.size(), 2u) << r.err;
    EXPECT_EQ(rows[1][0], c.date) << c.today;
  }
}

}  // namespace
}  // namespace talvo::tool::testing
