// Where an export goes and how the map is named inside it, derived from the map's path.
#ifndef PLANTSCATTER_EXPORT_EXPORT_PATHS_H_
#define PLANTSCATTER_EXPORT_EXPORT_PATHS_H_

#include <string>
#include <string_view>

namespace plantscatter {

struct ExportPaths {
  std::string folder;        // the map path up to and including its last '\' or '/'
  std::string file_name;     // everything after that separator
  std::string base_name;     // the file name less its last four characters
  std::string export_path;   // folder + base name + "_export.inc"
  std::string scene_folder;  // the folder with every '\' turned into '/'
};

// `map_path` is UTF-8; characters, not bytes, are counted when the base name is cut.
ExportPaths derive_export_paths(std::string_view map_path);

}  // namespace plantscatter

#endif  // PLANTSCATTER_EXPORT_EXPORT_PATHS_H_
