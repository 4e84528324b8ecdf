// `talvo table build` and `talvo table dump`: write a conversion table from a
// prefix list, and list a table's entries with what is wrong with them.
#ifndef TALVO_TOOLS_TABLE_COMMAND_H_
#define TALVO_TOOLS_TABLE_COMMAND_H_

#include <string>

#include "tools/output.h"

namespace talvo::tool {

struct TableBuildOptions {
  std::string input;                    // CSV prefix list, "-" for standard input
  std::string output = "QUORCNVT.INT";  // replaced atomically
};

// Returns the exit code: 0 written, 2 when the list is refused (one line on
// `err` naming the list and the line). Throws IoError.
int RunTableBuild(const TableBuildOptions& options, Output& err);

struct TableDumpOptions {
  std::string file;
  bool strict = false;  // exit 1 when any problem is found
};

// Writes the entries as CSV (entry,prefix,extension,problem) to `out` and the
// problems of the file as a whole to `err`. Returns the exit code. Throws
// IoError.
int RunTableDump(const TableDumpOptions& options, Output& out, Output& err);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_TABLE_COMMAND_H_
