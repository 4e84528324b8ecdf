// talvo: the command-line host of the driver. Parses the command line and
// hands over to one of the commands; every failure becomes one line on
// standard error and an exit code (0 success, 1 rejected lines under
// --strict, 2 usage or I/O errors).
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "talvo/driver.h"
#include "tools/collect_command.h"
#include "tools/decode_command.h"
#include "tools/explain_command.h"
#include "tools/layout_guess.h"
#include "tools/layouts_command.h"
#include "tools/output.h"
#include "tools/sample_readings.h"
#include "tools/settings_report.h"
#include "tools/table_command.h"

namespace {

using talvo::tool::Output;

std::string VersionText() {
  unsigned char id[9] = {};
  DrvProcessVer(id);
  return std::string("talvo ") + TALVO_VERSION + ", driver \"" +
         std::string(reinterpret_cast<const char*>(id + 1), id[0] > 8 ? 8 : id[0]) + "\"";
}

// The message for a command line that does not parse. An option nobody
// knows is named as such, even where a required option is missing too
// ("--setings x" is a misspelt --settings, not a missing one).
std::string ParseFailure(const CLI::App& app, const CLI::ParseError& e) {
  for (const std::string& arg : app.remaining(true)) {
    if (arg.size() > 1 && arg[0] == '-') return "unknown option " + arg;
  }
  return e.what();
}

int Run(int argc, char** argv) {
  CLI::App app{"Host of the talvo PBX call-record driver: decodes call reports, collects a PBX's\n"
               "live report into a database, checks settings, builds conversion tables and\n"
               "lists the PBX layouts that come with it.",
               "talvo"};
  app.set_version_flag("--version", VersionText());
  app.require_subcommand(1);

  talvo::tool::DecodeOptions decode;
  std::string format = "csv";
  CLI::App* decode_cmd = app.add_subcommand("decode", "Decode report lines into call records");
  decode_cmd->add_option("--settings", decode.settings, "Settings file (section [pbx])")
      ->required()
      ->type_name("FILE");
  decode_cmd->add_option("--table", decode.table,
                         "Conversion table to use instead of QUORCNVT.INT in the current directory")
      ->type_name("FILE");
  decode_cmd->add_option("--format", format, "Output format")
      ->check(CLI::IsMember({"csv", "jsonl"}))
      ->capture_default_str();
  decode_cmd->add_option("-o,--output", decode.output, "Write the records here instead of standard output")
      ->type_name("FILE");
  CLI::Option* rejects_opt =
      decode_cmd
          ->add_option("--rejects", decode.rejects,
                       "Write a row for every stretch of lines that went into no record here")
          ->type_name("FILE");
  decode_cmd->add_flag("--with-skipped", decode.with_skipped,
                       "List the skipped lines (blank lines, headers) in the --rejects file too")
      ->needs(rejects_opt);
  std::string today;
  decode_cmd->add_option("--today", today,
                         "The day yearless and day-of-year dates are resolved against (archives)")
      ->type_name("YYYY-MM-DD")
      ->check(CLI::Validator(
          [](std::string& text) {
            return talvo::tool::ParseIsoDay(text) ? std::string()
                                                  : "not a date YYYY-MM-DD within 1990-01-01..2089-12-31: " + text;
          },
          ""));
  CLI::Option* follow_flag = decode_cmd->add_flag(
      "--follow", decode.follow, "Keep reading the last input as it grows (and is rotated), until interrupted");
  decode_cmd->add_option("--poll-ms", decode.poll_ms, "Pause between looks at a followed input")
      ->check(CLI::Range(10, 60000))
      ->capture_default_str();
  CLI::Option* output_option = decode_cmd->get_option("--output");
  decode_cmd
      ->add_option("--state", decode.state,
                   "With --follow and -o: keep the position here, so a restarted run neither repeats nor skips a call")
      ->type_name("FILE")
      ->needs(follow_flag)
      ->needs(output_option);
  decode_cmd->add_flag("--trace", decode.trace,
                       "Show each line's result and each record's dump on standard error");
  decode_cmd->add_flag("--strict", decode.strict,
                       "Exit with 1 when a line was rejected (skipped lines do not count) or the settings have "
                       "warnings");
  decode_cmd->add_flag("--line-numbers", decode.line_numbers,
                       "Add the input and its line numbers to every record row");
  decode_cmd->add_flag("-q,--quiet", decode.quiet, "No summary at the end");
  decode_cmd->add_option("inputs", decode.inputs, "Report files; - or none for standard input")->type_name("FILE");
  talvo::tool::AddLayoutOption(*decode_cmd, "--settings", decode.settings);

  CLI::App* table_cmd = app.add_subcommand("table", "Conversion table (QUORCNVT.INT) tools");
  table_cmd->require_subcommand(1);
  talvo::tool::TableBuildOptions build;
  CLI::App* build_cmd = table_cmd->add_subcommand("build", "Write a table from a prefix,extension CSV list");
  build_cmd->add_option("prefixes", build.input, "CSV list of prefix,extension rows; - for standard input")
      ->required()
      ->type_name("FILE");
  build_cmd->add_option("-o,--output", build.output, "Table file to write")->capture_default_str()->type_name("FILE");
  talvo::tool::TableDumpOptions dump;
  CLI::App* dump_cmd = table_cmd->add_subcommand("dump", "List a table's entries and flag unusable ones");
  dump_cmd->add_option("file", dump.file, "Table file")->required()->type_name("FILE");
  dump_cmd->add_flag("--strict", dump.strict, "Exit with 1 when any problem is found");

  std::string settings_file;
  bool settings_strict = false;
  CLI::App* settings_cmd = app.add_subcommand("settings", "Show what the driver makes of a settings file");
  settings_cmd->add_option("file", settings_file, "Settings file")->required()->type_name("FILE");
  settings_cmd->add_flag("--strict", settings_strict, "Exit with 1 when there are warnings");
  std::string settings_sample;
  settings_cmd->add_option("--sample", settings_sample, "Also show what each key reads on this sample report")
      ->type_name("REPORT");
  talvo::tool::AddLayoutOption(*settings_cmd, "file", settings_file);

  talvo::tool::ExplainOptions explain;
  CLI::App* explain_cmd = talvo::tool::AddExplainCommand(app, explain);

  talvo::tool::GuessOptions guess;
  CLI::App* guess_cmd = talvo::tool::AddLayoutGuessCommand(app, guess);

  std::string layout_name;
  CLI::App* layouts_show_cmd = nullptr;
  CLI::App* layouts_cmd = talvo::tool::AddLayoutsCommand(app, layout_name, &layouts_show_cmd);

  talvo::tool::CollectOptions collect;
  talvo::tool::ExportOptions export_options;
  talvo::tool::StatsOptions stats;
  const talvo::tool::CollectCommands collect_cmds =
      talvo::tool::AddCollectCommands(app, collect, export_options, stats);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "talvo: " << ParseFailure(app, e) << " (see talvo --help)\n";
    return 2;
  }

  Output out(1, "standard output");
  Output err(2, "standard error");
  if (decode_cmd->parsed()) {
    decode.format = format == "jsonl" ? talvo::tool::RowFormat::kJsonl : talvo::tool::RowFormat::kCsv;
    if (!today.empty()) decode.today = talvo::tool::ParseIsoDay(today);
    return talvo::tool::RunDecode(decode, err);
  }
  if (collect_cmds.collect->parsed()) return talvo::tool::RunCollect(collect, err);
  if (collect_cmds.export_calls->parsed()) return talvo::tool::RunExport(export_options, out);
  if (collect_cmds.stats->parsed()) return talvo::tool::RunStats(stats, out);
  if (guess_cmd->parsed()) return talvo::tool::RunLayoutGuess(guess, out, err);
  if (explain_cmd->parsed()) return talvo::tool::RunExplain(explain, out);
  if (build_cmd->parsed()) return talvo::tool::RunTableBuild(build, err);
  if (dump_cmd->parsed()) return talvo::tool::RunTableDump(dump, out, err);
  if (layouts_show_cmd->parsed()) return talvo::tool::RunLayoutsShow(layout_name, out);
  if (layouts_cmd->parsed()) return talvo::tool::RunLayoutsList(out, err);
  if (settings_cmd->parsed()) {
    int warnings = talvo::tool::WriteSettingsReport(settings_file, out);
    if (!settings_sample.empty()) warnings += talvo::tool::WriteSampleReadings(settings_file, settings_sample, out);
    return settings_strict && warnings > 0 ? 1 : 0;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const talvo::tool::IoError& e) {
    std::cerr << "talvo: " << e.what() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "talvo: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "talvo: " << e.what() << "\n";
  }
  return 2;
}
