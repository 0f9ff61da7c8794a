// Drives the export writer with arbitrary map paths, map sizes and plant rows. It must
// refuse exactly the inputs it cannot write safely (a path with control characters or
// broken UTF-8, a plant off the map or of no type) without writing or drawing anything;
// everything else must come out as CRLF lines free of control characters, with the map's
// name correctly quoted, a plant count that agrees with the rows, and each row carrying its
// plant and the random values drawn for it, rotation before scale, in either form.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_paths.h"
#include "export/export_writer.h"
#include "export/pov_version.h"
#include "plants/plant_types.h"
#include "scatter/random.h"

namespace {

using plantscatter::ExportInput;
using plantscatter::PlantRecord;
using plantscatter::Random;

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "export_writer_fuzz: broken invariant: %s\n", what);
  std::abort();
}

class StringSink : public plantscatter::ExportSink {
 public:
  bool write(std::string_view bytes, std::string*) override {
    text.append(bytes);
    return true;
  }
  std::string text;
};

// UTF-8 as the standard defines it, decoded code point by code point: no overlong forms,
// no surrogates, nothing above U+10FFFF; and no C0 control character or DEL.
bool acceptable_path(std::string_view path) {
  size_t i = 0;
  while (i < path.size()) {
    const auto lead = static_cast<unsigned char>(path[i]);
    uint32_t code = 0;
    size_t length = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
      code = lead;
      length = 1;
    } else if ((lead & 0xe0) == 0xc0) {
      code = lead & 0x1f;
      length = 2;
      minimum = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
      code = lead & 0x0f;
      length = 3;
      minimum = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
      code = lead & 0x07;
      length = 4;
      minimum = 0x10000;
    } else {
      return false;
    }
    if (i + length > path.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(path[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = code << 6 | (next & 0x3f);
    }
    if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
    if (code < 0x20 || code == 0x7f) return false;
    i += length;
  }
  return true;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  check(start == text.size(), "the file ends with a line end");
  return lines;
}

std::string printed(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// The start of a plant's line: the one mixed array of the 3.8 form, or one array per value
// in the 3.7 form.
std::string row_start(plantscatter::PovVersion version, size_t number, int column) {
  static const char* const kArrays37[] = {"id", "position", "rotation", "scale", "normalized"};
  if (version == plantscatter::PovVersion::k37) {
    return std::string("#declare array_plants_") + kArrays37[column] + " [" +
           std::to_string(number) + "] = ";
  }
  return "#declare array_plants [" + std::to_string(number) + "][" + std::to_string(column) +
         "] = ";
}

void check_derived_paths(std::string_view map_path) {
  const plantscatter::ExportPaths paths = plantscatter::derive_export_paths(map_path);
  check(paths.folder + paths.file_name == map_path, "folder and file name make the path");
  check(paths.file_name.find_first_of("\\/") == std::string::npos, "file name has no separator");
  check(paths.folder.empty() || paths.folder.back() == '/' || paths.folder.back() == '\\',
        "folder ends at a separator");
  check(paths.file_name.compare(0, paths.base_name.size(), paths.base_name) == 0,
        "base name starts the file name");
  check(paths.export_path == paths.folder + paths.base_name + "_export.inc", "export path");
  check(paths.scene_folder.find('\\') == std::string::npos, "scene folder has no backslash");
  if (acceptable_path(map_path)) {
    // Four characters are cut, or all of them when there are fewer.
    size_t cut = 0;
    for (char c : std::string_view(paths.file_name).substr(paths.base_name.size())) {
      if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) ++cut;
    }
    check(cut == 4 || (cut < 4 && paths.base_name.empty()), "four characters cut");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string map_path = in.ConsumeRandomLengthString(300);
  const uint64_t seed = in.ConsumeIntegral<uint64_t>();
  const int threads = in.ConsumeIntegralInRange(0, 2);
  const plantscatter::PovVersion version =
      in.ConsumeBool() ? plantscatter::PovVersion::k37 : plantscatter::PovVersion::k38;
  // Mostly small maps, where plants land on and off the edges; now and then any size.
  const bool any_size = in.ConsumeBool();
  const uint32_t width =
      any_size ? in.ConsumeIntegral<uint32_t>() : in.ConsumeIntegralInRange(0u, 70u);
  const uint32_t height =
      any_size ? in.ConsumeIntegral<uint32_t>() : in.ConsumeIntegralInRange(0u, 70u);
  // Up to 40 plants as given, repeated to pass the writer's block size now and then.
  const size_t given = in.ConsumeIntegralInRange<size_t>(0, 40);
  const size_t repeat = in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(1, 300) : 1;
  std::vector<PlantRecord> plants;
  for (size_t i = 0; i < given; ++i) {
    PlantRecord p;
    p.x = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : in.ConsumeIntegralInRange(0u, 70u);
    p.y = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : in.ConsumeIntegralInRange(0u, 70u);
    p.type_id = in.ConsumeIntegralInRange(-1, 12);
    plants.push_back(p);
  }
  for (size_t r = 1; r < repeat; ++r) {
    for (size_t i = 0; i < given; ++i) plants.push_back(plants[i]);
  }

  check_derived_paths(map_path);

  ExportInput input;
  input.map_path = map_path;
  input.width = width;
  input.height = height;
  input.plants = plants;
  input.format_threads = threads;
  input.pov_version = version;

  bool plants_ok = true;
  for (const PlantRecord& p : plants) {
    plants_ok = plants_ok && p.type_id >= 1 && p.type_id <= plantscatter::kPlantTypeCount &&
                p.x < width && p.y < height;
  }
  const bool path_ok = acceptable_path(map_path);
  std::string error;
  check(plantscatter::check_map_path(map_path, &error) == path_ok, "path check as UTF-8 says");

  Random rng(seed);
  StringSink sink;
  error.clear();
  const bool written = plantscatter::write_export(input, rng, sink, &error);
  check(written == (path_ok && plants_ok), "refuses exactly the unsafe inputs");
  if (!written) {
    check(!error.empty(), "a refusal has a message");
    check(sink.text.empty(), "a refusal writes nothing");
    check(rng.next() == Random(seed).next(), "a refusal draws nothing");
    return 0;
  }

  const std::string& text = sink.text;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      check(i + 1 < text.size() && text[i + 1] == '\n', "CR only before LF");
    } else if (c == '\n') {
      check(i > 0 && text[i - 1] == '\r', "LF only after CR");
    } else {
      check(c >= 0x20 && c != 0x7f, "no control character inside a line");
    }
  }
  const std::vector<std::string_view> lines = split_lines(text);
  const bool form37 = version == plantscatter::PovVersion::k37;
  const size_t first_row = form37 ? 25 : 21;  // the 3.7 form declares five arrays
  check(lines.size() >= first_row + 6 * plants.size(), "all lines present");

  // The map, named in a comment and as a scene string whose quotes are escaped.
  std::string scene_path = map_path;
  for (char& c : scene_path) {
    if (c == '\\') c = '/';
  }
  const std::string size_text = std::to_string(width) + " x " + std::to_string(height);
  check(lines[1] == "// plant image: " + scene_path + "    " + size_text, "comment line");
  const std::string_view declared = lines[10];
  const std::string_view opening = "#declare plant_map = \"";
  check(declared.substr(0, opening.size()) == opening && declared.size() > opening.size() &&
            declared.back() == '"',
        "plant_map is one quoted string");
  std::string unquoted;
  const std::string_view inside =
      declared.substr(opening.size(), declared.size() - opening.size() - 1);
  for (size_t i = 0; i < inside.size(); ++i) {
    check(inside[i] != '"', "no bare quote inside the string");
    if (inside[i] == '\\') {
      check(i + 1 < inside.size() && inside[i + 1] == '"', "a backslash only escapes a quote");
      ++i;
    }
    unquoted += inside[i];
  }
  check(unquoted == scene_path, "the string names the map");

  const size_t n = plants.size();
  check(lines[11] == "#declare plant_count = " + std::to_string(n) + " ;", "plant count");
  check(lines[12] == "#declare plant_map_scale = <" + std::to_string(width) + ", 1, " +
                         std::to_string(height) + "> ; ",
        "map scale");
  const std::string rows = std::to_string(n + 1);
  if (form37) {
    check(lines[19] == "#declare array_plants_id = array [" + rows + "] ;  // array_name[#n][0]",
          "id array size");
    check(lines[23] ==
              "#declare array_plants_normalized = array [" + rows + "] ;  // array_name[#n][4]",
          "normalized array size");
  } else {
    check(lines[19] == "#declare array_plants = array mixed [" + rows + "][5]  ;", "array size");
  }
  check(lines[first_row - 1].empty(), "a blank line before the rows");

  Random draws(seed);
  for (size_t i = 0; i < n; ++i) {
    const PlantRecord& p = plants[i];
    const size_t number = i + 1;
    const size_t at = first_row + 6 * i;
    const int64_t rotation = draws.in_range(0, 360);
    const int64_t scale = draws.in_range(80, 120);
    const float u = static_cast<float>(p.x / static_cast<double>(width));
    const float v = static_cast<float>(1.0 - p.y / static_cast<double>(height));
    check(lines[at] == row_start(version, number, 0) + std::to_string(p.type_id) + " ;", "row id");
    check(lines[at + 1] == row_start(version, number, 1) + "<" + std::to_string(p.x) + ", 0, " +
                               std::to_string(int64_t{height} - p.y) + "> ;",
          "row position");
    check(lines[at + 2] ==
              row_start(version, number, 2) + printed("%.2f", static_cast<double>(rotation)) + " ;",
          "row rotation");
    check(lines[at + 3] ==
              row_start(version, number, 3) +
                  printed("%.4f", static_cast<double>(static_cast<float>(scale) / 100.0f)) + " ;",
          "row scale");
    check(lines[at + 4] == row_start(version, number, 4) + "<" + printed("%.6f", u) + ", 0, " +
                               printed("%.6f", v) + "> ;",
          "row normalized position");
    check(lines[at + 5].empty(), "blank line after a row");
  }
  check(rng.next() == draws.next(), "two draws per plant and no more");
  const size_t after_rows = first_row + 6 * n;
  check(lines[after_rows].find(row_start(version, n + 1, 0)) == std::string_view::npos,
        "no rows beyond the plant count");
  check(lines.back().empty(), "an empty last line");

  // The second thread must not change a byte.
  if (n > 4096 && threads != 1) {
    input.format_threads = 1;
    Random again(seed);
    StringSink single;
    check(plantscatter::write_export(input, again, single, &error), "written with one thread");
    check(single.text == text, "one thread writes the same bytes");
  }
  return 0;
}
