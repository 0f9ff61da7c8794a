#include "cli/cli.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "export/export_paths.h"
#include "export/export_writer.h"
#include "plants/png_encode.h"
#include "plants/utf8_path.h"
#include "scatter/random.h"
#include "scatter/scatter.h"

namespace plantscatter {

namespace {

constexpr std::string_view kProgram = "plantscatter-cli";

// Strict decimal: an optional "-" and digits, nothing else, no overflow.
template <typename Int>
bool parse_decimal(std::string_view text, Int* value) {
  if (text.empty() || text.front() == '+') return false;
  const char* end = text.data() + text.size();
  const auto [stop, code] = std::from_chars(text.data(), end, *value);
  return code == std::errc() && stop == end;
}

bool parse_count(std::string_view text, CliOptions* options, std::vector<bool>* given,
                 std::string* error) {
  const size_t equals = text.find('=');
  int type_id = 0;
  int64_t count = 0;
  if (equals == std::string_view::npos || !parse_decimal(text.substr(0, equals), &type_id) ||
      type_id < 1 || type_id > kPlantTypeCount) {
    *error = "--count takes TYPE=N with TYPE from 1 to 10, not '" + std::string(text) + "'";
    return false;
  }
  if (!parse_decimal(text.substr(equals + 1), &count)) {
    *error = "the count in '" + std::string(text) + "' is not a whole number";
    return false;
  }
  if ((*given)[static_cast<size_t>(type_id)]) {
    *error = "the count of type " + std::to_string(type_id) + " is given twice";
    return false;
  }
  (*given)[static_cast<size_t>(type_id)] = true;
  options->counts[type_id] = count;
  return true;
}

// Shows progress of long work on a terminal: nothing for the first half second, then the
// percentage, overwritten in place.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  ~ProgressLine() { clear(); }

  ProgressFn callback(std::string label) {
    if (!enabled_) return {};
    return [this, label](double fraction) {
      const auto now = std::chrono::steady_clock::now();
      const int percent = static_cast<int>(fraction * 100);
      if (now - start_ >= std::chrono::milliseconds(500) && percent != last_percent_) {
        last_percent_ = percent;
        err_ << '\r' << label << ": " << percent << "%  " << std::flush;
        shown_ = true;
      }
      return true;
    };
  }

  void clear() {
    if (!shown_) return;
    err_ << "\r\033[K" << std::flush;
    shown_ = false;
    last_percent_ = -1;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  bool shown_ = false;
  int last_percent_ = -1;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

bool is_ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

std::string cli_usage() {
  return R"(Usage: plantscatter-cli MAP.png --count TYPE=N [--count TYPE=N ...] [options]

Places N plants of each plant TYPE (1 to 10) on distinct random pixels of the type's key
colour in the plant map MAP.png, and writes a POV-Ray include file listing them, by default
beside the map as MAP_export.inc.

Key colours (red, green, blue):
  1  0,255,255    2  0,0,255      3  255,0,255    4  255,0,0      5  255,128,0
  6  255,255,0    7  0,255,0      8  0,0,0        9  64,64,64    10  128,128,128

Options:
  -c, --count TYPE=N     place N plants of type TYPE (a decimal number, 0 or more)
      --seed S           seed the random choice (0 to 18446744073709551615): the same map,
                         counts and seed give the same file, byte for byte
  -o, --output FILE      write the include file to FILE instead of beside the map
      --marked-map FILE  also write the map with every chosen pixel painted 30,30,30 as a PNG
      --pov-version V    write the include file for POV-Ray V: 3.8 (the default) or 3.7,
                         which lacks the mixed arrays of the 3.8 form and gets one array
                         per plant value instead
      --max-pixels N     refuse maps of more than N pixels (default 1073741824); raise it
                         for bigger maps. Maps over 1000000 pixels wide or high are refused
                         whatever N. --marked-map holds the map whole, 4 bytes a pixel
  -q, --quiet            print nothing but errors
  -h, --help             show this help

Exit status: 0 when the file was written, 1 for a map, count or file that cannot be
processed or written, 2 for wrong usage.
)";
}

bool parse_cli_args(std::span<const std::string_view> args, CliOptions* options,
                    std::string* error) {
  CliOptions parsed;
  std::vector<bool> given(kPlantTypeCount + 1, false);
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      if (!parsed.map.empty()) {
        *error = "only one map can be given; '" + std::string(arg) + "' is one too many";
        return false;
      }
      if (arg.empty()) {
        *error = "the map's path is empty";
        return false;
      }
      parsed.map = std::string(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    // "--name=value" and "--name value" are both accepted for options that take a value.
    std::string_view name = arg;
    std::optional<std::string_view> inline_value;
    if (arg.starts_with("--")) {
      if (const size_t equals = arg.find('='); equals != std::string_view::npos) {
        name = arg.substr(0, equals);
        inline_value = arg.substr(equals + 1);
      }
    }
    auto value = [&](std::string_view* out) {
      if (inline_value) {
        *out = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) {
        *error = std::string(name) + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    auto no_value = [&] {
      if (!inline_value) return true;
      *error = std::string(name) + " takes no value";
      return false;
    };

    std::string_view v;
    if (name == "-h" || name == "--help") {
      if (!no_value()) return false;
      parsed.help = true;
    } else if (name == "-q" || name == "--quiet") {
      if (!no_value()) return false;
      parsed.quiet = true;
    } else if (name == "-c" || name == "--count") {
      if (!value(&v) || !parse_count(v, &parsed, &given, error)) return false;
    } else if (name == "--seed") {
      uint64_t seed = 0;
      if (!value(&v)) return false;
      if (v.starts_with('-') || !parse_decimal(v, &seed)) {
        *error = "--seed takes a whole number from 0 to 18446744073709551615, not '" +
                 std::string(v) + "'";
        return false;
      }
      parsed.seed = seed;
    } else if (name == "-o" || name == "--output") {
      if (!value(&v)) return false;
      if (v.empty()) {
        *error = "--output needs a file name";
        return false;
      }
      parsed.output = std::string(v);
    } else if (name == "--marked-map") {
      if (!value(&v)) return false;
      if (v.empty()) {
        *error = "--marked-map needs a file name";
        return false;
      }
      parsed.marked_map = std::string(v);
    } else if (name == "--pov-version") {
      if (!value(&v)) return false;
      if (v == "3.7") {
        parsed.pov_version = PovVersion::k37;
      } else if (v == "3.8") {
        parsed.pov_version = PovVersion::k38;
      } else {
        *error = "--pov-version takes 3.7 or 3.8, not '" + std::string(v) + "'";
        return false;
      }
    } else if (name == "--max-pixels") {
      uint64_t max_pixels = 0;
      if (!value(&v)) return false;
      if (v.starts_with('-') || !parse_decimal(v, &max_pixels) || max_pixels == 0) {
        *error = "--max-pixels takes a whole number above 0, not '" + std::string(v) + "'";
        return false;
      }
      parsed.limits.max_pixels = max_pixels;
    } else {
      *error = "unknown option '" + std::string(arg) + "'";
      return false;
    }
  }
  if (!parsed.help && parsed.map.empty()) {
    *error = "no map given";
    return false;
  }
  *options = std::move(parsed);
  return true;
}

int run_cli(std::span<const std::string_view> args, std::ostream& out, std::ostream& err,
            bool err_is_terminal) {
  const auto start = std::chrono::steady_clock::now();
  CliOptions options;
  std::string error;
  if (!parse_cli_args(args, &options, &error)) {
    err << kProgram << ": " << error << "\nTry '" << kProgram << " --help'.\n";
    return kExitUsage;
  }
  if (options.help) {
    out << cli_usage();
    return kExitOk;
  }
  auto fail = [&](const std::string& message) {
    err << kProgram << ": " << message << "\n";
    return kExitFailed;
  };

  if (!check_counts(options.counts, &error)) return fail(error);
  if (options.counts.total() == 0) {
    return fail("no plants to process: give at least one --count TYPE=N with N above 0");
  }

  std::error_code ec;
  const std::filesystem::path map_path =
      std::filesystem::absolute(path_from_utf8(options.map), ec).lexically_normal();
  if (ec) return fail("cannot resolve " + options.map + ": " + ec.message());
  const std::string full_path = utf8_from_path(map_path);
  if (!check_local_map_path(full_path, &error)) return fail(error);
  // The include file names the map by its base name and ".png"; any other ending would
  // make it name a file that does not exist.
  if (!ends_with(full_path, ".png")) {
    return fail(full_path + ": the map's file name must end in \".png\"");
  }
  const std::string export_path =
      options.output.empty() ? derive_export_paths(full_path).export_path : options.output;

  Random rng = options.seed ? Random(*options.seed) : Random::from_entropy();
  ProgressLine progress(err, err_is_terminal && !options.quiet);

  ScatterResult scattered;
  if (options.marked_map.empty()) {
    if (!scatter_png_file(map_path, options.counts, rng, options.limits, &scattered, &error,
                          progress.callback("reading map"))) {
      return fail(error);
    }
  } else {
    Image image;
    DecodeOptions decode;
    decode.limits = options.limits;
    if (ProgressFn report = progress.callback("reading map")) {
      decode.progress = [report](uint64_t done, uint64_t total) {
        return report(static_cast<double>(done) / static_cast<double>(total));
      };
    }
    if (!decode_png_file(map_path, &image, &error, decode)) return fail(error);
    if (!scatter_image(image, options.counts, rng, &scattered.plants, &error,
                       progress.callback("placing plants"))) {
      return fail(error);
    }
    scattered.width = image.width;
    scattered.height = image.height;
    mark_plants(&image, scattered.plants);
    if (!encode_png_file(image, path_from_utf8(options.marked_map), &error)) return fail(error);
  }
  progress.clear();

  ExportInput input;
  input.map_path = full_path;
  input.width = scattered.width;
  input.height = scattered.height;
  input.plants = scattered.plants;
  input.pov_version = options.pov_version;
  if (!write_export_file(input, rng, path_from_utf8(export_path), &error)) return fail(error);
  // POV-Ray 3.7 reads strings as ASCII and turns every other character into a space, so the
  // rendered file would look for a map that does not exist. Shown even with --quiet: the
  // file is written, but it will not render as it is.
  if (options.pov_version == PovVersion::k37 && !is_ascii(full_path)) {
    err << kProgram << ": warning: POV-Ray 3.7 cannot open " << full_path
        << ", whose path holds characters that are not ASCII; move or rename the map and "
           "process it again to render the file by itself\n";
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (!options.quiet) {
    std::array<int64_t, kPlantTypeCount + 1> placed{};
    for (const PlantRecord& plant : scattered.plants) ++placed[static_cast<size_t>(plant.type_id)];
    out << full_path << ": " << scattered.width << " x " << scattered.height << " pixels\n";
    out << "placed " << scattered.plants.size() << " plants:\n";
    for (const PlantType& type : kPlantTypes) {
      if (placed[static_cast<size_t>(type.id)] == 0) continue;
      char line[64];
      std::snprintf(line, sizeof line, "  %-9s %12lld\n", std::string(type.label).c_str(),
                    static_cast<long long>(placed[static_cast<size_t>(type.id)]));
      out << line;
    }
    std::error_code size_error;
    const auto bytes = std::filesystem::file_size(path_from_utf8(export_path), size_error);
    char timing[64];
    std::snprintf(timing, sizeof timing, "%.2f s", seconds);
    out << "wrote " << export_path;
    if (!size_error) out << " (" << bytes << " bytes)";
    out << " in " << timing << "\n";
    if (!options.marked_map.empty()) out << "wrote " << options.marked_map << "\n";
  }
  return kExitOk;
}

}  // namespace plantscatter
