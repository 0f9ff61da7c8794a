// PNG decoding with libpng, whole or streamed, into 8-bit colour.
//
// Pixels come out exactly as stored: no gamma, colour-profile or background conversion is
// applied, so a pixel stored as 255,128,0 reads as 255,128,0. Palette, greyscale and
// low-bit-depth pictures are expanded to 8-bit RGB, 16-bit samples are scaled (rounded,
// not truncated) to 8 bits, and a tRNS chunk becomes an alpha channel. A palette index
// beyond the palette has no colour, so a picture holding one is refused.
//
// Every failure comes back as `false` with a message for the user in `*error`; no call
// throws, aborts or leaks, whatever the input holds.
#ifndef PLANTSCATTER_PLANTS_PNG_DECODE_H_
#define PLANTSCATTER_PLANTS_PNG_DECODE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "plants/image.h"

namespace plantscatter {

// Guards memory against forged or runaway pictures. A picture that breaks a limit is
// refused before its pixel memory is taken. So is a picture whose header declares more
// pixel data than its input could hold even at deflate's best compression.
struct DecodeLimits {
  uint32_t max_width = 1'000'000;
  uint32_t max_height = 1'000'000;
  // 2^30 pixels: 32768 x 32768, 4 GiB as RGBA when decoded whole.
  uint64_t max_pixels = uint64_t{1} << 30;
};

struct DecodeOptions {
  DecodeLimits limits;
  // Called after every 64 image rows decoded (of all interlace passes together) and once
  // more at the end, with the rows done so far and the total; returning false cancels the
  // decode, which then fails with the message "cancelled". May be empty.
  std::function<bool(uint64_t done, uint64_t total)> progress;
};

// A run of decoded pixels from one image row: `count` pixels at columns x0, x0 + x_step,
// x0 + 2 * x_step, ... of row `y`, each `channels` bytes (3: RGB, or 4: RGBA).
// Non-interlaced pictures deliver each row whole (x0 0, x_step 1) from top to bottom;
// interlaced pictures deliver the pixels of each pass as it is decoded.
struct PixelRun {
  uint32_t y;
  uint32_t x0;
  uint32_t x_step;
  uint32_t count;
  int channels;
  const uint8_t* pixels;
};

class PixelSink {
 public:
  virtual ~PixelSink() = default;
  // Called once, before any pixels, with the picture's size and whether the runs will
  // carry alpha (channels 4) or not (channels 3).
  virtual void begin(uint32_t width, uint32_t height, int channels) = 0;
  virtual void pixels(const PixelRun& run) = 0;
};

// Decodes the whole picture into `*image` (RGBA). `*image` is changed only on success.
bool decode_png_file(const std::filesystem::path& path, Image* image, std::string* error,
                     const DecodeOptions& options = {});
bool decode_png_memory(std::span<const uint8_t> data, Image* image, std::string* error,
                       const DecodeOptions& options = {});

// Streams the picture into `sink` without holding it whole: memory stays at a few rows
// whatever the picture's size. On failure the sink may already have seen some pixels.
bool stream_png_file(const std::filesystem::path& path, PixelSink& sink, std::string* error,
                     const DecodeOptions& options = {});
bool stream_png_memory(std::span<const uint8_t> data, PixelSink& sink, std::string* error,
                       const DecodeOptions& options = {});

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_PNG_DECODE_H_
