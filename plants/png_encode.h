// PNG encoding of decoded pictures, used to save a map with its plants marked.
//
// Writes 8-bit RGBA, or 8-bit RGB when every pixel is opaque, compressed for speed rather
// than for the smallest file. Every failure comes back as `false` with a message for the
// user in `*error`; no call throws or leaks.
#ifndef PLANTSCATTER_PLANTS_PNG_ENCODE_H_
#define PLANTSCATTER_PLANTS_PNG_ENCODE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "plants/image.h"

namespace plantscatter {

// Creates or replaces the file at `path`. A file left half-written by a failure is removed.
bool encode_png_file(const Image& image, const std::filesystem::path& path, std::string* error);

// Replaces the contents of `*out` with the PNG file; `*out` is changed only on success.
bool encode_png_memory(const Image& image, std::vector<uint8_t>* out, std::string* error);

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_PNG_ENCODE_H_
