// Checks the count field rule on arbitrary text against a plain reading of the rule written
// here independently, plus a few properties any correct reading has. The input's lines are
// the ten fields, whose total must be their sum wrapped to 64 bits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "plants/count_text.h"

namespace {

void check(bool condition, const char* what, std::string_view text) {
  if (condition) return;
  std::fprintf(stderr, "count_text_fuzz: %s, for the text \"%.*s\"\n", what,
               static_cast<int>(text.size()), text.data());
  std::abort();
}

// The rule, step by step: blanks and tabs, one sign, "$" or "%" for the base, digits of
// that base until anything else. The value is kept modulo 2^64 in a 128-bit integer.
int64_t reference_count(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  } else if (i < text.size() && text[i] == '+') {
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }
  static constexpr std::string_view kDigits = "0123456789abcdef";
  unsigned __int128 value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    const size_t digit = kDigits.substr(0, base).find(c);
    if (digit == std::string_view::npos) break;
    value = (value * base + digit) & UINT64_MAX;
  }
  if (negative) value = ((~value) + 1) & UINT64_MAX;
  const uint64_t bits = static_cast<uint64_t>(value);
  return bits <= static_cast<uint64_t>(INT64_MAX)
             ? static_cast<int64_t>(bits)
             : -static_cast<int64_t>(~bits) - 1;  // two's complement without overflow
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int64_t value = plantscatter::count_from_text(text);
  check(value == reference_count(text), "differs from the reference", text);

  // Whatever follows a character that is a digit in no base cannot matter, nor can a
  // leading blank or tab.
  check(plantscatter::count_from_text(std::string(text) + "x9") ==
            plantscatter::count_from_text(std::string(text) + "x"),
        "text after the number changed it", text);
  check(plantscatter::count_from_text(" \t" + std::string(text)) == value,
        "a leading blank changed the number", text);

  // The input's first ten lines are the ten count fields.
  plantscatter::PlantCounts counts;
  uint64_t sum = 0;
  std::string_view rest = text;
  for (int type = 1; type <= plantscatter::kPlantTypeCount; ++type) {
    const size_t end = rest.find('\n');
    const std::string_view field = rest.substr(0, end);
    counts[type] = plantscatter::count_from_text(field);
    sum += static_cast<uint64_t>(reference_count(field));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  check(static_cast<uint64_t>(counts.total()) == sum, "the total is not the wrapped sum", text);
  return 0;
}
