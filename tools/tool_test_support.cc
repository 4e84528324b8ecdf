#include "tools/tool_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace talvo::tool::testing {

RunResult RunTool(const std::vector<std::string>& args, std::string_view input, const std::string& cwd) {
  // A tool that exits before reading all its input must not take the test
  // process down with it.
  ::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv_store = {TALVO_TOOL_PATH};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Without a directory of its own, the run gets an empty one, so that no
  // QUORCNVT.INT lying around changes what the driver does.
  std::unique_ptr<ScratchDir> scratch;
  std::string dir = cwd;
  if (dir.empty()) {
    scratch = std::make_unique<ScratchDir>();
    dir = scratch->path();
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  ::fcntl(in[1], F_SETFL, O_NONBLOCK);

  RunResult r;
  std::size_t written = 0;
  bool in_open = true;
  if (input.empty()) {
    ::close(in[1]);
    in_open = false;
  }
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_open ? in[1] : -1, POLLOUT, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
      } else {
        (i == 0 ? out_open : err_open) = false;
        ::close(fds[i].fd);
      }
    }
    if (in_open && fds[2].revents != 0) {
      const ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) {
        ::close(in[1]);
        in_open = false;
      }
    }
  }
  if (in_open) ::close(in[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (!args.empty() && args[0] == "decode") ExpectTallyAddsUp(r.err);
  return r;
}

std::optional<Tally> ExpectTallyAddsUp(std::string_view err) {
  static const std::regex kSummary(
      R"(talvo: (\d+) lines? read from \d+ inputs? = (\d+) in records \+ (\d+) rejected \+ (\d+) skipped\n)");
  std::match_results<std::string_view::const_iterator> m;
  if (!std::regex_search(err.begin(), err.end(), m, kSummary)) return std::nullopt;
  const Tally t{std::stoull(m[1]), std::stoull(m[2]), std::stoull(m[3]), std::stoull(m[4])};
  EXPECT_EQ(t.read, t.in_records + t.rejected + t.skipped) << m[0];
  return t;
}

std::string TestData(std::string_view name) { return std::string(TALVO_TOOL_TESTDATA) + "/" + std::string(name); }

ScratchDir::ScratchDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/talvo-tool-test.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Write(const std::string& name, std::string_view bytes) const {
  const std::string file = path_ + "/" + name;
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + file);
  return file;
}

std::string ScratchDir::Read(const std::string& name) const {
  std::ifstream f(path_ + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::vector<std::string>> CsvRows(std::string_view text) {
  std::vector<std::vector<std::string>> rows;
  CsvReader reader(text);
  CsvRow row;
  while (reader.Next(row)) rows.push_back(row.fields);
  return rows;
}

std::vector<std::vector<std::string>> RowsWhere(std::string_view text, std::size_t column, std::string_view value) {
  std::vector<std::vector<std::string>> out;
  for (auto& row : CsvRows(text)) {
    if (column < row.size() && row[column] == value) out.push_back(row);
  }
  return out;
}

std::size_t CountLines(std::string_view bytes) {
  std::size_t lines = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' || bytes[i] == '\r') {
      ++lines;
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else if (i + 1 == bytes.size()) {
      ++lines;
    }
  }
  return lines;
}

}  // namespace talvo::tool::testing
