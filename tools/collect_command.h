// `talvo collect`: a live collector for one PBX. It reads the PBX's report
// from a TCP connection it makes (--connect), one the PBX makes (--listen) or
// a serial port (--serial), archives every byte, decodes the archive and
// stores the calls in SQLite or PostgreSQL (see collector.h for what makes that exactly
// once). Links that fail are opened again with back-off; SIGTERM and SIGINT
// commit and end the run, SIGHUP opens the archive file again.
//
// `talvo export` and `talvo stats` read the database it writes.
#ifndef TALVO_TOOLS_COLLECT_COMMAND_H_
#define TALVO_TOOLS_COLLECT_COMMAND_H_

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/output.h"
#include "tools/record_rows.h"

namespace CLI {
class App;
}

namespace talvo::tool {

enum class LinkKind { kConnect, kListen, kSerial, kFollow };

struct SerialOptions {
  unsigned baud = 9600;
  unsigned data_bits = 8;          // 5..8
  std::string parity = "none";     // none, odd, even
  std::string stop_bits = "1";     // 1, 1.5, 2
  std::string flow = "none";       // none, software, hardware
};

struct CollectOptions {
  std::string settings;
  std::string database;  // an SQLite file or a PostgreSQL connection string
  std::string site;      // the site's name on every row; required with PostgreSQL
  std::string archive;
  LinkKind link = LinkKind::kConnect;
  std::string address;  // HOST:PORT, [ADDR:]PORT, the serial device or the followed file
  SerialOptions serial;
  // The login dialog: wait for expect[i], then send send[i] (C escapes \r,
  // \n, \t, \\ and \xNN decoded).
  std::vector<std::string> expect;
  std::vector<std::string> send;
  std::chrono::milliseconds idle{30 * 60 * 1000};  // a silent link is opened again after this
  std::chrono::milliseconds reconnect_delay{1000}; // the first wait before opening again
  std::chrono::milliseconds reconnect_max{60000};  // the longest wait
};

struct ExportOptions {
  std::string database;
  std::string site;   // only this site's calls; empty: all
  std::string since;  // YYYY-MM-DD, calls of this day and later; empty: all
  std::string until;  // YYYY-MM-DD, calls of this day and earlier; empty: all
  RowFormat format = RowFormat::kCsv;
};

// A duration written as a number and a unit: "250ms", "30s", "30m", "2h";
// nothing for any other text.
std::optional<std::chrono::milliseconds> ParseDuration(std::string_view text);

// `text` with the escapes \r, \n, \t, \\ and \xNN decoded.
std::string DecodeEscapes(std::string_view text);

// Runs the collector until SIGTERM or SIGINT; returns 0 after the last
// commit, 2 when it failed. Throws IoError when the database, the archive
// folder, the settings or the link (a --listen address) cannot be used at the
// start.
int RunCollect(const CollectOptions& options, Output& err);

// `talvo export`: the stored calls as `talvo decode` writes its record rows,
// in the order they were received. Returns 0. Throws IoError.
int RunExport(const ExportOptions& options, Output& out);

struct StatsOptions {
  std::string database;
  std::string site;  // only this site's rows; empty: all
};

// `talvo stats`: calls per day and kind, rejects by reason, the last event.
// Returns 0. Throws IoError.
int RunStats(const StatsOptions& options, Output& out);

// Adds `collect`, `export` and `stats` to the command line; returns them in
// that order.
struct CollectCommands {
  CLI::App* collect;
  CLI::App* export_calls;
  CLI::App* stats;
};
CollectCommands AddCollectCommands(CLI::App& app, CollectOptions& collect, ExportOptions& export_options,
                                   StatsOptions& stats);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_COLLECT_COMMAND_H_
