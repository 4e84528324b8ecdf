#include "tools/layout_guess_fields.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace talvo::tool::layout {
namespace {

// The part of `s` in columns first..last (inside its own), or nothing when
// every value is blank there.
std::optional<Segment> Part(const Segment& s, unsigned first, unsigned last) {
  Segment p;
  p.line = s.line;
  p.first = first;
  p.last = last;
  for (std::string_view v : s.values) {
    const std::size_t from = first - s.first;
    const std::string_view part = from < v.size() ? v.substr(from, last - first + 1) : std::string_view();
    p.values.push_back(part);
    p.present += Trim(part).empty() ? 0u : 1u;
  }
  if (p.present == 0) return std::nullopt;
  return p;
}

void SplitGlued(const Segment& s, std::vector<Segment>& out, int depth);

// A short right-aligned field that every call fills, between fields that
// only some calls fill and that can run into it ("48 24711", "51", "1"):
// the column that nine in ten values fill, with the column after it filled
// on fewer than half, ends a field; the field starts where the runs of
// characters that end there start. The parts before and after are cut
// again.
bool SplitAtFilledColumn(const Segment& s, std::vector<Segment>& out, int depth) {
  std::vector<std::size_t> counts(s.width(), 0);
  for (std::string_view v : s.values) {
    for (std::size_t k = 0; k < v.size() && k < counts.size(); ++k) counts[k] += v[k] != ' ' ? 1u : 0u;
  }
  const auto filled = [&](unsigned c) { return counts[c - s.first]; };
  for (unsigned c = s.first + 1; c < s.last; ++c) {
    const std::size_t here = filled(c), next = filled(c + 1), before = filled(c - 1);
    if (static_cast<double>(here) < kAlways * static_cast<double>(s.values.size()) || next == 0 ||
        next * 2 >= s.values.size() || before * 2 >= s.values.size()) {
      continue;
    }
    unsigned start = c;
    for (std::string_view v : s.values) {
      unsigned b = c;
      while (b > s.first && b - 1 - s.first < v.size() && v[b - 1 - s.first] != ' ') --b;
      start = std::min(start, b);
    }
    if (start == s.first) continue;
    if (auto p = Part(s, s.first, start - 1)) SplitGlued(*p, out, depth + 1);
    if (auto p = Part(s, start, c)) out.push_back(std::move(*p));
    if (auto p = Part(s, c + 1, s.last)) SplitGlued(*p, out, depth + 1);
    return true;
  }
  return false;
}

// Fields printed with no blank between them ("15.03.2622:48:31",
// "10500:0700:11:40"): a date or a time that stands at the same columns
// on every value that has it, blank on the others, and runs straight into
// three characters or more of another field, is cut out of the field, and
// the rest is cut again.
void SplitGlued(const Segment& s, std::vector<Segment>& out, int depth) {
  static constexpr std::string_view kPatterns[] = {"99.99.99", "99/99/99", "99-99-99", "99:99:99", "99:99"};
  std::vector<std::string> masks;
  for (std::string_view v : s.values) masks.push_back(Mask(v));
  for (std::string_view pattern : kPatterns) {
    if (depth > 4 || s.width() <= pattern.size()) continue;
    for (std::size_t k = 0; k + pattern.size() <= s.width(); ++k) {
      std::size_t with = 0, glued = 0;
      bool fits = true;
      for (std::size_t i = 0; i < masks.size() && fits; ++i) {
        const std::string& m = masks[i];
        const std::string_view at = k < m.size() ? std::string_view(m).substr(k, pattern.size()) : std::string_view();
        if (at == pattern) {
          // A longer date or time that holds the pattern is not cut.
          const char before = k > 0 ? m[k - 1] : ' ', after = k + pattern.size() < m.size() ? m[k + pattern.size()] : ' ';
          if ((before != ' ' && before != '9' && before != 'A') || (after != ' ' && after != '9' && after != 'A')) fits = false;
          ++with;
          std::size_t run_after = 0, run_before = 0;
          while (k + pattern.size() + run_after < m.size() && m[k + pattern.size() + run_after] != ' ') ++run_after;
          while (run_before < k && m[k - 1 - run_before] != ' ') ++run_before;
          if ((run_after > 0 && run_after < 3) || (run_before > 0 && run_before < 3)) fits = false;
          glued += run_after > 0 || run_before > 0 ? 1u : 0u;
        } else if (!Trim(at).empty()) {
          fits = false;
        }
      }
      if (!fits || with < 2 || glued == 0) continue;
      const unsigned a = s.first + static_cast<unsigned>(k), b = a + static_cast<unsigned>(pattern.size()) - 1;
      if (a > s.first) {
        if (auto p = Part(s, s.first, a - 1)) SplitGlued(*p, out, depth + 1);
      }
      if (auto p = Part(s, a, b)) out.push_back(std::move(*p));
      if (b < s.last) {
        if (auto p = Part(s, b + 1, s.last)) SplitGlued(*p, out, depth + 1);
      }
      return;
    }
  }
  if (depth <= 4 && SplitAtFilledColumn(s, out, depth)) return;
  out.push_back(s);
}

}  // namespace

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit); }

std::string Mask(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = IsDigit(c) ? '9' : IsLetter(c) ? 'A' : c;
  return out;
}

std::vector<Segment> Segments(const std::vector<std::string_view>& lines, unsigned line_number) {
  std::size_t width = 0;
  for (std::string_view l : lines) width = std::max(width, l.size());
  std::vector<std::size_t> filled(width + 2, 0);
  for (std::string_view l : lines) {
    // A tab that opens a line counts as a blank: it stands where nothing is printed.
    for (std::size_t c = 0; c < l.size(); ++c) filled[c + 1] += l[c] != ' ' && !(c == 0 && l[c] == '\t') ? 1u : 0u;
  }
  std::vector<Segment> out;
  for (std::size_t c = 1; c <= width; ++c) {
    if (filled[c] == 0) continue;
    Segment s;
    s.line = line_number;
    s.first = static_cast<unsigned>(c);
    while (c + 1 <= width && filled[c + 1] > 0) ++c;
    s.last = static_cast<unsigned>(c);
    for (std::string_view l : lines) {
      const std::string_view v = s.first <= l.size() ? l.substr(s.first - 1, s.width()) : std::string_view();
      s.values.push_back(v);
      s.present += Trim(v).empty() ? 0u : 1u;
    }
    out.push_back(std::move(s));
  }
  return out;
}

std::vector<Segment> CutGluedFields(const std::vector<Segment>& fields) {
  std::vector<Segment> out;
  for (const Segment& s : fields) SplitGlued(s, out, 0);
  return out;
}

std::pair<std::string, std::size_t> ModalMask(const Segment& s) {
  std::map<std::string, std::size_t> count;
  for (std::string_view v : s.values) {
    if (Trim(v).empty()) continue;
    std::string m = Mask(v);
    m.resize(s.width(), ' ');
    ++count[m];
  }
  std::pair<std::string, std::size_t> best;
  for (const auto& [m, n] : count) {
    if (n > best.second) best = {m, n};
  }
  return best;
}

std::pair<std::string, std::size_t> ConsensusMask(const Segment& s) {
  std::string consensus(s.width(), ' ');
  std::vector<std::string> masks;
  for (std::string_view v : s.values) {
    if (Trim(v).empty()) continue;
    masks.push_back(Mask(v));
    masks.back().resize(s.width(), ' ');
  }
  for (std::size_t c = 0; c < consensus.size(); ++c) {
    std::map<char, std::size_t> count;
    for (const std::string& m : masks) ++count[m[c]];
    for (const auto& [ch, k] : count) {
      if (ch != ' ' && static_cast<double>(k) >= kAlways * static_cast<double>(masks.size())) consensus[c] = ch;
    }
  }
  std::size_t agree = 0;
  for (const std::string& m : masks) {
    bool same = true;
    for (std::size_t c = 0; c < consensus.size(); ++c) same = same && (consensus[c] == ' ' || m[c] == consensus[c]);
    agree += same ? 1u : 0u;
  }
  return {consensus, agree};
}

std::size_t Distinct(const Segment& s) {
  std::set<std::string_view> seen;
  for (std::string_view v : s.values) {
    if (!Trim(v).empty()) seen.insert(Trim(v));
  }
  return seen.size();
}


}  // namespace talvo::tool::layout
