// The fixed POV-Ray scene text that ends every export: it draws the scattered plants beside
// the map when the export file is rendered by itself.
#ifndef PLANTSCATTER_EXPORT_VIEWER_SCENE_H_
#define PLANTSCATTER_EXPORT_VIEWER_SCENE_H_

#include <string_view>

namespace plantscatter {

// The scene's bytes exactly as built into the program from assets/viewer_scene.inc: 7-bit
// ASCII, CRLF after every line. Valid for the whole run.
std::string_view viewer_scene();

}  // namespace plantscatter

#endif  // PLANTSCATTER_EXPORT_VIEWER_SCENE_H_
