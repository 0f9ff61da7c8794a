// The POV-Ray include file that lists the scattered plants and ends with the viewer scene.
#ifndef PLANTSCATTER_EXPORT_EXPORT_WRITER_H_
#define PLANTSCATTER_EXPORT_EXPORT_WRITER_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "scatter/random.h"
#include "scatter/scatter.h"

namespace plantscatter {

struct ExportInput {
  std::string_view map_path;  // the map's full path, UTF-8
  uint32_t width = 0;
  uint32_t height = 0;
  std::span<const PlantRecord> plants;  // placement order; the plant count is their number
};

// Receives the file's bytes in order, in large pieces.
class ExportSink {
 public:
  virtual ~ExportSink() = default;
  virtual bool write(std::string_view bytes, std::string* error) = 0;
};

// Refuses a map path that cannot be written safely into the file's text (control
// characters such as a line break would end the comment or string they stand in).
bool check_map_path(std::string_view map_path, std::string* error);

// Writes the whole file to `sink`. Draws each plant's rotation, then its scale, from `rng`
// in plant order.
bool write_export(const ExportInput& input, Random& rng, ExportSink& sink, std::string* error);

// Writes the file at `path` through a temporary file in the same folder that is renamed over
// `path` only once complete: a failure never leaves a partial file nor harms an earlier one.
bool write_export_file(const ExportInput& input, Random& rng, const std::filesystem::path& path,
                       std::string* error);

}  // namespace plantscatter

#endif  // PLANTSCATTER_EXPORT_EXPORT_WRITER_H_
