// A decoded picture: 8-bit red, green, blue and alpha, rows from top to bottom.
#ifndef PLANTSCATTER_PLANTS_IMAGE_H_
#define PLANTSCATTER_PLANTS_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plants/plant_types.h"

namespace plantscatter {

struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgba;  // width * height * 4 bytes, no padding between rows

  // Makes the picture `width` x `height`, every byte 0. Large pictures are backed by huge
  // pages where the system offers them: faulting in a gigabyte 4 KiB at a time costs more
  // than decoding into it. Throws std::bad_alloc like any vector.
  void allocate(uint32_t new_width, uint32_t new_height);

  size_t stride() const { return static_cast<size_t>(width) * 4; }
  uint8_t* row(uint32_t y) { return rgba.data() + y * stride(); }
  const uint8_t* row(uint32_t y) const { return rgba.data() + y * stride(); }

  Rgb pixel(uint32_t x, uint32_t y) const {
    const uint8_t* p = row(y) + static_cast<size_t>(x) * 4;
    return {p[0], p[1], p[2]};
  }
  uint8_t alpha(uint32_t x, uint32_t y) const { return row(y)[static_cast<size_t>(x) * 4 + 3]; }
  // Sets the colour and leaves alpha as it is.
  void set_pixel(uint32_t x, uint32_t y, Rgb c) {
    uint8_t* p = row(y) + static_cast<size_t>(x) * 4;
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
};

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_IMAGE_H_
