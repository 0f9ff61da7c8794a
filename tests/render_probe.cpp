#include "tests/render_probe.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "plants/plant_types.h"

namespace plantscatter::probe {

namespace {

// A colour channel may differ by this much from the worked-out value: POV-Ray rounds its
// own arithmetic differently, by one unit at most in the calibration renders.
constexpr int kTolerance = 3;

constexpr double kMarkerRadius = 0.01;
constexpr double kMapLeft = 1.02;  // the map square spans x from 1.02 to 2.02, z from 0 to 1
constexpr double kMapTop = 0.5;    // height of its top face
constexpr double kMapGamma = 1.8;  // the gamma the scene gives the map's image

// The scene's default finish before POV-Ray 3.7, which applies to a scene without #version.
constexpr double kAmbient = 0.1;
constexpr double kDiffuse = 0.6;
constexpr double kPhongSize = 40;

struct Vec3 {
  double x, y, z;
};

Vec3 operator-(Vec3 a, Vec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double dot(Vec3 a, Vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
double length(Vec3 a) {
  return std::sqrt(dot(a, a));
}
Vec3 scaled(Vec3 a, double k) {
  return {a.x * k, a.y * k, a.z * k};
}

// The scene's two parallel lights.
struct Light {
  Vec3 position;
  Vec3 point_at;
  std::array<double, 3> colour;
  double fade_distance;
  double fade_power;
};

constexpr Light kLights[] = {
    {{5, 5, -10}, {.5, 0, .5}, {1, .98, .97}, 30, 1},
    {{-10, 2, 20}, {.5, 0, .5}, {.5, .5, .5}, 20, 1},
};

// The colour POV-Ray gives `point` with surface `normal` and `pigment`, seen from straight
// above: ambient and emission, then for each light diffuse and phong, each weakened by the
// light's fade, 2 / (1 + (distance / fade_distance) ^ fade_power). A parallel light shines
// from its position towards its point_at everywhere; the fade still counts the distance
// from its position.
Rgb shade(Vec3 point, Vec3 normal, const std::array<double, 3>& pigment, double emission,
          double phong) {
  const Vec3 view{0, -1, 0};
  const Vec3 reflected = view - scaled(normal, 2 * dot(view, normal));
  std::array<double, 3> value{};
  for (int c = 0; c < 3; ++c) value[c] = pigment[c] * (emission + kAmbient);
  for (const Light& light : kLights) {
    const Vec3 towards = light.position - light.point_at;
    const Vec3 to_light = scaled(towards, 1 / length(towards));
    const double fade =
        2 / (1 + std::pow(length(light.position - point) / light.fade_distance, light.fade_power));
    const double lit = dot(normal, to_light);
    if (lit <= 0) continue;
    const double cos_highlight = dot(reflected, to_light);
    const double highlight =
        phong > 0 && cos_highlight > 0 ? phong * std::pow(cos_highlight, kPhongSize) : 0;
    for (int c = 0; c < 3; ++c) {
      value[c] += fade * light.colour[c] * (kDiffuse * lit * pigment[c] + highlight);
    }
  }
  auto byte = [](double v) {
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
  };
  return {byte(value[0]), byte(value[1]), byte(value[2])};
}

int difference(Rgb a, Rgb b) {
  return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

std::string rgb_text(Rgb c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

struct Centre {
  double x, z;
};

Centre centre_of(const PlantRecord& plant, uint32_t map_width, uint32_t map_height) {
  return {static_cast<double>(plant.x) / map_width,
          1.0 - static_cast<double>(plant.y) / map_height};
}

// The marker colour of a plant of `type_id` whose centre is `centre`, at the point of its
// surface seen through the centre of the pixel at `x`, `z`; black if the pixel misses it.
Rgb marker_colour(int type_id, Centre centre, double x, double z) {
  const double dx = x - centre.x;
  const double dz = z - centre.z;
  const double height_squared = kMarkerRadius * kMarkerRadius - dx * dx - dz * dz;
  if (height_squared < 0) return {};
  const double height = std::sqrt(height_squared);
  const Vec3 normal{dx / kMarkerRadius, height / kMarkerRadius, dz / kMarkerRadius};
  return shade({x, height, z}, normal, plant_type(type_id).scene_rgb, 0, 1);
}

// The plants bucketed by squares of one marker diameter, so that the markers that can cover
// a point are found among the plants of nine buckets.
class MarkerGrid {
 public:
  MarkerGrid(std::span<const PlantRecord> plants, uint32_t map_width, uint32_t map_height)
      : buckets_(kCells * kCells) {
    centres_.reserve(plants.size());
    for (size_t i = 0; i < plants.size(); ++i) {
      centres_.push_back(centre_of(plants[i], map_width, map_height));
      buckets_[cell(centres_[i].x) * kCells + cell(centres_[i].z)].push_back(i);
    }
  }

  const Centre& centre(size_t plant) const { return centres_[plant]; }

  // The plant whose marker is on top at x, z: the nearest centre within a radius (equal
  // spheres on one plane), or `fallback` if none reaches.
  size_t on_top(double x, double z, size_t fallback) const {
    size_t best = fallback;
    double best_distance = kMarkerRadius * kMarkerRadius;
    const int cx = cell(x), cz = cell(z);
    for (int i = std::max(cx - 1, 0); i <= std::min(cx + 1, kCells - 1); ++i) {
      for (int k = std::max(cz - 1, 0); k <= std::min(cz + 1, kCells - 1); ++k) {
        for (size_t plant : buckets_[i * kCells + k]) {
          const double dx = x - centres_[plant].x, dz = z - centres_[plant].z;
          const double distance = dx * dx + dz * dz;
          if (distance < best_distance || (distance == best_distance && plant < best)) {
            best = plant;
            best_distance = distance;
          }
        }
      }
    }
    return best;
  }

 private:
  static constexpr int kCells = static_cast<int>(1 / (2 * kMarkerRadius)) + 1;
  static int cell(double v) {
    return std::clamp(static_cast<int>(std::floor(v * (kCells - 1))), 0, kCells - 1);
  }

  std::vector<Centre> centres_;
  std::vector<std::vector<size_t>> buckets_;
};

}  // namespace

double Camera::units_per_pixel() const {
  const double angle = .075 * std::numbers::pi / 180;
  return 2 * 1600 * std::tan(angle / 2) / width;
}

double Camera::x_at(int column) const {
  return 1 + (column + 0.5 - width / 2.0) * units_per_pixel();
}

double Camera::z_at(int row) const {
  return .45 - (row + 0.5 - height / 2.0) * units_per_pixel();
}

int Camera::column_of(double x) const {
  return static_cast<int>(std::floor((x - 1) / units_per_pixel() + width / 2.0));
}

int Camera::row_of(double z) const {
  return static_cast<int>(std::floor(height / 2.0 - (z - .45) / units_per_pixel()));
}

std::vector<MarkerCheck> check_markers(const Image& render, std::span<const PlantRecord> plants,
                                       uint32_t map_width, uint32_t map_height) {
  const Camera camera{render.width, render.height};
  const MarkerGrid grid(plants, map_width, map_height);
  std::vector<MarkerCheck> checks;
  for (size_t i = 0; i < plants.size(); ++i) {
    MarkerCheck check;
    check.plant = i;
    check.column = camera.column_of(grid.centre(i).x);
    check.row = camera.row_of(grid.centre(i).z);
    if (check.column < 0 || check.row < 0 || check.column >= static_cast<int>(render.width) ||
        check.row >= static_cast<int>(render.height)) {
      continue;
    }
    check.x = camera.x_at(check.column);
    check.z = camera.z_at(check.row);
    check.shown = grid.on_top(check.x, check.z, i);
    check.expected =
        marker_colour(plants[check.shown].type_id, grid.centre(check.shown), check.x, check.z);
    check.found =
        render.pixel(static_cast<uint32_t>(check.column), static_cast<uint32_t>(check.row));
    check.matches = difference(check.expected, check.found) <= kTolerance;
    checks.push_back(check);
  }
  return checks;
}

std::vector<MapCheck> check_map_square(const Image& render, const Image& map, int step) {
  const Camera camera{render.width, render.height};
  std::vector<MapCheck> checks;
  for (int row = 0; row < static_cast<int>(render.height); row += step) {
    for (int column = 0; column < static_cast<int>(render.width); column += step) {
      const double x = camera.x_at(column), z = camera.z_at(row);
      const double u = x - kMapLeft, v = z;
      if (u <= 0 || u >= 1 || v <= 0 || v >= 1) continue;
      const int64_t mx = static_cast<int64_t>(std::floor(u * map.width));
      const int64_t my = static_cast<int64_t>(std::floor((1 - v) * map.height));
      // The image map repeats, so its interpolation blends the edges with the far side.
      if (mx < 2 || my < 2 || mx + 2 >= map.width || my + 2 >= map.height) continue;
      const Rgb colour = map.pixel(static_cast<uint32_t>(mx), static_cast<uint32_t>(my));
      bool uniform = true;
      for (int64_t y = my - 2; y <= my + 2 && uniform; ++y) {
        for (int64_t x2 = mx - 2; x2 <= mx + 2 && uniform; ++x2) {
          const auto px = static_cast<uint32_t>(x2), py = static_cast<uint32_t>(y);
          uniform = map.pixel(px, py) == colour && map.alpha(px, py) == 255;
        }
      }
      if (!uniform) continue;
      const std::array<double, 3> pigment = {std::pow(colour.r / 255.0, kMapGamma),
                                             std::pow(colour.g / 255.0, kMapGamma),
                                             std::pow(colour.b / 255.0, kMapGamma)};
      MapCheck check;
      check.column = column;
      check.row = row;
      check.map_x = static_cast<uint32_t>(mx);
      check.map_y = static_cast<uint32_t>(my);
      check.expected = shade({x, kMapTop, z}, {0, 1, 0}, pigment, 1, 0);
      check.found = render.pixel(static_cast<uint32_t>(column), static_cast<uint32_t>(row));
      check.matches = difference(check.expected, check.found) <= kTolerance;
      checks.push_back(check);
    }
  }
  return checks;
}

std::string describe(const MarkerCheck& check, std::span<const PlantRecord> plants,
                     uint32_t map_width, uint32_t map_height) {
  std::string text = "plant " + std::to_string(check.plant + 1) + " (type " +
                     std::to_string(plants[check.plant].type_id) + ")";
  if (check.shown != check.plant) {
    text += ", under plant " + std::to_string(check.shown + 1) + " (type " +
            std::to_string(plants[check.shown].type_id) + "),";
  }
  text += " at pixel (" + std::to_string(check.column) + ", " + std::to_string(check.row) +
          "): expected " + rgb_text(check.expected) + ", found " + rgb_text(check.found);
  // Which type's marker would look like what was found, if any.
  const Centre centre = centre_of(plants[check.shown], map_width, map_height);
  for (const PlantType& type : kPlantTypes) {
    if (difference(marker_colour(type.id, centre, check.x, check.z), check.found) <= kTolerance) {
      return text + ", the colour of a type " + std::to_string(type.id) + " marker there";
    }
  }
  return text + ", which no marker centred there has";
}

std::string describe(const MapCheck& check) {
  return "map pixel (" + std::to_string(check.map_x) + ", " + std::to_string(check.map_y) +
         ") at picture pixel (" + std::to_string(check.column) + ", " + std::to_string(check.row) +
         "): expected " + rgb_text(check.expected) + ", found " + rgb_text(check.found);
}

}  // namespace plantscatter::probe
