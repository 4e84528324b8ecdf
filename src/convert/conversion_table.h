// The conversion table QUORCNVT.INT: re-charges outgoing calls by the prefix
// of the dialled number.
//
// The file is a flat run of 26-byte records. Record 0 is the header: a signed
// 16-bit little-endian entry count at offset 0, the other 24 bytes unused.
// Records 1..500 are entries:
//
//   offset  width  field
//        0      1  key length, 0..16
//        1     16  key: the number prefix, left-aligned, padded with spaces to
//                  16 characters (so the length byte of a usable entry is 16)
//       17      1  replacement length, 0..8
//       18      8  replacement: the extension to charge
//
// Keys are compared byte for byte, length included; no case folding and no
// trimming of the stored key.
//
// A Driver holds one table for all its handles: DrvProcessStart loads it,
// DrvProcessEnd releases it, and in between every handle's lines read it.
#ifndef TALVO_CONVERT_CONVERSION_TABLE_H_
#define TALVO_CONVERT_CONVERSION_TABLE_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <memory>
#include <vector>

#include "platform/env.h"
#include "talvo/driver.h"

namespace talvo {

inline constexpr char kConversionFileName[] = "QUORCNVT.INT";
inline constexpr std::size_t kConversionRecordSize = 26;
inline constexpr int32_t kConversionCapacity = 500;  // entries, header not counted
inline constexpr std::size_t kConversionImageSize =
    kConversionRecordSize * (static_cast<std::size_t>(kConversionCapacity) + 1);  // 13026
inline constexpr std::size_t kConversionKeyWidth = 16;
inline constexpr std::size_t kConversionReplacementWidth = 8;
// Longest search key FindConversionEntry looks at; longer keys are cut.
inline constexpr std::size_t kConversionSearchKeyLimit = 80;
// Longest dialled number ApplyConversionTable looks at; longer ones are cut.
inline constexpr std::size_t kConversionDialledLimit = 24;

// Result of a search: `index` is the 1-based entry number, meaningful iff found.
struct ConversionMatch {
  bool found = false;
  int16_t index = 0;
};

// One entry as the lookup sees it.
struct ConversionEntry {
  // The key's characters (as many as the length byte says), or empty when the
  // length byte is 0 or above 16: such an entry never matches.
  std::string_view key;
  // The replacement's characters; a length byte above 8 is read as 8.
  std::string_view replacement;
};

// An in-memory copy of the table file with an index of its keys.
class ConversionTable {
 public:
  // A table holding the first 13026 bytes of `file_bytes` as they are, with
  // every byte the file does not supply set to zero.
  explicit ConversionTable(std::string_view file_bytes);

  ConversionTable(const ConversionTable&) = delete;
  ConversionTable& operator=(const ConversionTable&) = delete;

  // The header's count as a signed 16-bit number, unlimited.
  int16_t HeaderCount() const;

  // Number of entries searched: the header's count limited to 0..500. A
  // count of 0 or below means none; above 500, the first 500 are used.
  int32_t EntryCount() const { return entry_count_; }

  // Entry `i`. REQUIRES: 1 <= i <= 500 (entries past EntryCount() may be read).
  ConversionEntry Entry(int32_t i) const;

  // The 13026 bytes of the table as read.
  const std::array<uint8_t, kConversionImageSize>& Image() const { return image_; }

  // The first entry among 1..EntryCount() whose key has the length and the
  // characters of `key` (cut to 80 characters). An empty key finds nothing.
  // Looks the key up in an index built once, at construction.
  ConversionMatch Find(std::string_view key) const;

  // False when no usable key of 16 characters has `n` characters before its
  // trailing spaces: a search key of that form then finds nothing, and the
  // prefix search passes it over without looking it up.
  bool MayHoldPaddedKey(std::size_t n) const {
    return n <= kConversionKeyWidth && (padded_key_lengths_ >> n & 1u) != 0;
  }
  // The longest text before the spaces of any full-width key; 0 for none.
  std::size_t LongestPaddedKey() const {
    return padded_key_lengths_ == 0 ? 0 : static_cast<std::size_t>(std::bit_width(padded_key_lengths_)) - 1;
  }

 private:
  // One key of the index: its characters in two words, zero past its
  // length, and the lowest entry that holds it (0: the slot is free).
  struct Slot {
    uint64_t low = 0;
    uint64_t high = 0;
    uint8_t length = 0;
    int16_t entry = 0;
  };
  // The slot that holds `key` (at most 16 characters), or the free slot where
  // it would go. The index is never full: it has twice the slots of keys.
  std::size_t SlotIndex(std::string_view key) const;

  std::array<uint8_t, kConversionImageSize> image_{};
  int32_t entry_count_ = 0;
  // Bit n is set iff a usable key of 16 characters has n characters before
  // its trailing spaces.
  uint32_t padded_key_lengths_ = 0;
  // Every usable key of entries 1..EntryCount(), open addressing with linear
  // probing: an outgoing call looks up a few 16-character keys, and a lookup
  // is two words compared.
  std::vector<Slot> slots_;
  std::size_t slot_mask_ = 0;
};

// Reads QUORCNVT.INT from the current directory through `env`. An open
// refused with access denied (5), sharing violation (32) or lock violation
// (33) is tried again after 10 ms, up to 50 attempts in all; any other error
// stops at once. A file that cannot be read gives an empty table; the result
// is never null. Throws std::bad_alloc when memory runs out.
std::unique_ptr<ConversionTable> ReadConversionTable(Env& env);

// Re-charges an outgoing call by its dialled number (cut to 24 characters,
// blanks and control characters trimmed at both ends). Prefixes are tried from
// the longest to the shortest, each padded with spaces to 16 characters; the
// first prefix whose entry (the first one with that key) names an extension
// other than the record's Extension wins: the old Extension moves to
// SecondExtension, the entry's replacement becomes Extension, and
// TALVO_FLAG_CONVERTED is set in Flags. An entry naming the record's own
// Extension does not stop the search. Nothing else changes. A null `table`
// (none loaded) converts nothing.
void ApplyConversion(const ConversionTable* table, CallRecord& record, std::string_view dialled);

}  // namespace talvo

#endif  // TALVO_CONVERT_CONVERSION_TABLE_H_
