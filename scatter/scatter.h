// Placing plants: for each type, the requested number of distinct pixels of the type's key
// colour, each drawn uniformly from the type's pixels not chosen yet.
#ifndef PLANTSCATTER_SCATTER_SCATTER_H_
#define PLANTSCATTER_SCATTER_SCATTER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "plants/count_text.h"
#include "plants/image.h"
#include "plants/png_decode.h"
#include "scatter/random.h"

namespace plantscatter {

// One placed plant: its pixel, counted from the map's top-left corner, and its type.
struct PlantRecord {
  uint32_t x = 0;
  uint32_t y = 0;
  int type_id = 0;
  friend bool operator==(const PlantRecord&, const PlantRecord&) = default;
};

// Refuses counts that cannot be processed: a negative count, or a total of more plants
// than any picture within the decode limits can hold.
bool check_counts(const PlantCounts& counts, std::string* error);

// Paints every plant's pixel with the marker colour.
void mark_plants(Image* image, std::span<const PlantRecord> plants);

}  // namespace plantscatter

#endif  // PLANTSCATTER_SCATTER_SCATTER_H_
