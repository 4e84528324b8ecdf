// The POSIX file access against real files: profile reads with their buffer
// sizes and error codes, and reads that refuse writers.
#include "platform/posix_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace talvo {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/talvo-files-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    EXPECT_NE(made, nullptr) << "mkdtemp: errno " << errno;
    if (made != nullptr) path_ = made;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  // Writes `bytes` to the file `name`, replacing its content in place.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path;
  }

 private:
  std::string path_;
};

bool RunningAsRoot() { return ::geteuid() == 0; }

// True iff the file system of `path` grants read leases to this process, so
// that writers holding no lock can be seen.
bool LeasesWork(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  if (ok) ::fcntl(fd, F_SETLEASE, F_UNLCK);
  ::close(fd);
  return ok;
}

// ---- Profile reads --------------------------------------------------------

struct ProfileCase {
  std::string in;  // what is asked: "section/key/default/size"
  std::string section;
  std::string key;
  const char* default_value;  // nullptr: no default
  std::size_t size;
  std::string want;
  uint32_t want_error;
};

void RunProfileCases(const std::string& file, const std::vector<ProfileCase>& cases) {
  for (const ProfileCase& c : cases) {
    const ProfileResult r = PosixReadProfileString(
        file, c.section, c.key, c.default_value != nullptr ? c.default_value : "", c.size);
    EXPECT_EQ(r.value, c.want) << c.in;
    EXPECT_EQ(r.last_error, c.want_error) << c.in;
  }
}

TEST(PosixReadProfileString, ValuesAndTheirLineEnds) {
  TempDir dir;
  for (const std::string content :
       {"[s]\r\nk=v\r\n", "[s]\nk=v\n", "[s]\rk=v\r", "[s]\r\nk=v", "  [ s ]\r\n k = \"v\" \r\n"}) {
    const std::string file = dir.Write("lines.ini", content);
    const ProfileResult r = PosixReadProfileString(file, "s", "k", "d", 64);
    EXPECT_EQ(r.value, "v") << content;
    EXPECT_EQ(r.last_error, kErrorNone) << content;
  }
}

TEST(PosixReadProfileString, BufferSizesCutValuesAndDefaults) {
  TempDir dir;
  const std::string file = dir.Write("size.ini", "[s]\r\nk=val1\r\nq=\"abcd\"\r\ne=\r\n");
  RunProfileCases(file, {
      {"s/k size 5", "s", "k", "d", 5, "val1", kErrorNone},
      {"s/k size 4", "s", "k", "d", 4, "val", kErrorMoreData},
      {"s/k size 1", "s", "k", "d", 1, "", kErrorMoreData},
      {"s/k size 0", "s", "k", "d", 0, "", kErrorMoreData},
      {"s/q size 5: quotes go before the cut", "s", "q", "d", 5, "abcd", kErrorNone},
      {"s/q size 4", "s", "q", "d", 4, "abc", kErrorMoreData},
      {"s/e: found and empty", "s", "e", "d", 64, "", kErrorNone},
      {"s/e size 0", "s", "e", "d", 0, "", kErrorMoreData},
      {"s/x default cut to size 3", "s", "x", "default", 3, "de", kErrorFileNotFound},
      {"s/x size 0", "s", "x", "default", 0, "", kErrorFileNotFound},
  });
}

TEST(PosixReadProfileString, DefaultsLoseOnlyTrailingSpaces) {
  TempDir dir;
  const std::string file = dir.Write("defaults.ini", "[s]\r\nk=v\r\n");
  RunProfileCases(file, {
      {"s/x/\"def  \"", "s", "x", "def  ", 64, "def", kErrorFileNotFound},
      {"t/k/def: section missing", "t", "k", "def", 64, "def", kErrorFileNotFound},
      {"s/x/no default", "s", "x", nullptr, 64, "", kErrorFileNotFound},
      {"s/x/\"  a\\t \"", "s", "x", "  a\t ", 64, "  a\t", kErrorFileNotFound},
      {"s/x/all spaces", "s", "x", "   ", 64, "", kErrorFileNotFound},
      {"s/x/quoted default", "s", "x", "\"q\"", 64, "\"q\"", kErrorFileNotFound},
      {"s/;k", "s", ";k", "d", 64, "d", kErrorFileNotFound},
  });
}

TEST(PosixReadProfileString, LongValuesComeBackWhole) {
  TempDir dir;
  const std::string value(65534, 'x');
  const std::string file = dir.Write("long.ini", "[s]\r\nk=" + value + "\r\n");
  const ProfileResult r = PosixReadProfileString(file, "s", "k", "d", 65536);
  EXPECT_EQ(r.value, value);
  EXPECT_EQ(r.last_error, kErrorNone);
}

TEST(PosixReadProfileString, MissingFilesGiveTheDefault) {
  TempDir dir;
  struct Case {
    std::string in;
    uint32_t want_error;
  } cases[] = {
      {dir.Path("absent.ini"), kErrorFileNotFound},
      {dir.Path("no-folder/absent.ini"), kErrorPathNotFound},
      {"relative-name-that-is-not-there.ini", kErrorFileNotFound},
      {dir.Path(std::string(5000, 'n')), kErrorFilenameTooLong},
  };
  for (const Case& c : cases) {
    const ProfileResult r = PosixReadProfileString(c.in, "s", "k", "def  ", 64);
    EXPECT_EQ(r.value, "def") << c.in;
    EXPECT_EQ(r.last_error, c.want_error) << c.in;
  }
}

// A file that is there but cannot be read gives an empty value and an error,
// so that the settings reader tries again instead of taking the default.
TEST(PosixReadProfileString, UnreadableFilesGiveAnEmptyValueAndTheError) {
  TempDir dir;
  const std::string plain = dir.Write("plain.ini", "[s]\r\nk=v\r\n");
  struct Case {
    std::string in;
    uint32_t want_error;
  } cases[] = {
      {dir.Path(""), kErrorAccessDenied},  // the folder itself
      {".", kErrorAccessDenied},
      {"", kErrorAccessDenied},
      {plain + std::string(1, '\0') + "x", kErrorInvalidName},
  };
  for (const Case& c : cases) {
    const ProfileResult r = PosixReadProfileString(c.in, "s", "k", "def", 64);
    EXPECT_EQ(r.value, "") << c.in;
    EXPECT_EQ(r.last_error, c.want_error) << c.in;
  }
}

TEST(PosixReadProfileString, FileWithoutPermissionIsAccessDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << "root reads files of any mode";
  TempDir dir;
  const std::string file = dir.Write("locked.ini", "[s]\r\nk=v\r\n");
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  const ProfileResult r = PosixReadProfileString(file, "s", "k", "def", 64);
  EXPECT_EQ(r.value, "");
  EXPECT_EQ(r.last_error, kErrorAccessDenied);
}

TEST(PosixReadProfileString, EveryCallSeesTheFileAsItIsNow) {
  TempDir dir;
  const std::string file = dir.Write("changing.ini", "[s]\r\nk=v\r\n");
  EXPECT_EQ(PosixReadProfileString(file, "s", "k", "d", 64).value, "v");
  dir.Write("changing.ini", "[s]\r\nk=w\r\n");
  EXPECT_EQ(PosixReadProfileString(file, "s", "k", "d", 64).value, "w");
  dir.Write("changing.ini", "[s]\r\nk=a much longer value than before\r\n");
  EXPECT_EQ(PosixReadProfileString(file, "s", "k", "d", 64).value, "a much longer value than before");
  dir.Write("changing.ini", "");
  EXPECT_EQ(PosixReadProfileString(file, "s", "k", "d", 64).value, "d");
}

// Settings are read the way the Windows profile functions open files: sharing
// with writers, so a writer's lock does not stop them.
TEST(PosixReadProfileString, ReadsPastAWritersLock) {
  TempDir dir;
  const std::string file = dir.Write("held.ini", "[s]\r\nk=v\r\n");
  PosixFileWriterLock writer(file);
  ASSERT_TRUE(writer.held());
  const ProfileResult r = PosixReadProfileString(file, "s", "k", "d", 64);
  EXPECT_EQ(r.value, "v");
  EXPECT_EQ(r.last_error, kErrorNone);
}

// ---- Reads that refuse writers --------------------------------------------

TEST(PosixReadFileShared, ReadsUpToTheLimit) {
  TempDir dir;
  const std::string ten = dir.Write("ten.bin", std::string("0123456789"));
  const std::string zeros = dir.Write("zeros.bin", std::string(20000, '\0'));
  const std::string empty = dir.Write("empty.bin", "");
  struct Case {
    std::string in;
    std::size_t max_bytes;
    std::string want;
  } cases[] = {
      {ten, 13026, "0123456789"},
      {ten, 10, "0123456789"},
      {ten, 4, "0123"},
      {ten, 0, ""},
      {zeros, 13026, std::string(13026, '\0')},
      {empty, 13026, ""},
  };
  for (const Case& c : cases) {
    const SharedReadResult r = PosixReadFileShared(c.in, c.max_bytes);
    EXPECT_EQ(r.error, kErrorNone) << c.in << " max " << c.max_bytes;
    EXPECT_EQ(r.bytes, c.want) << c.in << " max " << c.max_bytes;
  }
}

TEST(PosixReadFileShared, OpenFailuresCarryTheirWindowsCodes) {
  TempDir dir;
  const std::string plain = dir.Write("plain.bin", "x");
  struct Case {
    std::string in;
    uint32_t want;
  } cases[] = {
      {dir.Path("absent.bin"), kErrorFileNotFound},
      {dir.Path("no-folder/absent.bin"), kErrorPathNotFound},
      {plain + "/below-a-file", kErrorPathNotFound},
      {dir.Path(""), kErrorAccessDenied},
      {".", kErrorAccessDenied},
      {"", kErrorPathNotFound},
      {dir.Path(std::string(5000, 'n')), kErrorFilenameTooLong},
      {plain + std::string(1, '\0'), kErrorInvalidName},
  };
  for (const Case& c : cases) {
    const SharedReadResult r = PosixReadFileShared(c.in, 100);
    EXPECT_EQ(r.error, c.want) << c.in;
    EXPECT_EQ(r.bytes, "") << c.in;
  }
}

TEST(PosixReadFileShared, FileWithoutPermissionIsAccessDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << "root reads files of any mode";
  TempDir dir;
  const std::string file = dir.Write("locked.bin", "x");
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  EXPECT_EQ(PosixReadFileShared(file, 100).error, kErrorAccessDenied);
}

TEST(PosixReadFileShared, CooperatingWriterIsRefusedAndRefuses) {
  TempDir dir;
  const std::string file = dir.Write("table.bin", "abc");
  {
    PosixFileWriterLock writer(file);
    ASSERT_TRUE(writer.held()) << "errno " << writer.error();
    const SharedReadResult r = PosixReadFileShared(file, 100);
    EXPECT_EQ(r.error, kErrorSharingViolation);
    EXPECT_EQ(r.bytes, "");

    PosixFileWriterLock second(file);  // writers refuse each other too
    EXPECT_FALSE(second.held());
    EXPECT_EQ(second.fd(), -1);
    EXPECT_TRUE(second.error() == EAGAIN || second.error() == EACCES) << second.error();
  }
  // Neither the released writer nor the refused one keeps the file open.
  const SharedReadResult r = PosixReadFileShared(file, 100);
  EXPECT_EQ(r.error, kErrorNone);
  EXPECT_EQ(r.bytes, "abc");

  // The reader let go of its lock when it returned.
  PosixFileWriterLock after(file);
  EXPECT_TRUE(after.held()) << "errno " << after.error();
}

TEST(PosixReadFileShared, WriterWithoutLockIsSeenWhileItHasTheFileOpen) {
  TempDir dir;
  const std::string file = dir.Write("table.bin", "abc");
  if (!LeasesWork(file)) GTEST_SKIP() << "no leases on this file system";
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(PosixReadFileShared(file, 100).error, kErrorSharingViolation);
  ::close(fd);
  EXPECT_EQ(PosixReadFileShared(file, 100).bytes, "abc");
}

// While the reader briefly holds its probing lease, a writer's open makes the
// kernel signal the reader; the process must survive that.
TEST(PosixReadFileShared, WritersOpeningDuringTheProbeDoNotKillTheProcess) {
  TempDir dir;
  const std::string file = dir.Write("table.bin", "abc");
  if (!LeasesWork(file)) GTEST_SKIP() << "no leases on this file system";
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop.load()) {
      const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
    }
  });
  int read_ok = 0;
  const auto until = steady_clock::now() + milliseconds(150);
  while (steady_clock::now() < until) {
    const SharedReadResult r = PosixReadFileShared(file, 100);
    ASSERT_TRUE(r.error == kErrorNone || r.error == kErrorSharingViolation) << r.error;
    if (r.error == kErrorNone) {
      ++read_ok;
      EXPECT_EQ(r.bytes, "abc");
    }
  }
  stop = true;
  writer.join();
  EXPECT_GT(read_ok, 0);
}

// Another program holds the file as a writer for about 200 ms: reads are
// refused meanwhile and succeed once it lets go.
TEST(PosixReadFileShared, WriterInAnotherProcessIsWaitedOut) {
  TempDir dir;
  const std::string file = dir.Write("table.bin", "abc");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    PosixFileWriterLock writer(file);
    const char held = writer.held() ? 'y' : 'n';
    if (::write(ready[1], &held, 1) != 1) ::_exit(2);
    const timespec pause{0, 200 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
    ::_exit(0);  // exiting closes the file and drops the lock
  }
  ::close(ready[1]);
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(held, 'y');
  const auto start = steady_clock::now();

  EXPECT_EQ(PosixReadFileShared(file, 100).error, kErrorSharingViolation);
  SharedReadResult r;
  int refusals = 0;
  for (;;) {
    r = PosixReadFileShared(file, 100);
    if (r.error != kErrorSharingViolation || steady_clock::now() - start > milliseconds(900)) break;
    ++refusals;
    std::this_thread::sleep_for(milliseconds(10));
  }
  const auto waited = steady_clock::now() - start;
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(r.error, kErrorNone);
  EXPECT_EQ(r.bytes, "abc");
  EXPECT_GT(refusals, 5);
  EXPECT_GT(waited, milliseconds(100));
  EXPECT_LT(waited, milliseconds(900));
}

}  // namespace
}  // namespace talvo
