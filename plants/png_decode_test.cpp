#include "plants/png_decode.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

#include "plants/png_fixtures.h"
#include "plants/utf8_path.h"

namespace plantscatter {
namespace {

using fixtures::ColourType;
using fixtures::PngPicture;

// A stored sample as 8 bits: 16-bit values scaled with rounding, low depths stretched so
// that their maximum becomes 255.
uint8_t to8(uint16_t v, int depth) {
  if (depth == 16) return static_cast<uint8_t>((uint32_t{v} * 255 + 32895) >> 16);
  return static_cast<uint8_t>(uint32_t{v} * 255 / ((1u << depth) - 1));
}

// The RGBA a picture must decode to, worked out from its stored samples.
std::vector<uint8_t> expected_rgba(const PngPicture& p) {
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      auto s = [&](int i) { return p.sample(x, y, i); };
      auto c = [&](int i) { return to8(s(i), p.bit_depth); };
      switch (p.type) {
        case ColourType::kGrey: {
          const bool clear = p.transparent && s(0) == (*p.transparent)[0];
          out.insert(out.end(), {c(0), c(0), c(0), static_cast<uint8_t>(clear ? 0 : 255)});
          break;
        }
        case ColourType::kGreyAlpha:
          out.insert(out.end(), {c(0), c(0), c(0), c(1)});
          break;
        case ColourType::kRgb: {
          const bool clear = p.transparent && s(0) == (*p.transparent)[0] &&
                             s(1) == (*p.transparent)[1] && s(2) == (*p.transparent)[2];
          out.insert(out.end(), {c(0), c(1), c(2), static_cast<uint8_t>(clear ? 0 : 255)});
          break;
        }
        case ColourType::kRgba:
          out.insert(out.end(), {c(0), c(1), c(2), c(3)});
          break;
        case ColourType::kPalette: {
          const Rgb colour = p.palette[s(0)];
          const uint8_t alpha = s(0) < p.palette_alpha.size() ? p.palette_alpha[s(0)] : 255;
          out.insert(out.end(), {colour.r, colour.g, colour.b, alpha});
          break;
        }
      }
    }
  }
  return out;
}

bool has_alpha(const PngPicture& p) {
  return p.type == ColourType::kGreyAlpha || p.type == ColourType::kRgba ||
         !p.palette_alpha.empty() || p.transparent.has_value();
}

// Rebuilds the picture from streamed runs, counting how often each pixel arrives.
class CollectingSink : public PixelSink {
 public:
  void begin(uint32_t width, uint32_t height, int channels) override {
    ++begin_calls;
    image.width = width;
    image.height = height;
    image.rgba.assign(size_t{width} * height * 4, 0);
    arrivals.assign(size_t{width} * height, 0);
    this->channels = channels;
  }

  void pixels(const PixelRun& run) override {
    runs.push_back(run);
    ASSERT_EQ(run.channels, channels);
    ASSERT_LT(run.y, image.height);
    for (uint32_t i = 0; i < run.count; ++i) {
      const uint32_t x = run.x0 + i * run.x_step;
      ASSERT_LT(x, image.width) << "run at y " << run.y;
      const uint8_t* src = run.pixels + size_t{i} * static_cast<size_t>(run.channels);
      uint8_t* dst = image.row(run.y) + size_t{x} * 4;
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = run.channels == 4 ? src[3] : 255;
      ++arrivals[size_t{run.y} * image.width + x];
    }
  }

  int begin_calls = 0;
  int channels = 0;
  Image image;
  std::vector<int> arrivals;
  std::vector<PixelRun> runs;
};

std::vector<uint8_t> png_bytes(const PngPicture& picture) {
  std::vector<uint8_t> bytes = fixtures::write_png(picture);
  EXPECT_FALSE(bytes.empty()) << "the fixture writer refused the picture";
  return bytes;
}

TEST(PngDecode, EveryKindDecodesWholeAndStreamedToItsStoredValues) {
  for (const fixtures::NamedPicture& named : fixtures::every_kind()) {
    SCOPED_TRACE(named.name);
    const PngPicture& p = named.picture;
    const std::vector<uint8_t> bytes = png_bytes(p);
    const std::vector<uint8_t> expected = expected_rgba(p);

    Image image;
    std::string error;
    ASSERT_TRUE(decode_png_memory(bytes, &image, &error)) << error;
    EXPECT_EQ(image.width, p.width);
    EXPECT_EQ(image.height, p.height);
    EXPECT_EQ(image.rgba, expected);

    CollectingSink sink;
    ASSERT_TRUE(stream_png_memory(bytes, sink, &error)) << error;
    EXPECT_EQ(sink.begin_calls, 1);
    EXPECT_EQ(sink.channels, has_alpha(p) ? 4 : 3);
    EXPECT_EQ(sink.image.rgba, image.rgba);
    EXPECT_EQ(sink.arrivals, std::vector<int>(size_t{p.width} * p.height, 1));

    if (!p.interlaced) {
      ASSERT_EQ(sink.runs.size(), p.height);
      for (uint32_t y = 0; y < p.height; ++y) {
        const PixelRun& run = sink.runs[y];
        EXPECT_EQ(run.y, y);
        EXPECT_EQ(run.x0, 0u);
        EXPECT_EQ(run.x_step, 1u);
        EXPECT_EQ(run.count, p.width);
      }
    } else {
      // Adam7 on 13 x 11: passes of 2x2, 2x2, 4x1, 3x3, 7x3, 6x6 and 13x5 reduced pixels,
      // one run per reduced row, each pass starting on its own row and column.
      ASSERT_EQ(sink.runs.size(), 2u + 2 + 1 + 3 + 3 + 6 + 5);
      const PixelRun& first = sink.runs[0];
      EXPECT_EQ(first.y, 0u);
      EXPECT_EQ(first.x0, 0u);
      EXPECT_EQ(first.x_step, 8u);
      EXPECT_EQ(first.count, 2u);
      const PixelRun& third_pass = sink.runs[4];  // pass 3 (1-based): x 0, 8 of row 4
      EXPECT_EQ(third_pass.y, 4u);
      EXPECT_EQ(third_pass.x0, 0u);
      EXPECT_EQ(third_pass.x_step, 4u);
      EXPECT_EQ(third_pass.count, 4u);
      const PixelRun& last = sink.runs.back();  // pass 7: every pixel of row 9
      EXPECT_EQ(last.y, 9u);
      EXPECT_EQ(last.x_step, 1u);
      EXPECT_EQ(last.count, 13u);
    }
  }
}

TEST(PngDecode, InterlacedPicturesOfEverySmallSizeStreamEachPixelOnce) {
  // Narrow and short pictures leave some Adam7 passes empty.
  for (uint32_t width = 1; width <= 10; ++width) {
    for (uint32_t height = 1; height <= 10; ++height) {
      const PngPicture p = fixtures::random_picture(ColourType::kRgb, 8, width, height, true, false,
                                                    width * 31 + height);
      const std::vector<uint8_t> bytes = png_bytes(p);
      CollectingSink sink;
      std::string error;
      ASSERT_TRUE(stream_png_memory(bytes, sink, &error))
          << width << " x " << height << ": " << error;
      EXPECT_EQ(sink.image.rgba, expected_rgba(p)) << width << " x " << height;
      EXPECT_EQ(sink.arrivals, std::vector<int>(size_t{width} * height, 1))
          << width << " x " << height;
    }
  }
}

struct KnownCase {
  const char* name;
  PngPicture picture;
  std::vector<uint8_t> rgba;
};

PngPicture stored(ColourType type, int depth, uint32_t width, std::vector<uint16_t> samples) {
  PngPicture p;
  p.type = type;
  p.bit_depth = depth;
  p.width = width;
  p.height = 1;
  p.samples = std::move(samples);
  return p;
}

TEST(PngDecode, ConvertsSamplesAsStoredWithoutColourManagement) {
  std::vector<KnownCase> cases;
  cases.push_back({"16-bit grey rounds",
                   stored(ColourType::kGrey, 16, 4, {0x8080, 0x00FF, 0xFF00, 0xFFFF}),
                   {128, 128, 128, 255, 1, 1, 1, 255, 254, 254, 254, 255, 255, 255, 255, 255}});
  cases.push_back(
      {"1-bit grey", stored(ColourType::kGrey, 1, 2, {0, 1}), {0, 0, 0, 255, 255, 255, 255, 255}});
  cases.push_back({"2-bit grey",
                   stored(ColourType::kGrey, 2, 4, {0, 1, 2, 3}),
                   {0, 0, 0, 255, 85, 85, 85, 255, 170, 170, 170, 255, 255, 255, 255, 255}});
  cases.push_back({"4-bit grey",
                   stored(ColourType::kGrey, 4, 2, {5, 15}),
                   {85, 85, 85, 255, 255, 255, 255, 255}});
  cases.push_back({"16-bit grey and alpha",
                   stored(ColourType::kGreyAlpha, 16, 1, {0x00FF, 0x8080}),
                   {1, 1, 1, 128}});
  cases.push_back({"16-bit RGBA",
                   stored(ColourType::kRgba, 16, 1, {0x8080, 0x00FF, 0x7F7F, 0xFFFF}),
                   {128, 1, 127, 255}});

  PngPicture grey_trns = stored(ColourType::kGrey, 8, 2, {7, 8});
  grey_trns.transparent = std::array<uint16_t, 3>{7, 7, 7};
  cases.push_back({"grey tRNS", grey_trns, {7, 7, 7, 0, 8, 8, 8, 255}});

  PngPicture low_grey_trns = stored(ColourType::kGrey, 2, 2, {2, 3});
  low_grey_trns.transparent = std::array<uint16_t, 3>{2, 2, 2};
  cases.push_back({"2-bit grey tRNS", low_grey_trns, {170, 170, 170, 0, 255, 255, 255, 255}});

  PngPicture rgb_trns = stored(ColourType::kRgb, 8, 2, {1, 2, 3, 1, 2, 4});
  rgb_trns.transparent = std::array<uint16_t, 3>{1, 2, 3};
  cases.push_back({"RGB tRNS", rgb_trns, {1, 2, 3, 0, 1, 2, 4, 255}});

  // Both pixels scale to the same colour; only the one equal in all 16 bits is clear.
  PngPicture rgb16_trns =
      stored(ColourType::kRgb, 16, 2, {0x4000, 0x8000, 0xC000, 0x4001, 0x8000, 0xC000});
  rgb16_trns.transparent = std::array<uint16_t, 3>{0x4000, 0x8000, 0xC000};
  cases.push_back({"16-bit RGB tRNS", rgb16_trns, {64, 128, 191, 0, 64, 128, 191, 255}});

  PngPicture palette = stored(ColourType::kPalette, 2, 3, {0, 1, 2});
  palette.palette = {{255, 128, 0}, {0, 255, 255}, {64, 64, 64}};
  palette.palette_alpha = {10, 200};
  cases.push_back({"palette tRNS shorter than the palette",
                   palette,
                   {255, 128, 0, 10, 0, 255, 255, 200, 64, 64, 64, 255}});

  PngPicture linear_rgb = stored(ColourType::kRgb, 8, 2, {255, 128, 0, 64, 64, 64});
  linear_rgb.colour_chunks = true;
  cases.push_back(
      {"RGB with gAMA, cHRM and iCCP", linear_rgb, {255, 128, 0, 255, 64, 64, 64, 255}});

  PngPicture linear_palette = palette;
  linear_palette.colour_chunks = true;
  linear_palette.interlaced = true;
  cases.push_back({"interlaced palette with gAMA, cHRM and iCCP",
                   linear_palette,
                   {255, 128, 0, 10, 0, 255, 255, 200, 64, 64, 64, 255}});

  for (const KnownCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = png_bytes(c.picture);
    if (c.picture.colour_chunks) {
      for (const char* chunk : {"gAMA", "cHRM", "iCCP", "tEXt"}) {
        ASSERT_NE(fixtures::find_chunk(bytes, chunk), fixtures::kNoChunk) << chunk;
      }
    }
    Image image;
    std::string error;
    ASSERT_TRUE(decode_png_memory(bytes, &image, &error)) << error;
    EXPECT_EQ(image.rgba, c.rgba);
  }
}

// A 64 x 64 RGB picture with ancillary chunks, for damaging.
std::vector<uint8_t> damageable_png() {
  PngPicture p = fixtures::random_picture(ColourType::kRgb, 8, 64, 64, false, false, 7);
  p.colour_chunks = true;
  return png_bytes(p);
}

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

std::vector<uint8_t> flip_data_byte(std::vector<uint8_t> bytes, const char* chunk) {
  const size_t at = fixtures::find_chunk(bytes, chunk);
  EXPECT_NE(at, fixtures::kNoChunk) << chunk;
  if (at != fixtures::kNoChunk) bytes[fixtures::chunk_data(bytes, at)] ^= 0x20;
  return bytes;
}

std::vector<uint8_t> flip_crc_byte(std::vector<uint8_t> bytes, const char* chunk) {
  const size_t at = fixtures::find_chunk(bytes, chunk);
  EXPECT_NE(at, fixtures::kNoChunk) << chunk;
  if (at != fixtures::kNoChunk) {
    bytes[fixtures::chunk_data(bytes, at) + fixtures::chunk_length(bytes, at)] ^= 0x01;
  }
  return bytes;
}

// The zlib stream's own checksum wrong, the chunk's CRC right.
std::vector<uint8_t> bad_adler(std::vector<uint8_t> bytes) {
  const size_t idat = fixtures::find_chunk(bytes, "IDAT");
  bytes[fixtures::chunk_data(bytes, idat) + fixtures::chunk_length(bytes, idat) - 1] ^= 0x01;
  fixtures::update_crc(bytes, idat);
  return bytes;
}

std::vector<uint8_t> bad_palette_index() {
  PngPicture p = stored(ColourType::kPalette, 8, 3, {0, 200, 1});
  p.palette = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
  return png_bytes(p);
}

std::vector<uint8_t> with_header_bit_depth(std::vector<uint8_t> bytes, uint8_t depth) {
  const size_t ihdr = fixtures::find_chunk(bytes, "IHDR");
  bytes[fixtures::chunk_data(bytes, ihdr) + 8] = depth;
  fixtures::update_crc(bytes, ihdr);
  return bytes;
}

// The zlib stream of `mebibytes` MiB of zero bytes. Blocks after a full flush compress
// alike, so the stream is made of one compressed MiB repeated: a stream that inflates to a
// gigabyte takes a megabyte and no time to build.
std::vector<uint8_t> zero_stream(uint32_t mebibytes) {
  const std::vector<uint8_t> zeros(size_t{1} << 20, 0);
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, 9), Z_OK);
  auto deflate_piece = [&](int flush, bool with_input) {
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = with_input ? static_cast<uInt>(zeros.size()) : 0;
    std::vector<uint8_t> piece;
    uint8_t buffer[1 << 16];
    do {
      z.next_out = buffer;
      z.avail_out = sizeof buffer;
      deflate(&z, flush);
      piece.insert(piece.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (z.avail_out == 0);
    return piece;
  };
  std::vector<uint8_t> stream = deflate_piece(Z_FULL_FLUSH, true);  // header and first MiB
  const std::vector<uint8_t> repeated = deflate_piece(Z_FULL_FLUSH, true);
  EXPECT_EQ(repeated, deflate_piece(Z_FULL_FLUSH, true)) << "flushed blocks differ";
  std::vector<uint8_t> end = deflate_piece(Z_FINISH, false);
  deflateEnd(&z);
  for (uint32_t i = 1; i < mebibytes; ++i)
    stream.insert(stream.end(), repeated.begin(), repeated.end());
  // Adler-32 of n zero bytes: the low sum stays 1, the high sum is n modulo 65521.
  const uint64_t n = uint64_t{mebibytes} << 20;
  const uint32_t adler = static_cast<uint32_t>(n % 65521) << 16 | 1;
  end.resize(end.size() - 4);
  for (int shift = 24; shift >= 0; shift -= 8) end.push_back(static_cast<uint8_t>(adler >> shift));
  stream.insert(stream.end(), end.begin(), end.end());
  return stream;
}

// The picture with its image data replaced by `idats`, one IDAT chunk each.
std::vector<uint8_t> with_image_data(const std::vector<uint8_t>& png,
                                     const std::vector<std::vector<uint8_t>>& idats) {
  const size_t idat = fixtures::find_chunk(png, "IDAT");
  const size_t end = idat + 12 + fixtures::chunk_length(png, idat);
  std::vector<uint8_t> out(png.begin(), png.begin() + static_cast<ptrdiff_t>(idat));
  for (const std::vector<uint8_t>& data : idats) {
    const size_t at = out.size();
    const uint32_t length = static_cast<uint32_t>(data.size());
    out.insert(out.end(), {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                           static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 'I',
                           'D', 'A', 'T'});
    out.insert(out.end(), data.begin(), data.end());
    out.resize(out.size() + 4);
    fixtures::update_crc(out, at);
  }
  out.insert(out.end(), png.begin() + static_cast<ptrdiff_t>(end), png.end());
  return out;
}

// A 4 x 4 RGB picture. Its rows take 52 bytes, filter bytes included, so a stream of that
// many zeros fills it (black).
std::vector<uint8_t> tiny_png() {
  return png_bytes(fixtures::random_picture(ColourType::kRgb, 8, 4, 4, false, false, 1));
}

struct FailureCase {
  const char* name;
  std::vector<uint8_t> bytes;
  std::string message;
};

std::vector<FailureCase> failure_cases() {
  const std::vector<uint8_t> good = damageable_png();
  const size_t idat = fixtures::find_chunk(good, "IDAT");
  const size_t idat_middle =
      fixtures::chunk_data(good, idat) + fixtures::chunk_length(good, idat) / 2;
  std::vector<uint8_t> forged = good;
  fixtures::set_header_size(forged, 30000, 30000);
  std::vector<uint8_t> forged_wide = good;
  fixtures::set_header_size(forged_wide, 1000000, 100);
  std::vector<uint8_t> forged_huge = good;
  fixtures::set_header_size(forged_huge, 40000, 40000);
  std::vector<uint8_t> forged_wider = good;
  fixtures::set_header_size(forged_wider, 2000000, 16);
  std::vector<uint8_t> forged_largest = good;
  fixtures::set_header_size(forged_largest, 2147483647, 2147483647);
  const std::string data = "the picture data";
  const std::string too_much_data =
      data + " is damaged: its image data is longer than 4 x 4 pixels need";
  return {
      {"empty", {}, data + " is empty"},
      {"text",
       {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'},
       data + " is not a PNG file"},
      {"one byte off the signature",
       [&] {
         auto b = good;
         b[1] = 'p';
         return b;
       }(),
       data + " is not a PNG file"},
      {"cut inside the signature", cut(good, 5), data + " is truncated"},
      {"cut after the signature", cut(good, 8), data + " is truncated"},
      {"cut inside IHDR", cut(good, 20), data + " is truncated"},
      {"cut before IDAT", cut(good, idat), data + " is truncated"},
      {"cut inside IDAT", cut(good, idat_middle), data + " is truncated"},
      {"cut before IEND", cut(good, good.size() - 12), data + " is truncated"},
      {"cut inside the IEND CRC", cut(good, good.size() - 1), data + " is truncated"},
      {"IHDR CRC", flip_data_byte(good, "IHDR"), data + " is damaged: IHDR: CRC error"},
      {"IDAT CRC", flip_crc_byte(good, "IDAT"), data + " is damaged: IDAT: CRC error"},
      {"zlib checksum", bad_adler(good), data + " is damaged: IDAT: incorrect data check"},
      {"IDAT data", flip_data_byte(good, "IDAT"),
       data + " is damaged: IDAT: incorrect header check"},
      {"gAMA CRC", flip_data_byte(good, "gAMA"), data + " is damaged: gAMA: CRC error"},
      {"iCCP CRC", flip_data_byte(good, "iCCP"), data + " is damaged: iCCP: CRC error"},
      {"tEXt CRC", flip_data_byte(good, "tEXt"), data + " is damaged: tEXt: CRC error"},
      {"bit depth 3", with_header_bit_depth(good, 3),
       data + " is damaged: Invalid color type/bit depth combination in IHDR"},
      {"forged size", forged,
       data + " is truncated or damaged: " + std::to_string(good.size()) +
           " bytes cannot hold a picture of 30000 x 30000 pixels"},
      {"forged width", forged_wide,
       data + " is truncated or damaged: " + std::to_string(good.size()) +
           " bytes cannot hold a picture of 1000000 x 100 pixels"},
      {"palette index beyond the palette", bad_palette_index(),
       data + " is damaged: a pixel uses colour 200 of a palette of 4 colours"},
      // Declared sizes that would take gigabytes are refused before any pixel memory.
      {"more pixels than the limit", forged_huge,
       data + " is 40000 x 40000 pixels, more than the limit of 1073741824 pixels"},
      {"wider than the limit", forged_wider,
       data + " is 2000000 x 16 pixels, wider than the limit of 1000000 pixels"},
      {"largest size the format allows", forged_largest,
       data + " is 2147483647 x 2147483647 pixels, wider than the limit of 1000000 pixels"},
      // Image data that inflates beyond the rows it must fill: a zip bomb of a gigabyte in
      // a 4 x 4 picture, a stream with bytes after its end, a second stream.
      {"image data inflating to a gigabyte", with_image_data(tiny_png(), {zero_stream(1024)}),
       too_much_data},
      {"bytes after the image data", with_image_data(tiny_png(), {zero_stream(1), {1, 2, 3, 4}}),
       too_much_data},
      {"a second image data stream", with_image_data(tiny_png(), {zero_stream(1), zero_stream(1)}),
       too_much_data},
  };
}

TEST(PngDecode, RefusesBrokenDataWithAClearMessage) {
  for (const FailureCase& c : failure_cases()) {
    SCOPED_TRACE(c.name);
    Image image;
    image.width = 5;
    std::string error;
    EXPECT_FALSE(decode_png_memory(c.bytes, &image, &error));
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(image.width, 5u) << "the picture changed on failure";
    EXPECT_TRUE(image.rgba.empty());

    CollectingSink sink;
    error.clear();
    EXPECT_FALSE(stream_png_memory(c.bytes, sink, &error));
    EXPECT_EQ(error, c.message);
  }
}

TEST(PngDecode, EnforcesLimitsBeforeTakingMemory) {
  const std::vector<uint8_t> bytes =
      png_bytes(fixtures::random_picture(ColourType::kRgba, 8, 40, 30, false, false, 3));
  struct LimitCase {
    DecodeLimits limits;
    std::string message;  // empty: decodes
  };
  const std::string size = "the picture data is 40 x 30 pixels, ";
  const LimitCase cases[] = {
      {{40, 30, 1200}, ""},
      {{39, 30, 1200}, size + "wider than the limit of 39 pixels"},
      {{40, 29, 1200}, size + "higher than the limit of 29 pixels"},
      {{40, 30, 1199}, size + "more than the limit of 1199 pixels"},
      {{0, 0, 0}, size + "wider than the limit of 0 pixels"},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.limits.max_width);
    SCOPED_TRACE(c.limits.max_height);
    SCOPED_TRACE(c.limits.max_pixels);
    DecodeOptions options;
    options.limits = c.limits;
    Image image;
    std::string error;
    EXPECT_EQ(decode_png_memory(bytes, &image, &error, options), c.message.empty());
    EXPECT_EQ(error, c.message);
    CollectingSink sink;
    error.clear();
    EXPECT_EQ(stream_png_memory(bytes, sink, &error, options), c.message.empty());
    EXPECT_EQ(error, c.message);
    if (!c.message.empty()) {
      EXPECT_EQ(sink.begin_calls, 0);
    }
  }
}

TEST(PngDecode, ReportsProgressNowAndThenAndCancels) {
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    const std::vector<uint8_t> bytes =
        png_bytes(fixtures::random_picture(ColourType::kRgb, 8, 50, 300, interlaced, false, 5));
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    DecodeOptions options;
    options.progress = [&calls](uint64_t done, uint64_t total) {
      calls.emplace_back(done, total);
      return true;
    };
    Image image;
    std::string error;
    ASSERT_TRUE(decode_png_memory(bytes, &image, &error, options)) << error;
    ASSERT_FALSE(calls.empty());
    const uint64_t total = calls.back().second;
    EXPECT_GE(total, 300u);
    EXPECT_EQ(calls.back().first, total);
    EXPECT_LE(calls.size(), total / 32) << "progress reported too often";
    for (size_t i = 1; i < calls.size(); ++i) {
      EXPECT_LT(calls[i - 1].first, calls[i].first);
      EXPECT_EQ(calls[i].second, total);
    }

    // Cancelling at the first report, or at the last.
    for (size_t stop_at : {size_t{0}, calls.size() - 1}) {
      size_t seen = 0;
      options.progress = [&seen, stop_at](uint64_t, uint64_t) { return seen++ < stop_at; };
      Image untouched;
      untouched.width = 9;
      EXPECT_FALSE(decode_png_memory(bytes, &untouched, &error, options));
      EXPECT_EQ(error, "cancelled");
      EXPECT_EQ(untouched.width, 9u);
      seen = 0;
      CollectingSink sink;
      EXPECT_FALSE(stream_png_memory(bytes, sink, &error, options));
      EXPECT_EQ(error, "cancelled");
    }
  }
}

TEST(PngDecodeFile, ReadsFilesByUnicodePath) {
  fixtures::ScratchFolder folder;
  const PngPicture p = fixtures::random_picture(ColourType::kPalette, 4, 21, 17, true, true, 11);
  const std::filesystem::path file = folder.write("карта ü 地図.png", png_bytes(p));
  Image image;
  std::string error;
  ASSERT_TRUE(decode_png_file(file, &image, &error)) << error;
  EXPECT_EQ(image.rgba, expected_rgba(p));
  CollectingSink sink;
  ASSERT_TRUE(stream_png_file(file, sink, &error)) << error;
  EXPECT_EQ(sink.image.rgba, image.rgba);
}

TEST(PngDecodeFile, NamesTheFileInEveryFailure) {
  fixtures::ScratchFolder folder;
  const std::vector<uint8_t> good = damageable_png();
  std::vector<uint8_t> forged = good;
  fixtures::set_header_size(forged, 30000, 30000);
  struct FileCase {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string problem;
  };
  const FileCase cases[] = {
      {"empty.png", {}, " is empty"},
      {"text.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'}, " is not a PNG file"},
      {"cut.png", cut(good, good.size() / 2), " is truncated"},
      {"crc.png", flip_crc_byte(good, "IDAT"), " is damaged: IDAT: CRC error"},
      {"forged.png", forged,
       " is truncated or damaged: " + std::to_string(good.size()) +
           " bytes cannot hold a picture of 30000 x 30000 pixels"},
  };
  for (const FileCase& c : cases) {
    const std::filesystem::path file = folder.write(c.name, c.bytes);
    const std::string expected = utf8_from_path(file) + c.problem;
    Image image;
    std::string error;
    EXPECT_FALSE(decode_png_file(file, &image, &error));
    EXPECT_EQ(error, expected);
    CollectingSink sink;
    EXPECT_FALSE(stream_png_file(file, sink, &error));
    EXPECT_EQ(error, expected);
  }

  const std::filesystem::path missing = folder.path() / "missing.png";
  Image image;
  std::string error;
  EXPECT_FALSE(decode_png_file(missing, &image, &error));
  EXPECT_EQ(error, "cannot open " + utf8_from_path(missing) + ": " +
                       std::generic_category().message(ENOENT));

  // A folder opens on some systems and then fails to read; either way it is named.
  EXPECT_FALSE(decode_png_file(folder.path(), &image, &error));
  EXPECT_NE(error.find(utf8_from_path(folder.path())), std::string::npos) << error;
}

#ifndef _WIN32

// Serves `bytes` once through the named pipe at `path`, from a thread of its own, and
// counts what the reader took (give or take the pipe's buffer).
class PipeWriter {
 public:
  PipeWriter(const std::filesystem::path& path, std::vector<uint8_t> bytes)
      : thread_([this, path, bytes = std::move(bytes)] {
          // Waits for the reader without blocking for ever if it never comes.
          int fd = -1;
          for (int i = 0; i < 1000 && fd < 0; ++i) {
            fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
          if (fd < 0) return;
          fcntl(fd, F_SETFL, 0);
          while (written_ < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + written_, bytes.size() - written_);
            if (n <= 0) break;  // the reader has gone
            written_ += static_cast<size_t>(n);
          }
          close(fd);
        }) {}
  ~PipeWriter() { finish(); }

  // Waits until the reader has gone; returns the bytes written.
  size_t finish() {
    if (thread_.joinable()) thread_.join();
    return written_;
  }

 private:
  size_t written_ = 0;
  std::thread thread_;  // last: starts once everything above exists
};

// A pipe reports no size, so the inflate-ratio check needs the input read ahead: a forged
// header must not take gigabytes when it arrives through a pipe either.
TEST(PngDecodeFile, ChecksInputsOfUnknownSizeLikeFiles) {
  fixtures::ScratchFolder folder;
  const std::filesystem::path pipe = folder.path() / "pipe.png";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  void (*saved_handler)(int) = signal(SIGPIPE, SIG_IGN);  // a reader that stops early

  const std::vector<uint8_t> good = damageable_png();
  std::vector<uint8_t> forged = good;
  fixtures::set_header_size(forged, 30000, 30000);
  const std::string expected = utf8_from_path(pipe) +
                               " is truncated or damaged: " + std::to_string(forged.size()) +
                               " bytes cannot hold a picture of 30000 x 30000 pixels";
  Image image;
  std::string error;
  {
    PipeWriter writer(pipe, forged);
    EXPECT_FALSE(decode_png_file(pipe, &image, &error));
  }
  EXPECT_EQ(error, expected);
  CollectingSink sink;
  {
    PipeWriter writer(pipe, forged);
    EXPECT_FALSE(stream_png_file(pipe, sink, &error));
  }
  EXPECT_EQ(error, expected);
  EXPECT_EQ(sink.begin_calls, 0);

  // Pictures still come through whole, read ahead entirely (default limits) or only in
  // part (limits so small that the check cannot refuse anything past a few bytes).
  Image expected_image;
  ASSERT_TRUE(decode_png_memory(good, &expected_image, &error)) << error;
  DecodeOptions small;
  small.limits = {64, 64, 64 * 64};
  for (const DecodeOptions& options : {DecodeOptions{}, small}) {
    SCOPED_TRACE(options.limits.max_pixels);
    {
      PipeWriter writer(pipe, good);
      ASSERT_TRUE(decode_png_file(pipe, &image, &error, options)) << error;
    }
    EXPECT_EQ(image.rgba, expected_image.rgba);
    CollectingSink streamed;
    {
      PipeWriter writer(pipe, good);
      ASSERT_TRUE(stream_png_file(pipe, streamed, &error, options)) << error;
    }
    EXPECT_EQ(streamed.image.rgba, expected_image.rgba);
  }
  signal(SIGPIPE, saved_handler);
}

// libpng would inflate all the image data that follows the last row before it complains:
// a gigabyte for a megabyte of zip bomb. Reading must stop soon after the last row. Seen
// through a pipe, which the decoder reads only as far as it goes (limits small enough that
// it is not read ahead).
TEST(PngDecodeFile, StopsReadingImageDataSoonAfterTheLastRow) {
  fixtures::ScratchFolder folder;
  const std::filesystem::path pipe = folder.path() / "bomb.png";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  void (*saved_handler)(int) = signal(SIGPIPE, SIG_IGN);
  const std::vector<uint8_t> bomb = with_image_data(tiny_png(), {zero_stream(1024)});
  DecodeOptions options;
  options.limits = {64, 64, 64 * 64};
  for (bool whole : {true, false}) {
    SCOPED_TRACE(whole ? "whole" : "streamed");
    PipeWriter writer(pipe, bomb);
    Image image;
    CollectingSink sink;
    std::string error;
    EXPECT_FALSE(whole ? decode_png_file(pipe, &image, &error, options)
                       : stream_png_file(pipe, sink, &error, options));
    EXPECT_EQ(error, utf8_from_path(pipe) +
                         " is damaged: its image data is longer than 4 x 4 pixels need");
    EXPECT_LT(writer.finish(), bomb.size() / 4) << "of " << bomb.size() << " bytes";
  }
  signal(SIGPIPE, saved_handler);
}

#endif  // !_WIN32

}  // namespace
}  // namespace plantscatter
