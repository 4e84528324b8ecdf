#include "platform/profile_file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talvo {
namespace {

// VT and FF count as blanks like space and TAB; CR and LF end lines instead.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
constexpr bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

constexpr unsigned char FoldCase(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanksRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return TrimBlanksRight(s);
}

// The names passed in lose only spaces; a TAB in a name is part of it.
std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// Finds the ends of lines with memchr, keeping the next CR and the next LF
// found so far, so that each byte is searched once for each of the two.
class LineEnds {
 public:
  explicit LineEnds(const char* end) : end_(end) {}
  // The first CR or LF at or after `p`, or the end of the text.
  const char* From(const char* p) {
    if (next_cr_ < p) next_cr_ = Find(p, '\r');
    if (next_lf_ < p) next_lf_ = Find(p, '\n');
    return next_cr_ < next_lf_ ? next_cr_ : next_lf_;
  }

 private:
  const char* Find(const char* p, char c) const {
    const void* hit = std::memchr(p, c, static_cast<std::size_t>(end_ - p));
    return hit != nullptr ? static_cast<const char*>(hit) : end_;
  }
  const char* end_;
  const char* next_cr_ = nullptr;
  const char* next_lf_ = nullptr;
};

std::optional<std::string_view> FindInBytes(std::string_view text, std::string_view section,
                                            std::string_view key) {
  const char* p = text.data();
  const char* const end = p + text.size();
  LineEnds line_ends(end);
  bool in_section = false;
  while (p != end) {
    if (IsBlank(*p) || IsLineEnd(*p)) {  // line ends and leading blanks alike
      ++p;
      continue;
    }
    const char* const first = p;
    p = line_ends.From(p);
    if (*first == '[') {
      if (in_section) return std::nullopt;  // a later section of the same name is never read
      std::string_view name(first + 1, static_cast<std::size_t>(p - first - 1));
      name = TrimBlanks(name.substr(0, name.find(']')));
      in_section = SameName(name, section);
      continue;
    }
    if (!in_section || *first == ';') continue;
    const std::string_view line(first, static_cast<std::size_t>(p - first));
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!SameName(TrimBlanksRight(line.substr(0, eq)), key)) continue;
    return StripQuotes(TrimBlanks(line.substr(eq + 1)));
  }
  return std::nullopt;
}

// A UTF-16LE text (after its FF FE mark) as single bytes: the characters that
// have the same code in the Windows and the Latin-1 code pages keep it, every
// other character becomes '?'. A surrogate pair is one character.
std::string Utf16LeToBytes(std::string_view units) {
  std::string out;
  out.reserve(units.size() / 2);
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const auto unit = static_cast<uint16_t>(static_cast<unsigned char>(units[i]) |
                                            (static_cast<unsigned>(static_cast<unsigned char>(units[i + 1])) << 8));
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
      out.push_back(static_cast<char>(static_cast<unsigned char>(unit)));
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < units.size() &&
               (static_cast<unsigned char>(units[i + 3]) & 0xFC) == 0xDC) {
      out.push_back('?');
      i += 2;  // the low half of the pair
    } else {
      out.push_back('?');
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key) {
  section = TrimSpaces(section);
  key = TrimSpaces(key);
  std::optional<std::string_view> found;
  std::string converted;
  if (content.size() >= 2 && content[0] == '\xFF' && content[1] == '\xFE') {
    converted = Utf16LeToBytes(content.substr(2));
    found = FindInBytes(converted, section, key);
  } else {
    found = FindInBytes(content, section, key);
  }
  if (!found) return std::nullopt;
  return std::string(*found);
}

}  // namespace talvo
