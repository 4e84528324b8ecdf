#include "tools/table_file.h"

#include <algorithm>
#include <map>

#include "tools/csv.h"

namespace talvo::tool {
namespace {

std::string_view TrimFieldBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool IsLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool HasControlByte(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7f;
  });
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

std::vector<TablePrefix> ParsePrefixList(std::string_view csv_text) {
  std::vector<TablePrefix> out;
  std::map<std::string, std::size_t, std::less<>> seen;  // prefix -> line
  CsvReader reader(csv_text);
  CsvRow row;
  bool first_row = true;
  try {
    while (reader.Next(row)) {
      if (row.blank()) continue;
      if (row.fields.size() != 2) {
        throw TableInputError(row.line, "expected 2 fields (prefix,extension), found " +
                                            std::to_string(row.fields.size()));
      }
      const std::string_view prefix = TrimFieldBlanks(row.fields[0]);
      const std::string_view extension = TrimFieldBlanks(row.fields[1]);
      if (first_row && EqualsIgnoringCase(prefix, "prefix") && EqualsIgnoringCase(extension, "extension")) {
        first_row = false;
        continue;
      }
      first_row = false;
      if (prefix.empty()) throw TableInputError(row.line, "the prefix is empty");
      if (prefix.size() > kTableKeyWidth) {
        throw TableInputError(row.line, "prefix " + Quoted(prefix) + " has " + std::to_string(prefix.size()) +
                                            " characters; at most 16 fit");
      }
      if (HasControlByte(prefix)) {
        throw TableInputError(row.line, "prefix " + Quoted(prefix) + " holds a control character");
      }
      if (extension.empty()) throw TableInputError(row.line, "the extension is empty");
      if (extension.size() > kTableExtensionWidth) {
        throw TableInputError(row.line, "extension " + Quoted(extension) + " has " +
                                            std::to_string(extension.size()) + " characters; at most 8 fit");
      }
      if (!std::all_of(extension.begin(), extension.end(), IsLetterOrDigit)) {
        throw TableInputError(row.line, "extension " + Quoted(extension) + " is not letters and digits");
      }
      const auto [it, inserted] = seen.emplace(std::string(prefix), row.line);
      if (!inserted) {
        throw TableInputError(row.line, "prefix " + Quoted(prefix) + " is already given on line " +
                                            std::to_string(it->second));
      }
      if (out.size() == kTableCapacity) {
        throw TableInputError(row.line, "more than 500 entries; the table holds 500");
      }
      out.push_back({std::string(prefix), std::string(extension), row.line});
    }
  } catch (const CsvError& e) {
    throw TableInputError(e.line(), e.what());
  }
  return out;
}

std::string EncodeTable(const std::vector<TablePrefix>& entries) {
  std::string bytes((entries.size() + 1) * kTableRecordSize, '\0');
  const auto count = static_cast<uint16_t>(entries.size());
  bytes[0] = static_cast<char>(count & 0xFFu);
  bytes[1] = static_cast<char>(count >> 8);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    char* record = bytes.data() + (i + 1) * kTableRecordSize;
    const std::string& prefix = entries[i].prefix;
    const std::string& extension = entries[i].extension;
    record[0] = static_cast<char>(kTableKeyWidth);
    std::fill(record + 1, record + 1 + kTableKeyWidth, ' ');
    std::copy_n(prefix.begin(), std::min(prefix.size(), kTableKeyWidth), record + 1);
    const std::size_t n = std::min(extension.size(), kTableExtensionWidth);
    record[17] = static_cast<char>(n);
    std::copy_n(extension.begin(), n, record + 18);
  }
  return bytes;
}

TableInfo InspectTable(std::string_view bytes) {
  TableInfo info;
  info.file_size = bytes.size();
  if (bytes.size() < 2) {
    info.problems.push_back("the file has no header record (" + std::to_string(bytes.size()) +
                            " bytes): the table is empty");
    return info;
  }
  const auto low = static_cast<uint16_t>(static_cast<unsigned char>(bytes[0]));
  const auto high = static_cast<uint16_t>(static_cast<unsigned char>(bytes[1]));
  info.header_count = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
  if (bytes.size() % kTableRecordSize != 0) {
    info.problems.push_back("the size, " + std::to_string(bytes.size()) + " bytes, is not a whole number of " +
                            "26-byte records");
  }
  if (info.header_count <= 0) {
    info.problems.push_back("the header counts " + std::to_string(info.header_count) +
                            " entries: the table is empty");
    return info;
  }
  info.usable_count = std::min<std::size_t>(static_cast<std::size_t>(info.header_count), kTableCapacity);
  if (static_cast<std::size_t>(info.header_count) > kTableCapacity) {
    info.problems.push_back("the header counts " + std::to_string(info.header_count) +
                            " entries: only the first 500 are used");
  }
  const std::size_t records_in_file = bytes.size() / kTableRecordSize;  // header included
  if (records_in_file > info.usable_count + 1) {
    info.problems.push_back(std::to_string(records_in_file - info.usable_count - 1) +
                            " record(s) after the last counted entry are not used");
  }

  std::map<std::string, std::size_t, std::less<>> first_with_key;
  for (std::size_t i = 1; i <= info.usable_count; ++i) {
    TableEntryInfo e;
    e.index = i;
    const std::size_t at = i * kTableRecordSize;
    if (at + kTableRecordSize > bytes.size()) {
      e.problems.push_back("missing: the file ends before this entry, which never matches");
      info.entries.push_back(std::move(e));
      continue;
    }
    const std::string_view record = bytes.substr(at, kTableRecordSize);
    e.key_length = static_cast<unsigned char>(record[0]);
    e.extension_length = static_cast<unsigned char>(record[17]);
    const std::string_view key = record.substr(1, std::min<std::size_t>(e.key_length, kTableKeyWidth));
    std::string_view prefix = key;
    while (!prefix.empty() && prefix.back() == ' ') prefix.remove_suffix(1);
    e.prefix = std::string(prefix);
    e.extension = std::string(record.substr(18, std::min<std::size_t>(e.extension_length, kTableExtensionWidth)));

    if (e.key_length > kTableKeyWidth) {
      e.problems.push_back("key length " + std::to_string(e.key_length) + " is above 16: malformed, never matches");
    } else if (e.key_length < kTableKeyWidth) {
      e.problems.push_back("key length " + std::to_string(e.key_length) +
                           " is not 16 (keys are padded to 16): never matches");
    } else if (prefix.empty()) {
      e.problems.push_back("the key is all blanks: never matches");
    } else if (static_cast<unsigned char>(prefix.front()) <= 0x20) {
      e.problems.push_back("the key starts with a blank or control byte: never matches");
    } else {
      const auto [it, inserted] = first_with_key.emplace(std::string(key), i);
      if (!inserted) {
        e.problems.push_back("same key as entry " + std::to_string(it->second) + ": never used");
      }
    }
    if (e.extension_length > kTableExtensionWidth) {
      e.problems.push_back("extension length " + std::to_string(e.extension_length) +
                           " is above 8: malformed, read as 8");
    } else if (e.extension_length == 0) {
      e.problems.push_back("the extension is empty: a match would blank the call's extension");
    }
    info.entries.push_back(std::move(e));
  }
  return info;
}

}  // namespace talvo::tool
