#include "tools/collect_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace talvo::tool {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string SampleReport(int copies) {
  const std::string one = ReadFile(std::string(TALVO_LAYOUTS_SOURCE_DIR) + "/samples/" + kLayout + ".txt");
  std::string report;
  for (int i = 0; i < copies; ++i) report += one;
  return report;
}

std::string Decoded(const ScratchDir& dir, const std::string& report) {
  const testing::RunResult r = testing::RunTool({"decode", "--layout", kLayout, "-q", dir.Write("decoded.txt", report)});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

std::string Exported(const std::string& db, const std::string& site) {
  std::vector<std::string> args = {"export", "--db", db};
  if (!site.empty()) args.insert(args.end(), {"--site", site});
  const testing::RunResult r = testing::RunTool(args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

std::string ArchiveContents(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  std::string all;
  for (const std::string& n : names) all += ReadFile(n);
  return all;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return done();
}

int ListenOnLoopback(uint16_t* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  *port = ntohs(a.sin_port);
  return fd;
}

int ConnectToLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace talvo::tool
