// The one pseudo-random source that a processing run shares between the scatter and the
// export. Seeded, it yields the same sequence on every platform and compiler: the engine is
// std::mt19937_64, whose output the C++ standard fixes, and bounded draws are made here
// rather than by the standard library's distributions, whose results differ between
// implementations.
#ifndef PLANTSCATTER_SCATTER_RANDOM_H_
#define PLANTSCATTER_SCATTER_RANDOM_H_

#include <cstdint>
#include <random>

namespace plantscatter {

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}

  // A generator seeded from the system's entropy source and the clock: each process
  // scatters differently.
  static Random from_entropy();

  uint64_t next() { return engine_(); }

  // Uniform on [0, max], both ends included, without bias.
  uint64_t below_or_equal(uint64_t max);

  // Uniform on [lo, hi], both ends included. Requires lo <= hi.
  int64_t in_range(int64_t lo, int64_t hi) {
    const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
    return static_cast<int64_t>(static_cast<uint64_t>(lo) + below_or_equal(span));
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace plantscatter

#endif  // PLANTSCATTER_SCATTER_RANDOM_H_
