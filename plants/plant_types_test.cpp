#include "plants/plant_types.h"

#include <set>

#include <gtest/gtest.h>

namespace plantscatter {
namespace {

struct MatchCase {
  Rgb colour;
  int expected_id;
};

TEST(MatchPlantType, ComparesEachComponentExactly) {
  const MatchCase cases[] = {
      {{0, 255, 255}, 1},   {{0, 255, 254}, 0},   {{0, 0, 255}, 2},     {{255, 0, 255}, 3},
      {{255, 0, 0}, 4},     {{255, 128, 0}, 5},   {{255, 132, 0}, 0},   {{255, 255, 0}, 6},
      {{0, 255, 0}, 7},     {{0, 0, 0}, 8},       {{64, 64, 64}, 9},    {{128, 128, 128}, 10},
      {{127, 127, 127}, 0}, {{65, 64, 64}, 0},    {{30, 30, 30}, 0},    {{255, 255, 255}, 0},
      {{64, 0, 0}, 0},      {{128, 0, 0}, 0},     {{255, 64, 0}, 0},    {{0, 128, 0}, 0},
      {{64, 64, 128}, 0},   {{1, 0, 0}, 0},       {{0, 0, 1}, 0},       {{128, 128, 64}, 0},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(match_plant_type(c.colour), c.expected_id)
        << "colour " << int{c.colour.r} << "," << int{c.colour.g} << "," << int{c.colour.b};
  }
}

TEST(MatchPlantType, AgreesWithTheTableForEveryColour) {
  // The fast lookup must give exactly what a plain search of the table gives.
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        const Rgb c{static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
        int expected = 0;
        for (const PlantType& type : kPlantTypes) {
          if (type.key == c) expected = type.id;
        }
        ASSERT_EQ(match_plant_type(c), expected) << r << "," << g << "," << b;
      }
    }
  }
}

TEST(PlantTypes, TableInvariants) {
  std::set<int> keys;
  for (size_t i = 0; i < kPlantTypes.size(); ++i) {
    const PlantType& type = kPlantTypes[i];
    EXPECT_EQ(type.id, static_cast<int>(i) + 1);
    EXPECT_EQ(type.count_field, 6 + type.id);
    EXPECT_EQ(type.label, "plant " + std::to_string(type.id));
    EXPECT_NE(type.key, kMarkerColour);
    keys.insert(type.key.r << 16 | type.key.g << 8 | type.key.b);
    EXPECT_EQ(&plant_type(type.id), &type);
  }
  EXPECT_EQ(keys.size(), kPlantTypes.size()) << "key colours must be distinct";
  // The three colour columns are separate data.
  EXPECT_EQ(plant_type(5).legend, (Rgb{255, 132, 0}));
  EXPECT_EQ(plant_type(1).scene_rgb[0], 0.5);
  EXPECT_EQ(plant_type(9).scene_rgb[1], 0.25);
}

}  // namespace
}  // namespace plantscatter
