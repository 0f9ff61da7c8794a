// Runs plantscatter-cli against write faults and awkward map paths, as a separate process,
// and checks what a user is left with: exit code 1 and one clear message, any earlier
// export untouched, nothing half-written and no temporary file in the folder; or, for a
// path that can be written, an export whose scene string names the map and which POV-Ray
// 3.7 renders.
//
// Some faults need privileges: a folder without write permission stops only users other
// than root (root tests run the program as "nobody" through setpriv or runuser), and a
// full disk is a small tmpfs, which only root may mount. Where they are missing the test
// is skipped and says why.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "plants/plant_types.h"
#include "plants/png_encode.h"
#include "plants/png_fixtures.h"
#include "tests/program_test_util.h"

extern char** environ;

namespace plantscatter {
namespace {

namespace fs = std::filesystem;
using fixtures::ScratchFolder;
using testing::on_path;
using testing::povray_include_folder;
using testing::read_file;
using testing::write_file;

const std::string kEarlier = "// an earlier export\r\n";

std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A 40 x 30 map: 400 pixels of type 2 above 800 of type 7.
std::string map_png() {
  Image image;
  image.width = 40;
  image.height = 30;
  image.rgba.assign(40 * 30 * 4, 255);
  for (uint32_t y = 0; y < 30; ++y) {
    for (uint32_t x = 0; x < 40; ++x) image.set_pixel(x, y, plant_type(y < 10 ? 2 : 7).key);
  }
  std::vector<uint8_t> png;
  std::string error;
  EXPECT_TRUE(encode_png_memory(image, &png, &error)) << error;
  return std::string(png.begin(), png.end());
}

struct ProgramRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// A run of the program in the background, its output caught in files of its own.
class Program {
 public:
  // `prefix` runs the program through another, e.g. setpriv.
  Program(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> words = prefix;
    words.push_back(PLANTSCATTER_CLI_PATH);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (logs_.path() / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (logs_.path() / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() { finish(); }

  ProgramRun finish() {
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      run_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      run_.out = read_file(logs_.path() / "out");
      run_.err = read_file(logs_.path() / "err");
      pid_ = -1;
    }
    return run_;
  }

 private:
  ScratchFolder logs_;
  pid_t pid_ = -1;
  ProgramRun run_;
};

ProgramRun run(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {}) {
  return Program(args, prefix).finish();
}

// A folder holding the map and an earlier export of it.
struct MapFolder {
  explicit MapFolder(const fs::path& where) : folder(where) {
    fs::create_directories(folder);
    write_file(map, map_png());
    write_file(export_path, kEarlier);
  }
  fs::path folder;
  fs::path map = folder / "valley.png";
  fs::path export_path = folder / "valley_export.inc";
};

// After a refused write: one message naming the file and the reason, the earlier export as
// it was, and nothing else in the folder.
void expect_clean_failure(const ProgramRun& result, const MapFolder& maps,
                          const std::string& reason) {
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.err,
            "plantscatter-cli: cannot write " + maps.export_path.string() + ": " + reason + "\n");
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(read_file(maps.export_path) == kEarlier) << "the earlier export changed";
  EXPECT_EQ(entries(maps.folder), (std::vector<std::string>{"valley.png", "valley_export.inc"}))
      << "a temporary file was left behind";
}

TEST(CliWriteFaults, FolderWithoutWritePermission) {
  ScratchFolder scratch;
  ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
  MapFolder maps(scratch.path() / "maps");
  ASSERT_EQ(chmod(maps.folder.c_str(), 0555), 0);
  std::vector<std::string> as_other_user;
  if (geteuid() == 0) {
    // Root writes whatever the permission bits say; an ordinary user does not.
    if (on_path("setpriv")) {
      as_other_user = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    } else if (on_path("runuser")) {
      as_other_user = {"runuser", "-u", "nobody", "--"};
    } else {
      GTEST_SKIP() << "running as root, whom folder permissions do not stop, and neither "
                      "setpriv nor runuser is there to run the program as another user";
    }
  }
  const ProgramRun result = run({maps.map.string(), "-c", "7=20"}, as_other_user);
  ASSERT_EQ(chmod(maps.folder.c_str(), 0755), 0);
  expect_clean_failure(result, maps, "Permission denied");
}

TEST(CliWriteFaults, ReadOnlyExport) {
  ScratchFolder scratch;
  MapFolder maps(scratch.path());
  ASSERT_EQ(chmod(maps.export_path.c_str(), 0444), 0);
  expect_clean_failure(run({maps.map.string(), "-c", "7=20"}), maps, "the file is read-only");
}

// Unmounts on every way out of the test.
class Mount {
 public:
  explicit Mount(const fs::path& at) : at_(at) {
    mounted_ = mount("plantscatter-test", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                     "size=64k,mode=0755") == 0;
    error_ = mounted_ ? 0 : errno;
  }
  ~Mount() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  int error() const { return error_; }

 private:
  fs::path at_;
  bool mounted_ = false;
  int error_ = 0;
};

TEST(CliWriteFaults, DiskFillsUpPartWay) {
  ScratchFolder scratch;
  const fs::path disk = scratch.path() / "disk";
  fs::create_directory(disk);
  const Mount mount(disk);
  if (!mount.mounted()) {
    GTEST_SKIP() << "cannot mount a 64 KiB tmpfs here (" << std::strerror(mount.error())
                 << "), which stands in for a full disk";
  }
  MapFolder maps(disk);
  // 800 plants make an export of about 150 KB, far more than the disk holds.
  expect_clean_failure(run({maps.map.string(), "-c", "7=800"}), maps, "No space left on device");
}

// The map arrives through a named pipe; while the program reads it, its folder goes.
TEST(CliWriteFaults, MapFolderVanishesWhileTheMapIsRead) {
  ScratchFolder scratch;
  const fs::path folder = scratch.path() / "maps";
  fs::create_directory(folder);
  const fs::path map = folder / "valley.png";
  ASSERT_EQ(mkfifo(map.c_str(), 0600), 0);
  Program program({map.string(), "-c", "7=20"});

  int fd = -1;  // opens once the program has opened the map
  for (int i = 0; i < 1000 && fd < 0; ++i) {
    fd = open(map.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(fd, 0) << "the program never opened the map";
  fs::remove_all(folder);
  fcntl(fd, F_SETFL, 0);
  const std::string png = map_png();
  EXPECT_EQ(write(fd, png.data(), png.size()), static_cast<ssize_t>(png.size()));
  close(fd);

  const ProgramRun result = program.finish();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "plantscatter-cli: cannot write " +
                            (folder / "valley_export.inc").string() +
                            ": No such file or directory\n");
  EXPECT_FALSE(fs::exists(folder)) << "the folder came back";
}

// ---- Limits ----

TEST(CliLimits, MaxPixelsHoldsWhetherTheMapIsStreamedOrDecodedWhole) {
  ScratchFolder scratch;
  MapFolder maps(scratch.path());
  const fs::path marked = scratch.path() / "marked.png";
  for (bool whole : {false, true}) {
    for (const char* limit : {"1199", "1200"}) {
      SCOPED_TRACE(std::string(whole ? "--marked-map" : "streamed") + ", --max-pixels " + limit);
      std::vector<std::string> args = {maps.map.string(), "-c", "7=5", "-q", "--max-pixels", limit};
      if (whole) args.insert(args.end(), {"--marked-map", marked.string()});
      write_file(maps.export_path, kEarlier);
      const ProgramRun result = run(args);
      if (std::string(limit) == "1200") {
        EXPECT_EQ(result.exit_code, 0) << result.err;
        continue;
      }
      EXPECT_EQ(result.exit_code, 1);
      EXPECT_EQ(result.err, "plantscatter-cli: " + maps.map.string() +
                                " is 40 x 30 pixels, more than the limit of 1199 pixels\n");
      EXPECT_TRUE(read_file(maps.export_path) == kEarlier) << "the earlier export changed";
    }
  }
}

// ---- Awkward paths ----

// The text of the scene string on the line that declares `plant_map`, with POV-Ray's
// escapes undone; empty with a failure when the line is not one well-formed string.
std::string declared_map(const std::string& text) {
  const std::string opening = "\r\n#declare plant_map = \"";
  const size_t start = text.find(opening);
  const size_t end = text.find("\r\n", start + 2);
  if (start == std::string::npos || end == std::string::npos || text[end - 1] != '"') {
    ADD_FAILURE() << "no plant_map line";
    return {};
  }
  std::string value;
  for (size_t i = start + opening.size(); i < end - 1; ++i) {
    if (text[i] == '"') {
      ADD_FAILURE() << "a bare quote ends the string early";
      return {};
    }
    if (text[i] == '\\') ++i;  // \" and \\ stand for the character after the backslash
    value += text[i];
  }
  return value;
}

// Renders the export at 16 x 8 from a plain name, so that only its content can fail: the
// map it names must be found and every line must parse.
void expect_povray_renders(const fs::path& export_path) {
  ScratchFolder work;
  fs::copy_file(export_path, work.path() / "scene.pov");
  const std::string command = "cd '" + work.path().string() +
                              "' && povray +Iscene.pov +Oscene.png +W16 +H8 -A -D +L'" +
                              povray_include_folder().string() + "' >/dev/null 2>povray.log";
  const int status = std::system(command.c_str());
  const std::string log = read_file(work.path() / "povray.log");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
  EXPECT_EQ(log.find("Parse Error"), std::string::npos) << log;
  EXPECT_EQ(log.find("Render failed"), std::string::npos) << log;
  EXPECT_TRUE(fs::exists(work.path() / "scene.png")) << log;
}

TEST(CliPaths, WritesARenderableFileOrRefusesClearly) {
  const bool povray = on_path("povray") && !povray_include_folder().empty();
  if (!povray && std::getenv("CI") != nullptr) {
    ADD_FAILURE() << "povray is not installed; ./run installs Debian's povray and povray-includes";
  }
  const struct {
    std::string folder;
    std::string file;
    std::string refusal;  // empty: written
    std::string export_name;
  } cases[] = {
      {"with space", "my map.png", "", "my map_export.inc"},
      {"say \"hi\"", "the \"best\" map.png", "", "the \"best\" map_export.inc"},
      {"short", ".png", "", "_export.inc"},
      {"Wald \xc3\xbc \xe5\x9c\xb0\xe5\x9b\xb3", "\xd0\xba\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0.png", "",
       "\xd0\xba\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0_export.inc"},
      {"lines", "two\nlines.png",
       "the map path holds a control character (byte 10), which cannot be written into the "
       "export",
       ""},
      {"line\nbreak", "map.png",
       "the map path holds a control character (byte 10), which cannot be written into the "
       "export",
       ""},
      {"back", "slash\\ed.png",
       "holds a backslash, which the export would read as a folder separator: rename the map", ""},
  };
  const std::string png = map_png();
  for (const auto& c : cases) {
    for (const char* version : {"3.8", "3.7"}) {
      SCOPED_TRACE(c.folder + "/" + c.file + ", POV-Ray " + version);
      ScratchFolder scratch;
      const fs::path folder = scratch.path() / c.folder;
      fs::create_directory(folder);
      const fs::path map = folder / c.file;
      write_file(map, png);
      const ProgramRun result = run({map.string(), "-c", "7=5", "--pov-version", version, "-q"});
      if (!c.refusal.empty()) {
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_NE(result.err.find(c.refusal), std::string::npos) << result.err;
        EXPECT_EQ(entries(folder), std::vector<std::string>{c.file}) << "something was written";
        continue;
      }
      ASSERT_EQ(result.exit_code, 0) << result.err;
      const fs::path export_path = folder / c.export_name;
      ASSERT_TRUE(fs::exists(export_path)) << entries(folder).size() << " entries";
      EXPECT_EQ(declared_map(read_file(export_path)), map.string());
      if (std::string(version) == "3.7" && povray) {
        // POV-Ray 3.7 cannot open a path that is not ASCII; the program warns of that.
        const std::string path = map.string();
        const bool ascii =
            std::none_of(path.begin(), path.end(), [](char ch) { return ch & 0x80; });
        if (ascii) expect_povray_renders(export_path);
      }
    }
  }
  if (!povray) GTEST_SKIP() << "povray is not installed: the exports were checked as text only";
}

}  // namespace
}  // namespace plantscatter
