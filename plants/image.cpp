#include "plants/image.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace plantscatter {

void Image::allocate(uint32_t new_width, uint32_t new_height) {
  const size_t bytes = static_cast<size_t>(new_width) * new_height * 4;
  std::vector<uint8_t> pixels;
  pixels.reserve(bytes);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Only whole 2 MiB pages inside the buffer can be huge; the advice is a hint, and a
  // refusal changes nothing but speed.
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (bytes >= 4 * kHugePage) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(pixels.data());
    const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#endif
  pixels.resize(bytes);
  rgba = std::move(pixels);
  width = new_width;
  height = new_height;
}

}  // namespace plantscatter
