#include "scenario.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace talvo::testing {
namespace {

[[noreturn]] void Fail(const std::string& name, int line, const std::string& why) {
  throw std::runtime_error(name + ":" + std::to_string(line) + ": " + why);
}

std::string StripCr(std::string s) {
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

}  // namespace

Scenario ParseScenario(const std::string& name, const std::string& text) {
  Scenario sc;
  sc.name = name;
  enum { kHead, kSettings, kReport } part = kHead;
  std::istringstream in(text);
  std::string raw;
  int n = 0;
  std::optional<int32_t> pending_count, pending_error;
  while (std::getline(in, raw)) {
    ++n;
    const std::string line = StripCr(raw);
    if (part == kSettings) {
      if (line == "[report]") {
        part = kReport;
      } else {
        sc.settings += line + "\r\n";
      }
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    if (line == "[pbx]") {
      if (part != kHead) Fail(name, n, "[pbx] after the report");
      part = kSettings;
      sc.settings += line + "\r\n";
      continue;
    }
    if (line.rfind("@today ", 0) == 0) {
      int y = 0, m = 0, d = 0;
      if (std::sscanf(line.c_str() + 7, "%d-%d-%d", &y, &m, &d) != 3) Fail(name, n, "bad @today");
      sc.today = LocalDate{y, m, d};
    } else if (line.rfind("@table ", 0) == 0) {
      const std::string entry = line.substr(7);
      const auto eq = entry.find('=');
      if (eq == std::string::npos) Fail(name, n, "bad @table");
      sc.table.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    } else if (line.rfind("@count ", 0) == 0) {
      pending_count = std::stoi(line.substr(7));
    } else if (line.rfind("@error ", 0) == 0) {
      pending_error = std::stoi(line.substr(7));
    } else if (part != kReport) {
      Fail(name, n, "expected @today, @table or [pbx]");
    } else if (line.rfind("> ", 0) == 0 || line == ">") {
      ScenarioStep step;
      step.line_number = n;
      step.input = line.size() > 2 ? line.substr(2) : "";
      if (!step.input.empty() && step.input.back() == '|') step.input.pop_back();
      step.count_on_entry = pending_count;
      step.error_on_entry = pending_error;
      pending_count.reset();
      pending_error.reset();
      sc.steps.push_back(step);
    } else if (line.rfind("< ", 0) == 0) {
      if (sc.steps.empty() || !sc.steps.back().want_outcome.empty()) Fail(name, n, "'<' without its '>'");
      sc.steps.back().want_outcome = line.substr(2);
    } else if (line.rfind("= ", 0) == 0) {
      if (sc.steps.empty() || sc.steps.back().want_outcome.empty()) Fail(name, n, "'=' before its '<'");
      sc.steps.back().want_dump = line.substr(2);
    } else {
      Fail(name, n, "unknown line");
    }
  }
  for (const ScenarioStep& step : sc.steps) {
    if (step.want_outcome.empty()) Fail(name, step.line_number, "'>' without an expected '<'");
  }
  return sc;
}

std::string BuildConversionTable(const std::vector<std::pair<std::string, std::string>>& entries) {
  constexpr std::size_t kRecord = 26;
  std::string bytes((entries.size() + 1) * kRecord, '\0');
  const auto count = static_cast<uint16_t>(entries.size());
  bytes[0] = static_cast<char>(count & 0xFF);
  bytes[1] = static_cast<char>(count >> 8);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    char* rec = bytes.data() + (i + 1) * kRecord;
    std::string key = entries[i].first.substr(0, 16);
    key.resize(16, ' ');
    const std::string ext = entries[i].second.substr(0, 8);
    rec[0] = 16;
    key.copy(rec + 1, 16);
    rec[17] = static_cast<char>(ext.size());
    ext.copy(rec + 18, ext.size());
  }
  return bytes;
}

}  // namespace talvo::testing
