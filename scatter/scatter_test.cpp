#include "scatter/scatter.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace plantscatter {
namespace {

Image make_image(uint32_t width, uint32_t height, Rgb fill = {200, 200, 200}) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgba.assign(static_cast<size_t>(width) * height * 4, 255);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) image.set_pixel(x, y, fill);
  }
  return image;
}

// A map with regions of several key colours and colours that match none (among them the
// legend's orange and the marker colour), with some transparent pixels.
Image make_mixed_map(uint32_t width, uint32_t height, uint64_t seed) {
  const Rgb palette[] = {plant_type(1).key, plant_type(2).key, plant_type(5).key,
                         plant_type(7).key, plant_type(8).key, plant_type(10).key,
                         {255, 132, 0},     {30, 30, 30},      {127, 127, 127},
                         {12, 200, 99}};
  Image image = make_image(width, height);
  Random rng(seed);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      image.set_pixel(x, y, palette[rng.below_or_equal(std::size(palette) - 1)]);
      if (rng.below_or_equal(9) == 0) image.row(y)[x * 4 + 3] = 0;
    }
  }
  return image;
}

std::map<int, uint64_t> key_pixel_counts(const Image& image) {
  std::map<int, uint64_t> counts;
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) ++counts[match_plant_type(image.pixel(x, y))];
  }
  return counts;
}

TEST(Scatter, TwoPixelMapTakesBothPixels) {
  Image image = make_image(2, 1, plant_type(2).key);
  PlantCounts counts;
  counts[2] = 2;
  for (uint64_t seed = 0; seed < 8; ++seed) {
    Random rng(seed);
    std::vector<PlantRecord> plants;
    std::string error;
    ASSERT_TRUE(scatter_image(image, counts, rng, &plants, &error)) << error;
    ASSERT_EQ(plants.size(), 2u);
    std::set<uint32_t> xs;
    for (const PlantRecord& p : plants) {
      EXPECT_EQ(p.y, 0u);
      EXPECT_EQ(p.type_id, 2);
      xs.insert(p.x);
    }
    EXPECT_EQ(xs, (std::set<uint32_t>{0, 1})) << "seed " << seed;
    Image marked = image;
    mark_plants(&marked, plants);
    EXPECT_EQ(marked.pixel(0, 0), kMarkerColour);
    EXPECT_EQ(marked.pixel(1, 0), kMarkerColour);
  }
}

TEST(Scatter, PlacesDistinctKeyColourPixelsGroupedByType) {
  // Large enough that the two-thread path runs too.
  struct Case {
    uint32_t width, height;
  };
  for (const Case& size : {Case{37, 23}, Case{1500, 1500}}) {
    const Image image = make_mixed_map(size.width, size.height, 3);
    const std::map<int, uint64_t> before = key_pixel_counts(image);
    PlantCounts counts;
    counts[1] = 50;
    counts[5] = 1;
    counts[7] = 20;
    counts[8] = static_cast<int64_t>(before.at(8));  // every pixel of the colour
    counts[10] = 3;
    Random rng(99);
    std::vector<PlantRecord> plants;
    std::string error;
    ASSERT_TRUE(scatter_image(image, counts, rng, &plants, &error)) << error;
    ASSERT_EQ(static_cast<int64_t>(plants.size()), counts.total());

    std::set<std::pair<uint32_t, uint32_t>> pixels;
    int previous_type = 0;
    std::map<int, int64_t> placed;
    for (const PlantRecord& p : plants) {
      ASSERT_LT(p.x, image.width);
      ASSERT_LT(p.y, image.height);
      EXPECT_EQ(match_plant_type(image.pixel(p.x, p.y)), p.type_id) << p.x << "," << p.y;
      EXPECT_GE(p.type_id, previous_type) << "types must come in ascending order";
      previous_type = p.type_id;
      EXPECT_TRUE(pixels.insert({p.x, p.y}).second) << "pixel chosen twice: " << p.x << "," << p.y;
      ++placed[p.type_id];
    }
    for (const PlantType& type : kPlantTypes) EXPECT_EQ(placed[type.id], counts[type.id]);

    Image marked = image;
    mark_plants(&marked, plants);
    const std::map<int, uint64_t> after = key_pixel_counts(marked);
    for (const PlantType& type : kPlantTypes) {
      const uint64_t had = before.count(type.id) ? before.at(type.id) : 0;
      const uint64_t has = after.count(type.id) ? after.at(type.id) : 0;
      EXPECT_EQ(had - has, static_cast<uint64_t>(counts[type.id])) << "type " << type.id;
    }
    uint64_t markers_before = 0, markers_after = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
      for (uint32_t x = 0; x < image.width; ++x) {
        markers_before += image.pixel(x, y) == kMarkerColour;
        markers_after += marked.pixel(x, y) == kMarkerColour;
      }
    }
    EXPECT_EQ(markers_after - markers_before, static_cast<uint64_t>(counts.total()));
  }
}

TEST(Scatter, RefusesShortTypesAndNegativeCounts) {
  // 3 x 2: two pixels of type 3, one of type 4, the rest match nothing.
  Image image = make_image(3, 2);
  image.set_pixel(0, 0, plant_type(3).key);
  image.set_pixel(2, 1, plant_type(3).key);
  image.set_pixel(1, 1, plant_type(4).key);

  struct Case {
    std::vector<std::pair<int, int64_t>> counts;
    std::vector<std::string> expected_in_message;
  };
  const Case cases[] = {
      {{{3, 3}}, {"plant 3: 3 requested, 2 pixels of its colour 255,0,255"}},
      {{{3, 2}, {6, 1}, {4, 5}},
       {"plant 4: 5 requested, 1 pixels", "plant 6: 1 requested, 0 pixels"}},
      {{{9, 1000000000000}}, {"plant 9: 1000000000000 requested, 0 pixels"}},
      {{{3, 1}, {2, -3}}, {"plant 2 is -3"}},
  };
  for (const Case& c : cases) {
    PlantCounts counts;
    for (const auto& [id, n] : c.counts) counts[id] = n;
    Random rng(1);
    std::vector<PlantRecord> plants{{9, 9, 9}};
    std::string error;
    EXPECT_FALSE(scatter_image(image, counts, rng, &plants, &error));
    for (const std::string& part : c.expected_in_message) {
      EXPECT_NE(error.find(part), std::string::npos) << "message: " << error << "\nwanted: " << part;
    }
    EXPECT_EQ(plants, (std::vector<PlantRecord>{{9, 9, 9}})) << "output touched on refusal";
  }
  // A short type is named even when other types are fine, and the types that are fine are not.
  PlantCounts counts;
  counts[3] = 2;
  counts[4] = 2;
  Random rng(1);
  std::vector<PlantRecord> plants;
  std::string error;
  EXPECT_FALSE(scatter_image(image, counts, rng, &plants, &error));
  EXPECT_EQ(error.find("plant 3"), std::string::npos) << error;
}

TEST(Scatter, EachOrderedPairIsEquallyLikely) {
  // Three pixels of type 6 (one transparent, which must not matter) among others; two plants.
  // All six ordered pairs must come up equally often over many seeds.
  Image image = make_image(4, 2, plant_type(7).key);
  image.set_pixel(1, 0, plant_type(6).key);
  image.set_pixel(3, 0, plant_type(6).key);
  image.set_pixel(0, 1, plant_type(6).key);
  image.row(1)[3] = 0;
  PlantCounts counts;
  counts[6] = 2;
  std::map<std::pair<uint32_t, uint32_t>, int> frequency;
  const int trials = 60000;
  for (int seed = 0; seed < trials; ++seed) {
    Random rng(static_cast<uint64_t>(seed));
    std::vector<PlantRecord> plants;
    std::string error;
    ASSERT_TRUE(scatter_image(image, counts, rng, &plants, &error)) << error;
    ASSERT_EQ(plants.size(), 2u);
    ++frequency[{plants[0].y * 4 + plants[0].x, plants[1].y * 4 + plants[1].x}];
  }
  ASSERT_EQ(frequency.size(), 6u);
  // Each pair's count is binomial with mean 10000 and standard deviation about 91; five
  // deviations is far beyond chance but well inside what a biased method would show.
  for (const auto& [pair, n] : frequency) {
    EXPECT_NEAR(n, trials / 6, 460) << pair.first << " then " << pair.second;
  }
}

TEST(Scatter, ResultDoesNotDependOnPixelOrder) {
  const Image image = make_mixed_map(61, 47, 5);
  PlantCounts counts;
  counts[1] = 30;
  counts[2] = 7;
  counts[10] = 12;

  Random whole_rng(2024);
  std::vector<PlantRecord> whole;
  std::string error;
  ASSERT_TRUE(scatter_image(image, counts, whole_rng, &whole, &error)) << error;

  // The same pixels bottom row first, in strided runs, split over two merged samplers.
  Random rng(2024);
  PlantSampler sampler(counts, rng);
  sampler.begin(image.width, image.height, 4);
  PlantSampler other = sampler.fork();
  for (uint32_t y = image.height; y-- > 0;) {
    PlantSampler& s = y % 3 ? sampler : other;
    const uint8_t* row = image.row(y);
    std::vector<uint8_t> odd, even;
    for (uint32_t x = 0; x < image.width; ++x) {
      (x % 2 ? odd : even).insert((x % 2 ? odd : even).end(), row + x * 4, row + x * 4 + 4);
    }
    s.pixels({y, 1, 2, image.width / 2, 4, odd.data()});
    s.pixels({y, 0, 2, (image.width + 1) / 2, 4, even.data()});
  }
  sampler.merge(std::move(other));
  std::vector<PlantRecord> reordered;
  ASSERT_TRUE(sampler.finish(&reordered, &error)) << error;
  EXPECT_EQ(reordered, whole);

  // Both consumed the same draws, so what follows (the export's draws) agrees too.
  EXPECT_EQ(rng.next(), whole_rng.next());
}

TEST(Scatter, CountedBoundsChangeNothingAndTooTightOnesAreDetected) {
  const Image image = make_mixed_map(97, 89, 21);
  PlantCounts counts;
  counts[1] = 400;
  counts[2] = 3;
  counts[8] = 90;
  std::array<uint64_t, kPlantTypeCount> available{};
  for (uint32_t y = 0; y < image.height; ++y) {
    PlantSampler::count_pixels({y, 0, 1, image.width, 4, image.row(y)}, &available);
  }
  EXPECT_EQ(PlantSampler::shortage_message(counts, available), "");

  auto run = [&](const std::array<uint64_t, kPlantTypeCount>* expected, bool* complete) {
    Random rng(31);
    PlantSampler sampler(counts, rng);
    sampler.begin(image.width, image.height, 4);
    if (expected) sampler.expect(*expected);
    for (uint32_t y = 0; y < image.height; ++y) {
      sampler.pixels({y, 0, 1, image.width, 4, image.row(y)});
    }
    *complete = sampler.complete();
    std::vector<PlantRecord> plants;
    std::string error;
    EXPECT_TRUE(sampler.finish(&plants, &error)) << error;
    return plants;
  };
  bool complete = false;
  const std::vector<PlantRecord> free_run = run(nullptr, &complete);
  EXPECT_TRUE(complete);
  const std::vector<PlantRecord> bounded_run = run(&available, &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(bounded_run, free_run);

  // Claiming a thousand times the pixels makes the bound far too tight: that must show.
  std::array<uint64_t, kPlantTypeCount> inflated = available;
  for (uint64_t& n : inflated) n *= 1000;
  run(&inflated, &complete);
  EXPECT_FALSE(complete);
}

TEST(Scatter, SeededResultIsPinned) {
  // The same map, counts and seed must give the same plants on every platform and build.
  // Changing this result changes every seeded export users may have kept.
  const Image image = make_mixed_map(16, 16, 11);
  PlantCounts counts;
  counts[1] = 2;
  counts[8] = 3;
  Random rng(12345);
  std::vector<PlantRecord> plants;
  std::string error;
  ASSERT_TRUE(scatter_image(image, counts, rng, &plants, &error)) << error;
  std::string text;
  for (const PlantRecord& p : plants) {
    text += std::to_string(p.type_id) + ":" + std::to_string(p.x) + "," + std::to_string(p.y) + " ";
  }
  EXPECT_EQ(text, "1:14,0 1:7,4 8:11,3 8:15,0 8:1,14 ");
}

}  // namespace
}  // namespace plantscatter
