// Paints the colour legend shown beside the count fields: ten opaque bands, one per plant
// type from the top, 103 pixels wide, with fully transparent white rows between them.
// Deterministic: the same file on every run. The result is committed as assets/legend.png.
//
//   make_legend OUTPUT.png
#include <cstdint>
#include <cstdio>
#include <string>

#include "plants/image.h"
#include "plants/plant_types.h"
#include "plants/png_encode.h"

namespace {

constexpr uint32_t kWidth = 103;
constexpr uint32_t kHeight = 579;

struct Band {
  uint32_t first_row;
  uint32_t last_row;
};

// Band k stands for plant type k + 1. Consecutive band tops are 60 or 61 rows apart, so
// the bands meet the count field rows (30 units apart) when a unit is two pixels.
constexpr Band kBands[plantscatter::kPlantTypeCount] = {
    {0, 38},    {60, 98},   {121, 158}, {181, 218}, {241, 278},
    {301, 339}, {361, 399}, {421, 458}, {481, 519}, {541, 578},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_legend OUTPUT.png\n");
    return 2;
  }

  plantscatter::Image image;
  image.width = kWidth;
  image.height = kHeight;
  image.rgba.resize(static_cast<size_t>(kWidth) * kHeight * 4);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    image.rgba[i] = 255;
    image.rgba[i + 1] = 255;
    image.rgba[i + 2] = 255;
    image.rgba[i + 3] = 0;
  }

  for (const plantscatter::PlantType& type : plantscatter::kPlantTypes) {
    const Band band = kBands[type.id - 1];
    for (uint32_t y = band.first_row; y <= band.last_row; ++y) {
      uint8_t* p = image.row(y);
      for (uint32_t x = 0; x < kWidth; ++x, p += 4) {
        p[0] = type.legend.r;
        p[1] = type.legend.g;
        p[2] = type.legend.b;
        p[3] = 255;
      }
    }
  }

  std::string error;
  if (!plantscatter::encode_png_file(image, argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
