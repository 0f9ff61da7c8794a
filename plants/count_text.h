// The lenient rule by which a count field's text becomes a number.
#ifndef PLANTSCATTER_PLANTS_COUNT_TEXT_H_
#define PLANTSCATTER_PLANTS_COUNT_TEXT_H_

#include <array>
#include <cstdint>
#include <string_view>

#include "plants/plant_types.h"

namespace plantscatter {

// Any text yields a number: leading blanks and tabs are skipped, one optional sign is
// taken, "$" selects hexadecimal and "%" binary, and digits of that base are read until
// the first other character. Arithmetic wraps around in 64 bits; text that holds no
// number yields 0.
int64_t count_from_text(std::string_view text);

// How many plants of each type are wanted; index 0 is type 1.
struct PlantCounts {
  std::array<int64_t, kPlantTypeCount> count{};

  int64_t& operator[](int type_id) { return count[static_cast<size_t>(type_id - 1)]; }
  int64_t operator[](int type_id) const { return count[static_cast<size_t>(type_id - 1)]; }

  // The sum of the ten counts in 64-bit arithmetic that wraps around on overflow.
  int64_t total() const;
};

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_COUNT_TEXT_H_
