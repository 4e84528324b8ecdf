// Helpers of the `talvo collect` tests: the layout's sample report and what
// `talvo decode` makes of it, a fake PBX on loopback and the collector as a
// child process.
#ifndef TALVO_TOOLS_COLLECT_TEST_SUPPORT_H_
#define TALVO_TOOLS_COLLECT_TEST_SUPPORT_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/tool_test_support.h"

namespace talvo::tool {

using namespace std::chrono_literals;
using testing::ScratchDir;

inline const std::string kLayout = "toshiba-strata-ctx-smdr";

std::string ReadFile(const std::string& path);

// The layout's sample report (calls of one and two lines), `copies` times.
std::string SampleReport(int copies);

// The record rows `talvo decode` writes for `report`.
std::string Decoded(const ScratchDir& dir, const std::string& report);

// What `talvo export` writes of `db` (of `site`'s calls when one is named).
std::string Exported(const std::string& db, const std::string& site = "");

// The archive's files, one after the other.
std::string ArchiveContents(const std::string& dir);

// Waits until `done` or `limit`; returns `done()`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s);

// A listening socket on 127.0.0.1 and an ephemeral port.
int ListenOnLoopback(uint16_t* port);
// A connection to 127.0.0.1:`port`; -1 when refused.
int ConnectToLoopback(uint16_t port);
bool SendAll(int fd, std::string_view bytes);

// A PBX whose report port is a TCP server: it streams the report in uneven
// bursts to whoever connects, going on where it stopped, and closes the
// connection after each of `drops` random points (mid-line included).
class FakePbx {
 public:
  FakePbx(std::string report, int drops, uint32_t seed, std::chrono::microseconds pause = 300us)
      : report_(std::move(report)), random_(seed), pause_(pause) {
    listener_ = ListenOnLoopback(&port_);
    std::uniform_int_distribution<std::size_t> at(1, report_.size() - 1);
    for (int i = 0; i < drops; ++i) drops_.push_back(at(random_));
    std::sort(drops_.begin(), drops_.end());
    thread_ = std::thread([this] { Run(); });
  }
  ~FakePbx() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }
  std::size_t sent() const { return sent_; }

 private:
  void Run() {
    std::uniform_int_distribution<std::size_t> burst(1, 400);
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      while (!stop_ && sent_ < report_.size()) {
        std::size_t n = std::min(burst(random_), report_.size() - sent_);
        while (!drops_.empty() && drops_.front() <= sent_) drops_.erase(drops_.begin());
        const bool drop = !drops_.empty() && sent_ + n >= drops_.front();
        if (drop) n = drops_.front() - sent_;
        if (!SendAll(fd, std::string_view(report_).substr(sent_, n))) break;
        sent_ += n;
        if (drop) break;
        std::this_thread::sleep_for(pause_);
      }
      // All sent: the link stays up until the collector goes.
      while (!stop_ && sent_ == report_.size()) {
        pollfd q{fd, POLLIN, 0};
        char c;
        if (::poll(&q, 1, 20) > 0 && ::recv(fd, &c, 1, 0) <= 0) break;
      }
      ::close(fd);
    }
  }

  std::string report_;
  std::mt19937 random_;
  std::chrono::microseconds pause_;
  std::vector<std::size_t> drops_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<std::size_t> sent_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// `talvo collect` running in `dir`, standard error appended to dir/collect.log.
class CollectProcess {
 public:
  // `link` and `store` are options: the link's, the database's (--db, --site).
  CollectProcess(const ScratchDir& dir, std::vector<std::string> link,
                 std::vector<std::string> store = {"--db", "calls.sqlite"})
      : log_(dir.path() + "/collect.log") {
    std::vector<std::string> args = {TALVO_TOOL_PATH, "collect", "--layout", kLayout, "--archive", "archive",
                                     "--reconnect-delay", "10ms", "--reconnect-max", "40ms"};
    args.insert(args.end(), link.begin(), link.end());
    args.insert(args.end(), store.begin(), store.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      const int log = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(log, 1);
      ::dup2(log, 2);
      if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~CollectProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  void Signal(int number) { ::kill(pid_, number); }
  // The exit code, or 128 + the signal.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Log() const { return ReadFile(log_); }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

// Waits until the database holds as many calls as `expected` has record
// rows, then stops the collector with `signal`; it must exit with 0.

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_COLLECT_TEST_SUPPORT_H_
