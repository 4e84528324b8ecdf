// The conversion table as another program may have written it.
//
// Input: a 2-byte little-endian length L, then the first L bytes of the
// QUORCNVT.INT file (fewer when the input ends), then dialled numbers, one per
// "\n"-ended piece, any bytes.
//
// Checked:
//  - the table read through the platform layer holds the file's first 13026
//    bytes, zeros after them;
//  - for the keys of entries spread over the table and for every dialled
//    number (whole, and each prefix the conversion tries, padded to 16), the
//    indexed lookup gives the answer of a plain reading of the file's bytes
//    written here;
//  - a call converted with the index ends up as the plain reading of the
//    prefix rule written here says, from an empty extension and from the
//    replacements of the first entries looked at; a call that is not
//    converted is left as it was.
//
// Only the first 8 dialled numbers are used.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "convert/conversion_table.h"
#include "support/fake_env.h"
#include "util/short_text.h"
#include "util/text.h"

namespace {

using talvo::ConversionMatch;
using talvo::ConversionTable;

constexpr char kFuzzTarget[] = "conversion_table_fuzzer";

// The plain reading of the file: entries 1..min(count, 500), each usable key
// (length byte 1..16) mapped to the first entry holding it. Built once per
// input, so that every key looked up costs one map search here, not a scan.
class Reference {
 public:
  explicit Reference(const std::string& image) : image_(image) {
    const auto count = static_cast<int16_t>(static_cast<uint16_t>(
        static_cast<uint8_t>(image[0]) | (static_cast<uint8_t>(image[1]) << 8)));
    const int32_t n = std::min<int32_t>(count, 500);
    for (int32_t i = 1; i <= n; ++i) {
      const char* record = image.data() + 26 * static_cast<std::size_t>(i);
      const std::size_t length = static_cast<uint8_t>(record[0]);
      if (length >= 1 && length <= 16) first_.emplace(std::string(record + 1, length), static_cast<int16_t>(i));
    }
  }

  // Keys longer than 80 are cut; empty keys and keys longer than the 16-byte
  // key field find nothing.
  ConversionMatch Find(std::string_view key) const {
    key = key.substr(0, 80);
    if (key.empty() || key.size() > 16) return {};
    const auto it = first_.find(key);
    if (it == first_.end()) return {};
    return ConversionMatch{true, it->second};
  }

  // Entry i's replacement: a length byte above 8 reads as 8.
  std::string_view Replacement(int32_t i) const {
    const char* record = image_.data() + 26 * static_cast<std::size_t>(i);
    return std::string_view(record + 18, std::min<std::size_t>(static_cast<uint8_t>(record[17]), 8));
  }

 private:
  const std::string& image_;
  std::map<std::string, int16_t, std::less<>> first_;
};

// The indexed lookup against the plain reading.
void CheckLookup(const ConversionTable& table, const Reference& reference, std::string_view key) {
  const ConversionMatch want = reference.Find(key);
  const ConversionMatch indexed = table.Find(key);
  FUZZ_CHECK(indexed.found == want.found);
  if (want.found) FUZZ_CHECK(indexed.index == want.index);
}

// The conversion read plainly: prefixes of the trimmed number (cut to 24),
// longest first, padded to 16; the first whose entry names another extension
// than the call's wins.
CallRecord ReferenceConversion(const Reference& reference, CallRecord record, std::string_view dialled) {
  const std::string_view trimmed = talvo::TrimBlanks(dialled.substr(0, 24));
  for (std::size_t n = trimmed.size(); n > 0; --n) {
    const ConversionMatch match = reference.Find(talvo::PadRight(trimmed.substr(0, n), 16, ' '));
    if (!match.found) continue;
    const std::string_view replacement = reference.Replacement(match.index);
    const std::string_view extension = talvo::TextOf(record.Extension);
    if (replacement == extension) continue;
    const std::string old_extension(extension);
    talvo::StoreText(record.SecondExtension, old_extension);
    talvo::StoreText(record.Extension, replacement);
    record.Flags = record.Flags | TALVO_FLAG_CONVERTED;
    break;
  }
  return record;
}

// The call converted with the index agrees with the plain reading.
void CheckConversion(const ConversionTable& table, const Reference& reference, std::string_view dialled,
                     std::string_view extension) {
  CallRecord by_index{};
  talvo::StoreText(by_index.Extension, extension);
  by_index.Flags = TALVO_FLAG_OUTGOING;
  const CallRecord before = by_index;
  const CallRecord want = ReferenceConversion(reference, before, dialled);
  talvo::ApplyConversion(&table, by_index, dialled);
  FUZZ_CHECK(std::memcmp(&by_index, &want, sizeof(CallRecord)) == 0);
  FUZZ_CHECK(by_index.Extension.length <= 8 && by_index.SecondExtension.length <= 8);
  const uint32_t flags = by_index.Flags;
  if ((flags & TALVO_FLAG_CONVERTED) == 0) {
    FUZZ_CHECK(std::memcmp(&by_index, &before, sizeof(CallRecord)) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t wanted = static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1]) << 8);
  const std::size_t file_size = std::min(wanted, size - 2);
  const std::string file(reinterpret_cast<const char*>(data) + 2, file_size);
  std::string_view rest(reinterpret_cast<const char*>(data) + 2 + file_size, size - 2 - file_size);

  // The image as the module must hold it: the file's first bytes, then zeros.
  std::string image = file.substr(0, talvo::kConversionImageSize);
  image.resize(talvo::kConversionImageSize, '\0');

  talvo::testing::FakeEnv env;
  env.shared_files[talvo::kConversionFileName] = file;
  const std::unique_ptr<ConversionTable> loaded = talvo::ReadConversionTable(env);
  const ConversionTable* table = loaded.get();
  FUZZ_CHECK(table != nullptr);
  FUZZ_CHECK(std::memcmp(table->Image().data(), image.data(), image.size()) == 0);
  FUZZ_CHECK(table->EntryCount() == std::clamp<int32_t>(table->HeaderCount(), 0, 500));

  // Entries' own keys find their first occurrence: about twenty entries,
  // spread over the table, the last one included.
  const Reference reference(image);
  std::vector<std::string> replacements;
  const auto check_entry = [&](int32_t i) {
    const char* record = image.data() + 26 * static_cast<std::size_t>(i);
    const std::size_t n = std::min<std::size_t>(static_cast<uint8_t>(record[0]), 25);
    CheckLookup(*table, reference, std::string_view(record + 1, n));
    const talvo::ConversionEntry entry = table->Entry(i);
    FUZZ_CHECK(entry.key.size() <= 16 && entry.replacement.size() <= 8);
    if (replacements.size() < 2) replacements.emplace_back(entry.replacement);
  };
  const int32_t count = table->EntryCount();
  const int32_t step = std::max<int32_t>(1, count / 16);
  for (int32_t i = 1; i <= count; i += step) check_entry(i);
  if (count > 0 && (count - 1) % step != 0) check_entry(count);

  int numbers = 0;
  while (!rest.empty() && numbers++ < 8) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view dialled = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));

    CheckLookup(*table, reference, dialled);
    const std::string_view trimmed = talvo::TrimBlanks(dialled.substr(0, 24));
    for (std::size_t n = trimmed.size(); n > 0; --n) {
      CheckLookup(*table, reference, talvo::PadRight(trimmed.substr(0, n), 16, ' '));
    }
    CheckConversion(*table, reference, dialled, "");
    for (const std::string& r : replacements) CheckConversion(*table, reference, dialled, r);
  }
  return 0;
}
