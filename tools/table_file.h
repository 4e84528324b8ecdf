// The conversion table file QUORCNVT.INT, as the driver reads it: fixed
// 26-byte records. Record 0 is the header, whose first two bytes hold the
// number of entries (signed 16-bit, little-endian); the other 24 bytes are
// unused. Each entry record holds:
//
//   offset  width  field
//        0      1  key length (16 in every entry that can match)
//        1     16  key: the number prefix, padded on the right with spaces
//       17      1  extension length, 0..8
//       18      8  extension to charge
//
// The driver pads the dialled number's prefixes to 16 characters before it
// looks them up, so an entry whose key length is not 16 never matches.
#ifndef TALVO_TOOLS_TABLE_FILE_H_
#define TALVO_TOOLS_TABLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::tool {

inline constexpr char kTableFileName[] = "QUORCNVT.INT";
inline constexpr std::size_t kTableRecordSize = 26;
inline constexpr std::size_t kTableKeyWidth = 16;
inline constexpr std::size_t kTableExtensionWidth = 8;
inline constexpr std::size_t kTableCapacity = 500;  // entries the driver reads

// One row of a prefix list.
struct TablePrefix {
  std::string prefix;
  std::string extension;
  std::size_t line = 0;  // where it stands in the list, 1-based
};

// A prefix list that cannot become a table; `line` is 1-based.
class TableInputError : public std::runtime_error {
 public:
  TableInputError(std::size_t line, const std::string& message)
      : std::runtime_error(message), line_(line) {}
  std::size_t line() const { return line_; }

 private:
  std::size_t line_;
};

// Reads a CSV list of "prefix,extension" rows (an optional header row
// "prefix,extension", blank lines skipped, blanks around fields trimmed).
// Refuses, with the line number: a row without exactly two fields, an empty
// prefix or one over 16 characters or holding control bytes, an empty
// extension or one over 8 characters or not letters and digits, a prefix
// given twice, and more than 500 rows.
std::vector<TablePrefix> ParsePrefixList(std::string_view csv_text);

// The bytes of a table file holding `entries` in order.
// REQUIRES: the entries passed ParsePrefixList's checks.
std::string EncodeTable(const std::vector<TablePrefix>& entries);

// One entry record as found in a table file.
struct TableEntryInfo {
  std::size_t index = 0;       // 1-based entry number
  unsigned key_length = 0;     // the key's length byte
  unsigned extension_length = 0;
  std::string prefix;          // the key's characters, trailing spaces removed
  std::string extension;       // the extension's characters (at most 8)
  std::vector<std::string> problems;  // empty iff the entry is well-formed and usable
};

struct TableInfo {
  std::size_t file_size = 0;
  int16_t header_count = 0;
  std::size_t usable_count = 0;  // entries the driver searches: the count within 0..500
  std::vector<TableEntryInfo> entries;  // entries 1..usable_count
  std::vector<std::string> problems;    // of the file as a whole
};

// Describes a table file's bytes the way the driver will use them.
TableInfo InspectTable(std::string_view bytes);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_TABLE_FILE_H_
