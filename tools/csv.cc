#include "tools/csv.h"

namespace talvo::tool {

void AppendCsvField(std::string& out, std::string_view field) {
  const std::size_t at = out.size();
  out.resize(at + CsvFieldMaxSize(field.size()));
  char* const end = WriteCsvField(out.data() + at, field);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

namespace csv_internal {

char* WriteQuotedCsvField(char* dest, std::string_view field) {
  char* p = dest;
  *p++ = '"';
  for (char c : field) {
    if (c == '"') *p++ = '"';
    *p++ = c;
  }
  *p++ = '"';
  return p;
}

}  // namespace csv_internal

bool CsvRow::blank() const {
  if (fields.size() != 1) return false;
  for (char c : fields[0]) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

bool CsvReader::SkipLineEnd() {
  if (pos_ >= text_.size()) return false;
  if (text_[pos_] == '\n') {
    ++pos_;
  } else if (text_[pos_] == '\r') {
    ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  } else {
    return false;
  }
  ++line_;
  return true;
}

bool CsvReader::Next(CsvRow& row) {
  if (pos_ >= text_.size()) return false;
  row.line = line_;
  row.fields.clear();
  std::string field;
  while (true) {
    field.clear();
    if (pos_ < text_.size() && text_[pos_] == '"') {
      ++pos_;
      while (true) {
        if (pos_ >= text_.size()) throw CsvError(row.line, "a quoted field is not closed");
        const char c = text_[pos_];
        if (c == '"') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
            field += '"';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        if (c == '\n' || (c == '\r' && !(pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n'))) ++line_;
        field += c;
        ++pos_;
      }
      if (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n' && text_[pos_] != '\r') {
        throw CsvError(row.line, "text after the closing quote of a field");
      }
    } else {
      while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n' && text_[pos_] != '\r') {
        field += text_[pos_++];
      }
    }
    row.fields.push_back(field);
    if (pos_ < text_.size() && text_[pos_] == ',') {
      ++pos_;
      continue;
    }
    SkipLineEnd();
    return true;
  }
}

}  // namespace talvo::tool
