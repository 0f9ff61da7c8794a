// The benchmark plant map: painted-style regions of plant types 1 to 9 and of colours that
// match no type, plus single pixels of type 10 over `rare_per_million` in a million pixels.
#ifndef PLANTSCATTER_BENCH_BENCH_MAP_H_
#define PLANTSCATTER_BENCH_BENCH_MAP_H_

#include <cstdint>
#include <string>

namespace plantscatter::bench {

// Writes the map as an 8-bit RGB PNG, row by row. Returns false with a message on failure.
bool write_bench_map(const std::string& path, uint32_t width, uint32_t height,
                     uint32_t rare_per_million, std::string* error);

// The map's path in a cache folder under the system's temporary folder, written on first use.
std::string cached_bench_map(uint32_t width, uint32_t height, uint32_t rare_per_million = 100);

}  // namespace plantscatter::bench

#endif  // PLANTSCATTER_BENCH_BENCH_MAP_H_
