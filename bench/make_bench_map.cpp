// Writes the benchmark plant map (see bench_map.h).
//
//   make_bench_map OUTPUT.png WIDTH HEIGHT [RARE_PER_MILLION]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_map.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s OUTPUT.png WIDTH HEIGHT [RARE_PER_MILLION]\n", argv[0]);
    return 2;
  }
  const auto number = [](const char* text) {
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
  };
  std::string error;
  if (!plantscatter::bench::write_bench_map(argv[1], number(argv[2]), number(argv[3]),
                                            argc == 5 ? number(argv[4]) : 100, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
