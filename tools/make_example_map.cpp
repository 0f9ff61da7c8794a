// Paints the bundled example plant map: a small valley with a lake, meadows, woods, scrub and
// bare rock in the plant types' key colours, plus a road, water, rock, snow and a patch of the
// legend's orange, none of which match a type. Deterministic: the same file on every run.
//
//   make_example_map OUTPUT.png [WIDTH HEIGHT]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "plants/image.h"
#include "plants/plant_types.h"
#include "plants/png_encode.h"

namespace {

using plantscatter::Rgb;

double lattice(int x, int y, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
               seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return (h & 0xffffff) / double(0xffffff);
}

double smooth_noise(double x, double y, uint32_t seed) {
  const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  const double fx = x - x0, fy = y - y0;
  const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  const double top = lattice(x0, y0, seed) * (1 - sx) + lattice(x0 + 1, y0, seed) * sx;
  const double bottom = lattice(x0, y0 + 1, seed) * (1 - sx) + lattice(x0 + 1, y0 + 1, seed) * sx;
  return top * (1 - sy) + bottom * sy;
}

double fractal(double x, double y, uint32_t seed) {
  double sum = 0, amplitude = 0.5, frequency = 1, norm = 0;
  for (int octave = 0; octave < 5; ++octave) {
    sum += amplitude * smooth_noise(x * frequency, y * frequency, seed + octave);
    norm += amplitude;
    amplitude *= 0.5;
    frequency *= 2;
  }
  return sum / norm;
}

Rgb key(int id) { return plantscatter::plant_type(id).key; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [WIDTH HEIGHT]\n", argv[0]);
    return 2;
  }
  const uint32_t width = argc == 4 ? static_cast<uint32_t>(std::atoi(argv[2])) : 512;
  const uint32_t height = argc == 4 ? static_cast<uint32_t>(std::atoi(argv[3])) : 384;
  plantscatter::Image image;
  image.width = width;
  image.height = height;
  image.rgba.assign(static_cast<size_t>(width) * height * 4, 255);

  const double scale = 6.0 / width;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      // A valley running down the middle: low in the centre, rising to both sides.
      const double across = (x / double(width) - 0.5) * 2;
      const double elevation =
          0.55 * fractal(x * scale, y * scale, 1) + 0.45 * std::min(1.0, across * across * 1.3);
      const double moisture = fractal(x * scale * 1.7, y * scale * 1.7, 7);
      const double flowers = fractal(x * scale * 5, y * scale * 5, 13);

      Rgb c;
      if (elevation < 0.26) {
        c = {40, 90, 200};  // lake
      } else if (elevation < 0.29) {
        c = key(1);  // reeds on the shore
      } else if (elevation < 0.50) {
        if (flowers > 0.72) {
          c = key(3);  // flower patches
        } else if (flowers < 0.22) {
          c = key(6);  // dry grass
        } else {
          c = moisture > 0.58 ? key(2) : key(7);  // ferns in the damp, grass elsewhere
        }
      } else if (elevation < 0.64) {
        c = moisture > 0.5 ? key(4) : key(5);  // broadleaf and conifer woods
      } else if (elevation < 0.74) {
        c = moisture > 0.62 ? key(8) : key(9);  // burnt ground and scrub
      } else if (elevation < 0.80) {
        c = key(10);  // scree
      } else if (elevation < 0.88) {
        c = {150, 140, 130};  // bare rock
      } else {
        c = {250, 250, 250};  // snow
      }

      // A winding road along the valley floor, and a field painted in the legend's orange,
      // which is no key colour.
      const double road_x = 0.5 * width + 0.12 * width * std::sin(y * 0.02);
      if (std::abs(x - road_x) < 3) c = {190, 170, 120};
      if (x > width * 0.08 && x < width * 0.16 && y > height * 0.78 && y < height * 0.9) {
        c = {255, 132, 0};
      }
      image.set_pixel(x, y, c);
    }
  }

  std::string error;
  if (!plantscatter::encode_png_file(image, argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
