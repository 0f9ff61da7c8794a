#include "export/export_paths.h"

#include <string>

#include <gtest/gtest.h>

namespace plantscatter {
namespace {

TEST(DeriveExportPaths, SplitsFolderNameAndBase) {
  const struct {
    const char* map_path;
    const char* folder;
    const char* file_name;
    const char* base_name;
    const char* export_path;
    const char* scene_folder;
  } cases[] = {
      {"C:\\maps\\forest.png", "C:\\maps\\", "forest.png", "forest", "C:\\maps\\forest_export.inc",
       "C:/maps/"},
      {"D:\\a\\b\\c\\map.png", "D:\\a\\b\\c\\", "map.png", "map", "D:\\a\\b\\c\\map_export.inc",
       "D:/a/b/c/"},
      {"/home/ann/maps/hill.png", "/home/ann/maps/", "hill.png", "hill",
       "/home/ann/maps/hill_export.inc", "/home/ann/maps/"},
      {"/m/mixed\\seps/f.png", "/m/mixed\\seps/", "f.png", "f", "/m/mixed\\seps/f_export.inc",
       "/m/mixed/seps/"},
      {"/maps/a.b.png", "/maps/", "a.b.png", "a.b", "/maps/a.b_export.inc", "/maps/"},
      {"/maps/MAP.PNG", "/maps/", "MAP.PNG", "MAP", "/maps/MAP_export.inc", "/maps/"},
      {"hill.png", "", "hill.png", "hill", "hill_export.inc", ""},
      // Four characters or fewer leave an empty base name.
      {"/maps/.png", "/maps/", ".png", "", "/maps/_export.inc", "/maps/"},
      {"/maps/abc", "/maps/", "abc", "", "/maps/_export.inc", "/maps/"},
      {"/maps/", "/maps/", "", "", "/maps/_export.inc", "/maps/"},
      {"", "", "", "", "_export.inc", ""},
      // Characters, not bytes, are cut.
      {"/k/\xe6\x97\xa5\xe6\x9c\xac.png", "/k/", "\xe6\x97\xa5\xe6\x9c\xac.png",
       "\xe6\x97\xa5\xe6\x9c\xac", "/k/\xe6\x97\xa5\xe6\x9c\xac_export.inc", "/k/"},
      {"/k/x\xc3\xa9.p\xc3\xa9g", "/k/", "x\xc3\xa9.p\xc3\xa9g", "x\xc3\xa9",
       "/k/x\xc3\xa9_export.inc", "/k/"},
      {"/k/a\xf0\x9f\x8c\xb2\xf0\x9f\x8c\xb2\xf0\x9f\x8c\xb2", "/k/",
       "a\xf0\x9f\x8c\xb2\xf0\x9f\x8c\xb2\xf0\x9f\x8c\xb2", "", "/k/_export.inc", "/k/"},
  };
  for (const auto& c : cases) {
    const ExportPaths paths = derive_export_paths(c.map_path);
    EXPECT_EQ(paths.folder, c.folder) << c.map_path;
    EXPECT_EQ(paths.file_name, c.file_name) << c.map_path;
    EXPECT_EQ(paths.base_name, c.base_name) << c.map_path;
    EXPECT_EQ(paths.export_path, c.export_path) << c.map_path;
    EXPECT_EQ(paths.scene_folder, c.scene_folder) << c.map_path;
  }
}

}  // namespace
}  // namespace plantscatter
