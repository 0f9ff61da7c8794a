#include "export/export_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/viewer_scene.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace plantscatter {
namespace {

namespace fs = std::filesystem;

class StringSink : public ExportSink {
 public:
  bool write(std::string_view bytes, std::string*) override {
    text.append(bytes);
    return true;
  }
  std::string text;
};

// Fails its `fail_at`-th call (counted from 0) and every one after.
class FailingSink : public ExportSink {
 public:
  explicit FailingSink(int fail_at) : fail_at_(fail_at) {}
  bool write(std::string_view, std::string* error) override {
    if (calls_++ < fail_at_) return true;
    *error = "sink failed at write " + std::to_string(fail_at_);
    return false;
  }

 private:
  int fail_at_;
  int calls_ = 0;
};

std::vector<std::string> crlf_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));  // after the last line end: empty for a whole file
  return lines;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string export_text(const ExportInput& input, uint64_t seed) {
  Random rng(seed);
  StringSink sink;
  std::string error;
  EXPECT_TRUE(write_export(input, rng, sink, &error)) << error;
  return sink.text;
}

// Plants spread over a map, every type in turn.
std::vector<PlantRecord> spread_plants(size_t count, uint32_t width, uint32_t height,
                                       uint64_t seed) {
  Random rng(seed);
  std::vector<PlantRecord> plants(count);
  for (size_t i = 0; i < count; ++i) {
    plants[i].x = static_cast<uint32_t>(rng.in_range(0, width - 1));
    plants[i].y = static_cast<uint32_t>(rng.in_range(0, height - 1));
    plants[i].type_id = static_cast<int>(i % 10) + 1;
  }
  return plants;
}

std::string printed(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// Three plants on a 5 x 4 map three folders deep, in both forms; the golden files were
// checked line by line against the formats by hand.
TEST(WriteExport, MatchesTheGoldenFilesOfATinyMap) {
  const struct {
    PovVersion version;
    const char* golden;
  } cases[] = {
      {PovVersion::k38, "meadow_export.inc"},
      {PovVersion::k37, "meadow_export_37.inc"},
  };
  const PlantRecord plants[] = {{0, 0, 1}, {4, 3, 7}, {2, 1, 10}};
  for (const auto& c : cases) {
    ExportInput input;
    input.map_path = "D:\\maps\\hills\\north\\meadow.png";
    input.width = 5;
    input.height = 4;
    input.plants = plants;
    input.pov_version = c.version;
    const std::string text = export_text(input, 7);
    const std::string golden = read_file(std::string(PLANTSCATTER_EXPORT_TESTDATA "/") + c.golden);
    ASSERT_FALSE(golden.empty()) << c.golden;
    const std::vector<std::string> lines = crlf_lines(text);
    const std::vector<std::string> golden_lines = crlf_lines(golden);
    for (size_t i = 0; i < std::min(lines.size(), golden_lines.size()); ++i) {
      ASSERT_EQ(lines[i], golden_lines[i]) << c.golden << " line " << i + 1;
    }
    EXPECT_EQ(text.size(), golden.size()) << c.golden;
    EXPECT_TRUE(text == golden) << c.golden;
  }
}

// Every line of exports of several sizes in both forms, the random values replayed from the
// same seed: a seeded 3.7 file carries the values of the 3.8 file.
TEST(WriteExport, WritesHeaderRowsAndSceneInOrder) {
  const uint32_t width = 300, height = 200;
  for (const PovVersion version : {PovVersion::k38, PovVersion::k37}) {
    for (size_t count : {size_t{0}, size_t{1}, size_t{9001}}) {
      const bool form37 = version == PovVersion::k37;
      const std::vector<PlantRecord> plants = spread_plants(count, width, height, count);
      ExportInput input;
      input.map_path = "/maps/field.png";
      input.width = width;
      input.height = height;
      input.plants = plants;
      input.pov_version = version;
      Random rng(99);
      StringSink sink;
      std::string error;
      ASSERT_TRUE(write_export(input, rng, sink, &error)) << error;
      const std::string& text = sink.text;

      ASSERT_NE(text.substr(0, 3), "\xef\xbb\xbf") << "no byte-order mark";
      size_t bare = 0;
      for (size_t i = 0; i < text.size(); ++i) {
        if ((text[i] == '\n') != (i > 0 && text[i - 1] == '\r')) ++bare;
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) ++bare;
      }
      EXPECT_EQ(bare, 0u) << "bare CR or LF with " << count << " plants";

      const std::string scene_end = std::string(viewer_scene(version)) + "\r\n";
      ASSERT_GE(text.size(), scene_end.size());
      const std::string generated = text.substr(0, text.size() - scene_end.size());
      EXPECT_EQ(text.substr(generated.size()), scene_end) << count;

      const std::vector<std::string> lines = crlf_lines(generated);
      const size_t header = form37 ? 25 : 21;
      ASSERT_EQ(lines.size(), header + 6 * count + 1) << count;
      EXPECT_EQ(lines[11], "#declare plant_count = " + std::to_string(count) + " ;");
      EXPECT_EQ(lines[12], "#declare plant_map_scale = <300, 1, 200> ; ");
      const std::string rows = std::to_string(count + 1);
      if (form37) {
        EXPECT_EQ(lines[19],
                  "#declare array_plants_id = array [" + rows + "] ;  // array_name[#n][0]");
        EXPECT_EQ(lines[20],
                  "#declare array_plants_position = array [" + rows + "] ;  // array_name[#n][1]");
        EXPECT_EQ(lines[21],
                  "#declare array_plants_rotation = array [" + rows + "] ;  // array_name[#n][2]");
        EXPECT_EQ(lines[22],
                  "#declare array_plants_scale = array [" + rows + "] ;  // array_name[#n][3]");
        EXPECT_EQ(lines[23], "#declare array_plants_normalized = array [" + rows +
                                 "] ;  // array_name[#n][4]");
      } else {
        EXPECT_EQ(lines[19], "#declare array_plants = array mixed [" + rows + "][5]  ;");
      }
      EXPECT_EQ(lines[header - 1], "");

      // The line starts of row n, for values 0 to 4.
      auto row_starts = [&](size_t n) {
        const std::string number = std::to_string(n);
        std::vector<std::string> starts;
        for (const char* name : {"id", "position", "rotation", "scale", "normalized"}) {
          if (form37) {
            starts.push_back("#declare array_plants_" + std::string(name) + " [" + number + "] = ");
          } else {
            starts.push_back("#declare array_plants [" + number + "][" +
                             std::to_string(starts.size()) + "] = ");
          }
        }
        return starts;
      };

      Random replay(99);
      for (size_t i = 0; i < count; ++i) {
        const PlantRecord& p = plants[i];
        const std::vector<std::string> row = row_starts(i + 1);
        const std::string* r = &lines[header + 6 * i];
        const int64_t rotation = replay.in_range(0, 360);
        const int64_t scale = replay.in_range(80, 120);
        const float u = static_cast<float>(static_cast<double>(p.x) / width);
        const float v = static_cast<float>(1.0 - static_cast<double>(p.y) / height);
        ASSERT_EQ(r[0], row[0] + std::to_string(p.type_id) + " ;") << i;
        ASSERT_EQ(r[1], row[1] + "<" + std::to_string(p.x) + ", 0, " +
                            std::to_string(height - p.y) + "> ;")
            << i;
        ASSERT_EQ(r[2], row[2] + std::to_string(rotation) + ".00 ;") << i;
        ASSERT_EQ(r[3], row[3] + printed("%.4f", scale / 100.0) + " ;") << i;
        ASSERT_EQ(r[4], row[4] + "<" + printed("%.6f", u) + ", 0, " + printed("%.6f", v) + "> ;")
            << i;
        ASSERT_EQ(r[5], "") << i;
      }
      EXPECT_EQ(rng.next(), replay.next()) << "two draws per plant, no more";
    }
  }
}

TEST(WriteExport, WritesPositionsAsTheExamplesShow) {
  const struct {
    uint32_t width, height, x, y;
    const char* position;    // row line 1
    const char* normalized;  // row line 4
  } cases[] = {
      {2000, 1500, 120, 123, "<120, 0, 1377>", "<0.060000, 0, 0.918000>"},
      {2000, 1500, 0, 0, "<0, 0, 1500>", "<0.000000, 0, 1.000000>"},
      {2000, 1500, 1999, 1499, "<1999, 0, 1>", "<0.999500, 0, 0.000667>"},
      {29, 10, 27, 0, "<27, 0, 10>", "<0.931035, 0, 1.000000>"},
      {128, 128, 1, 1, "<1, 0, 127>", "<0.007812, 0, 0.992188>"},
      {1, 1, 0, 0, "<0, 0, 1>", "<0.000000, 0, 1.000000>"},
  };
  for (const auto& c : cases) {
    const PlantRecord plant{c.x, c.y, 1};
    ExportInput input;
    input.map_path = "C:\\maps\\forest.png";
    input.width = c.width;
    input.height = c.height;
    input.plants = std::span(&plant, 1);
    const std::vector<std::string> lines = crlf_lines(export_text(input, 1));
    EXPECT_EQ(lines[21], "#declare array_plants [1][0] = 1 ;");
    EXPECT_EQ(lines[22], std::string("#declare array_plants [1][1] = ") + c.position + " ;")
        << c.x << ", " << c.y << " on " << c.width << " x " << c.height;
    EXPECT_EQ(lines[25], std::string("#declare array_plants [1][4] = ") + c.normalized + " ;")
        << c.x << ", " << c.y << " on " << c.width << " x " << c.height;
  }
}

TEST(WriteExport, NamesTheMapInTheCommentAndTheSceneString) {
  const struct {
    const char* map_path;
    const char* comment;   // line 2
    const char* declared;  // line 11
  } cases[] = {
      {"C:\\maps\\forest.png", "// plant image: C:/maps/forest.png    2000 x 1500",
       "#declare plant_map = \"C:/maps/forest.png\""},
      {"D:\\a\\b\\c\\map.png", "// plant image: D:/a/b/c/map.png    2000 x 1500",
       "#declare plant_map = \"D:/a/b/c/map.png\""},
      {"/maps/a.b.png", "// plant image: /maps/a.b.png    2000 x 1500",
       "#declare plant_map = \"/maps/a.b.png\""},
      // The name as it is: on a case-sensitive disk "MAP.png" would be another file.
      {"/maps/MAP.PNG", "// plant image: /maps/MAP.PNG    2000 x 1500",
       "#declare plant_map = \"/maps/MAP.PNG\""},
      // A quote must not end the scene's string early.
      {"/maps/say \"hi\".png", "// plant image: /maps/say \"hi\".png    2000 x 1500",
       "#declare plant_map = \"/maps/say \\\"hi\\\".png\""},
#ifndef _WIN32
      {"/karten/wald\xc3\xa9.png", "// plant image: /karten/wald\xc3\xa9.png    2000 x 1500",
       "#declare plant_map = \"/karten/wald\xc3\xa9.png\""},
#endif
  };
  const PlantRecord plants[] = {{120, 123, 1}, {5, 6, 2}};
  for (const auto& c : cases) {
    ExportInput input;
    input.map_path = c.map_path;
    input.width = 2000;
    input.height = 1500;
    input.plants = plants;
    const std::vector<std::string> lines = crlf_lines(export_text(input, 1));
    EXPECT_EQ(lines[1], c.comment) << c.map_path;
    EXPECT_EQ(lines[10], c.declared) << c.map_path;
  }
}

TEST(CheckLocalMapPath, RefusesABackslashWhereItIsNoSeparator) {
#ifdef _WIN32
  constexpr bool kBackslashIsSeparator = true;
#else
  constexpr bool kBackslashIsSeparator = false;
#endif
  const struct {
    std::string path;
    bool accepted;
  } cases[] = {
      {"/maps/forest.png", true},
      {"/maps/say \"hi\".png", true},
      {"/maps/a\\b.png", kBackslashIsSeparator},
      {"C:\\maps\\forest.png", kBackslashIsSeparator},
      {"/maps/a\nb.png", false},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(check_local_map_path(c.path, &error), c.accepted) << c.path;
    EXPECT_EQ(error.empty(), c.accepted) << c.path;
  }
}

TEST(CheckMapPath, RefusesControlCharactersAndBrokenUtf8) {
  const struct {
    std::string path;
    bool accepted;
  } cases[] = {
      {"/maps/forest.png", true},
      {"C:\\maps\\for est.png", true},
      {"/karten/wald\xc3\xa9.png", true},           // 2-byte character
      {"/maps/\xe6\x97\xa5.png", true},             // 3-byte character
      {"/maps/\xf0\x9f\x8c\xb2.png", true},         // 4-byte character
      {"/maps/\xef\xbf\xbf.png", true},             // U+FFFF
      {"/maps/a\n#declare x = 1;\n//.png", false},  // line break: scene code injection
      {"/maps/a\r.png", false},
      {"/maps/a\t.png", false},
      {std::string("/maps/a\0b.png", 12), false},
      {"/maps/a\x1f.png", false},
      {"/maps/a\x7f.png", false},
      {"/maps/a\x80.png", false},              // lone continuation byte
      {"/maps/a\xc3.png", false},              // cut-off sequence
      {"/maps/a\xc3", false},                  // cut off at the end
      {"/maps/a\xc0\xaf.png", false},          // overlong '/'
      {"/maps/a\xe0\x80\xaf.png", false},      // overlong, 3 bytes
      {"/maps/a\xed\xa0\x80.png", false},      // surrogate
      {"/maps/a\xf4\x90\x80\x80.png", false},  // above U+10FFFF
      {"/maps/a\xff.png", false},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(check_map_path(c.path, &error), c.accepted) << c.path;
    EXPECT_EQ(error.empty(), c.accepted) << c.path;

    // The writer refuses the same paths before writing or drawing anything.
    const PlantRecord plant{1, 1, 1};
    ExportInput input;
    input.map_path = c.path;
    input.width = 4;
    input.height = 4;
    input.plants = std::span(&plant, 1);
    Random rng(5), untouched(5);
    StringSink sink;
    error.clear();
    EXPECT_EQ(write_export(input, rng, sink, &error), c.accepted) << c.path;
    if (!c.accepted) {
      EXPECT_TRUE(sink.text.empty()) << c.path;
      EXPECT_EQ(rng.next(), untouched.next()) << c.path;
      EXPECT_FALSE(error.empty()) << c.path;
    }
  }
}

TEST(WriteExport, RefusesPlantsOffTheMapOrOfNoType) {
  const struct {
    PlantRecord plant;
    const char* error;
  } cases[] = {
      {{0, 0, 0}, "plant 2 has type 0; types are 1 to 10"},
      {{0, 0, 11}, "plant 2 has type 11; types are 1 to 10"},
      {{5, 0, 1}, "plant 2 at (5, 0) lies outside the 5 x 4 map"},
      {{0, 4, 1}, "plant 2 at (0, 4) lies outside the 5 x 4 map"},
  };
  for (const auto& c : cases) {
    const PlantRecord plants[] = {{4, 3, 10}, c.plant};
    ExportInput input;
    input.map_path = "/maps/m.png";
    input.width = 5;
    input.height = 4;
    input.plants = plants;
    Random rng(5);
    StringSink sink;
    std::string error;
    EXPECT_FALSE(write_export(input, rng, sink, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(sink.text.empty());
  }
}

TEST(WriteExport, SameBytesWithOneOrTwoThreads) {
  for (const PovVersion version : {PovVersion::k38, PovVersion::k37}) {
    for (size_t count : {size_t{4096 * 2}, size_t{4096 * 5 + 123}}) {
      const std::vector<PlantRecord> plants = spread_plants(count, 4000, 3000, 17);
      ExportInput input;
      input.map_path = "/maps/big.png";
      input.width = 4000;
      input.height = 3000;
      input.plants = plants;
      input.pov_version = version;
      std::string texts[3];
      uint64_t after[3];
      const int threads[] = {1, 2, 0};
      for (int t = 0; t < 3; ++t) {
        input.format_threads = threads[t];
        Random rng(2024);
        StringSink sink;
        std::string error;
        ASSERT_TRUE(write_export(input, rng, sink, &error)) << error;
        texts[t] = std::move(sink.text);
        after[t] = rng.next();
      }
      EXPECT_GT(texts[0].size(), count * 200);
      EXPECT_TRUE(texts[0] == texts[1]) << count << " plants";
      EXPECT_TRUE(texts[0] == texts[2]) << count << " plants";
      EXPECT_EQ(after[0], after[1]);
      EXPECT_EQ(after[0], after[2]);
    }
  }
}

// Whichever piece the sink refuses, the writer stops and reports the sink's error, with the
// second thread busy or not.
TEST(WriteExport, StopsAtTheFirstFailedWrite) {
  const std::vector<PlantRecord> plants = spread_plants(4096 * 5 + 7, 640, 480, 3);
  ExportInput input;
  input.map_path = "/maps/m.png";
  input.width = 640;
  input.height = 480;
  input.plants = plants;
  // Pieces: the header, six blocks of rows, the scene, the closing line end.
  for (int threads : {1, 2}) {
    input.format_threads = threads;
    for (int fail_at = 0; fail_at <= 9; ++fail_at) {
      Random rng(1);
      FailingSink sink(fail_at);
      std::string error;
      const bool ok = write_export(input, rng, sink, &error);
      if (fail_at < 9) {
        EXPECT_FALSE(ok) << fail_at;
        EXPECT_EQ(error, "sink failed at write " + std::to_string(fail_at));
      } else {
        EXPECT_TRUE(ok) << error;
      }
    }
  }
}

#ifndef _WIN32

class ExportFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "export_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    input_.map_path = "/maps/meadow.png";
    input_.width = 64;
    input_.height = 48;
    plants_ = spread_plants(500, 64, 48, 11);
    input_.plants = plants_;
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0700);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::vector<PlantRecord> plants_;
  ExportInput input_;
};

TEST_F(ExportFileTest, ReplacesAnEarlierFileAndKeepsItsPermissions) {
  const fs::path path = dir_ / "meadow_export.inc";
  write_file(path, "an older export");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  Random rng(8);
  std::string error;
  ASSERT_TRUE(write_export_file(input_, rng, path, &error)) << error;
  EXPECT_TRUE(read_file(path) == export_text(input_, 8));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(entries(), std::vector<std::string>{"meadow_export.inc"}) << "no temporary left";
}

TEST_F(ExportFileTest, RefusesAReadOnlyExportEvenForRoot) {
  const fs::path path = dir_ / "meadow_export.inc";
  write_file(path, "kept");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  Random rng(8);
  std::string error;
  EXPECT_FALSE(write_export_file(input_, rng, path, &error));
  EXPECT_EQ(error, "cannot write " + path.string() + ": the file is read-only");
  EXPECT_EQ(read_file(path), "kept");
  EXPECT_EQ(entries(), std::vector<std::string>{"meadow_export.inc"});
}

TEST_F(ExportFileTest, ReportsFoldersThatCannotTakeTheFile) {
  fs::create_directory(dir_ / "taken_export.inc");
  const struct {
    fs::path path;
    std::string reason;
  } cases[] = {
      {dir_ / "gone" / "meadow_export.inc", "No such file or directory"},
      {dir_ / "taken_export.inc", "it is a folder"},
      // The kernel's own folders refuse new files, root or not.
      {"/proc/plantscatter_meadow_export.inc", ""},
  };
  for (const auto& c : cases) {
    Random rng(8);
    std::string error;
    EXPECT_FALSE(write_export_file(input_, rng, c.path, &error)) << c.path;
    const std::string prefix = "cannot write " + c.path.string() + ": ";
    EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
    EXPECT_GT(error.size(), prefix.size()) << error;
    if (!c.reason.empty()) {
      EXPECT_EQ(error, prefix + c.reason);
    }
  }
  EXPECT_EQ(entries(), std::vector<std::string>{"taken_export.inc"});
}

TEST_F(ExportFileTest, ReportsAFolderWithoutWritePermission) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "running as root, which permission bits on a folder do not stop";
  }
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  const fs::path path = dir_ / "meadow_export.inc";
  Random rng(8);
  std::string error;
  EXPECT_FALSE(write_export_file(input_, rng, path, &error));
  EXPECT_EQ(error, "cannot write " + path.string() + ": Permission denied");
  ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
  EXPECT_TRUE(entries().empty());
}

// A write that fails half-way (here the process's file size limit, which binds root too,
// standing in for a full disk) leaves the earlier export whole and no temporary behind.
TEST_F(ExportFileTest, FailedWriteKeepsTheEarlierFile) {
  const fs::path path = dir_ / "meadow_export.inc";
  write_file(path, "the earlier export");
  plants_ = spread_plants(20000, 64, 48, 12);  // about 5 MB
  input_.plants = plants_;

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 1 << 20;
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Random rng(8);
  std::string error;
  const bool ok = write_export_file(input_, rng, path, &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, saved_handler);

  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "cannot write " + path.string() + ": File too large");
  EXPECT_EQ(read_file(path), "the earlier export");
  EXPECT_EQ(entries(), std::vector<std::string>{"meadow_export.inc"});
}

TEST_F(ExportFileTest, RefusesABadMapPathBeforeCreatingAnything) {
  input_.map_path = "/maps/a\n#declare evil = 1;\n.png";
  Random rng(8);
  std::string error;
  EXPECT_FALSE(write_export_file(input_, rng, dir_ / "a_export.inc", &error));
  EXPECT_NE(error.find("control character"), std::string::npos) << error;
  EXPECT_TRUE(entries().empty());
}

#endif  // !_WIN32

}  // namespace
}  // namespace plantscatter
