#include "plants/count_text.h"

namespace plantscatter {

namespace {

// The digit's value in `base`, or -1 when `c` is no digit of that base.
int digit_value(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value < base ? value : -1;
}

}  // namespace

int64_t count_from_text(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;

  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }

  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }

  // Unsigned arithmetic wraps by definition; the cast back to signed is modular in C++20.
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = digit_value(text[i], base);
    if (digit < 0) break;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  if (negative) value = 0 - value;
  return static_cast<int64_t>(value);
}

int64_t PlantCounts::total() const {
  uint64_t sum = 0;
  for (int64_t c : count) sum += static_cast<uint64_t>(c);
  return static_cast<int64_t>(sum);
}

}  // namespace plantscatter
