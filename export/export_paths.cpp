#include "export/export_paths.h"

namespace plantscatter {

ExportPaths derive_export_paths(std::string_view map_path) {
  ExportPaths paths;
  // Both separators count on every platform: a map path typed on Windows names the same
  // folder whichever system writes the export.
  const size_t separator = map_path.find_last_of("\\/");
  const size_t name_start = separator == std::string_view::npos ? 0 : separator + 1;
  paths.folder = std::string(map_path.substr(0, name_start));
  paths.file_name = std::string(map_path.substr(name_start));

  // Cut the last four characters: step back over four UTF-8 lead bytes (continuation bytes
  // are 10xxxxxx), so a multi-byte character is dropped whole or kept whole.
  size_t cut = paths.file_name.size();
  for (int characters = 0; characters < 4 && cut > 0; ++characters) {
    do {
      --cut;
    } while (cut > 0 && (static_cast<unsigned char>(paths.file_name[cut]) & 0xc0) == 0x80);
  }
  paths.base_name = paths.file_name.substr(0, cut);

  paths.export_path = paths.folder + paths.base_name + "_export.inc";
  paths.scene_folder = paths.folder;
  for (char& c : paths.scene_folder) {
    if (c == '\\') c = '/';
  }
  return paths;
}

}  // namespace plantscatter
