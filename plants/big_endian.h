// PNG stores its lengths, sizes and checksums as big-endian 32-bit numbers.
#ifndef PLANTSCATTER_PLANTS_BIG_ENDIAN_H_
#define PLANTSCATTER_PLANTS_BIG_ENDIAN_H_

#include <cstdint>

namespace plantscatter {

inline uint32_t read_be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

inline void write_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_BIG_ENDIAN_H_
