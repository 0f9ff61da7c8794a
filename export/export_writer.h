// The POV-Ray include file that lists the scattered plants and ends with the viewer scene.
#ifndef PLANTSCATTER_EXPORT_EXPORT_WRITER_H_
#define PLANTSCATTER_EXPORT_EXPORT_WRITER_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "export/pov_version.h"
#include "scatter/random.h"
#include "scatter/scatter.h"

namespace plantscatter {

struct ExportInput {
  std::string_view map_path;  // the map's full path, UTF-8
  uint32_t width = 0;
  uint32_t height = 0;
  std::span<const PlantRecord> plants;  // placement order; the plant count is their number
  // The form of the plant arrays and of the viewer scene. The header, the numbers and the
  // random draws are the same in both forms, so one seed gives the same values in each.
  PovVersion pov_version = PovVersion::k38;
  // Threads that format the plant rows, 1 or 2; 0 takes 2 for more than a few thousand
  // plants on a machine with two cores or more. The bytes written do not depend on it.
  int format_threads = 0;
};

// Receives the file's bytes in order, in large pieces.
class ExportSink {
 public:
  virtual ~ExportSink() = default;
  virtual bool write(std::string_view bytes, std::string* error) = 0;
};

// Refuses a map path that cannot be written safely into the file's text: control
// characters (bytes 0x00 to 0x1f and 0x7f; a line break would end the comment it stands in
// and let a file name add scene code) and text that is not valid UTF-8.
bool check_map_path(std::string_view map_path, std::string* error);

// For the path of a map on this system's disks: what check_map_path() refuses and, outside
// Windows, a backslash. The export reads "\" as a folder separator (a path written on
// Windows names the same folder wherever the file is made), so where a backslash is an
// ordinary character of a name the file would declare a map in a folder that does not exist.
bool check_local_map_path(std::string_view map_path, std::string* error);

// Writes the whole file to `sink`. Draws each plant's rotation, then its scale, from `rng`
// in plant order. Refuses, before writing or drawing anything, a map path that
// check_map_path() refuses and a plant whose type id is not 1 to 10 or whose pixel lies
// outside the map. On Windows the lines made from the map path are in the ANSI code page;
// elsewhere they stay UTF-8.
bool write_export(const ExportInput& input, Random& rng, ExportSink& sink, std::string* error);

// Writes the file at `path` through a hidden temporary file in the same folder that is
// renamed over `path` only once complete: a failure never leaves a partial file nor harms
// an earlier one. An existing file at `path` without write permission is refused, never
// replaced; a replaced file's permissions carry over. Errors name `path` and the system's
// reason, e.g. "cannot write /maps/a_export.inc: No space left on device".
bool write_export_file(const ExportInput& input, Random& rng, const std::filesystem::path& path,
                       std::string* error);

}  // namespace plantscatter

#endif  // PLANTSCATTER_EXPORT_EXPORT_WRITER_H_
