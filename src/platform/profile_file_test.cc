// Profile-file lookups as the Windows profile functions answer them.
#include "platform/profile_file.h"

#include <time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace talvo {
namespace {

using namespace std::string_literals;  // for texts that hold NUL or high bytes

struct Case {
  std::string in;  // the whole file
  std::string section;
  std::string key;
  std::optional<std::string> want;  // nothing: the lookup falls back to the default
};

// The text with control and high bytes written as C escapes, for messages.
std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b < 0x20 || b >= 0x7F) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(FindProfileValue(c.in, c.section, c.key), c.want)
        << "file \"" << Escaped(c.in) << "\" section [" << Escaped(c.section) << "] key <"
        << Escaped(c.key) << ">";
  }
}

const std::nullopt_t kMissing = std::nullopt;

TEST(FindProfileValue, EveryKindOfLineEnd) {
  RunCases({
      {"[s]\r\nk=v\r\n", "s", "k", "v"},
      {"[s]\nk=v\n", "s", "k", "v"},
      {"[s]\rk=v\r", "s", "k", "v"},
      {"[s]\r\nk=v", "s", "k", "v"},
      {"[s]\n\r\r\n\nk=v", "s", "k", "v"},
      {"\r\n\r\n[s]\r\n \t \r\n\r\nk=v\r\n\r\n", "s", "k", "v"},
      {"[s]\r\na=1\rb=2\nc=3\r\n", "s", "b", "2"},
      {"[s]\r\na=1\rb=2\nc=3\r\n", "s", "c", "3"},
      {"", "s", "k", kMissing},
      {"\r\n\n", "s", "k", kMissing},
  });
}

TEST(FindProfileValue, BlanksAroundHeadersKeysAndValues) {
  RunCases({
      {" \t[ \ts\v ]  \r\n \tk \v=  \t v x\t \r\n", "s", "k", "v x"},
      {"[my sec]\r\nk=v\r\n", "my sec", "k", "v"},
      {"[s]\r\n\fk\f=\fv\f\r\n", "s", "k", "v"},  // FF is a blank like VT
      {"[s]\r\nk=\x1a\r\n", "s", "k", "\x1a"},    // Ctrl-Z is not
      {"[s]\r\nmy key = my value \r\n", "s", "my key", "my value"},
  });
}

TEST(FindProfileValue, NamesIgnoreAsciiCaseAndSpacesAroundTheParameters) {
  const std::string file = "[Sec]\r\nKey=VaL\r\n";
  RunCases({
      {file, "sEC", "kEY", "VaL"},
      {file, "  Sec ", "  Key ", "VaL"},
      {file, "\tSec", "Key", kMissing},  // only spaces are trimmed from the parameters
      {file, "Sec", "Key\t", kMissing},
      {file, "Sec\r", "Key", kMissing},
      {"[\xC9t\xE9]\r\nk=v\r\n"s, "\xE9t\xE9"s, "k", kMissing},  // no folding beyond ASCII
      {"[\xC9t\xE9]\r\nk=v\r\n"s, "\xC9T\xE9"s, "k", "v"},
      {"[a@]\r\nk=v\r\n", "A`", "k", kMissing},  // '@' and '`' are not a case pair
  });
}

TEST(FindProfileValue, QuotesAroundTheValueGoOnce) {
  const std::string file = "[s]\r\nk='x'\r\nm=\"x'\r\nn='\"x\"'\r\no=\"abc\r\np=\"\"\r\nq=\"\r\n"
                           "b=  \"  a b  \"  \r\n['t']\r\n\"k\"=v\r\n";
  RunCases({
      {file, "s", "k", "x"},
      {file, "s", "m", "\"x'"},
      {file, "s", "n", "\"x\""},
      {file, "s", "o", "\"abc"},
      {file, "s", "p", ""},
      {file, "s", "q", "\""},
      {file, "s", "b", "  a b  "},
      {file, "'t'", "\"k\"", "v"},  // names keep their quotes
      {file, "t", "k", kMissing},
  });
}

TEST(FindProfileValue, CommentsAreWholeLinesStartingWithSemicolon) {
  const std::string file = "[s]\r\n;k=v\r\n \t;j=w\r\n#k=v\r\nc=a ;b\r\ne=;x\r\n[;sec]\r\nk=1\r\n";
  RunCases({
      {file, "s", "k", kMissing},
      {file, "s", ";k", kMissing},
      {file, "s", "j", kMissing},
      {file, "s", "#k", "v"},
      {file, "s", "c", "a ;b"},
      {file, "s", "e", ";x"},
      {file, ";sec", "k", "1"},
  });
}

TEST(FindProfileValue, OnlyTheFirstSectionAndTheFirstKeyCount) {
  RunCases({
      {"[s]\r\nk=1\r\nk=2\r\n", "s", "k", "1"},
      {"[s]\r\nk=1\r\n[t]\r\n[s]\r\nk=2\r\nj=3\r\n", "s", "k", "1"},
      {"[s]\r\nk=1\r\n[t]\r\n[s]\r\nk=2\r\nj=3\r\n", "s", "j", kMissing},
      {"[s]\r\n[S]\r\nk=2\r\n", "s", "k", kMissing},
      {"[t]\r\nk=1\r\n[s]\r\nk=2\r\n", "s", "k", "2"},
      {"[t]\r\nk=1\r\n[s]\r\nk=2\r\n", "t", "k", "1"},
  });
}

TEST(FindProfileValue, SectionHeaderShapes) {
  RunCases({
      {"[s   \r\nk=v\r\n", "s", "k", "v"},  // no ']': the name runs to the end
      {"s]\r\nk=v\r\n", "s", "k", kMissing},
      {"[s]k=v\r\n", "s", "k", kMissing},  // text after ']' is lost
      {"[a]b]\r\nk=v\r\n", "a", "k", "v"},
      {"[a]b]\r\nk=v\r\n", "a]b", "k", kMissing},
      {"[[a]\r\nk=v\r\n", "[a", "k", "v"},
      {"k=v\r\n[s]\r\n", "", "k", kMissing},  // lines before the first header
      {"k=v\r\n[s]\r\n", "s", "k", kMissing},
      {"[]\r\nk=v\r\n", "", "k", "v"},
      {"[ \t ]\r\nk=v\r\n", "", "k", "v"},
      {"[\r\nk=v\r\n", "", "k", "v"},
  });
}

TEST(FindProfileValue, KeyLinesSplitAtTheFirstEquals) {
  const std::string file = "[s]\r\nk\r\nm=a=b\r\ne=\r\nf=   \r\n=empty name\r\n";
  RunCases({
      {file, "s", "k", kMissing},  // a line without '=' is no key
      {file, "s", "m", "a=b"},
      {file, "s", "m=a", kMissing},
      {file, "s", "e", ""},  // found, empty: not the default
      {file, "s", "f", ""},
      {file, "s", "", "empty name"},
  });
}

TEST(FindProfileValue, BytesAreOpaque) {
  RunCases({
      {"\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n"s, "s", "k", kMissing},  // the mark spoils line 1
      {"\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n"s, "t", "k", "w"},
      {"\xEF\xBB\xBF\r\n[s]\r\nk=v\r\n"s, "s", "k", "v"},
      {"[s]\r\nk=caf\xE9\r\n"s, "s", "k", "caf\xE9"s},
      {"[s]\r\nk=a\0b\r\n"s, "s", "k", "a\0b"s},
      {"[s]\r\nk\xA0=v\r\n"s, "s", "k", kMissing},  // a no-break space is not a blank
  });
}

std::string Utf16Le(const std::u16string& text) {
  std::string out = "\xFF\xFE";
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

TEST(FindProfileValue, Utf16LittleEndianFilesAreReadAsSingleBytes) {
  const std::string file = Utf16Le(u"[s]\r\nk=v\r\nc=caf\u00E9\r\nz=\u0416\U0001F600!\r\nq=\"x\"\r\n[T\u00C9]\r\nk=w\r\n");
  RunCases({
      {file, "s", "k", "v"},
      {file, "s", "c", "caf\xE9"s},
      {file, "s", "z", "?" "?!"},  // one '?' per character, a surrogate pair is one
      {file, "s", "q", "x"},
      {file, "T\xC9"s, "k", "w"},
      {"\xFF\xFE"s, "s", "k", kMissing},
      {Utf16Le(u"[s]\r\nk=v") + "\x41"s, "s", "k", "v"},  // a stray last byte is dropped
      {"\xFE\xFF\0[\0s\0]"s, "s", "k", kMissing},         // big-endian is not understood
  });
}

TEST(FindProfileValue, LongLinesAndNamesAreFound) {
  const std::string long_key(1 << 20, 'K');
  const std::string long_value(70000, 'x');
  const std::string file = "[s]\r\n" + long_key + "=1\r\nv=" + long_value + "\r\n";
  EXPECT_EQ(FindProfileValue(file, "s", long_key), "1");
  EXPECT_EQ(FindProfileValue(file, "s", "v"), long_value);
}

// Processor time of the calling thread, unlike a wall clock not stretched by
// other work on the machine.
std::chrono::nanoseconds ThreadTime() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// A settings file of the size the driver reads: about 150 lines, and every
// one of its 131 keys looked up the way one settings load does.
TEST(FindProfileValue, ASettingsLoadStaysFast) {
  std::string file = "; PBX report layout\r\n[other]\r\nA=1\r\n[pbx]\r\n";
  std::vector<std::string> keys;
  for (int i = 0; i < 131; ++i) {
    keys.push_back("SETTING_" + std::to_string(i) + "_POS");
    file += keys.back() + " = " + std::to_string(i) + ";2\r\n";
    if (i % 10 == 0) file += "\r\n; group " + std::to_string(i) + "\r\n";
  }
  const auto start = ThreadTime();
  for (int round = 0; round < 10; ++round) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      ASSERT_EQ(FindProfileValue(file, " PBX", keys[i]), std::to_string(i) + ";2") << keys[i];
    }
  }
  const auto elapsed = ThreadTime() - start;
  // Ten loads take about 2 ms of processor time in an optimised build; a scan
  // that went over the rest of the file again for each line would not stay
  // under the limit.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
  const auto limit = std::chrono::milliseconds(20);
#else
  const auto limit = std::chrono::milliseconds(1000);  // unoptimised or sanitised
#endif
  EXPECT_LT(elapsed, limit);
}

}  // namespace
}  // namespace talvo
