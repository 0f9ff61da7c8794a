// Checks a rendered viewer scene against what its camera and lights must show: the colour of
// every plant's marker at the pixel under the plant, and the map square's colours.
//
// The expected colours are worked out here from the scene's own numbers (camera, the two
// lights, the finishes, the map's gamma), independently of POV-Ray, using POV-Ray's shading
// rules for the scene's pre-3.7 defaults (ambient 0.1, diffuse 0.6, no gamma correction).
// For the pixels probed they agree with POV-Ray 3.7 to within one unit of 255, so a marker
// of another type, a marker a fraction of its radius away, or a map shifted by a pixel shows
// as a mismatch. Shadows are not modelled: the points probed (the top of a marker, the map
// square's top face) are lit by both lights.
#ifndef PLANTSCATTER_TESTS_RENDER_PROBE_H_
#define PLANTSCATTER_TESTS_RENDER_PROBE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "plants/image.h"
#include "scatter/scatter.h"

namespace plantscatter::probe {

// The viewer scene's orthographic camera for a picture of `width` x `height` pixels: it looks
// straight down on the point x 1, z .45 from 1600 units above with a view angle of .075
// degrees, so the picture spans 2 * 1600 * tan(.075 / 2) scene units across; the right
// vector keeps pixels square. Picture columns run along +x and rows along -z.
struct Camera {
  uint32_t width = 0;
  uint32_t height = 0;

  double units_per_pixel() const;
  // The scene x and z seen through the centre of the pixel at `column`, `row`.
  double x_at(int column) const;
  double z_at(int row) const;
  // The pixel whose square holds scene point x, z; may lie outside the picture.
  int column_of(double x) const;
  int row_of(double z) const;
};

struct MarkerCheck {
  size_t plant = 0;  // index of the plant whose centre is probed
  int column = 0;    // the pixel under the plant's centre
  int row = 0;
  double x = 0;  // the scene point seen through that pixel's centre
  double z = 0;
  // The plant whose marker is on top at that pixel: the one whose centre lies nearest the
  // pixel's centre, since all markers are spheres of one size on one plane. It is `plant`
  // unless a neighbour's centre falls closer within the same pixel.
  size_t shown = 0;
  Rgb expected;
  Rgb found;
  bool matches = false;
};

// One check for every plant whose centre pixel lies inside the picture, in plant order. The
// plants are placed as the export places them: x / map_width, 1 - y / map_height.
std::vector<MarkerCheck> check_markers(const Image& render, std::span<const PlantRecord> plants,
                                       uint32_t map_width, uint32_t map_height);

struct MapCheck {
  int column = 0;
  int row = 0;
  uint32_t map_x = 0;  // the map pixel seen there
  uint32_t map_y = 0;
  Rgb expected;
  Rgb found;
  bool matches = false;
};

// Checks every `step`-th pixel in both directions that shows the map square where the map is
// one colour within two pixels around, so that the image map's interpolation and the
// pixel grid's coarseness cannot blur the colour.
std::vector<MapCheck> check_map_square(const Image& render, const Image& map, int step);

// For a failed check, e.g. "plant 12 (type 3) at pixel (210, 144): expected 118,0,118, found
// 0,116,0, the colour of a type 7 marker there".
std::string describe(const MarkerCheck& check, std::span<const PlantRecord> plants,
                     uint32_t map_width, uint32_t map_height);
std::string describe(const MapCheck& check);

}  // namespace plantscatter::probe

#endif  // PLANTSCATTER_TESTS_RENDER_PROBE_H_
