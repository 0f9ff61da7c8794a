// The fixed POV-Ray scene text that ends every export: it draws the scattered plants beside
// the map when the export file is rendered by itself.
#ifndef PLANTSCATTER_EXPORT_VIEWER_SCENE_H_
#define PLANTSCATTER_EXPORT_VIEWER_SCENE_H_

#include <string_view>

#include "export/pov_version.h"

namespace plantscatter {

// The scene's bytes exactly as built into the program, from assets/viewer_scene.inc for
// POV-Ray 3.8 and from assets/viewer_scene_37.inc for 3.7: 7-bit ASCII, CRLF after every
// line. Both draw the same picture; they differ only in how they read the plant arrays and
// hold their per-type table. Valid for the whole run.
std::string_view viewer_scene(PovVersion version = PovVersion::k38);

}  // namespace plantscatter

#endif  // PLANTSCATTER_EXPORT_VIEWER_SCENE_H_
