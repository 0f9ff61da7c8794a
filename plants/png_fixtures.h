// Small PNG files of every colour type, bit depth, transparency and interlace method,
// written in memory with libpng's writer, plus byte-level tools to damage them. For tests
// and for seeding fuzzers; not part of the program.
#ifndef PLANTSCATTER_PLANTS_PNG_FIXTURES_H_
#define PLANTSCATTER_PLANTS_PNG_FIXTURES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plants/plant_types.h"

namespace plantscatter::fixtures {

enum class ColourType { kGrey, kGreyAlpha, kRgb, kRgba, kPalette };

// Samples per pixel as stored in the file: 1 for grey and palette, 2, 3 or 4.
int sample_count(ColourType type);

// A picture as it is to be stored, sample for sample.
struct PngPicture {
  ColourType type = ColourType::kRgb;
  int bit_depth = 8;  // 1, 2, 4, 8 or 16, as the colour type allows
  uint32_t width = 0;
  uint32_t height = 0;
  bool interlaced = false;
  // Row by row, sample_count(type) samples per pixel, each below 2^bit_depth: grey, grey
  // and alpha, red green blue (and alpha), or a palette index.
  std::vector<uint16_t> samples;
  std::vector<Rgb> palette;            // PLTE, for kPalette
  std::vector<uint8_t> palette_alpha;  // tRNS for kPalette; empty for none
  // tRNS for kGrey (first value only) and kRgb: the stored sample values that are
  // transparent.
  std::optional<std::array<uint16_t, 3>> transparent;
  // Adds gAMA (linear, 1.0), cHRM, iCCP and tEXt chunks ahead of the pixels: a decoder that
  // honoured the first three would change the pixels.
  bool colour_chunks = false;

  uint16_t sample(uint32_t x, uint32_t y, int i) const {
    return samples[(size_t{y} * width + x) * static_cast<size_t>(sample_count(type)) +
                   static_cast<size_t>(i)];
  }
};

// The PNG file, or an empty vector when libpng refuses the picture (a bad combination of
// type and depth, samples of the wrong count).
std::vector<uint8_t> write_png(const PngPicture& picture);

// A picture of the given kind filled with pseudo-random samples from `seed`. Palettes get
// 2^bit_depth entries (at most 256) and, with `transparency`, a tRNS entry for each of the
// first half of them; grey and RGB get a transparent value that some pixels carry.
PngPicture random_picture(ColourType type, int bit_depth, uint32_t width, uint32_t height,
                          bool interlaced, bool transparency, uint32_t seed);

struct NamedPicture {
  std::string name;  // e.g. "palette4_trns_interlaced"
  PngPicture picture;
};

// One 13 x 11 random picture of every kind PNG allows: each colour type and bit depth,
// with and without tRNS where the type allows it, each plain and interlaced.
std::vector<NamedPicture> every_kind();

// Tools to damage files. A chunk is addressed by the offset of its length field.
constexpr size_t kNoChunk = static_cast<size_t>(-1);
// The first chunk of the given four-letter type, or kNoChunk.
size_t find_chunk(std::span<const uint8_t> png, std::string_view type);
// The offset of the chunk's data and its length.
size_t chunk_data(std::span<const uint8_t> png, size_t chunk);
uint32_t chunk_length(std::span<const uint8_t> png, size_t chunk);
// Recomputes the chunk's CRC after its data was changed.
void update_crc(std::vector<uint8_t>& png, size_t chunk);
// Rewrites the width and height in IHDR and keeps its CRC valid.
void set_header_size(std::vector<uint8_t>& png, uint32_t width, uint32_t height);

// A folder of its own under the system's temporary folder, removed with everything in it
// when the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to a file of that name (UTF-8) in the folder and returns its path.
  std::filesystem::path write(std::string_view utf8_name, std::span<const uint8_t> bytes);

 private:
  std::filesystem::path path_;
};

}  // namespace plantscatter::fixtures

#endif  // PLANTSCATTER_PLANTS_PNG_FIXTURES_H_
