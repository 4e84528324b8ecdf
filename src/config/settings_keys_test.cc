// The key table and the page that explains it to people: docs/settings.md
// shows every key with the kind, default, limit and meaning of the table, and
// no key the table lacks.
#include "config/settings_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace talvo {
namespace {

using DocRow = std::vector<std::string>;  // kind, default, limit, meaning

// The key tables of the page's section "The keys", by their first cell.
std::map<std::string, DocRow> KeyRowsOfThePage() {
  std::ifstream file(std::string(TALVO_SOURCE_DIR) + "/docs/settings.md");
  std::stringstream text;
  text << file.rdbuf();
  const std::string page = text.str();
  const std::size_t begin = page.find("\n## The keys");
  const std::size_t end = page.find("\n## ", begin + 1);
  std::istringstream part(page.substr(begin, end - begin));
  std::map<std::string, DocRow> rows;
  for (std::string line; std::getline(part, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream cut(line.substr(1));
    for (std::string cell; std::getline(cut, cell, '|');) {
      const std::size_t first = cell.find_first_not_of(' ');
      const std::size_t last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    if (cells.size() == 4) cells.insert(cells.begin() + 3, "");  // a table without a limit column
    rows[cells[0]] = DocRow(cells.begin() + 1, cells.end());
  }
  return rows;
}

// The rows the table says the page must show.
std::map<std::string, DocRow> KeyRowsOfTheTable() {
  std::map<std::string, DocRow> rows;
  for (const SettingsKey& key : SettingsKeys()) {
    const std::string name(key.name);
    const DocRow row = {std::string(key.kind), std::string(key.default_value), std::string(key.limit_text),
                        std::string(key.meaning)};
    const auto range = [&](const std::string& suffix) {
      return "`" + name + "1" + suffix + "` .. `" + name + std::to_string(key.count) + suffix + "`";
    };
    switch (key.form) {
      case KeyForm::kMarkers:
        rows[range("_POS")] = row;
        rows[range("_STR")] = {"text, first 10 characters", "empty", "", std::string(key.text_meaning)};
        break;
      case KeyForm::kBlanks:
        rows[range("_POS")] = row;
        break;
      case KeyForm::kCharacters:
        rows[range("")] = row;
        break;
      default:
        rows["`" + name + "`"] = row;
        break;
    }
  }
  return rows;
}

TEST(SettingsKeys, ThePageShowsTheTable) {
  const std::map<std::string, DocRow> page = KeyRowsOfThePage();
  const std::map<std::string, DocRow> table = KeyRowsOfTheTable();
  for (const auto& [key, row] : table) {
    const auto found = page.find(key);
    if (found == page.end()) {
      ADD_FAILURE() << key << " is missing from docs/settings.md";
    } else {
      EXPECT_EQ(found->second, row) << key << ": docs/settings.md says otherwise (kind, default, limit, meaning)";
    }
  }
  for (const auto& [key, row] : page) {
    EXPECT_TRUE(table.count(key) != 0) << key << " is on the page but not a key of the driver";
  }
}

}  // namespace
}  // namespace talvo
