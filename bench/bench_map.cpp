#include "bench/bench_map.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "plants/plant_types.h"

namespace plantscatter::bench {

namespace {

uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

// Runs libpng's writer; setjmp lives in a frame of plain locals only.
bool write_rows(FILE* file, uint32_t width, uint32_t height, uint32_t rare_per_million,
                png_bytep row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);

  // Regions are cells of 64 pixels with ragged, hashed edges.
  Rgb colours[13];
  for (int id = 1; id <= 9; ++id) colours[id - 1] = plant_type(id).key;
  colours[9] = {40, 90, 200};    // water
  colours[10] = {150, 140, 130};  // rock
  colours[11] = {190, 170, 120};  // road
  colours[12] = {255, 132, 0};    // the legend's orange, no type
  const Rgb rare = plant_type(10).key;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t jitter = hash(x / 8, y / 8, 3) % 24;
      Rgb c = colours[hash((x + jitter) / 64, (y + jitter) / 64, 1) % 13];
      if (hash(x, y, 9) % 1000000 < rare_per_million) c = rare;
      row[x * 3] = c.r;
      row[x * 3 + 1] = c.g;
      row[x * 3 + 2] = c.b;
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool write_bench_map(const std::string& path, uint32_t width, uint32_t height,
                     uint32_t rare_per_million, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    *error = "cannot create " + path;
    return false;
  }
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  const bool written = write_rows(file, width, height, rare_per_million, row.data());
  if (std::fclose(file) != 0 || !written) {
    *error = "cannot write " + path;
    std::remove(path.c_str());
    return false;
  }
  return true;
}

std::string cached_bench_map(uint32_t width, uint32_t height, uint32_t rare_per_million) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "plantscatter_bench_maps";
  std::filesystem::create_directories(folder);
  const std::string path = (folder / ("map_" + std::to_string(width) + "x" +
                                      std::to_string(height) + "_rare" +
                                      std::to_string(rare_per_million) + ".png"))
                               .string();
  if (!std::filesystem::exists(path)) {
    const std::string partial = path + ".part";
    std::string error;
    if (!write_bench_map(partial, width, height, rare_per_million, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    std::filesystem::rename(partial, path);
  }
  return path;
}

}  // namespace plantscatter::bench
