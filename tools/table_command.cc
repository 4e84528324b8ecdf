#include "tools/table_command.h"

#include "tools/csv.h"
#include "tools/files.h"
#include "tools/table_file.h"

namespace talvo::tool {
namespace {

std::string Entries(std::size_t n) { return std::to_string(n) + (n == 1 ? " entry" : " entries"); }

}  // namespace

int RunTableBuild(const TableBuildOptions& options, Output& err) {
  const std::string text = ReadWholeFile(options.input, "prefix list");
  std::vector<TablePrefix> entries;
  try {
    entries = ParsePrefixList(text);
  } catch (const TableInputError& e) {
    err.Write("talvo: " + options.input + ":" + std::to_string(e.line()) + ": " + e.what() +
              "; nothing written\n");
    err.Flush();
    return 2;
  }
  WriteFileAtomically(options.output, EncodeTable(entries));
  err.Write("talvo: wrote " + Entries(entries.size()) + " to " + options.output + "\n");
  err.Flush();
  return 0;
}

int RunTableDump(const TableDumpOptions& options, Output& out, Output& err) {
  const TableInfo info = InspectTable(ReadWholeFile(options.file, "conversion table"));
  std::size_t problems = info.problems.size();
  out.Write("entry,prefix,extension,problem\n");
  for (const TableEntryInfo& e : info.entries) {
    std::string& row = out.buffer();
    row += std::to_string(e.index);
    row += ',';
    AppendCsvField(row, e.prefix);
    row += ',';
    AppendCsvField(row, e.extension);
    row += ',';
    std::string joined;
    for (const std::string& p : e.problems) {
      if (!joined.empty()) joined += "; ";
      joined += p;
    }
    AppendCsvField(row, joined);
    row += '\n';
    out.EndRow();
    problems += e.problems.size();
  }
  out.Flush();
  for (const std::string& p : info.problems) err.Write("talvo: " + options.file + ": " + p + "\n");
  err.Write("talvo: " + options.file + ": " + std::to_string(info.file_size) + " bytes, header count " +
            std::to_string(info.header_count) + ", " + Entries(info.entries.size()) + " searched, " +
            std::to_string(problems) + " problem(s)\n");
  err.Flush();
  return options.strict && problems > 0 ? 1 : 0;
}

}  // namespace talvo::tool
