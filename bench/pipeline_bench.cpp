// Decoding, scattering and the whole streamed job on generated maps of 2048 x 2048 and
// 8192 x 8192 pixels, next to decoding the same map with libpng's simplified API.
//
// Arguments of each benchmark: the map's side in pixels.
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bench_map.h"
#include "plants/png_decode.h"
#include "scatter/scatter.h"

namespace plantscatter {
namespace {

const std::string& map_path(int side) {
  static std::string paths[2];
  std::string& path = paths[side == 2048 ? 0 : 1];
  if (path.empty()) path = bench::cached_bench_map(side, side);
  return path;
}

// 1,000,000 plants spread over types 1 to 9 (the map holds each in large regions).
PlantCounts million_plants() {
  PlantCounts counts;
  for (int id = 1; id <= 9; ++id) counts[id] = id == 9 ? 1000000 - 8 * 111111 : 111111;
  return counts;
}

void set_pixel_counters(benchmark::State& state, int side) {
  state.counters["Mpixel/s"] = benchmark::Counter(double(side) * side / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DecodeSimplifiedApi(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const std::string& path = map_path(side);
  for (auto _ : state) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) state.SkipWithError("begin");
    image.format = PNG_FORMAT_RGBA;
    std::unique_ptr<png_byte[]> buffer(new png_byte[PNG_IMAGE_SIZE(image)]);
    if (!png_image_finish_read(&image, nullptr, buffer.get(), 0, nullptr)) {
      state.SkipWithError("finish");
    }
    benchmark::DoNotOptimize(buffer.get());
  }
  set_pixel_counters(state, side);
}

void BM_DecodeWhole(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Image image;
    std::string error;
    if (!decode_png_file(map_path(side), &image, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(image.rgba.data());
  }
  set_pixel_counters(state, side);
}

void BM_DecodeStreamed(benchmark::State& state) {
  struct NullSink final : PixelSink {
    void begin(uint32_t, uint32_t, int) override {}
    void pixels(const PixelRun& run) override { benchmark::DoNotOptimize(run.pixels); }
  };
  const int side = static_cast<int>(state.range(0));
  for (auto _ : state) {
    NullSink sink;
    std::string error;
    if (!stream_png_file(map_path(side), sink, &error)) state.SkipWithError(error.c_str());
  }
  set_pixel_counters(state, side);
}

// Sampling a decoded picture (what the window does after loading).
void scatter_decoded(benchmark::State& state, const PlantCounts& counts) {
  const int side = static_cast<int>(state.range(0));
  Image image;
  std::string error;
  if (!decode_png_file(map_path(side), &image, &error)) state.SkipWithError(error.c_str());
  uint64_t seed = 1;
  for (auto _ : state) {
    Random rng(seed++);
    std::vector<PlantRecord> plants;
    if (!scatter_image(image, counts, rng, &plants, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(plants.data());
  }
  set_pixel_counters(state, side);
}

void BM_ScatterMillionPlants(benchmark::State& state) { scatter_decoded(state, million_plants()); }

// Every pixel of the type that covers 0.01 % of the map: costs what a dense type costs.
void BM_ScatterRareType(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  Image image;
  std::string error;
  decode_png_file(map_path(side), &image, &error);
  uint64_t rare = 0;
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) rare += image.pixel(x, y) == plant_type(10).key;
  }
  PlantCounts counts;
  counts[10] = static_cast<int64_t>(rare);
  state.counters["plants"] = static_cast<double>(rare);
  scatter_decoded(state, counts);
}

// Decoding and sampling in one streamed pass, as the command line does.
void BM_ScatterFileStreamed(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  uint64_t seed = 1;
  for (auto _ : state) {
    Random rng(seed++);
    ScatterResult result;
    std::string error;
    if (!scatter_png_file(map_path(side), million_plants(), rng, {}, &result, &error)) {
      state.SkipWithError(error.c_str());
    }
    benchmark::DoNotOptimize(result.plants.data());
  }
  set_pixel_counters(state, side);
}

#define MAP_SIZES Arg(2048)->Arg(8192)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_DecodeSimplifiedApi)->MAP_SIZES;
BENCHMARK(BM_DecodeWhole)->MAP_SIZES;
BENCHMARK(BM_DecodeStreamed)->MAP_SIZES;
BENCHMARK(BM_ScatterMillionPlants)->MAP_SIZES;
BENCHMARK(BM_ScatterRareType)->MAP_SIZES;
BENCHMARK(BM_ScatterFileStreamed)->MAP_SIZES;

}  // namespace
}  // namespace plantscatter
