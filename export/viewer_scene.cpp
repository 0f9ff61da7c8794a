#include "export/viewer_scene.h"

#include <cstddef>

extern const unsigned char plantscatter_viewer_scene[];
extern const std::size_t plantscatter_viewer_scene_size;
extern const unsigned char plantscatter_viewer_scene_37[];
extern const std::size_t plantscatter_viewer_scene_37_size;

namespace plantscatter {

std::string_view viewer_scene(PovVersion version) {
  if (version == PovVersion::k37) {
    return std::string_view(reinterpret_cast<const char*>(plantscatter_viewer_scene_37),
                            plantscatter_viewer_scene_37_size);
  }
  return std::string_view(reinterpret_cast<const char*>(plantscatter_viewer_scene),
                          plantscatter_viewer_scene_size);
}

}  // namespace plantscatter
