// Runs plantscatter-cli as a separate process and checks what a user sees: exit codes,
// messages, and the files it writes.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plants/png_decode.h"
#include "plants/png_encode.h"
#include "plants/png_fixtures.h"
#include "tests/program_test_util.h"
#include "scatter/scatter.h"

namespace plantscatter {
namespace {

namespace fs = std::filesystem;
using fixtures::ScratchFolder;
using testing::read_file;
using testing::shell_quote;

struct ProgramRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the program with `scratch` as its working folder; its output is caught there.
ProgramRun run_cli(const std::vector<std::string>& args, const fs::path& scratch) {
  std::string command = "cd " + shell_quote(scratch.string()) + " && " +
                        shell_quote(PLANTSCATTER_CLI_PATH);
  for (const std::string& arg : args) {
    command += ' ';
    command += shell_quote(arg);
  }
  const fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
  command += " >" + shell_quote(out.string()) + " 2>" + shell_quote(err.string());
  const int status = std::system(command.c_str());
  ProgramRun run;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = read_file(out);
  run.err = read_file(err);
  fs::remove(out);
  fs::remove(err);
  return run;
}

// A 40 x 30 map: a band of type 2 at the top, type 7 below, a strip of the legend's orange.
Image make_map() {
  Image image;
  image.width = 40;
  image.height = 30;
  image.rgba.assign(40 * 30 * 4, 255);
  for (uint32_t y = 0; y < 30; ++y) {
    for (uint32_t x = 0; x < 40; ++x) {
      Rgb c = y < 10 ? plant_type(2).key : plant_type(7).key;
      if (x >= 35) c = {255, 132, 0};
      image.set_pixel(x, y, c);
    }
  }
  return image;
}

fs::path write_map(const ScratchFolder& folder, const std::string& name) {
  std::vector<uint8_t> png;
  std::string error;
  EXPECT_TRUE(encode_png_memory(make_map(), &png, &error)) << error;
  return const_cast<ScratchFolder&>(folder).write(name, png);
}

TEST(CliProgram, WritesTheExportBesideTheMapAndSummarises) {
  ScratchFolder folder;
  const fs::path map = write_map(folder, "valley.png");
  const ProgramRun run = run_cli({map.string(), "--count", "2=12", "-c", "7=30", "--seed", "5"},
                          folder.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const fs::path export_path = folder.path() / "valley_export.inc";
  ASSERT_TRUE(fs::exists(export_path));
  EXPECT_NE(run.out.find("40 x 30 pixels"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("placed 42 plants"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("plant 2"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("wrote " + export_path.string()), std::string::npos) << run.out;

  const std::string text = read_file(export_path);
  EXPECT_NE(text.find("#declare plant_map = \"" + map.string() + "\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("#declare plant_count = 42 ;\r\n"), std::string::npos);
  EXPECT_NE(text.find("#declare array_plants = array mixed [43][5]  ;\r\n"), std::string::npos);

  // A relative map path is made absolute, as the file list would give it.
  const ProgramRun relative =
      run_cli({"./sub/../valley.png", "-c", "2=1", "-q", "-o", "rel.inc"}, folder.path());
  ASSERT_EQ(relative.exit_code, 0) << relative.err;
  EXPECT_NE(read_file(folder.path() / "rel.inc").find("#declare plant_map = \"" + map.string()),
            std::string::npos);
}

TEST(CliProgram, SeedFixesTheFileAndBothDecodePathsAgree) {
  ScratchFolder folder;
  const fs::path map = write_map(folder, "m.png");
  const std::vector<std::string> job = {map.string(), "-c", "2=100", "-c", "7=250", "-q",
                                        "--seed", "77"};
  auto export_of = [&](std::vector<std::string> extra, const std::string& output) {
    std::vector<std::string> args = job;
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("--output");
    args.push_back((folder.path() / output).string());
    const ProgramRun run = run_cli(args, folder.path());
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "") << "--quiet prints nothing";
    return read_file(folder.path() / output);
  };
  const std::string first = export_of({}, "a.inc");
  const std::string again = export_of({}, "b.inc");
  const std::string with_marked_map =
      export_of({"--marked-map", (folder.path() / "marked.png").string()}, "c.inc");
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(first, again);
  // The streamed map and the whole decoded map must give the same plants.
  EXPECT_EQ(first, with_marked_map);

  // The marked map carries the marker colour exactly where the plants are.
  Image marked;
  std::string error;
  ASSERT_TRUE(decode_png_file(folder.path() / "marked.png", &marked, &error)) << error;
  const Image original = make_map();
  int markers = 0;
  for (uint32_t y = 0; y < marked.height; ++y) {
    for (uint32_t x = 0; x < marked.width; ++x) {
      if (marked.pixel(x, y) == kMarkerColour) {
        ++markers;
      } else {
        EXPECT_EQ(marked.pixel(x, y), original.pixel(x, y)) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(markers, 350);

  std::vector<std::string> other_seed = job;
  other_seed.back() = "78";
  other_seed.push_back("--output");
  other_seed.push_back((folder.path() / "d.inc").string());
  ASSERT_EQ(run_cli(other_seed, folder.path()).exit_code, 0);
  EXPECT_NE(read_file(folder.path() / "d.inc"), first);
}

TEST(CliProgram, ReportsFailuresWithExitCodes) {
  ScratchFolder folder;
  const fs::path map = write_map(folder, "m.png");
  const fs::path not_png = folder.write("fake.png", std::vector<uint8_t>{'h', 'i', '\n'});
  fs::create_directory(folder.path() / "dir.png");
  const std::string png_bytes = read_file(map);
  folder.write("upper.PNG", std::vector<uint8_t>(png_bytes.begin(), png_bytes.end()));

  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string expected_in_err;
  };
  const std::string m = map.string();
  const std::string missing = (folder.path() / "missing.png").string();
  const Case cases[] = {
      {{m, "-c", "2=401"}, 1, "plant 2: 401 requested, 350 pixels"},
      {{m, "-c", "2=1", "-c", "5=1"}, 1, "plant 5: 1 requested, 0 pixels"},
      {{m, "-c", "2=-1"}, 1, "cannot be negative"},
      {{m}, 1, "no plants to process"},
      {{m, "-c", "2=0"}, 1, "no plants to process"},
      {{missing, "-c", "2=1"}, 1, "missing.png"},
      {{not_png.string(), "-c", "2=1"}, 1, "fake.png"},
      {{(folder.path() / "dir.png").string(), "-c", "2=1"}, 1, "dir.png"},
      {{(folder.path() / "upper.PNG").string(), "-c", "2=1"}, 1, "must end in \".png\""},
      {{m, "-c", "2=1", "--max-pixels", "1000"}, 1, "1000"},
      {{m, "-c", "2=1", "--output", (folder.path() / "no/such/dir/x.inc").string()}, 1,
       "no/such/dir/x.inc: No such file or directory"},
      {{m, "-c", "2=x"}, 2, "not a whole number"},
      {{m, "--bogus"}, 2, "unknown option"},
      {{}, 2, "no map given"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const ProgramRun run = run_cli(c.args, folder.path());
    EXPECT_EQ(run.exit_code, c.exit_code) << line << "\n" << run.err;
    EXPECT_NE(run.err.find(c.expected_in_err), std::string::npos)
        << "command: " << line << "\nstderr: " << run.err;
    EXPECT_EQ(run.out, "") << line;
  }
  // None of the failures left an export behind.
  for (const auto& entry : fs::directory_iterator(folder.path())) {
    EXPECT_EQ(entry.path().string().find("_export.inc"), std::string::npos) << entry.path();
  }

  const ProgramRun help = run_cli({"--help"}, folder.path());
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: plantscatter-cli MAP.png --count TYPE=N"), std::string::npos);
}

TEST(CliProgram, RunsOnTheBundledExample) {
  ScratchFolder folder;
  const ProgramRun run = run_cli({PLANTSCATTER_EXAMPLE_MAP, "-c", "1=120", "-c", "7=300", "--seed", "1",
                           "--output", (folder.path() / "example.inc").string()},
                          folder.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("placed 420 plants"), std::string::npos) << run.out;
}

TEST(CliProgram, WritesThe37FormOnRequest) {
  ScratchFolder folder;
  const fs::path map = write_map(folder, "m.png");
  const ProgramRun run =
      run_cli({map.string(), "-c", "2=3", "--pov-version", "3.7", "-q"}, folder.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string text = read_file(folder.path() / "m_export.inc");
  EXPECT_NE(text.find("\r\n#declare array_plants_id = array [4] ;"), std::string::npos);
  EXPECT_NE(text.find("\r\n#declare array_plants_normalized [3] = <"), std::string::npos);
  EXPECT_EQ(text.find("mixed"), std::string::npos);

  const ProgramRun wrong =
      run_cli({map.string(), "-c", "2=3", "--pov-version", "4"}, folder.path());
  EXPECT_EQ(wrong.exit_code, 2);
  EXPECT_NE(wrong.err.find("--pov-version takes 3.7 or 3.8, not '4'"), std::string::npos)
      << wrong.err;

  // POV-Ray 3.7 reads the map's path as ASCII and cannot find a map whose path is not: the
  // file is written, with a warning, even under --quiet.
  const fs::path accented = write_map(folder, "for\xc3\xaat.png");
  for (const char* version : {"3.7", "3.8"}) {
    const ProgramRun run_accented =
        run_cli({accented.string(), "-c", "2=3", "--pov-version", version, "-q"}, folder.path());
    EXPECT_EQ(run_accented.exit_code, 0) << run_accented.err;
    const bool warned =
        run_accented.err.find("warning: POV-Ray 3.7 cannot open") != std::string::npos;
    EXPECT_EQ(warned, std::string(version) == "3.7") << version << ": " << run_accented.err;
    EXPECT_TRUE(fs::exists(folder.path() / "for\xc3\xaat_export.inc"));
  }
}

}  // namespace
}  // namespace plantscatter
