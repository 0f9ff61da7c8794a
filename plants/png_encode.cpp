#include "plants/png_encode.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "plants/c_file.h"
#include "plants/utf8_path.h"

// libpng reports errors by longjmp. The function that calls setjmp keeps only trivially
// destructible locals, and the callbacks libpng runs neither throw nor leave objects alive
// when they raise an error, so a longjmp never skips a destructor.

namespace plantscatter {
namespace {

enum class Failure { kNone, kWriteError, kNoMemory, kLibpng };

struct EncodeState {
  std::FILE* file = nullptr;
  std::vector<uint8_t>* out = nullptr;
  Failure failure = Failure::kNone;
  int write_errno = 0;
  char libpng_error[160] = {};  // fixed: the error callback must not allocate
};

void write_callback(png_structp png, png_bytep data, size_t n) {
  EncodeState& s = *static_cast<EncodeState*>(png_get_io_ptr(png));
  if (s.file != nullptr) {
    if (std::fwrite(data, 1, n, s.file) == n) return;
    s.write_errno = errno != 0 ? errno : EIO;
    s.failure = Failure::kWriteError;
  } else {
    bool appended = false;
    try {
      s.out->insert(s.out->end(), data, data + n);
      appended = true;
    } catch (const std::exception&) {
      s.failure = Failure::kNoMemory;
    }
    if (appended) return;
  }
  png_error(png, "output failed");
}

void flush_callback(png_structp) {}

[[noreturn]] void error_callback(png_structp png, png_const_charp message) {
  EncodeState& s = *static_cast<EncodeState*>(png_get_error_ptr(png));
  if (s.failure == Failure::kNone) {
    s.failure = Failure::kLibpng;
    std::snprintf(s.libpng_error, sizeof s.libpng_error, "%s", message);
  }
  png_longjmp(png, 1);
}

void warning_callback(png_structp, png_const_charp) {}

// Owns libpng's write structures for one encode.
class PngWriter {
 public:
  explicit PngWriter(EncodeState* state)
      : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, state, error_callback,
                                     warning_callback)) {
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  ~PngWriter() {
    if (png_ != nullptr) png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr);
  }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;

  bool ok() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

bool all_opaque(const Image& image) {
  const uint8_t* p = image.rgba.data();
  const uint8_t* end = p + image.rgba.size();
  uint8_t all = 255;
  for (p += 3; p < end; p += 4) all &= *p;
  return all == 255;
}

// Calls setjmp: see the note at the top of the file.
bool write_rows(png_structp png, png_infop info, const Image& image, bool opaque) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, image.width, image.height, 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Maps are large areas of flat colour: one fixed filter and deflate's fastest level keep
  // them small at a quarter of the time adaptive filtering and the default level take.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_compression_level(png, 1);
  png_write_info(png, info);
  if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the fourth byte
  for (uint32_t y = 0; y < image.height; ++y) png_write_row(png, image.row(y));
  png_write_end(png, nullptr);
  return true;
}

bool check_image(const Image& image, std::string* detail) {
  if (image.width == 0 || image.height == 0) {
    *detail = "the picture is empty";
    return false;
  }
  if (image.rgba.size() != uint64_t{image.width} * image.height * 4) {
    *detail = "the picture's pixel data does not match its size";
    return false;
  }
  return true;
}

bool encode(const Image& image, EncodeState& s, std::string* detail) {
  PngWriter writer(&s);
  if (!writer.ok()) {
    *detail = "not enough memory";
    return false;
  }
  png_set_write_fn(writer.png(), &s, write_callback, flush_callback);
  if (write_rows(writer.png(), writer.info(), image, all_opaque(image))) return true;
  switch (s.failure) {
    case Failure::kWriteError:
      *detail = std::generic_category().message(s.write_errno);
      break;
    case Failure::kNoMemory:
      *detail = "not enough memory";
      break;
    case Failure::kLibpng:
    case Failure::kNone:
      *detail = s.libpng_error;
      break;
  }
  return false;
}

}  // namespace

bool encode_png_file(const Image& image, const std::filesystem::path& path, std::string* error) {
  const std::string name = utf8_from_path(path);
  std::string detail;
  if (!check_image(image, &detail)) {
    *error = "cannot write " + name + ": " + detail;
    return false;
  }
  errno = 0;
  CFile file = open_c_file(path, "wb");
  if (!file) {
    const int cause = errno != 0 ? errno : EACCES;
    *error = "cannot create " + name + ": " + std::generic_category().message(cause);
    return false;
  }
  EncodeState s;
  s.file = file.get();
  bool ok = encode(image, s, &detail);
  if (ok) {
    errno = 0;
    const bool closed = std::fclose(file.release()) == 0;
    if (!closed) {
      ok = false;
      detail = std::generic_category().message(errno != 0 ? errno : EIO);
    }
  } else {
    file.reset();
  }
  if (ok) return true;
  // The half-written file goes, but never a device or anything else the name leads to.
  std::error_code ignored;
  if (std::filesystem::is_regular_file(path, ignored)) std::filesystem::remove(path, ignored);
  *error = "cannot write " + name + ": " + detail;
  return false;
}

bool encode_png_memory(const Image& image, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> bytes;
  EncodeState s;
  s.out = &bytes;
  std::string detail;
  if (!check_image(image, &detail) || !encode(image, s, &detail)) {
    *error = "cannot encode the picture: " + detail;
    return false;
  }
  *out = std::move(bytes);
  return true;
}

}  // namespace plantscatter
