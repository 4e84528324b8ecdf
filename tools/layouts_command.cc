#include "tools/layouts_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "tools/files.h"

namespace talvo::tool {
namespace {

namespace fs = std::filesystem;

struct FieldInfo {
  std::string_view name;
  std::string LayoutHeader::*text;
  bool required;
};

constexpr FieldInfo kFields[] = {
    {"models", &LayoutHeader::models, true},
    {"lines-per-call", &LayoutHeader::lines_per_call, true},
    {"pbx-options", &LayoutHeader::pbx_options, true},
    {"source", &LayoutHeader::source, true},
    {"cannot-express", &LayoutHeader::cannot_express, true},
    {"sample-today", &LayoutHeader::sample_today, false},
};

const FieldInfo* FindField(std::string_view name) {
  for (const FieldInfo& f : kFields) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

bool IsFieldNameChar(char c) { return (c >= 'a' && c <= 'z') || c == '-'; }

// "YYYY-MM-DD" naming a day of the calendar.
bool ReadIsoDate(std::string_view text, LocalDate& date) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  int parts[3] = {};
  const std::size_t starts[3] = {0, 5, 8};
  const std::size_t widths[3] = {4, 2, 2};
  for (int i = 0; i < 3; ++i) {
    for (std::size_t k = starts[i]; k < starts[i] + widths[i]; ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
      parts[i] = parts[i] * 10 + (text[k] - '0');
    }
  }
  const std::chrono::year_month_day day{std::chrono::year(parts[0]),
                                        std::chrono::month(static_cast<unsigned>(parts[1])),
                                        std::chrono::day(static_cast<unsigned>(parts[2]))};
  if (!day.ok()) return false;
  date = LocalDate{parts[0], parts[1], parts[2]};
  return true;
}

void CheckFields(LayoutHeader& h) {
  for (const FieldInfo& f : kFields) {
    if (f.required && (h.*f.text).empty()) h.problems.push_back("no \"; " + std::string(f.name) + ":\" field");
  }
  if (!h.lines_per_call.empty()) {
    if (h.lines_per_call.size() == 1 && h.lines_per_call[0] >= '1' && h.lines_per_call[0] <= '6') {
      h.lines = h.lines_per_call[0] - '0';
    } else {
      h.problems.push_back("lines-per-call is not a number from 1 to 6: \"" + h.lines_per_call + "\"");
    }
  }
  if (!h.sample_today.empty() && !ReadIsoDate(h.sample_today, h.today)) {
    h.problems.push_back("sample-today is not a date YYYY-MM-DD: \"" + h.sample_today + "\"");
  }
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// The folder of the running binary, or empty when it cannot be told.
fs::path BinaryFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

// A layout name is a file name stem of letters, digits, '-', '_' and '.';
// anything else (a '/', a name of dots) names no layout.
bool IsLayoutName(std::string_view name) {
  if (name.empty() || name.find_first_not_of('.') == std::string_view::npos) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

std::string RequireLayoutsFolder() {
  std::string folder = FindLayoutsFolder();
  if (folder.empty()) {
    throw IoError("no layouts folder: set TALVO_LAYOUTS to the folder of the layout files");
  }
  return folder;
}

constexpr std::string_view kFolderHelp =
    "Layouts are read from the folder named by the environment variable TALVO_LAYOUTS; without it, from "
    "../share/talvo/layouts beside the talvo binary; without that, from the layouts folder of the source "
    "tree talvo was built from.";

}  // namespace

LayoutHeader ReadLayoutHeader(std::string_view content) {
  LayoutHeader h;
  std::string* current = nullptr;
  std::vector<bool> seen(std::size(kFields), false);
  std::size_t pos = 0;
  for (int number = 1; pos < content.size(); ++number) {
    std::size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] != ';') break;
    const std::string_view text = line.substr(1);
    const std::string where = "line " + std::to_string(number) + ": ";
    if (text.find_first_not_of(' ') == std::string_view::npos) {
      current = nullptr;
      continue;
    }
    if (text.size() >= 2 && text[0] == ' ' && text[1] == ' ') {
      if (current == nullptr) {
        h.problems.push_back(where + "a continuation line with no field before it");
      } else {
        current->append(" ").append(text.substr(text.find_first_not_of(' ')));
      }
      continue;
    }
    std::size_t name_end = 1;
    while (name_end < text.size() && IsFieldNameChar(text[name_end])) ++name_end;
    const FieldInfo* field = nullptr;
    if (text[0] == ' ' && name_end < text.size() && text[name_end] == ':') {
      field = FindField(text.substr(1, name_end - 1));
    }
    if (field == nullptr) {
      h.problems.push_back(where + "not a field (\"; name: text\") nor a continuation (\";   text\")");
      current = nullptr;
      continue;
    }
    const auto index = static_cast<std::size_t>(field - kFields);
    if (seen[index]) h.problems.push_back(where + "field " + std::string(field->name) + " given twice");
    seen[index] = true;
    current = &(h.*field->text);
    const std::string_view value = text.substr(name_end + 1);
    const std::size_t first = value.find_first_not_of(' ');
    if (first != std::string_view::npos) {
      if (!current->empty()) current->append(" ");
      current->append(value.substr(first));
    }
  }
  CheckFields(h);
  return h;
}

std::string FindLayoutsFolder() {
  if (const char* env = std::getenv("TALVO_LAYOUTS"); env != nullptr && *env != '\0') return env;
  const fs::path binary = BinaryFolder();
  if (!binary.empty()) {
    const fs::path installed = binary / ".." / "share" / "talvo" / "layouts";
    if (IsDirectory(installed)) return installed.lexically_normal().string();
  }
  if (IsDirectory(TALVO_LAYOUTS_SOURCE_DIR)) return TALVO_LAYOUTS_SOURCE_DIR;
  return {};
}

std::vector<std::string> ListLayouts(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() == ".ini" && it->is_regular_file(ec)) names.push_back(p.stem().string());
  }
  if (ec) throw IoError(DescribeError("cannot read layouts folder", folder, ec.value()));
  std::sort(names.begin(), names.end());
  return names;
}

std::string LayoutPath(std::string_view name) {
  const std::string folder = RequireLayoutsFolder();
  const fs::path path = fs::path(folder) / (std::string(name) + ".ini");
  std::error_code ec;
  if (!IsLayoutName(name) || !fs::is_regular_file(path, ec)) {
    throw IoError("no layout named '" + std::string(name) + "' in " + folder + " (talvo layouts lists them)");
  }
  return path.string();
}

int RunLayoutsList(Output& out, Output& err) {
  const std::string folder = RequireLayoutsFolder();
  const std::vector<std::string> names = ListLayouts(folder);
  std::size_t width = std::string_view("layout").size();
  for (const std::string& n : names) width = std::max(width, n.size());
  std::string& o = out.buffer();
  o += "layout" + std::string(width - 6 + 2, ' ') + "lines  models\n";
  out.EndRow();
  for (const std::string& name : names) {
    const std::string path = (fs::path(folder) / (name + ".ini")).string();
    const LayoutHeader h = ReadLayoutHeader(ReadWholeFile(path, "layout"));
    for (const std::string& p : h.problems) err.Write("talvo: warning: " + path + ": " + p + "\n");
    const std::string lines = h.lines > 0 ? std::to_string(h.lines) : "?";
    o += name + std::string(width - name.size() + 2, ' ');
    o += std::string(5 - lines.size(), ' ') + lines + "  " + (h.models.empty() ? "?" : h.models) + "\n";
    out.EndRow();
  }
  out.Flush();
  err.Flush();
  return 0;
}

int RunLayoutsShow(const std::string& name, Output& out) {
  out.Write(ReadWholeFile(LayoutPath(name), "layout"));
  out.Flush();
  return 0;
}

CLI::App* AddLayoutsCommand(CLI::App& app, std::string& name, CLI::App** show) {
  CLI::App* layouts = app.add_subcommand("layouts", "List the PBX layouts that come with talvo");
  const std::string found = FindLayoutsFolder();
  layouts->footer(std::string(kFolderHelp) + "\nLayouts folder now: " + (found.empty() ? "none found" : found));
  *show = layouts->add_subcommand("show", "Print a layout's settings file");
  (*show)->add_option("name", name, "Layout name, as talvo layouts lists it")->required();
  return layouts;
}

void AddLayoutOption(CLI::App& command, const std::string& settings_option, std::string& settings) {
  CLI::Option* file = command.get_option(settings_option);
  file->required(false);
  CLI::Option* layout =
      command
          .add_option("--layout", settings,
                      "Settings from the layout NAME instead of a file (see talvo layouts --help)")
          ->type_name("NAME")
          ->transform(CLI::Validator(
              [](std::string& value) -> std::string {
                try {
                  value = LayoutPath(value);
                  return {};
                } catch (const IoError& e) {
                  return e.what();
                }
              },
              "", "layout name"));
  file->excludes(layout);
  const std::string either = (settings_option.starts_with("-") ? settings_option + " FILE" : "a settings file") +
                             " or --layout NAME";
  command.final_callback([file, layout, either] {
    if (file->count() + layout->count() == 0) throw CLI::RequiredError(either);
  });
}

}  // namespace talvo::tool
