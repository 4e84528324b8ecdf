// talvo_gen: writes a large synthetic call report for measurements.
//
//   talvo_gen [--layout example|three-line] [--calls N] [--seed S] [-o FILE]
//
// The same arguments give the same bytes. The report goes to FILE or to
// standard output; a tally of what the driver should make of it goes to
// standard error, in the words of talvo decode's summary:
//
//   talvo_gen: 1000000 calls in 1071432 lines: 3000000 in records ...
//   talvo_gen: records: 540012 outgoing, ...
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bench/gen/report_gen.h"

namespace {

int Usage(const char* message) {
  std::fprintf(stderr,
               "talvo_gen: %s\n"
               "usage: talvo_gen [--layout example|three-line] [--calls N] [--seed S] [-o FILE]\n",
               message);
  return 2;
}

bool ParseCount(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
  out = v;
  return true;
}

bool WriteAll(std::FILE* f, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  using talvo::bench::ReportGenerator;
  using talvo::bench::ReportLayout;
  ReportLayout layout = ReportLayout::kExample;
  uint64_t calls = 10000;
  uint64_t seed = 20260315;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--layout" && has_value) {
      const auto l = talvo::bench::LayoutByName(argv[++i]);
      if (!l) return Usage("the layout is example or three-line");
      layout = *l;
    } else if (arg == "--calls" && has_value) {
      if (!ParseCount(argv[++i], calls)) return Usage("--calls takes a number");
    } else if (arg == "--seed" && has_value) {
      if (!ParseCount(argv[++i], seed)) return Usage("--seed takes a number");
    } else if ((arg == "-o" || arg == "--output") && has_value) {
      output = argv[++i];
    } else {
      return Usage(("unknown argument " + std::string(arg)).c_str());
    }
  }

  std::FILE* out = stdout;
  if (output != nullptr) {
    out = std::fopen(output, "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "talvo_gen: cannot write '%s': %s\n", output, std::strerror(errno));
      return 2;
    }
  }

  ReportGenerator gen(layout, seed);
  std::string block;
  block.reserve(1 << 20);
  bool ok = true;
  for (uint64_t n = 0; n < calls && ok; ++n) {
    gen.AppendCall(block);
    if (block.size() >= (1 << 20) - 1024) {
      ok = WriteAll(out, block);
      block.clear();
    }
  }
  gen.Finish(block);
  ok = ok && WriteAll(out, block);
  ok = std::fflush(out) == 0 && ok;
  if (out != stdout) ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "talvo_gen: cannot write '%s': %s\n", output != nullptr ? output : "standard output",
                 std::strerror(errno));
    return 2;
  }

  const auto& t = gen.tally();
  const auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  std::fprintf(stderr, "talvo_gen: %s layout, seed %llu: %llu calls (%llu malformed) in %llu lines\n",
               std::string(talvo::bench::LayoutName(layout)).c_str(), u(seed), u(t.calls), u(t.malformed),
               u(t.lines));
  std::fprintf(stderr, "talvo_gen: expected: %llu in records, %llu reported\n", u(t.lines_in_records),
               u(t.lines - t.lines_in_records));
  std::fprintf(stderr, "talvo_gen: records: %llu outgoing, %llu incoming, %llu internal, %llu duty (%llu in all)\n",
               u(t.outgoing), u(t.incoming), u(t.internal), u(t.duty), u(t.records()));
  return 0;
}
