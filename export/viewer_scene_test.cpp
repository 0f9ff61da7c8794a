#include "export/viewer_scene.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace plantscatter {
namespace {

TEST(ViewerScene, IsAsciiWithCrlfOnEveryLine) {
  for (const PovVersion version : {PovVersion::k38, PovVersion::k37}) {
    const std::string_view scene = viewer_scene(version);
    ASSERT_GT(scene.size(), 1000u);
    EXPECT_EQ(scene.substr(0, 3), " \r\n");
    EXPECT_EQ(scene.substr(scene.size() - 2), "\r\n");
    EXPECT_NE(scene.substr(scene.size() - 4), "\r\n\r\n") << "ends with a blank line";
    for (size_t i = 0; i < scene.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(scene[i]);
      ASSERT_LT(c, 0x80) << "non-ASCII byte at " << i;
      ASSERT_NE(c, '\t') << "tab at " << i;
      ASSERT_TRUE(c >= 0x20 || c == '\r' || c == '\n') << "control byte " << int{c} << " at " << i;
      if (c == '\r') {
        ASSERT_TRUE(i + 1 < scene.size() && scene[i + 1] == '\n') << "bare CR at " << i;
      }
      if (c == '\n') {
        ASSERT_TRUE(i > 0 && scene[i - 1] == '\r') << "bare LF at " << i;
      }
    }
  }
}

// The statements the scene must hold, each found after the one before it.
TEST(ViewerScene, HoldsItsStatementsInOrder) {
  const char* const pieces[] = {
      "//      view samples / array_plants\r\n",
      "\r\n//    array_name[#n][0] = plant ID\r\n",
      "//    array_name[#n][1] = position\r\n",
      "//    array_name[#n][2] = rnd rotation \r\n",
      "//    array_name[#n][3] = rnd scale \r\n",
      "//    array_name[#n][4] = x,y positions normalized from 0-1 \r\n\r\n\r\n",
      "#declare C_teal",
      "= rgb < 0.5, 1.0, 1.0 > ;\r\n",
      "#declare C_blue",
      "= rgb < 0.0, 0.0, 1.0 > ;\r\n",
      "#declare C_magenta",
      "= rgb < 1.0, 0.0, 1.0 > ;\r\n",
      "#declare C_red",
      "= rgb < 1.0, 0.0, 0.0 > ;\r\n",
      "#declare C_orange",
      "= rgb < 1.0, 0.5, 0.0 > ;\r\n",
      "#declare C_yellow",
      "= rgb < 1.0, 1.0, 0.0 > ;\r\n",
      "#declare C_green",
      "= rgb < 0.0, 1.0, 0.0 > ;\r\n",
      "#declare C_black",
      "= rgb < 0.0, 0.0, 0.0 > ;\r\n",
      "#declare C_gray25",
      "= rgb < 0.25, 0.25, 0.25 > ;\r\n",
      "#declare C_gray50",
      "= rgb < 0.50, 0.50, 0.50 > ;\r\n",
      "#declare plants = array mixed [11][2]\r\n",
      "#declare sample = sphere { 0,1 finish { phong 1 } scale .01 } ;\r\n",
      "//  re-direct for real objects \r\n",
      "#declare plants[1][0] =   sample ;\r\n",
      "#declare plants[2][0] =   sample ;\r\n",
      "#declare plants[3][0] =   sample ;\r\n",
      "#declare plants[4][0] =   sample ;\r\n",
      "#declare plants[5][0] =   sample ;\r\n",
      "#declare plants[6][0] =   sample ;\r\n",
      "#declare plants[7][0] =   sample ;\r\n",
      "#declare plants[8][0] =   sample ;\r\n",
      "#declare plants[9][0] =   sample ;\r\n",
      "#declare plants[10][0] =   sample ;\r\n",
      "#declare plants[1][1] =",
      "C_teal ;",
      "// 0    255  255\r\n",
      "#declare plants[2][1] =",
      "C_blue ;",
      "// 0    0    255\r\n",
      "#declare plants[3][1] =",
      "C_magenta ;",
      "// 255  0    255\r\n",
      "#declare plants[4][1] =",
      "C_red ;",
      "// 255  0    0\r\n",
      "#declare plants[5][1] =",
      "C_orange ;",
      "// 255  128  0\r\n",
      "#declare plants[6][1] =",
      "C_yellow ;",
      "// 255  255  0\r\n",
      "#declare plants[7][1] =",
      "C_green ;",
      "// 0    255  0\r\n",
      "#declare plants[8][1] =",
      "C_black ;",
      "// 0    0    0\r\n",
      "#declare plants[9][1] =",
      "C_gray25 ;",
      "// 64   64   64\r\n",
      "#declare plants[10][1] =",
      "C_gray50 ;",
      "// 128  128  128\r\n",
      "#macro view_plant_array ()\r\n",
      "union {",
      "#for (i, 1, plant_count )\r\n",
      "#declare _id =  array_plants [i][0] ;\r\n",
      "#declare _pos = array_plants [i][1] ;\r\n",
      "#declare _rot = array_plants [i][2] ;\r\n",
      "#declare _scl = array_plants [i][3] ;\r\n",
      "#declare _pos = array_plants [i][4] ;",
      "// using normalized scale for viewing\r\n",
      "object { plants[_id][0] pigment{ plants[_id][1] }  translate _pos }\r\n",
      "#end\r\n",
      "}\r\n",
      "#end\r\n",
      "\r\n\r\nview_plant_array()\r\n\r\n\r\n\r\n",
      "//      PLANT MAP FOR COMPARISION\r\n",
      "#macro make_image (_name, _emission, _gamma, _ext, _type)",
      "texture {",
      "image_map {",
      "#if ( _ext = \"hdr\") hdr  #end\r\n",
      "#if ( _ext = \"png\") png  #end\r\n",
      "#if ( _ext = \"jpg\") jpeg  #end\r\n",
      "_name\r\n",
      "gamma _gamma\r\n",
      "map_type _type\r\n",
      "interpolate 4\r\n",
      "finish { emission _emission }",
      "#declare M_map = material { make_image (plant_map, 1, 1.8, \"png\", 0) }",
      "intersection {",
      "plane {  <0,0,1>,0 }",
      "box { <0,0,-.5>,<1,1,.5>}",
      "material { M_map scale 1}",
      "rotate x*90",
      "translate x*1.02",
      "no_shadow",
      "//      UI\r\n",
      "#background { rgb .5 }\r\n",
      "#declare C_base = rgb <0.33, 0.34, 0.37> ;\r\n",
      "#declare CM_ui_grid",
      "color_map {",
      "[0.00",
      "C_base *.75",
      "[0.95",
      "C_base *.75",
      "[0.95",
      "C_base",
      "[1.00",
      "C_base",
      "#declare P_ui_grid",
      "pigment {",
      "pavement",
      "number_of_sides 4",
      "number_of_tiles 4",
      "pattern 4",
      "exterior 0",
      "interior 0",
      "form 0",
      "color_map { CM_ui_grid }",
      "#declare M_grid = material { texture { pigment { P_ui_grid } finish { emission 1 } } }",
      "#macro make_spline_frame (_size, _pt)",
      "_p1 = < _size.x/-2,_size.y/-2, 0 >",
      "_p2 = < _size.x/-2,_size.y/2, 0 >",
      "_p3 = < _size.x/2,_size.y/2, 0 >",
      "_p4 = < _size.x/2,_size.y/-2, 0 >",
      "sphere_sweep {",
      "linear_spline",
      "5,",
      "_p1, _pt",
      "_p2, _pt",
      "_p3, _pt",
      "_p4, _pt",
      "_p1, _pt",
      "#end\r\n",
      "plane {  <0,1,0>,0 }",
      "box { <0,-.5,0>,<1,.5,1>}",
      "material { M_grid scale .05}",
      "object { make_spline_frame (<1,1,1>, .003 ) pigment { C_base } finish { emission 1} "
      "rotate x*-90 translate <.5,-1,.5> }\r\n",
      "//              DISPLAY TEXT DATA\r\n",
      "#declare font_data = \"crystal.ttf\"\r\n",
      "#declare str_plant_count",
      "\"  plant count: \"",
      "str( plant_count,0,0)",
      "#declare str_plant_map",
      "\"    plant map: \"",
      "plant_map",
      "#declare M_gray60 = material { texture { pigment { rgb .6 } finish { emission 1 } }}\r\n",
      "#union {\r\n",
      "ttf font_data str_plant_count 0, 0",
      "material { M_gray60 }",
      "scale .1",
      "translate <0, 0, 0>",
      "ttf font_data str_plant_map 0, 0",
      "material { M_gray60 }",
      "scale .1",
      "translate <0, -.1, 0>",
      "scale .25",
      "rotate x*90",
      "translate <0,1,-.03>",
      "//          C A M E R A\r\n",
      "#declare cam_location",
      "< 1, 1600, .45 >",
      "#declare cam_look_at",
      "< 1, 0, .45 >",
      "#declare cam_angle",
      ".075",
      "#declare cam_right",
      "< image_width / image_height, 0, 0 >",
      "camera {",
      "orthographic",
      "right     cam_right",
      "location  cam_location",
      "look_at   cam_look_at",
      "angle     cam_angle",
      "//          L I G H T S\r\n",
      "#declare L_pos",
      "< 5, 5, -10 >",
      "#declare L_look",
      "< .5, 0, .5 >",
      "#declare L_color",
      "rgb < 1, .98, .97 >",
      "#declare L_Fade_distance",
      "30",
      "#declare L_Fade_Power",
      "1",
      "#declare L_shadows_off",
      "0",
      "#declare L_array_size",
      "10",
      "#declare L_array_count",
      "30",
      "light_source {",
      "L_pos",
      "color rgb L_color",
      "parallel",
      "fade_distance       L_Fade_distance",
      "fade_power          L_Fade_Power",
      "point_at            L_look",
      "}",
      "#declare L_pos",
      "< -10, 2, 20 >",
      "#declare L_look",
      "< .5, 0, .5 >",
      "#declare L_color",
      "rgb < .5, .5, .5 >",
      "#declare L_Fade_distance",
      "20",
      "#declare L_Fade_Power",
      "1",
      "#declare L_shadows_off",
      "0",
      "#declare L_array_size",
      "10",
      "#declare L_array_count",
      "30",
      "light_source {",
      "L_pos",
      "color rgb L_color",
      "parallel",
      "fade_distance       L_Fade_distance",
      "fade_power          L_Fade_Power",
      "point_at            L_look",
      "}\r\n",
  };
  const std::string_view scene = viewer_scene();
  size_t at = 0;
  for (const char* piece : pieces) {
    const size_t found = scene.find(piece, at);
    ASSERT_NE(found, std::string_view::npos) << "missing, or out of order: " << piece;
    at = found + std::string_view(piece).size();
  }
}

// Six banners of four lines: a rule, "//", the title, a rule.
TEST(ViewerScene, OpensEachOfItsSixSectionsWithABanner) {
  const char* const titles[] = {
      "//      view samples / array_plants",
      "//      PLANT MAP FOR COMPARISION",
      "//      UI",
      "//              DISPLAY TEXT DATA",
      "//          C A M E R A",
      "//          L I G H T S",
  };
  for (const PovVersion version : {PovVersion::k38, PovVersion::k37}) {
    const std::string scene(viewer_scene(version));
    size_t at = 0;
    int section = 0;
    for (const char* title : titles) {
      ++section;
      const std::string needle = "\r\n//\r\n" + std::string(title) + "\r\n";
      const size_t found = scene.find(needle, at);
      ASSERT_NE(found, std::string::npos) << title;
      const size_t rule_start = scene.rfind("\r\n", found - 1) + 2;
      const std::string rule_before = scene.substr(rule_start, found - rule_start);
      const size_t after = found + needle.size();
      const std::string rule_after = scene.substr(after, scene.find("\r\n", after) - after);
      const std::string prefix = section <= 3 ? "//  _" : "//_";
      for (const std::string& rule : {rule_before, rule_after}) {
        EXPECT_EQ(rule.substr(0, prefix.size()), prefix) << title;
        EXPECT_EQ(rule.find_first_not_of('_', prefix.size() - 1), std::string::npos) << title;
      }
      at = after;
    }
  }
}

// The 3.7 scene is the 3.8 scene with the mixed arrays taken apart: its per-type table split
// into an array of objects and one of colours, and the plant loop reading the export's five
// single-type arrays. Nothing else may differ, so both draw the same picture.
TEST(ViewerScene, The37SceneDiffersOnlyInItsArrays) {
  std::vector<std::pair<std::string, std::string>> changes = {
      {"#declare plants = array mixed [11][2]\r\n",
       "#declare plants_object = array [11]\r\n#declare plants_color = array [11]\r\n"},
      {"array_plants [i][0]", "array_plants_id [i]"},
      {"array_plants [i][1]", "array_plants_position [i]"},
      {"array_plants [i][2]", "array_plants_rotation [i]"},
      {"array_plants [i][3]", "array_plants_scale [i]"},
      {"array_plants [i][4]", "array_plants_normalized [i]"},
      {"object { plants[_id][0] pigment{ plants[_id][1] }",
       "object { plants_object[_id] pigment{ plants_color[_id] }"},
  };
  for (int id = 1; id <= 10; ++id) {
    const std::string row = std::to_string(id);
    changes.push_back(
        {"#declare plants[" + row + "][0] =", "#declare plants_object[" + row + "] ="});
    changes.push_back(
        {"#declare plants[" + row + "][1] =", "#declare plants_color[" + row + "] ="});
  }
  std::string expected(viewer_scene(PovVersion::k38));
  for (const auto& [from, to] : changes) {
    const size_t at = expected.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    ASSERT_EQ(expected.find(from, at + 1), std::string::npos) << "more than one " << from;
    expected.replace(at, from.size(), to);
  }
  const std::string_view scene = viewer_scene(PovVersion::k37);
  EXPECT_TRUE(scene == expected);
  EXPECT_EQ(scene.find("mixed"), std::string_view::npos);
  EXPECT_EQ(scene.find("array_plants ["), std::string_view::npos);
}

}  // namespace
}  // namespace plantscatter
