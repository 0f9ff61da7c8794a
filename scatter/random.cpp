#include "scatter/random.h"

#include <chrono>

namespace plantscatter {

namespace {

// High and low halves of the 128-bit product a * b.
inline void multiply_64(uint64_t a, uint64_t b, uint64_t* high, uint64_t* low) {
#if defined(__SIZEOF_INT128__)
  __extension__ typedef unsigned __int128 uint128;
  const uint128 product = static_cast<uint128>(a) * b;
  *high = static_cast<uint64_t>(product >> 64);
  *low = static_cast<uint64_t>(product);
#else
  const uint64_t a_lo = a & 0xffffffffu, a_hi = a >> 32;
  const uint64_t b_lo = b & 0xffffffffu, b_hi = b >> 32;
  const uint64_t lo_lo = a_lo * b_lo;
  const uint64_t hi_lo = a_hi * b_lo;
  const uint64_t lo_hi = a_lo * b_hi;
  const uint64_t hi_hi = a_hi * b_hi;
  const uint64_t cross = (lo_lo >> 32) + (hi_lo & 0xffffffffu) + lo_hi;
  *high = hi_hi + (hi_lo >> 32) + (cross >> 32);
  *low = (cross << 32) | (lo_lo & 0xffffffffu);
#endif
}

}  // namespace

Random Random::from_entropy() {
  std::random_device device;
  uint64_t seed = (static_cast<uint64_t>(device()) << 32) ^ device();
  seed ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return Random(seed);
}

uint64_t Random::below_or_equal(uint64_t max) {
  if (max == UINT64_MAX) return next();
  // Lemire's multiply-and-reject: the high half of x * range is uniform once the low
  // halves that fall below (2^64 mod range) are thrown back.
  const uint64_t range = max + 1;
  uint64_t high, low;
  multiply_64(next(), range, &high, &low);
  if (low < range) {
    const uint64_t threshold = (0 - range) % range;
    while (low < threshold) multiply_64(next(), range, &high, &low);
  }
  return high;
}

}  // namespace plantscatter
