// The ten plant types a map can hold, and the colour test that decides a pixel's type.
#ifndef PLANTSCATTER_PLANTS_PLANT_TYPES_H_
#define PLANTSCATTER_PLANTS_PLANT_TYPES_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace plantscatter {

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

struct PlantType {
  int id;                       // 1 to 10; also the row of the viewer scene's per-type table
  std::string_view label;       // text of the label beside the type's count field
  int count_field;              // control number of the type's count field (6 + id)
  Rgb key;                      // the only colour that means "this type may grow here"
  Rgb legend;                   // the legend band's colour; display only, never matched
  std::string_view scene_name;  // colour identifier the viewer scene declares for the type
  std::array<double, 3> scene_rgb;
};

inline constexpr int kPlantTypeCount = 10;

// Every chosen pixel is painted with this; it matches no key colour.
inline constexpr Rgb kMarkerColour{30, 30, 30};

inline constexpr std::array<PlantType, kPlantTypeCount> kPlantTypes{{
    {1, "plant 1", 7, {0, 255, 255}, {0, 255, 255}, "C_teal", {0.5, 1.0, 1.0}},
    {2, "plant 2", 8, {0, 0, 255}, {0, 0, 255}, "C_blue", {0.0, 0.0, 1.0}},
    {3, "plant 3", 9, {255, 0, 255}, {255, 0, 255}, "C_magenta", {1.0, 0.0, 1.0}},
    {4, "plant 4", 10, {255, 0, 0}, {255, 0, 0}, "C_red", {1.0, 0.0, 0.0}},
    {5, "plant 5", 11, {255, 128, 0}, {255, 132, 0}, "C_orange", {1.0, 0.5, 0.0}},
    {6, "plant 6", 12, {255, 255, 0}, {255, 255, 0}, "C_yellow", {1.0, 1.0, 0.0}},
    {7, "plant 7", 13, {0, 255, 0}, {0, 255, 0}, "C_green", {0.0, 1.0, 0.0}},
    {8, "plant 8", 14, {0, 0, 0}, {0, 0, 0}, "C_black", {0.0, 0.0, 0.0}},
    {9, "plant 9", 15, {64, 64, 64}, {64, 64, 64}, "C_gray25", {0.25, 0.25, 0.25}},
    {10, "plant 10", 16, {128, 128, 128}, {128, 128, 128}, "C_gray50", {0.50, 0.50, 0.50}},
}};

// The type with the given id (1 to 10). The id must be valid.
constexpr const PlantType& plant_type(int id) { return kPlantTypes[static_cast<size_t>(id - 1)]; }

namespace detail {

// Every key colour component is one of 0, 64, 128 or 255. A component maps to its level
// (0 to 3) or to 4 for any other value; three levels index a 64-entry table of type ids.
inline constexpr uint8_t kNoLevel = 4;

constexpr std::array<uint8_t, 256> make_levels() {
  std::array<uint8_t, 256> levels{};
  for (auto& level : levels) level = kNoLevel;
  levels[0] = 0;
  levels[64] = 1;
  levels[128] = 2;
  levels[255] = 3;
  return levels;
}

inline constexpr std::array<uint8_t, 256> kComponentLevel = make_levels();

constexpr std::array<uint8_t, 64> make_type_by_levels() {
  std::array<uint8_t, 64> ids{};
  for (const PlantType& type : kPlantTypes) {
    const int index = kComponentLevel[type.key.r] * 16 + kComponentLevel[type.key.g] * 4 +
                      kComponentLevel[type.key.b];
    ids[static_cast<size_t>(index)] = static_cast<uint8_t>(type.id);
  }
  return ids;
}

inline constexpr std::array<uint8_t, 64> kTypeByLevels = make_type_by_levels();

}  // namespace detail

// The id of the type whose key colour is exactly (r, g, b), or 0 when there is none.
// Alpha plays no part: callers pass only the colour channels.
constexpr int match_plant_type(uint8_t r, uint8_t g, uint8_t b) {
  const int lr = detail::kComponentLevel[r];
  const int lg = detail::kComponentLevel[g];
  const int lb = detail::kComponentLevel[b];
  if ((lr | lg | lb) & detail::kNoLevel) return 0;
  return detail::kTypeByLevels[static_cast<size_t>(lr * 16 + lg * 4 + lb)];
}

constexpr int match_plant_type(Rgb colour) { return match_plant_type(colour.r, colour.g, colour.b); }

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_PLANT_TYPES_H_
