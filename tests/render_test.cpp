// Renders exports with the POV-Ray 3.7 on this machine and checks the pictures with the
// probe in render_probe.h: POV-Ray must report no error, every plant's marker must show its
// type's colour at the pixel under the plant, and the map square must show the map.
//
// Needs `povray` on the PATH (Debian's povray and povray-includes, which ./run installs).
// Without it the tests are skipped, except under CI, where they fail.
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/export_writer.h"
#include "plants/plant_types.h"
#include "plants/png_decode.h"
#include "plants/png_fixtures.h"
#include "tests/program_test_util.h"
#include "scatter/random.h"
#include "scatter/scatter.h"
#include "tests/render_probe.h"

namespace plantscatter {
namespace {

namespace fs = std::filesystem;
using fixtures::ScratchFolder;
using testing::povray_include_folder;
using testing::read_file;
using testing::run_shell;
using testing::shell_quote;
using testing::write_file;

constexpr uint64_t kSeed = 2024;
constexpr int64_t kPlantsPerType = 40;
constexpr int kWidth = 800;
constexpr int kHeight = 400;

// Warnings every render of the viewer scene draws, which do not mean a fault: the camera
// looks along the default sky vector (POV-Ray then keeps the scene's right vector, as
// intended), "color rgb L_color" applies rgb to a colour, and the file, meant for inclusion,
// sets neither #version nor assumed_gamma.
constexpr const char* kExpectedWarnings[] = {
    "Camera location to look_at direction",
    "Suspicious expression after rgb",
    "assumed_gamma not",
    "This scene did not contain a #version directive",
};

struct Render {
  int exit_code = -1;
  std::vector<std::string> problems;  // errors and unexpected warnings, one line each
  Image picture;
};

// POV-Ray's messages that report an error, or a warning the scene does not always draw.
// POV-Ray wraps its messages at 80 columns, going on in lines that start with a space.
std::vector<std::string> problems_in(const std::string& log) {
  std::vector<std::string> messages;
  std::string line;
  std::istringstream lines(log);
  while (std::getline(lines, line)) {
    // Progress lines end in a carriage return and are overwritten in place.
    if (const size_t cr = line.rfind('\r'); cr != std::string::npos) line.erase(0, cr + 1);
    if (line.starts_with(' ') && !messages.empty()) {
      messages.back() += line;
    } else {
      messages.push_back(line);
    }
  }
  std::vector<std::string> problems;
  for (const std::string& message : messages) {
    std::string lower = message;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("error") != std::string::npos ||
        lower.find("render failed") != std::string::npos) {
      problems.push_back(message);
      continue;
    }
    const size_t warning = message.find("Parse Warning: ");
    if (warning == std::string::npos) continue;
    const std::string text = message.substr(warning + 15);
    bool expected = false;
    for (const char* known : kExpectedWarnings) expected = expected || text.starts_with(known);
    if (!expected) problems.push_back(message);
  }
  return problems;
}

// Renders `scene` in `folder` into `picture_name` there, antialiasing and display off.
Render render(const fs::path& folder, const std::string& scene, const std::string& picture_name) {
  std::string command = "cd " + shell_quote(folder.string()) + " && povray " +
                        shell_quote("+I" + scene) + " " + shell_quote("+O" + picture_name) + " +W" +
                        std::to_string(kWidth) + " +H" + std::to_string(kHeight) + " -A -D";
  if (const fs::path include = povray_include_folder(); !include.empty()) {
    command += ' ';
    command += shell_quote("+L" + include.string());
  }
  command += " >/dev/null 2>povray.log";
  Render result;
  result.exit_code = run_shell(command);
  result.problems = problems_in(read_file(folder / "povray.log"));
  if (result.exit_code == 0) {
    std::string error;
    EXPECT_TRUE(decode_png_file(folder / picture_name, &result.picture, &error)) << error;
  }
  return result;
}

// An export of the example map in the 3.7 form: ten types, kPlantsPerType plants each.
struct Export {
  ScratchFolder folder;
  fs::path map_path;
  Image map;
  std::vector<PlantRecord> plants;
  std::string text;
};

void make_export(Export* out) {
  out->map_path = out->folder.path() / "hillside.png";
  fs::copy_file(PLANTSCATTER_EXAMPLE_MAP, out->map_path);
  std::string error;
  ASSERT_TRUE(decode_png_file(out->map_path, &out->map, &error)) << error;

  PlantCounts counts;
  for (int id = 1; id <= kPlantTypeCount; ++id) counts[id] = kPlantsPerType;
  Random rng(kSeed);
  ScatterResult scattered;
  ASSERT_TRUE(scatter_png_file(out->map_path, counts, rng, {}, &scattered, &error)) << error;
  out->plants = scattered.plants;
  ExportInput input;
  const std::string map_text = out->map_path.string();
  input.map_path = map_text;
  input.width = scattered.width;
  input.height = scattered.height;
  input.plants = out->plants;
  input.pov_version = PovVersion::k37;
  const fs::path export_path = out->folder.path() / "hillside_export.inc";
  ASSERT_TRUE(write_export_file(input, rng, export_path, &error)) << error;
  out->text = read_file(export_path);
}

bool povray_missing() {
  if (testing::on_path("povray")) return false;
  if (std::getenv("CI") != nullptr) {
    ADD_FAILURE() << "povray is not installed; ./run installs Debian's povray and povray-includes";
  }
  return true;
}

std::vector<std::string> failures(const std::vector<probe::MarkerCheck>& checks,
                                  const Export& exported) {
  std::vector<std::string> lines;
  for (const probe::MarkerCheck& check : checks) {
    if (check.matches) continue;
    lines.push_back(
        probe::describe(check, exported.plants, exported.map.width, exported.map.height));
  }
  return lines;
}

std::vector<std::string> failures(const std::vector<probe::MapCheck>& checks) {
  std::vector<std::string> lines;
  for (const probe::MapCheck& check : checks) {
    if (!check.matches) lines.push_back(probe::describe(check));
  }
  return lines;
}

TEST(PovRay37, RendersTheExampleExportWithEveryPlantInItsPlace) {
  if (povray_missing()) GTEST_SKIP() << "povray is not installed";
  Export exported;
  ASSERT_NO_FATAL_FAILURE(make_export(&exported));

  // The command-line tool writes the same file from the same seed.
  std::string command = shell_quote(PLANTSCATTER_CLI_PATH) + " " +
                        shell_quote(exported.map_path.string()) + " --pov-version 3.7 -q --seed " +
                        std::to_string(kSeed) + " -o " +
                        shell_quote((exported.folder.path() / "cli_export.inc").string());
  for (int id = 1; id <= kPlantTypeCount; ++id) {
    command += " -c " + std::to_string(id) + "=" + std::to_string(kPlantsPerType);
  }
  ASSERT_EQ(run_shell(command), 0) << command;
  EXPECT_TRUE(read_file(exported.folder.path() / "cli_export.inc") == exported.text);

  const Render result = render(exported.folder.path(), "hillside_export.inc", "render.png");
  ASSERT_EQ(result.exit_code, 0) << "povray failed";
  EXPECT_TRUE(result.problems.empty()) << ::testing::PrintToString(result.problems);
  ASSERT_EQ(result.picture.width, static_cast<uint32_t>(kWidth));
  ASSERT_EQ(result.picture.height, static_cast<uint32_t>(kHeight));

  // The picture cuts off the squares' top 2.6 %, so a few plants lie outside it.
  const std::vector<probe::MarkerCheck> markers = probe::check_markers(
      result.picture, exported.plants, exported.map.width, exported.map.height);
  EXPECT_GE(markers.size(), exported.plants.size() * 9 / 10);
  std::set<int> types_seen;
  for (const probe::MarkerCheck& check : markers) {
    if (check.shown == check.plant) types_seen.insert(exported.plants[check.plant].type_id);
  }
  EXPECT_EQ(types_seen.size(), static_cast<size_t>(kPlantTypeCount));
  for (const std::string& line : failures(markers, exported)) ADD_FAILURE() << line;

  const std::vector<probe::MapCheck> map = probe::check_map_square(result.picture, exported.map, 4);
  EXPECT_GE(map.size(), 2000u);
  for (const std::string& line : failures(map)) ADD_FAILURE() << line;

  size_t covered = 0;
  int largest = 0;
  auto channel_difference = [](Rgb a, Rgb b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
  };
  for (const probe::MarkerCheck& check : markers) {
    covered += check.shown != check.plant;
    largest = std::max(largest, channel_difference(check.expected, check.found));
  }
  for (const probe::MapCheck& check : map) {
    largest = std::max(largest, channel_difference(check.expected, check.found));
  }
  std::printf(
      "probe: %zu of %zu plants in the picture (%zu under a neighbour), %zu map points;"
      " largest difference %d of 255\n",
      markers.size(), exported.plants.size(), covered, map.size(), largest);
}

// The probe must see a plant moved, a plant given another type, a type drawn in another
// colour, and the map square moved.
TEST(PovRay37, ProbeFindsAMovedPlantAWrongIdAWrongColourAndAMovedMap) {
  if (povray_missing()) GTEST_SKIP() << "povray is not installed";
  Export exported;
  ASSERT_NO_FATAL_FAILURE(make_export(&exported));
  const Render original = render(exported.folder.path(), "hillside_export.inc", "render.png");
  ASSERT_EQ(original.exit_code, 0);
  const std::vector<probe::MarkerCheck> checks = probe::check_markers(
      original.picture, exported.plants, exported.map.width, exported.map.height);

  // Plants that alone show at their own pixel and at no other plant's, so that changing one
  // changes no other check.
  std::vector<int> times_shown(exported.plants.size(), 0);
  for (const probe::MarkerCheck& check : checks) ++times_shown[check.shown];
  auto alone = [&](int type_id) {
    for (const probe::MarkerCheck& check : checks) {
      if (check.shown == check.plant && times_shown[check.plant] == 1 &&
          exported.plants[check.plant].type_id == type_id) {
        return check.plant;
      }
    }
    ADD_FAILURE() << "no plant of type " << type_id << " stands alone";
    return size_t{0};
  };
  const size_t moved = alone(1);
  const size_t retyped = alone(7);

  // Somewhere on the grid square, well inside the picture, with no plant near.
  double free_u = -1, free_v = -1;
  for (double v = 0.1; v < 0.9 && free_u < 0; v += 0.01) {
    for (double u = 0.1; u < 0.9 && free_u < 0; u += 0.01) {
      bool clear = true;
      for (const PlantRecord& plant : exported.plants) {
        const double du = u - static_cast<double>(plant.x) / exported.map.width;
        const double dv = v - (1.0 - static_cast<double>(plant.y) / exported.map.height);
        clear = clear && du * du + dv * dv > 0.05 * 0.05;
      }
      if (clear) {
        free_u = u;
        free_v = v;
      }
    }
  }
  ASSERT_GE(free_u, 0) << "no free spot on the grid square";

  auto replace_line = [&](const std::string& start, const std::string& line) {
    const size_t at = exported.text.find(start);
    ASSERT_NE(at, std::string::npos) << start;
    const size_t end = exported.text.find("\r\n", at);
    exported.text.replace(at, end - at, line);
  };
  const std::string moved_row =
      "#declare array_plants_normalized [" + std::to_string(moved + 1) + "] = ";
  char position[64];
  std::snprintf(position, sizeof position, "<%.6f, 0, %.6f> ;", free_u, free_v);
  replace_line(moved_row, moved_row + position);
  const std::string retyped_row =
      "#declare array_plants_id [" + std::to_string(retyped + 1) + "] = ";
  replace_line(retyped_row, retyped_row + "4 ;");
  replace_line("#declare C_magenta", "#declare C_magenta = rgb < 1.0, 0.0, 0.8 > ;");
  replace_line("  translate x*1.02", "  translate x*1.03");
  write_file(exported.folder.path() / "mutated_export.inc", exported.text);

  const Render mutated = render(exported.folder.path(), "mutated_export.inc", "mutated.png");
  ASSERT_EQ(mutated.exit_code, 0);
  EXPECT_TRUE(mutated.problems.empty()) << ::testing::PrintToString(mutated.problems);

  std::set<size_t> expected_failing = {moved, retyped};
  for (const probe::MarkerCheck& check : checks) {
    if (exported.plants[check.shown].type_id == 3) expected_failing.insert(check.plant);
  }
  std::set<size_t> failing;
  const std::vector<probe::MarkerCheck> after = probe::check_markers(
      mutated.picture, exported.plants, exported.map.width, exported.map.height);
  for (const probe::MarkerCheck& check : after) {
    if (check.matches) continue;
    failing.insert(check.plant);
    std::printf(
        "probe: %s\n",
        probe::describe(check, exported.plants, exported.map.width, exported.map.height).c_str());
  }
  EXPECT_EQ(failing, expected_failing);
  EXPECT_GT(expected_failing.size(), 3u) << "some magenta plants in the picture";

  const std::vector<std::string> map_failures =
      failures(probe::check_map_square(mutated.picture, exported.map, 4));
  std::printf("probe: %zu map points differ, the first: %s\n", map_failures.size(),
              map_failures.empty() ? "none" : map_failures.front().c_str());
  EXPECT_GT(map_failures.size(), 0u);
}

// POV-Ray 3.7 cannot parse the 3.8 form, so only the 3.7 form can be rendered here; the
// render helper must see the parse error.
TEST(PovRay37, RefusesThe38Form) {
  if (povray_missing()) GTEST_SKIP() << "povray is not installed";
  Export exported;
  ASSERT_NO_FATAL_FAILURE(make_export(&exported));
  ExportInput input;
  const std::string map_text = exported.map_path.string();
  input.map_path = map_text;
  input.width = exported.map.width;
  input.height = exported.map.height;
  input.plants = exported.plants;
  input.pov_version = PovVersion::k38;
  Random rng(kSeed);
  std::string error;
  ASSERT_TRUE(write_export_file(input, rng, exported.folder.path() / "form38.inc", &error))
      << error;
  const Render result = render(exported.folder.path(), "form38.inc", "form38.png");
  EXPECT_NE(result.exit_code, 0);
  const std::string problems = ::testing::PrintToString(result.problems);
  EXPECT_NE(problems.find("array declaration must have at least one dimension"), std::string::npos)
      << problems;
}

}  // namespace
}  // namespace plantscatter
