#include "plants/png_fixtures.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <fstream>
#include <random>

#include "plants/big_endian.h"
#include "plants/utf8_path.h"

// libpng reports errors by longjmp: write_into keeps only trivially destructible locals,
// and everything that owns memory lives in write_png's frame.

namespace plantscatter::fixtures {
namespace {

int png_colour_type(ColourType type) {
  switch (type) {
    case ColourType::kGrey:
      return PNG_COLOR_TYPE_GRAY;
    case ColourType::kGreyAlpha:
      return PNG_COLOR_TYPE_GRAY_ALPHA;
    case ColourType::kRgb:
      return PNG_COLOR_TYPE_RGB;
    case ColourType::kRgba:
      return PNG_COLOR_TYPE_RGB_ALPHA;
    case ColourType::kPalette:
      return PNG_COLOR_TYPE_PALETTE;
  }
  return PNG_COLOR_TYPE_RGB;
}

std::vector<uint8_t> pack_row(const PngPicture& p, uint32_t y) {
  const size_t count = size_t{p.width} * static_cast<size_t>(sample_count(p.type));
  const size_t depth = static_cast<size_t>(p.bit_depth);
  std::vector<uint8_t> row((count * depth + 7) / 8);
  const uint16_t* s = p.samples.data() + count * y;
  for (size_t i = 0; i < count; ++i) {
    const unsigned v = s[i] & ((1u << depth) - 1);
    if (depth == 16) {
      row[2 * i] = static_cast<uint8_t>(v >> 8);
      row[2 * i + 1] = static_cast<uint8_t>(v);
    } else {
      const size_t bit = i * depth;  // samples fill each byte from its high bits down
      row[bit / 8] |= static_cast<uint8_t>(v << (8 - depth - bit % 8));
    }
  }
  return row;
}

struct Output {
  std::vector<uint8_t>* bytes;
  bool failed = false;
};

void write_callback(png_structp png, png_bytep data, size_t n) {
  Output& out = *static_cast<Output*>(png_get_io_ptr(png));
  try {
    out.bytes->insert(out.bytes->end(), data, data + n);
  } catch (const std::exception&) {
    out.failed = true;
  }
  if (out.failed) png_error(png, "out of memory");
}

void flush_callback(png_structp) {}

[[noreturn]] void error_callback(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

void warning_callback(png_structp, png_const_charp) {}

// What write_into needs beyond the picture, prepared where it may own memory.
struct Prepared {
  std::vector<png_color> palette;
  png_color_16 transparent{};
  std::vector<png_bytep> rows;
  std::vector<uint8_t> iccp;
};

bool write_into(png_structp png, png_infop info, const PngPicture& p, Prepared& prep) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_check_for_invalid_index(png, 0);  // damaged pictures are fixtures too
  png_set_IHDR(png, info, p.width, p.height, p.bit_depth, png_colour_type(p.type),
               p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (p.type == ColourType::kPalette) {
    png_set_PLTE(png, info, prep.palette.data(), static_cast<int>(prep.palette.size()));
    if (!p.palette_alpha.empty()) {
      png_set_tRNS(png, info, p.palette_alpha.data(), static_cast<int>(p.palette_alpha.size()),
                   nullptr);
    }
  } else if (p.transparent) {
    png_set_tRNS(png, info, nullptr, 0, &prep.transparent);
  }
  static char key[] = "Comment";
  static char text[] = "plant map fixture";
  if (p.colour_chunks) {
    png_set_gAMA(png, info, 1.0);
    png_set_cHRM(png, info, 0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06);
    png_text comment{};
    comment.compression = PNG_TEXT_COMPRESSION_NONE;
    comment.key = key;
    comment.text = text;
    png_set_text(png, info, &comment, 1);
  }
  png_write_info_before_PLTE(png, info);
  if (p.colour_chunks) {
    static const png_byte kIccp[5] = "iCCP";
    png_write_chunk(png, kIccp, prep.iccp.data(), prep.iccp.size());
  }
  png_write_info(png, info);
  png_write_image(png, prep.rows.data());
  png_write_end(png, nullptr);
  return true;
}

// An iCCP chunk body: a name, the compression method and a deflated profile. The profile is
// filler, never a valid one: a decoder that tried to use it would fail loudly.
std::vector<uint8_t> iccp_body() {
  std::vector<uint8_t> profile(200);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7);
  uLongf packed_size = compressBound(static_cast<uLong>(profile.size()));
  std::vector<uint8_t> packed(packed_size);
  compress(packed.data(), &packed_size, profile.data(), static_cast<uLong>(profile.size()));
  packed.resize(packed_size);
  std::vector<uint8_t> body = {'f', 'i', 'x', 't', 'u', 'r', 'e', 0, 0};
  body.insert(body.end(), packed.begin(), packed.end());
  return body;
}

// splitmix64: small, and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }

 private:
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t state_;
};

}  // namespace

int sample_count(ColourType type) {
  switch (type) {
    case ColourType::kGrey:
    case ColourType::kPalette:
      return 1;
    case ColourType::kGreyAlpha:
      return 2;
    case ColourType::kRgb:
      return 3;
    case ColourType::kRgba:
      return 4;
  }
  return 1;
}

std::vector<uint8_t> write_png(const PngPicture& p) {
  const size_t expected = size_t{p.width} * p.height * static_cast<size_t>(sample_count(p.type));
  if (p.samples.size() != expected) return {};
  Prepared prep;
  for (const Rgb& c : p.palette) prep.palette.push_back(png_color{c.r, c.g, c.b});
  if (p.transparent) {
    prep.transparent.gray = (*p.transparent)[0];
    prep.transparent.red = (*p.transparent)[0];
    prep.transparent.green = (*p.transparent)[1];
    prep.transparent.blue = (*p.transparent)[2];
  }
  std::vector<std::vector<uint8_t>> rows;
  for (uint32_t y = 0; y < p.height; ++y) rows.push_back(pack_row(p, y));
  for (auto& row : rows) prep.rows.push_back(row.data());
  if (p.colour_chunks) prep.iccp = iccp_body();

  std::vector<uint8_t> bytes;
  Output out{&bytes};
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, error_callback, warning_callback);
  if (png == nullptr) return {};
  png_infop info = png_create_info_struct(png);
  bool ok = info != nullptr;
  if (ok) {
    png_set_write_fn(png, &out, write_callback, flush_callback);
    ok = write_into(png, info, p, prep);
  }
  png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  if (!ok) return {};
  return bytes;
}

PngPicture random_picture(ColourType type, int bit_depth, uint32_t width, uint32_t height,
                          bool interlaced, bool transparency, uint32_t seed) {
  Random random(seed);
  PngPicture p;
  p.type = type;
  p.bit_depth = bit_depth;
  p.width = width;
  p.height = height;
  p.interlaced = interlaced;
  const int n = sample_count(type);
  const uint32_t levels = 1u << bit_depth;
  uint32_t limit = levels;
  if (type == ColourType::kPalette) {
    limit = std::min(levels, 256u);
    for (uint32_t i = 0; i < limit; ++i) {
      p.palette.push_back(Rgb{static_cast<uint8_t>(random.below(256)),
                              static_cast<uint8_t>(random.below(256)),
                              static_cast<uint8_t>(random.below(256))});
    }
    if (transparency) {
      for (uint32_t i = 0; i < std::max(1u, limit / 2); ++i) {
        p.palette_alpha.push_back(static_cast<uint8_t>(random.below(256)));
      }
    }
  }
  p.samples.resize(size_t{width} * height * static_cast<size_t>(n));
  for (uint16_t& s : p.samples) s = static_cast<uint16_t>(random.below(limit));
  if (transparency && (type == ColourType::kGrey || type == ColourType::kRgb)) {
    std::array<uint16_t, 3> t{};
    for (int i = 0; i < n; ++i) t[static_cast<size_t>(i)] = p.samples[static_cast<size_t>(i)];
    if (type == ColourType::kGrey) t[1] = t[2] = t[0];
    p.transparent = t;
    // Every fourth pixel carries the transparent value.
    for (size_t px = 0; px < size_t{width} * height; px += 4) {
      for (int i = 0; i < n; ++i) {
        p.samples[px * static_cast<size_t>(n) + static_cast<size_t>(i)] = t[static_cast<size_t>(i)];
      }
    }
  }
  return p;
}

std::vector<NamedPicture> every_kind() {
  struct Kind {
    ColourType type;
    const char* name;
    std::vector<int> depths;
    bool can_have_trns;
  };
  const Kind kinds[] = {
      {ColourType::kGrey, "grey", {1, 2, 4, 8, 16}, true},
      {ColourType::kGreyAlpha, "grey_alpha", {8, 16}, false},
      {ColourType::kRgb, "rgb", {8, 16}, true},
      {ColourType::kRgba, "rgba", {8, 16}, false},
      {ColourType::kPalette, "palette", {1, 2, 4, 8}, true},
  };
  std::vector<NamedPicture> pictures;
  uint32_t seed = 1;
  for (const Kind& kind : kinds) {
    for (int depth : kind.depths) {
      for (int trns = 0; trns <= (kind.can_have_trns ? 1 : 0); ++trns) {
        for (int interlaced = 0; interlaced <= 1; ++interlaced) {
          std::string name = kind.name + std::to_string(depth);
          if (trns) name += "_trns";
          if (interlaced) name += "_interlaced";
          pictures.push_back(
              {name, random_picture(kind.type, depth, 13, 11, interlaced != 0, trns != 0, seed++)});
        }
      }
    }
  }
  return pictures;
}

size_t find_chunk(std::span<const uint8_t> png, std::string_view type) {
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = read_be32(png.data() + at);
    if (std::memcmp(png.data() + at + 4, type.data(), 4) == 0) return at;
    if (length > png.size() - at - 12) break;
    at += size_t{length} + 12;
  }
  return kNoChunk;
}

size_t chunk_data(std::span<const uint8_t>, size_t chunk) {
  return chunk + 8;
}

uint32_t chunk_length(std::span<const uint8_t> png, size_t chunk) {
  return read_be32(png.data() + chunk);
}

void update_crc(std::vector<uint8_t>& png, size_t chunk) {
  const uint32_t length = chunk_length(png, chunk);
  const uLong crc = crc32(0L, png.data() + chunk + 4, static_cast<uInt>(length + 4));
  write_be32(png.data() + chunk + 8 + length, static_cast<uint32_t>(crc));
}

void set_header_size(std::vector<uint8_t>& png, uint32_t width, uint32_t height) {
  const size_t ihdr = find_chunk(png, "IHDR");
  write_be32(png.data() + ihdr + 8, width);
  write_be32(png.data() + ihdr + 12, height);
  update_crc(png, ihdr);
}

ScratchFolder::ScratchFolder() {
  std::random_device entropy;
  path_ = std::filesystem::temp_directory_path() /
          ("plantscatter_test_" + std::to_string(entropy()) + "_" + std::to_string(entropy()));
  std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchFolder::write(std::string_view utf8_name,
                                           std::span<const uint8_t> bytes) {
  const std::filesystem::path file = path_ / path_from_utf8(utf8_name);
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return file;
}

}  // namespace plantscatter::fixtures
