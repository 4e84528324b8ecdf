// talvo collect into PostgreSQL, against a throwaway server this binary
// starts in a temporary folder (initdb, pg_ctl; as root the server runs as
// `nobody`) and stops at the end: one server for all its tests. Without
// initdb, or as root without a user to run the server, every test is skipped
// with the reason (CTest shows the test as skipped).
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "tools/call_store.h"
#include "tools/collect_test_support.h"

namespace talvo::tool {
namespace {

class PostgresServer : public ::testing::Environment {
 public:
  void SetUp() override {
    // TALVO_POSTGRES_BINDIR names another server's programs.
    std::filesystem::path bin;
    if (const char* named = std::getenv("TALVO_POSTGRES_BINDIR")) {
      if (std::filesystem::exists(std::filesystem::path(named) / "initdb")) bin = named;
    } else {
      std::error_code ec;
      for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        if (std::filesystem::exists(e.path() / "bin" / "initdb") && e.path() / "bin" > bin) bin = e.path() / "bin";
      }
    }
    if (bin.empty()) {
      skip_ = "no PostgreSQL server: no initdb in TALVO_POSTGRES_BINDIR or /usr/lib/postgresql/*/bin (Debian "
              "package postgresql)";
      return;
    }
    bin_ = bin.string();
    if (::geteuid() == 0) {
      // PostgreSQL refuses to run as root.
      const passwd* user = ::getpwnam("nobody");
      if (user == nullptr) {
        skip_ = "running as root and there is no user 'nobody' to run PostgreSQL";
        return;
      }
      uid_ = user->pw_uid;
      gid_ = user->pw_gid;
    }
    char dir[] = "/tmp/talvo-pg-XXXXXX";
    if (::mkdtemp(dir) == nullptr || (uid_ != 0 && ::chown(dir, uid_, gid_) != 0)) {
      failure_ = "cannot make a folder for the server";
      return;
    }
    dir_ = dir;
    if (Run({bin_ + "/initdb", "-D", dir_ + "/data", "-U", "talvo", "--auth=trust", "-E", "UTF8", "--no-sync"}) !=
        0) {
      failure_ = "initdb failed: " + ReadFile(dir_ + "/setup.log");
      return;
    }
    if (!Start()) failure_ = "the server did not start: " + ReadFile(dir_ + "/server.log");
  }

  void TearDown() override {
    if (dir_.empty()) return;
    Run({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-m", "immediate", "-w", "stop"});
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Listens on a Unix socket in its folder only, no TCP port to collide with.
  bool Start() {
    return Run({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w", "-o",
                "-k " + dir_ + " -c listen_addresses='' -c fsync=off", "start"}) == 0;
  }
  bool Stop() { return Run({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-m", "fast", "-w", "stop"}) == 0; }

  std::string connection() const { return "host=" + dir_ + " user=talvo dbname=postgres"; }
  const std::string& skip() const { return skip_; }
  const std::string& failure() const { return failure_; }

 private:
  // Runs a server program as the server's user; its exit code.
  int Run(std::vector<std::string> args) const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (uid_ != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0)) ::_exit(126);
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      const int log = ::open("setup.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(log, 1);
      ::dup2(log, 2);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }

  std::string bin_, dir_, skip_, failure_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

PostgresServer* server = nullptr;

#define REQUIRE_SERVER()                                          \
  do {                                                            \
    if (!server->skip().empty()) GTEST_SKIP() << server->skip();  \
    ASSERT_TRUE(server->failure().empty()) << server->failure(); \
  } while (false)

// The first column of `sql`'s first row, with $1 the site; 0 while the
// tables are not there.
int64_t Count(const std::string& sql, const std::string& site) {
  try {
    int64_t n = 0;
    OpenCallStore(server->connection(), site, true)
        ->Query(sql, {site}, [&n](const std::vector<std::string_view>& c) { n = std::atoll(std::string(c[0]).c_str()); });
    return n;
  } catch (const IoError&) {
    return 0;
  }
}

int64_t Calls(const std::string& site) { return Count("SELECT count(*) FROM calls WHERE site = $1", site); }

int64_t Events(const std::string& site, const std::string& event) {
  return Count("SELECT count(*) FROM events WHERE site = $1 AND event = '" + event + "'", site);
}

int64_t RowsOf(const std::string& decoded) { return static_cast<int64_t>(testing::CsvRows(decoded).size()) - 1; }

std::vector<std::string> Store(const std::string& site) { return {"--db", server->connection(), "--site", site}; }

TEST(CollectPostgres, ThreeSitesWritingAtOnceStoreEachCallOnce) {
  REQUIRE_SERVER();
  struct Site {
    std::string name;
    ScratchDir dir;
    std::string report;
    std::unique_ptr<FakePbx> pbx;
    std::unique_ptr<CollectProcess> collect;
  };
  std::vector<std::unique_ptr<Site>> sites;
  for (const char* name : {"north", "south", "east"}) {
    auto s = std::make_unique<Site>();
    s->name = name;
    s->report = SampleReport(20 + 5 * static_cast<int>(sites.size()));
    if (s->name == "east") {
      // A rejected line with bytes PostgreSQL takes in no text (NUL, no UTF-8).
      s->report.insert(0, std::string("N 000 00     DN20\x80\x00    T00100100 13/15 22:47:10 00:04:12.0 0\xfc\r\n", 63));
    }
    s->pbx = std::make_unique<FakePbx>(s->report, 4, 100 + static_cast<uint32_t>(sites.size()));
    sites.push_back(std::move(s));
  }
  for (auto& s : sites) {
    s->collect = std::make_unique<CollectProcess>(
        s->dir, std::vector<std::string>{"--connect", "127.0.0.1:" + std::to_string(s->pbx->port())}, Store(s->name));
  }
  for (auto& s : sites) {
    const std::string expected = Decoded(s->dir, s->report);
    EXPECT_TRUE(WaitFor([&] { return Calls(s->name) == RowsOf(expected); })) << s->name << "\n" << s->collect->Log();
    s->collect->Signal(SIGTERM);
    EXPECT_EQ(s->collect->Wait(), 0) << s->collect->Log();
    EXPECT_EQ(Exported(server->connection(), s->name), expected) << s->name;
  }
  EXPECT_EQ(Count("SELECT count(*) FROM rejects WHERE site = $1", "east"), 1);
}

TEST(CollectPostgres, ServerStoppedMidRunLosesNothingAndTheEventsShowTheOutage) {
  REQUIRE_SERVER();
  ScratchDir dir;
  uint16_t port = 0;
  ::close(ListenOnLoopback(&port));  // a free port for the collector
  CollectProcess collect(dir, {"--listen", "127.0.0.1:" + std::to_string(port)}, Store("outage"));
  int pbx = -1;
  ASSERT_TRUE(WaitFor([&] { return (pbx = ConnectToLoopback(port)) >= 0; })) << collect.Log();
  const std::string report = SampleReport(30);
  const std::size_t half = report.size() / 2 + 7;  // mid-line
  ASSERT_TRUE(SendAll(pbx, report.substr(0, half)));
  ASSERT_TRUE(WaitFor([&] { return Calls("outage") > 0; })) << collect.Log();

  ASSERT_TRUE(server->Stop());
  ASSERT_TRUE(SendAll(pbx, report.substr(half)));
  // Received and archived while the database is away.
  EXPECT_TRUE(WaitFor([&] { return ArchiveContents(dir.path() + "/archive").size() == report.size(); }));
  std::this_thread::sleep_for(2s);  // a few attempts to connect again fail
  ASSERT_TRUE(server->Start());

  const std::string expected = Decoded(dir, report);
  EXPECT_TRUE(WaitFor([&] { return Calls("outage") == RowsOf(expected); }, 60s)) << collect.Log();
  collect.Signal(SIGTERM);
  EXPECT_EQ(collect.Wait(), 0) << collect.Log();
  ::close(pbx);
  EXPECT_EQ(ArchiveContents(dir.path() + "/archive"), report);
  EXPECT_EQ(Exported(server->connection(), "outage"), expected);
  EXPECT_EQ(Events("outage", "database-error"), 1);
  EXPECT_EQ(Events("outage", "database-resumed"), 1);
}

TEST(CollectPostgres, KillNineAtRandomInstantsThenRestartStoresEachCallOnce) {
  REQUIRE_SERVER();
  ScratchDir dir;
  const std::string report = SampleReport(60);
  FakePbx pbx(report, 0, 9, 2ms);
  const std::vector<std::string> link = {"--connect", "127.0.0.1:" + std::to_string(pbx.port())};
  std::mt19937 random(17);
  std::uniform_int_distribution<int> pause_ms(20, 120);
  for (int i = 0; i < 10; ++i) {
    CollectProcess collect(dir, link, Store("killed"));
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    collect.Signal(SIGKILL);
    EXPECT_EQ(collect.Wait(), 128 + SIGKILL);
  }
  CollectProcess collect(dir, link, Store("killed"));
  ASSERT_TRUE(WaitFor([&] { return pbx.sent() == report.size(); })) << collect.Log();
  std::this_thread::sleep_for(200ms);
  const std::string expected = Decoded(dir, ArchiveContents(dir.path() + "/archive"));
  EXPECT_TRUE(WaitFor([&] { return Calls("killed") == RowsOf(expected); })) << collect.Log();
  collect.Signal(SIGTERM);
  EXPECT_EQ(collect.Wait(), 0) << collect.Log();
  EXPECT_EQ(Exported(server->connection(), "killed"), Decoded(dir, ArchiveContents(dir.path() + "/archive")));
}

}  // namespace
}  // namespace talvo::tool

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  talvo::tool::server = new talvo::tool::PostgresServer;
  ::testing::AddGlobalTestEnvironment(talvo::tool::server);  // gtest owns it
  return RUN_ALL_TESTS();
}
