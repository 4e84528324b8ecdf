// The prefix lookup of the conversion table on a full table of 500 entries,
// through its index.
//
// The table is what a site might keep: area codes of three to five digits,
// international prefixes, a few mobile ranges and whole numbers, each charged
// to an extension. The dialled numbers are ten to fourteen digits long; about
// half of them start with a prefix in the table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/conversion_table.h"
#include "talvo/driver.h"
#include "util/short_text.h"

namespace talvo {
namespace {

struct Fixture {
  std::unique_ptr<ConversionTable> table;
  std::vector<std::string> keys;     // padded search keys: half present, half missing
  std::vector<std::string> dialled;  // dialled numbers
};

std::string Digits(std::mt19937& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  return s;
}

std::string Padded(std::string key) {
  key.resize(kConversionKeyWidth, ' ');
  return key;
}

const Fixture& Data() {
  static const Fixture fixture = [] {
    Fixture f;
    std::mt19937 rng(4711);
    std::vector<std::string> prefixes;
    for (int i = 0; i < kConversionCapacity; ++i) {
      switch (i % 5) {
        case 0: prefixes.push_back("0" + Digits(rng, 2 + static_cast<int>(rng() % 3))); break;
        case 1: prefixes.push_back("00" + Digits(rng, 1 + static_cast<int>(rng() % 3))); break;
        case 2: prefixes.push_back("015" + Digits(rng, 1)); break;
        case 3: prefixes.push_back("0" + Digits(rng, 9)); break;
        default: prefixes.push_back("0" + Digits(rng, 3)); break;
      }
    }
    std::string file(kConversionRecordSize, '\0');
    file[0] = static_cast<char>(kConversionCapacity & 0xFF);
    file[1] = static_cast<char>(kConversionCapacity >> 8);
    for (std::size_t i = 0; i < prefixes.size(); ++i) {
      std::string record(kConversionRecordSize, '\0');
      record[0] = static_cast<char>(kConversionKeyWidth);
      Padded(prefixes[i]).copy(&record[1], kConversionKeyWidth);
      const std::string extension = std::to_string(200 + i % 300);
      record[17] = static_cast<char>(extension.size());
      extension.copy(&record[18], 8);
      file += record;
    }
    f.table = std::make_unique<ConversionTable>(file);

    for (std::size_t i = 0; i < 1000; ++i) {
      const std::string& p = prefixes[(i * 7919) % prefixes.size()];
      f.keys.push_back(Padded(i % 2 == 0 ? p : "9" + p.substr(1)));
      const std::string number = i % 2 == 0 ? p + Digits(rng, 12) : "0" + Digits(rng, 13);
      f.dialled.push_back(number.substr(0, 10 + i % 5));
    }
    return f;
  }();
  return fixture;
}

void BM_FindConversionEntry(benchmark::State& state) {
  const Fixture& f = Data();
  std::size_t i = 0;
  for (auto _ : state) {
    const ConversionMatch m = f.table->Find(f.keys[i]);
    benchmark::DoNotOptimize(m);
    if (++i == f.keys.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindConversionEntry);

void BM_ApplyConversion(benchmark::State& state) {
  const Fixture& f = Data();
  CallRecord record;
  std::memset(&record, 0, sizeof record);
  std::size_t i = 0;
  for (auto _ : state) {
    StoreText(record.Extension, "215");
    ApplyConversion(f.table.get(), record, f.dialled[i]);
    benchmark::DoNotOptimize(record);
    if (++i == f.dialled.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ApplyConversion);

}  // namespace
}  // namespace talvo
