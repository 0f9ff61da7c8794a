// Decodes arbitrary bytes as a PNG, whole and streamed, under small limits. Neither may
// crash, leak, overrun or allocate beyond the limits, and the two must agree: both fail
// with the same message, or both succeed with the same pixels, each pixel streamed once.
// Where libpng's own simplified reader also takes the picture and has no colour
// management to apply, it must give the same pixels too.
//
// The mutator keeps most inputs well-formed enough to get past the chunk checksums, and
// now and then rewrites the image data itself (inflate, mutate, deflate), so that the
// fuzzer reaches the row conversion and palette code instead of stopping at a CRC error.
#include <png.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "plants/big_endian.h"
#include "plants/png_decode.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

using plantscatter::read_be32;
using plantscatter::write_be32;

using plantscatter::DecodeOptions;
using plantscatter::Image;
using plantscatter::PixelRun;
using plantscatter::PixelSink;

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "png_decode_fuzz: broken invariant: %s\n", what);
  std::abort();
}

// Small enough that a whole decode takes at most 4 MiB, large enough for every kind of row.
DecodeOptions small_limits() {
  DecodeOptions options;
  options.limits.max_width = 4096;
  options.limits.max_height = 4096;
  options.limits.max_pixels = uint64_t{1} << 20;
  return options;
}

// Rebuilds the picture from the streamed runs, checking every run against the header.
class RebuildingSink : public PixelSink {
 public:
  void begin(uint32_t width, uint32_t height, int channels) override {
    check(begin_calls++ == 0, "begin() called once");
    check(channels == 3 || channels == 4, "3 or 4 channels");
    check(uint64_t{width} * height <= small_limits().limits.max_pixels, "size within limits");
    image.width = width;
    image.height = height;
    image.rgba.assign(size_t{width} * height * 4, 0);
    arrivals.assign(size_t{width} * height, 0);
    channels_ = channels;
  }

  void pixels(const PixelRun& run) override {
    check(begin_calls == 1, "pixels only after begin()");
    check(run.channels == channels_, "runs keep the channel count");
    check(run.y < image.height, "run inside the picture");
    check(run.x_step >= 1, "run step at least 1");
    for (uint32_t i = 0; i < run.count; ++i) {
      const uint64_t x = run.x0 + uint64_t{i} * run.x_step;
      check(x < image.width, "run inside the row");
      const uint8_t* src = run.pixels + size_t{i} * static_cast<size_t>(channels_);
      uint8_t* dst = image.row(run.y) + x * 4;
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = channels_ == 4 ? src[3] : 255;
      ++arrivals[size_t{run.y} * image.width + x];
    }
  }

  int begin_calls = 0;
  Image image;
  std::vector<uint8_t> arrivals;

 private:
  int channels_ = 0;
};

struct Chunk {
  size_t at;  // offset of the length field
  uint32_t length;
};

std::vector<Chunk> chunks_of(const uint8_t* data, size_t size) {
  std::vector<Chunk> chunks;
  size_t at = 8;
  while (at + 12 <= size) {
    const uint32_t length = read_be32(data + at);
    if (length > size - at - 12) break;
    chunks.push_back({at, length});
    at += size_t{length} + 12;
  }
  return chunks;
}

void fix_crcs(uint8_t* data, size_t size) {
  for (const Chunk& c : chunks_of(data, size)) {
    const uLong crc = crc32(0L, data + c.at + 4, static_cast<uInt>(c.length + 4));
    write_be32(data + c.at + 8 + c.length, static_cast<uint32_t>(crc));
  }
}

// Inflates the IDAT data, mutates the filtered rows, deflates them into one IDAT in place
// of the old ones. Returns the new size, or 0 when the input has no usable image data.
size_t mutate_image_data(uint8_t* data, size_t size, size_t max_size) {
  const std::vector<Chunk> chunks = chunks_of(data, size);
  std::vector<uint8_t> compressed;
  size_t first = 0, last = 0;
  bool found = false;
  for (const Chunk& c : chunks) {
    if (std::memcmp(data + c.at + 4, "IDAT", 4) != 0) continue;
    if (!found) first = c.at;
    found = true;
    last = c.at + c.length + 12;
    compressed.insert(compressed.end(), data + c.at + 8, data + c.at + 8 + c.length);
  }
  if (!found) return 0;

  std::vector<uint8_t> raw(64 * 1024);
  z_stream in{};
  if (inflateInit(&in) != Z_OK) return 0;
  in.next_in = compressed.data();
  in.avail_in = static_cast<uInt>(compressed.size());
  in.next_out = raw.data();
  in.avail_out = static_cast<uInt>(raw.size() / 2);  // room for the mutation to grow
  inflate(&in, Z_FINISH);
  size_t raw_size = in.total_out;
  inflateEnd(&in);
  raw_size = LLVMFuzzerMutate(raw.data(), raw_size, raw.size());

  std::vector<uint8_t> packed(compressBound(static_cast<uLong>(raw_size)));
  uLongf packed_size = static_cast<uLongf>(packed.size());
  if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw_size), 1) != Z_OK) {
    return 0;
  }
  const size_t tail = size - last;
  const size_t new_size = first + 12 + packed_size + tail;
  if (new_size > max_size) return 0;
  std::vector<uint8_t> out(data, data + first);
  out.resize(first + 8);
  write_be32(out.data() + first, static_cast<uint32_t>(packed_size));
  std::memcpy(out.data() + first + 4, "IDAT", 4);
  out.insert(out.end(), packed.begin(), packed.begin() + static_cast<ptrdiff_t>(packed_size));
  out.resize(out.size() + 4);  // CRC, filled in below
  out.insert(out.end(), data + last, data + size);
  std::memcpy(data, out.data(), out.size());
  return out.size();
}

// True when the file has a chunk of this type before IEND.
bool has_chunk(const uint8_t* data, size_t size, const char* type) {
  for (const Chunk& c : chunks_of(data, size)) {
    if (std::memcmp(data + c.at + 4, type, 4) == 0) return true;
  }
  return false;
}

// The picture as libpng's simplified reader decodes it to 8-bit RGBA, when that involves
// no gamma or colour conversion: 8 bits a sample or fewer, and no chunk that describes
// colour. Empty when that reader refuses the picture or would convert it.
std::vector<uint8_t> reference_rgba(const uint8_t* data, size_t size, const Image& ours) {
  if (size < 33 || data[24] > 8) return {};  // IHDR's bit depth
  for (const char* chunk : {"gAMA", "cHRM", "iCCP", "sRGB", "sBIT"}) {
    if (has_chunk(data, size, chunk)) return {};
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba;
  if (image.width == ours.width && image.height == ours.height) {
    rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) rgba.clear();
  }
  png_image_free(&image);
  return rgba;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  switch (seed % 8) {
    case 0:  // plain bytes, checksums left as they fall: CRC failures must be clean too
      return LLVMFuzzerMutate(data, size, max_size);
    case 1:
    case 2:
      if (const size_t n = mutate_image_data(data, size, max_size); n != 0) {
        fix_crcs(data, n);
        return n;
      }
      [[fallthrough]];
    default: {
      const size_t n = LLVMFuzzerMutate(data, size, max_size);
      fix_crcs(data, n);
      return n;
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  DecodeOptions options = small_limits();

  Image whole;
  whole.width = 7;  // a failed decode must leave the picture alone
  std::string whole_error;
  const bool whole_ok = plantscatter::decode_png_memory(bytes, &whole, &whole_error, options);

  uint64_t last_done = 0, last_total = 0;
  int reports = 0;
  options.progress = [&](uint64_t done, uint64_t total) {
    check(done <= total, "progress within the total");
    check(done > last_done || reports == 0, "progress moves forward");
    check(reports == 0 || total == last_total, "progress keeps its total");
    last_done = done;
    last_total = total;
    ++reports;
    return true;
  };
  RebuildingSink sink;
  std::string stream_error;
  const bool stream_ok = plantscatter::stream_png_memory(bytes, sink, &stream_error, options);

  check(whole_ok == stream_ok, "whole and streamed decoding agree on success");
  if (!whole_ok) {
    check(!whole_error.empty(), "a failure has a message");
    check(whole_error == stream_error, "whole and streamed decoding give the same message");
    check(whole.width == 7 && whole.rgba.empty(), "a failed decode leaves the picture alone");
    return 0;
  }
  check(whole.rgba.size() == size_t{whole.width} * whole.height * 4, "RGBA of the right size");
  check(sink.begin_calls == 1, "the stream began");
  check(sink.image.width == whole.width && sink.image.height == whole.height, "same size");
  for (uint8_t arrivals : sink.arrivals) check(arrivals == 1, "every pixel streamed once");
  check(sink.image.rgba == whole.rgba, "same pixels whole and streamed");
  const std::vector<uint8_t> reference = reference_rgba(data, size, whole);
  check(reference.empty() || reference == whole.rgba, "same pixels as libpng's simplified reader");
  check(last_done == last_total && reports > 0, "progress ends at the total");
  return 0;
}
