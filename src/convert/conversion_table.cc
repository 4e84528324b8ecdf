#include "convert/conversion_table.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/env.h"
#include "util/short_text.h"
#include "util/text.h"

namespace talvo {
namespace {

constexpr int kOpenAttempts = 50;
constexpr uint32_t kRetryPauseMs = 10;

// Field offsets inside one 26-byte entry record.
constexpr std::size_t kKeyLengthOffset = 0;
constexpr std::size_t kKeyOffset = 1;
constexpr std::size_t kReplacementLengthOffset = 17;
constexpr std::size_t kReplacementOffset = 18;

// The refusals a writer holding the file causes; they pass once it lets go.
bool IsTransientOpenError(uint32_t error) {
  return error == kErrorAccessDenied || error == kErrorSharingViolation ||
         error == kErrorLockViolation;
}

// Characters of `key` before its trailing spaces.
std::size_t TextLengthBeforeSpaces(std::string_view key) {
  std::size_t n = key.size();
  while (n > 0 && key[n - 1] == ' ') --n;
  return n;
}

// A key of at most 16 characters as two words, zero past its length.
struct KeyWords {
  uint64_t low = 0;
  uint64_t high = 0;
};
KeyWords WordsOf(std::string_view key) {
  KeyWords words;
  if (key.size() == kConversionKeyWidth) {
    std::memcpy(&words.low, key.data(), sizeof words.low);
    std::memcpy(&words.high, key.data() + sizeof words.low, sizeof words.high);
  } else {
    char bytes[kConversionKeyWidth] = {};
    std::memcpy(bytes, key.data(), key.size());
    std::memcpy(&words.low, bytes, sizeof words.low);
    std::memcpy(&words.high, bytes + sizeof words.low, sizeof words.high);
  }
  return words;
}

std::size_t HashOf(const KeyWords& words, std::size_t length) {
  uint64_t h = words.low * 0x9E3779B97F4A7C15u ^ (words.high + 0x632BE59BD9B4E019u + length);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9u;
  return static_cast<std::size_t>(h ^ (h >> 32));
}

}  // namespace

ConversionTable::ConversionTable(std::string_view file_bytes) {
  const std::size_t n = std::min(file_bytes.size(), image_.size());
  if (n > 0) std::memcpy(image_.data(), file_bytes.data(), n);

  entry_count_ = std::clamp<int32_t>(HeaderCount(), 0, kConversionCapacity);
  slots_.resize(std::bit_ceil(static_cast<std::size_t>(entry_count_) * 2 + 2));
  slot_mask_ = slots_.size() - 1;
  for (int32_t i = 1; i <= entry_count_; ++i) {
    const std::string_view key = Entry(i).key;
    if (key.size() == kConversionKeyWidth) padded_key_lengths_ |= 1u << TextLengthBeforeSpaces(key);
    if (key.empty()) continue;
    // Entries are visited in record order, so a key keeps its lowest entry.
    Slot& slot = slots_[SlotIndex(key)];
    if (slot.entry != 0) continue;
    const KeyWords words = WordsOf(key);
    slot = Slot{words.low, words.high, static_cast<uint8_t>(key.size()), static_cast<int16_t>(i)};
  }
}

std::size_t ConversionTable::SlotIndex(std::string_view key) const {
  const KeyWords words = WordsOf(key);
  for (std::size_t at = HashOf(words, key.size());; ++at) {
    const Slot& slot = slots_[at & slot_mask_];
    if (slot.entry == 0 || (slot.low == words.low && slot.high == words.high && slot.length == key.size())) {
      return at & slot_mask_;
    }
  }
}

int16_t ConversionTable::HeaderCount() const {
  const auto bits = static_cast<uint16_t>(image_[0] | (image_[1] << 8));
  return static_cast<int16_t>(bits);  // two's complement, as the file stores it
}

ConversionEntry ConversionTable::Entry(int32_t i) const {
  const std::size_t record = static_cast<std::size_t>(i) * kConversionRecordSize;
  const char* bytes = reinterpret_cast<const char*>(image_.data()) + record;
  ConversionEntry entry;
  const std::size_t key_length = image_[record + kKeyLengthOffset];
  if (key_length <= kConversionKeyWidth) entry.key = std::string_view(bytes + kKeyOffset, key_length);
  const std::size_t replacement_length =
      std::min<std::size_t>(image_[record + kReplacementLengthOffset], kConversionReplacementWidth);
  entry.replacement = std::string_view(bytes + kReplacementOffset, replacement_length);
  return entry;
}

ConversionMatch ConversionTable::Find(std::string_view key) const {
  key = key.substr(0, kConversionSearchKeyLimit);
  // No usable entry has an empty key or one longer than the key field.
  if (key.empty() || key.size() > kConversionKeyWidth) return {};
  const Slot& slot = slots_[SlotIndex(key)];
  if (slot.entry == 0) return {};
  return ConversionMatch{true, slot.entry};
}

std::unique_ptr<ConversionTable> ReadConversionTable(Env& env) {
  SharedReadResult read;
  for (int attempt = 1;; ++attempt) {
    read = env.ReadFileShared(kConversionFileName, kConversionImageSize);
    if (read.error == kErrorNone) break;
    if (!IsTransientOpenError(read.error) || attempt == kOpenAttempts) {
      read.bytes.clear();  // never opened: an empty table
      break;
    }
    env.SleepMs(kRetryPauseMs);
  }
  return std::make_unique<ConversionTable>(read.bytes);
}

void ApplyConversion(const ConversionTable* table, CallRecord& record, std::string_view dialled) {
  if (table == nullptr) return;
  std::string_view prefix = TrimBlanks(dialled.substr(0, kConversionDialledLimit));
  // The search key of a prefix is the prefix padded with spaces to 16
  // characters. It is built once; dropping the prefix's last character then
  // turns that character of the key into a space (or, beyond 16, shortens it).
  // A prefix without a space longer than every key is looked up nowhere:
  // the search starts at the longest key.
  if (const std::size_t longest = table->LongestPaddedKey();
      prefix.size() > longest && prefix.find(' ') == std::string_view::npos) {
    prefix = prefix.substr(0, longest);
  }
  char padded[std::max(kConversionDialledLimit, kConversionKeyWidth)];
  std::memset(padded, ' ', sizeof padded);
  MoveSmall(padded, prefix.data(), std::min(prefix.size(), sizeof padded));
  while (!prefix.empty()) {
    const std::string_view key(padded, std::max(prefix.size(), kConversionKeyWidth));
    ConversionMatch match;
    if (prefix.size() > kConversionKeyWidth || table->MayHoldPaddedKey(TextLengthBeforeSpaces(prefix))) {
      match = table->Find(key);
    }
    if (match.found) {
      const std::string_view replacement = table->Entry(match.index).replacement;
      // An entry that would charge the call where it already is does not count:
      // shorter prefixes may still name another extension.
      if (replacement != TextOf(record.Extension)) {
        StoreText(record.SecondExtension, TextOf(record.Extension));
        StoreText(record.Extension, replacement);
        const uint32_t flags = record.Flags;
        record.Flags = flags | TALVO_FLAG_CONVERTED;
        return;
      }
    }
    if (prefix.size() <= kConversionKeyWidth) padded[prefix.size() - 1] = ' ';
    prefix.remove_suffix(1);
  }
}

}  // namespace talvo
