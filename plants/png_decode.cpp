#include "plants/png_decode.h"

#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "plants/big_endian.h"
#include "plants/c_file.h"
#include "plants/utf8_path.h"

// libpng reports errors by longjmp. Every function below that calls setjmp keeps only
// trivially destructible locals, and the callbacks libpng runs (reading, errors, warnings)
// neither allocate nor throw, so a longjmp never skips a destructor. Objects that own
// memory live in the callers' frames and are released there on every path.

namespace plantscatter {
namespace {

// Deflate cannot expand data by more than about 1032:1 (a 258-byte match coded in two
// bits), so rows that would need more bytes than this many times the whole input cannot
// be genuine, however the header reads.
constexpr uint64_t kMaxInflateRatio = 1032;

// Progress is reported after every this many rows, and once at the end.
constexpr uint64_t kProgressRows = 64;

// Once the last row is decoded, only the end of the compressed stream may follow: a few
// bytes. libpng would inflate whatever image data comes after it, however much, before
// complaining, so reading stops at this many bytes of it (at most a megabyte inflated).
constexpr uint64_t kMaxImageDataAfterRows = 1024;

// An input whose size the system does not report (a pipe, a device) is read ahead up to the
// point where the inflate-ratio check can no longer refuse any picture within the limits,
// and no further than this.
constexpr uint64_t kMaxReadAhead = uint64_t{64} << 20;

// The only chunks kept are PLTE and tRNS, a few hundred bytes each; everything else is
// skipped unread. This cap merely refuses absurd chunk lengths, so it stays generous
// enough for large private or metadata chunks that other programs write.
constexpr png_alloc_size_t kChunkMallocMax = png_alloc_size_t{64} << 20;

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

enum class Failure {
  kNone,
  kEmpty,
  kNotPng,
  kTruncated,
  kReadError,    // read_errno holds the cause
  kTooLarge,     // beyond DecodeLimits; width and height hold the size
  kCannotFit,    // the rows cannot come out of an input this small
  kTooMuchData,  // the image data goes on after the last row
  kBadPalette,   // a pixel names a colour beyond the palette
  kNoMemory,
  kCancelled,
  kLibpng,  // libpng refused the data; libpng_error says why
  kUnexpectedLayout,
};

// Everything one decode knows, shared with libpng's callbacks through a pointer.
struct DecodeState {
  explicit DecodeState(const DecodeOptions& opts) : options(opts) {}

  const DecodeOptions& options;

  // The input: a block of memory, then an open file (either may be missing).
  std::FILE* file = nullptr;
  const uint8_t* data = nullptr;
  size_t data_size = 0;
  bool input_size_known = false;
  uint64_t input_size = 0;
  uint64_t offset = 0;  // bytes consumed so far

  // Width and height as they went past in IHDR (file offsets 16 to 23), kept for a message
  // when libpng refuses the header before it reports the size.
  uint8_t header_size[8] = {};

  // The chunks as their bytes go past, to tell image data that comes after the last row.
  uint64_t next_chunk = 8;  // offset of the next chunk's length field
  uint8_t chunk_header[8] = {};
  bool in_image_data = false;  // the current chunk is IDAT
  uint64_t chunk_data_begin = 0;
  uint64_t chunk_data_end = 0;
  uint64_t rows_total = 0;  // rows of all passes
  uint64_t rows_read = 0;
  uint64_t image_data_after_rows = 0;

  Failure failure = Failure::kNone;
  int read_errno = 0;
  // Fixed buffers: the callbacks that fill them must not allocate.
  char libpng_error[160] = {};
  char libpng_warning[160] = {};

  uint32_t width = 0;
  uint32_t height = 0;

  // Palette pictures are read as one index per byte and coloured here, so that an index
  // beyond the palette is caught rather than painted black.
  bool palette = false;
  int palette_size = 0;
  int bad_index = 0;
  std::array<uint8_t, 256 * 4> palette_rgba = {};
  std::vector<uint8_t> indices;
};

void copy_message(char (&to)[160], const char* message) {
  std::snprintf(to, sizeof to, "%s", message != nullptr ? message : "");
}

// Follows the chunk layout over `n` bytes read at input offset `at`, counting the image
// data read once every row is decoded. Works on ranges, not bytes: it runs on every read.
void track_chunks(DecodeState& s, const uint8_t* bytes, uint64_t at, size_t n) {
  const uint64_t end = at + n;
  while (at < end) {
    if (at >= s.next_chunk) {  // a byte of a chunk's length or type
      const uint64_t k = at - s.next_chunk;
      s.chunk_header[k] = bytes[n - (end - at)];
      ++at;
      if (k == 7) {
        s.chunk_data_begin = s.next_chunk + 8;
        s.chunk_data_end = s.chunk_data_begin + read_be32(s.chunk_header);
        s.in_image_data = std::memcmp(s.chunk_header + 4, "IDAT", 4) == 0;
        s.next_chunk = s.chunk_data_end + 4;  // after the CRC
      }
      continue;
    }
    const uint64_t stop = std::min(end, s.next_chunk);
    if (s.in_image_data && s.rows_total != 0 && s.rows_read == s.rows_total) {
      const uint64_t from = std::max(at, s.chunk_data_begin);
      const uint64_t to = std::min(stop, s.chunk_data_end);
      if (to > from) s.image_data_after_rows += to - from;
    }
    at = stop;
  }
}

// Reads up to `n` bytes; fewer means the input ended (or, with read_errno set, failed).
size_t read_input(DecodeState& s, uint8_t* out, size_t n) {
  size_t got = 0;
  if (s.offset < s.data_size) {
    got = std::min<size_t>(n, s.data_size - static_cast<size_t>(s.offset));
    std::memcpy(out, s.data + s.offset, got);
  }
  if (got < n && s.file != nullptr) {
    const size_t more = std::fread(out + got, 1, n - got, s.file);
    if (more < n - got && std::ferror(s.file)) s.read_errno = errno != 0 ? errno : EIO;
    got += more;
  }
  for (size_t i = 0; i < got && s.offset + i < 24; ++i) {
    if (s.offset + i >= 16) s.header_size[s.offset + i - 16] = out[i];
  }
  track_chunks(s, out, s.offset, got);
  s.offset += got;
  return got;
}

void read_callback(png_structp png, png_bytep out, size_t n) {
  DecodeState& s = *static_cast<DecodeState*>(png_get_io_ptr(png));
  if (read_input(s, out, n) < n) {
    s.failure = s.read_errno != 0 ? Failure::kReadError : Failure::kTruncated;
    png_error(png, "input ended");
  }
  if (s.image_data_after_rows > kMaxImageDataAfterRows) {
    s.failure = Failure::kTooMuchData;
    png_error(png, "image data after the last row");
  }
}

[[noreturn]] void error_callback(png_structp png, png_const_charp message) {
  DecodeState& s = *static_cast<DecodeState*>(png_get_error_ptr(png));
  if (s.failure == Failure::kNone) {
    s.failure = Failure::kLibpng;
    copy_message(s.libpng_error, message);
  }
  png_longjmp(png, 1);
}

// Runs on every row just before libpng checks the end of the image data, which it does
// within the call that reads the last row.
void count_row(png_structp png, png_row_infop, png_bytep) {
  DecodeState& s = *static_cast<DecodeState*>(png_get_io_ptr(png));
  ++s.rows_read;
}

void warning_callback(png_structp png, png_const_charp message) {
  DecodeState& s = *static_cast<DecodeState*>(png_get_error_ptr(png));
  copy_message(s.libpng_warning, message);
}

uint64_t saturating_multiply(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) {
    return std::numeric_limits<uint64_t>::max();
  }
  return a * b;
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

// Bytes of filtered row data the compressed stream must inflate to.
uint64_t raw_data_bytes(uint32_t width, uint32_t height, int pixel_bits, bool interlaced) {
  auto rows_bytes = [pixel_bits](uint64_t cols, uint64_t rows) {
    const uint64_t row_bytes = (cols * static_cast<uint64_t>(pixel_bits) + 7) / 8;
    return saturating_multiply(rows, row_bytes + 1);  // each row starts with a filter byte
  };
  if (!interlaced) return rows_bytes(width, height);
  uint64_t total = 0;
  for (int pass = 0; pass < 7; ++pass) {
    const uint64_t cols = PNG_PASS_COLS(uint64_t{width}, pass);
    const uint64_t rows = PNG_PASS_ROWS(uint64_t{height}, pass);
    if (cols != 0 && rows != 0) total = saturating_add(total, rows_bytes(cols, rows));
  }
  return total;
}

// Rows of all passes together, as the progress callback counts them.
uint64_t total_rows(uint32_t width, uint32_t height, bool interlaced) {
  if (!interlaced) return height;
  uint64_t total = 0;
  for (int pass = 0; pass < 7; ++pass) {
    if (PNG_PASS_COLS(uint64_t{width}, pass) != 0) total += PNG_PASS_ROWS(uint64_t{height}, pass);
  }
  return total;
}

bool within_limits(uint32_t width, uint32_t height, const DecodeLimits& limits) {
  return width <= limits.max_width && height <= limits.max_height &&
         uint64_t{width} * height <= limits.max_pixels;
}

// Owns libpng's read structures for one decode.
class PngReader {
 public:
  explicit PngReader(DecodeState* state)
      : png_(png_create_read_struct(PNG_LIBPNG_VER_STRING, state, error_callback,
                                    warning_callback)) {
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  ~PngReader() {
    if (png_ != nullptr)
      png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr);
  }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  bool ok() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// Where the rows of a whole decode go: straight into the picture when libpng already
// delivers RGBA, through one row buffer when alpha must be added or passes spread out.
class ImageTarget {
 public:
  bool begin(uint32_t width, uint32_t height, int channels) {
    const uint64_t bytes = uint64_t{width} * height * 4;
    if (bytes > image_.rgba.max_size()) return false;
    try {
      buffer_.resize(static_cast<size_t>(width) * static_cast<size_t>(channels));
      image_.allocate(width, height);
    } catch (const std::bad_alloc&) {
      return false;
    }
    channels_ = channels;
    return true;
  }

  uint8_t* row_buffer(uint32_t y) { return channels_ == 4 ? image_.row(y) : buffer_.data(); }

  void row_done(uint32_t y) {
    if (channels_ == 4) return;
    const uint8_t* src = buffer_.data();
    uint8_t* dst = image_.row(y);
    for (uint32_t x = 0; x < image_.width; ++x, src += 3, dst += 4) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = 255;
    }
  }

  uint8_t* pass_buffer() { return buffer_.data(); }

  void pass_row(const PixelRun& run) {
    const uint8_t* src = run.pixels;
    uint8_t* dst = image_.row(run.y) + size_t{run.x0} * 4;
    const size_t step = size_t{run.x_step} * 4;
    for (uint32_t i = 0; i < run.count; ++i, src += channels_, dst += step) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = channels_ == 4 ? src[3] : 255;
    }
  }

  Image& image() { return image_; }

 private:
  Image image_;
  std::vector<uint8_t> buffer_;
  int channels_ = 4;
};

// Where the rows of a streamed decode go: one row buffer, handed to the sink row by row.
class SinkTarget {
 public:
  explicit SinkTarget(PixelSink& sink) : sink_(sink) {}

  bool begin(uint32_t width, uint32_t height, int channels) {
    try {
      buffer_.resize(static_cast<size_t>(width) * static_cast<size_t>(channels));
    } catch (const std::bad_alloc&) {
      return false;
    }
    width_ = width;
    channels_ = channels;
    sink_.begin(width, height, channels);
    return true;
  }

  uint8_t* row_buffer(uint32_t) { return buffer_.data(); }
  void row_done(uint32_t y) { sink_.pixels(PixelRun{y, 0, 1, width_, channels_, buffer_.data()}); }
  uint8_t* pass_buffer() { return buffer_.data(); }
  void pass_row(const PixelRun& run) { sink_.pixels(run); }

 private:
  PixelSink& sink_;
  std::vector<uint8_t> buffer_;
  uint32_t width_ = 0;
  int channels_ = 3;
};

// Takes the palette and its tRNS alpha from libpng into palette_rgba.
void load_palette(png_structp png, png_infop info, DecodeState& s) {
  png_colorp colours = nullptr;
  int count = 0;
  png_get_PLTE(png, info, &colours, &count);
  png_bytep alpha = nullptr;
  int alpha_count = 0;
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) {
    png_get_tRNS(png, info, &alpha, &alpha_count, nullptr);
  }
  count = std::clamp(count, 0, 256);
  for (int i = 0; i < count; ++i) {
    uint8_t* entry = s.palette_rgba.data() + i * 4;
    entry[0] = colours[i].red;
    entry[1] = colours[i].green;
    entry[2] = colours[i].blue;
    entry[3] = alpha != nullptr && i < alpha_count ? alpha[i] : 255;
  }
  s.palette = true;
  s.palette_size = count;
}

bool allocate_indices(DecodeState& s, uint32_t width) {
  try {
    s.indices.resize(width);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool colour_indices(DecodeState& s, uint32_t count, int channels, uint8_t* out) {
  const uint8_t* indices = s.indices.data();
  uint8_t max_index = 0;
  for (uint32_t i = 0; i < count; ++i) max_index = std::max(max_index, indices[i]);
  if (max_index >= s.palette_size) {
    s.bad_index = max_index;
    s.failure = Failure::kBadPalette;
    return false;
  }
  const uint8_t* table = s.palette_rgba.data();
  if (channels == 4) {
    for (uint32_t i = 0; i < count; ++i)
      std::memcpy(out + size_t{i} * 4, table + indices[i] * 4, 4);
  } else {
    for (uint32_t i = 0; i < count; ++i)
      std::memcpy(out + size_t{i} * 3, table + indices[i] * 4, 3);
  }
  return true;
}

// Reads the next row, or reduced row of an interlace pass, of `count` pixels into `out` as
// 8-bit RGB or RGBA.
bool read_row(png_structp png, DecodeState& s, uint32_t count, int channels, uint8_t* out) {
  if (!s.palette) {
    png_read_row(png, out, nullptr);
    return true;
  }
  png_read_row(png, s.indices.data(), nullptr);
  return colour_indices(s, count, channels, out);
}

bool report_progress(DecodeState& s, uint64_t done, uint64_t total) {
  if (!s.options.progress || s.options.progress(done, total)) return true;
  s.failure = Failure::kCancelled;
  return false;
}

// Reads the header, checks the size, sets up the conversion to 8-bit RGB(A) and hands the
// rows to `target`. Calls setjmp: see the note at the top of the file.
template <typename Target>
bool decode_rows(png_structp png, png_infop info, DecodeState& s, Target& target) {
  if (setjmp(png_jmpbuf(png))) return false;

  png_read_info(png, info);
  const uint32_t width = png_get_image_width(png, info);
  const uint32_t height = png_get_image_height(png, info);
  const int bit_depth = png_get_bit_depth(png, info);
  const int colour_type = png_get_color_type(png, info);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  const bool has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  s.width = width;
  s.height = height;

  if (!within_limits(width, height, s.options.limits)) {
    s.failure = Failure::kTooLarge;
    return false;
  }
  const uint64_t raw_bytes =
      raw_data_bytes(width, height, bit_depth * png_get_channels(png, info), interlaced);
  if (s.input_size_known && raw_bytes > saturating_multiply(s.input_size, kMaxInflateRatio)) {
    s.failure = Failure::kCannotFit;
    return false;
  }

  // 8-bit RGB and RGBA need no conversion at all; everything else is widened or narrowed
  // to that. No gamma, background or colour-profile handling is ever set up.
  const bool alpha = (colour_type & PNG_COLOR_MASK_ALPHA) != 0 || has_trns;
  const int channels = alpha ? 4 : 3;
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    if (bit_depth < 8) png_set_packing(png);
    load_palette(png, info, s);
  } else {
    if (bit_depth < 8 || has_trns) png_set_expand(png);
    if (bit_depth == 16) png_set_scale_16(png);
    if ((colour_type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  }
  s.rows_total = total_rows(width, height, interlaced);
  png_set_read_user_transform_fn(png, count_row);
  png_read_update_info(png, info);
  // From here on libpng's "benign" errors are errors: image data that inflates past the
  // last row (a zip bomb in a small picture, a second stream) would otherwise pass with a
  // warning. libpng stops inflating at the first byte too many, so refusing costs nothing.
  png_set_benign_errors(png, 0);
  const int read_channels = s.palette ? 1 : channels;
  if (png_get_bit_depth(png, info) != 8 || png_get_channels(png, info) != read_channels ||
      png_get_rowbytes(png, info) != size_t{width} * static_cast<size_t>(read_channels)) {
    s.failure = Failure::kUnexpectedLayout;
    return false;
  }

  if ((s.palette && !allocate_indices(s, width)) || !target.begin(width, height, channels)) {
    s.failure = Failure::kNoMemory;
    return false;
  }

  const uint64_t total = s.rows_total;
  uint64_t done = 0;
  if (!interlaced) {
    for (uint32_t y = 0; y < height; ++y) {
      if (!read_row(png, s, width, channels, target.row_buffer(y))) return false;
      target.row_done(y);
      if (++done % kProgressRows == 0 && done != total && !report_progress(s, done, total)) {
        return false;
      }
    }
  } else {
    uint8_t* buffer = target.pass_buffer();
    for (int pass = 0; pass < 7; ++pass) {
      const uint32_t cols = PNG_PASS_COLS(width, pass);
      const uint32_t rows = PNG_PASS_ROWS(height, pass);
      if (cols == 0 || rows == 0) continue;  // libpng skips empty passes too
      PixelRun run{0,
                   static_cast<uint32_t>(PNG_PASS_START_COL(pass)),
                   static_cast<uint32_t>(PNG_PASS_COL_OFFSET(pass)),
                   cols,
                   channels,
                   buffer};
      for (uint32_t row = 0; row < rows; ++row) {
        if (!read_row(png, s, cols, channels, buffer)) return false;
        run.y = static_cast<uint32_t>(PNG_ROW_FROM_PASS_ROW(row, pass));
        target.pass_row(run);
        if (++done % kProgressRows == 0 && done != total && !report_progress(s, done, total)) {
          return false;
        }
      }
    }
  }

  png_read_end(png, nullptr);
  return report_progress(s, total, total);
}

template <typename Target>
bool decode(DecodeState& s, Target& target) {
  uint8_t signature[sizeof kSignature];
  const size_t got = read_input(s, signature, sizeof signature);
  if (s.read_errno != 0) {
    s.failure = Failure::kReadError;
    return false;
  }
  if (got == 0) {
    s.failure = Failure::kEmpty;
    return false;
  }
  if (std::memcmp(signature, kSignature, got) != 0) {
    s.failure = Failure::kNotPng;
    return false;
  }
  if (got < sizeof signature) {
    s.failure = Failure::kTruncated;
    return false;
  }

  PngReader reader(&s);
  if (!reader.ok()) {
    s.failure = Failure::kNoMemory;
    return false;
  }
  png_structp png = reader.png();
  png_set_read_fn(png, &s, read_callback);
  png_set_sig_bytes(png, sizeof signature);
  // A damaged chunk is an error whatever the chunk: a plant map must be read exactly.
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  constexpr uint32_t kFormatMax = PNG_UINT_31_MAX;
  png_set_user_limits(png, std::min(s.options.limits.max_width, kFormatMax),
                      std::min(s.options.limits.max_height, kFormatMax));
  png_set_chunk_malloc_max(png, kChunkMallocMax);
  // Skip every ancillary chunk except tRNS: gamma, colour profiles, sBIT, background and
  // text have no say in a pixel's value here.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  return decode_rows(png, reader.info(), s, target);
}

std::string too_large_message(const std::string& subject, uint32_t width, uint32_t height,
                              const DecodeLimits& limits) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width > limits.max_width) {
    return subject + " is " + size + ", wider than the limit of " +
           std::to_string(limits.max_width) + " pixels";
  }
  if (height > limits.max_height) {
    return subject + " is " + size + ", higher than the limit of " +
           std::to_string(limits.max_height) + " pixels";
  }
  return subject + " is " + size + ", more than the limit of " + std::to_string(limits.max_pixels) +
         " pixels";
}

std::string too_much_data_message(const std::string& subject, const std::string& size) {
  return subject + " is damaged: its image data is longer than " + size + " pixels need";
}

std::string describe_failure(const DecodeState& s, const std::string& subject) {
  const std::string size = std::to_string(s.width) + " x " + std::to_string(s.height);
  switch (s.failure) {
    case Failure::kNone:
      break;
    case Failure::kEmpty:
      return subject + " is empty";
    case Failure::kNotPng:
      return subject + " is not a PNG file";
    case Failure::kTruncated:
      return subject + " is truncated";
    case Failure::kReadError:
      return "cannot read " + subject + ": " + std::generic_category().message(s.read_errno);
    case Failure::kTooLarge:
      return too_large_message(subject, s.width, s.height, s.options.limits);
    case Failure::kCannotFit:
      return subject + " is truncated or damaged: " + std::to_string(s.input_size) +
             " bytes cannot hold a picture of " + size + " pixels";
    case Failure::kTooMuchData:
      return too_much_data_message(subject, size);
    case Failure::kBadPalette:
      return subject + " is damaged: a pixel uses colour " + std::to_string(s.bad_index) +
             " of a palette of " + std::to_string(s.palette_size) + " colours";
    case Failure::kNoMemory:
      return "not enough memory to decode " + subject +
             (s.width != 0 ? " (" + size + " pixels)" : std::string());
    case Failure::kCancelled:
      return "cancelled";
    case Failure::kUnexpectedLayout:
      return subject + " uses a pixel layout this program cannot convert";
    case Failure::kLibpng: {
      const std::string message = s.libpng_error;
      if (message.find("memory") != std::string::npos) {
        return "not enough memory to decode " + subject;
      }
      if (message.find("Too much image data") != std::string::npos ||
          message.find("Extra compressed data") != std::string::npos ||
          message.find("Too many IDATs") != std::string::npos) {
        return too_much_data_message(subject, size);
      }
      if (message == "Invalid IHDR data") {
        // libpng refuses the header before reporting the size; it explains in a warning.
        const uint32_t width = read_be32(s.header_size);
        const uint32_t height = read_be32(s.header_size + 4);
        const bool valid =
            width != 0 && height != 0 && width <= PNG_UINT_31_MAX && height <= PNG_UINT_31_MAX;
        if (valid && !within_limits(width, height, s.options.limits)) {
          return too_large_message(subject, width, height, s.options.limits);
        }
        if (s.libpng_warning[0] != '\0') return subject + " is damaged: " + s.libpng_warning;
      }
      return subject + " is damaged: " + message;
    }
  }
  return subject + " cannot be decoded";
}

const char kMemorySubject[] = "the picture data";

// The file's size, when it is a regular file whose size the system reports.
bool regular_file_size(std::FILE* file, uint64_t* size) {
#ifdef _WIN32
  struct _stat64 st;
  if (_fstat64(_fileno(file), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return false;
#else
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
#endif
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

// The most filtered row data a picture within `limits` can need: 8 bytes a pixel at most,
// and a filter byte for each row of each interlace pass (fewer than 2 per picture row).
uint64_t largest_raw_data(const DecodeLimits& limits) {
  const uint64_t rows = std::min<uint64_t>(limits.max_height, limits.max_pixels);
  return saturating_add(saturating_multiply(limits.max_pixels, 8), saturating_multiply(rows, 3));
}

// Reads the start of an input of unknown size into `ahead`, which `s` then reads first: the
// whole input when it is short enough for the inflate-ratio check to matter, which then
// applies as to a file of known size.
bool read_ahead(DecodeState& s, std::vector<uint8_t>* ahead) {
  const uint64_t wanted =
      std::min(kMaxReadAhead, largest_raw_data(s.options.limits) / kMaxInflateRatio + 1);
  try {
    ahead->resize(static_cast<size_t>(wanted));
  } catch (const std::bad_alloc&) {
    s.failure = Failure::kNoMemory;
    return false;
  }
  errno = 0;
  const size_t got = std::fread(ahead->data(), 1, ahead->size(), s.file);
  if (got < ahead->size() && std::ferror(s.file)) {
    s.read_errno = errno != 0 ? errno : EIO;
    s.failure = Failure::kReadError;
    return false;
  }
  s.data = ahead->data();
  s.data_size = got;
  if (got < ahead->size()) {  // the whole input
    s.file = nullptr;
    s.input_size_known = true;
    s.input_size = got;
  }
  return true;
}

template <typename Target>
bool decode_file(const std::filesystem::path& path, Target& target, std::string* error,
                 const DecodeOptions& options) {
  const std::string subject = utf8_from_path(path);
  errno = 0;
  CFile file = open_c_file(path, "rb");
  if (!file) {
    const int cause = errno != 0 ? errno : ENOENT;
    *error = "cannot open " + subject + ": " + std::generic_category().message(cause);
    return false;
  }
  DecodeState s(options);
  s.file = file.get();
  s.input_size_known = regular_file_size(file.get(), &s.input_size);
  std::vector<uint8_t> ahead;
  if (!s.input_size_known && !read_ahead(s, &ahead)) {
    *error = describe_failure(s, subject);
    return false;
  }
  if (decode(s, target)) return true;
  *error = describe_failure(s, subject);
  return false;
}

template <typename Target>
bool decode_memory(std::span<const uint8_t> data, Target& target, std::string* error,
                   const DecodeOptions& options) {
  DecodeState s(options);
  s.data = data.data();
  s.data_size = data.size();
  s.input_size_known = true;
  s.input_size = data.size();
  if (decode(s, target)) return true;
  *error = describe_failure(s, kMemorySubject);
  return false;
}

}  // namespace

bool decode_png_file(const std::filesystem::path& path, Image* image, std::string* error,
                     const DecodeOptions& options) {
  ImageTarget target;
  if (!decode_file(path, target, error, options)) return false;
  *image = std::move(target.image());
  return true;
}

bool decode_png_memory(std::span<const uint8_t> data, Image* image, std::string* error,
                       const DecodeOptions& options) {
  ImageTarget target;
  if (!decode_memory(data, target, error, options)) return false;
  *image = std::move(target.image());
  return true;
}

bool stream_png_file(const std::filesystem::path& path, PixelSink& sink, std::string* error,
                     const DecodeOptions& options) {
  SinkTarget target(sink);
  return decode_file(path, target, error, options);
}

bool stream_png_memory(std::span<const uint8_t> data, PixelSink& sink, std::string* error,
                       const DecodeOptions& options) {
  SinkTarget target(sink);
  return decode_memory(data, target, error, options);
}

}  // namespace plantscatter
