// Bounded texts: a length byte followed by room for N characters.
//
// Every text field of the call record, of the settings and of the parser's
// working buffers is of this form. Storing a longer text keeps its first N
// characters and is never an error. The same two functions serve ShortText<N>
// and the text fields that the public header declares with TALVO_TEXT(N).
#ifndef TALVO_UTIL_SHORT_TEXT_H_
#define TALVO_UTIL_SHORT_TEXT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace talvo {

template <std::size_t N>
struct ShortText {
  static_assert(N >= 1 && N <= 255, "a length byte counts at most 255 characters");
  uint8_t length = 0;
  char chars[N] = {};

  static constexpr std::size_t kCapacity = N;

  std::string_view view() const { return TextOf(*this); }
  bool empty() const { return length == 0; }
  void assign(std::string_view text) { StoreText(*this, text); }
  void clear() { length = 0; }

  friend bool operator==(const ShortText& a, const ShortText& b) { return a.view() == b.view(); }
};

static_assert(sizeof(ShortText<8>) == 9, "a text[8] is nine bytes");

// Moves `n` bytes from `from` to `to`, which may overlap. Texts of a record
// are short and a call stores a dozen, so up to 32 bytes are moved inline:
// every byte is loaded before any is stored, in two chunks that may overlap.
inline void MoveSmall(char* to, const char* from, std::size_t n) {
  const auto move_two = [&](auto chunk) {
    decltype(chunk) head;
    decltype(chunk) tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
  };
  struct Sixteen {
    uint64_t low, high;
  };
  if (n >= 16) {
    if (n > 32) {
      std::memmove(to, from, n);
    } else {
      move_two(Sixteen{});
    }
  } else if (n >= 8) {
    move_two(uint64_t{});
  } else if (n >= 4) {
    move_two(uint32_t{});
  } else if (n >= 2) {
    move_two(uint16_t{});
  } else if (n == 1) {
    to[0] = from[0];
  }
}

// Capacity of any bounded text: ShortText<N> or a TALVO_TEXT(N) field.
template <typename T>
constexpr std::size_t CapacityOf() {
  return sizeof(T{}.chars);
}

// The characters of a bounded text. A length byte above the capacity (only a
// host can write one) is read as the capacity.
template <typename T>
std::string_view TextOf(const T& text) {
  constexpr std::size_t cap = CapacityOf<T>();
  return std::string_view(text.chars, std::min<std::size_t>(text.length, cap));
}

// Stores `value` into a bounded text, keeping its first N characters. Bytes
// after the new length are left as they were.
template <typename T>
void StoreText(T& text, std::string_view value) {
  constexpr std::size_t cap = CapacityOf<T>();
  const std::size_t n = std::min(value.size(), cap);
  MoveSmall(text.chars, value.data(), n);
  text.length = static_cast<uint8_t>(n);
}

}  // namespace talvo

#endif  // TALVO_UTIL_SHORT_TEXT_H_
