#include "plants/png_encode.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "plants/png_decode.h"
#include "plants/png_fixtures.h"
#include "plants/utf8_path.h"

namespace plantscatter {
namespace {

Image gradient(uint32_t width, uint32_t height, bool opaque) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgba.resize(size_t{width} * height * 4);
  for (size_t i = 0; i < image.rgba.size(); ++i) {
    image.rgba[i] = static_cast<uint8_t>(i % 4 == 3 && opaque ? 255 : i * 37 + i / 251);
  }
  return image;
}

// The colour type byte of IHDR: 2 for RGB, 6 for RGBA.
int colour_type(const std::vector<uint8_t>& png) {
  const size_t ihdr = fixtures::find_chunk(png, "IHDR");
  return ihdr == fixtures::kNoChunk ? -1 : png[fixtures::chunk_data(png, ihdr) + 9];
}

TEST(PngEncode, RoundTripsAndDropsAlphaOnlyWhenEveryPixelIsOpaque) {
  struct Case {
    Image image;
    int colour_type;
  };
  Image one_clear = gradient(300, 7, true);
  one_clear.rgba[one_clear.rgba.size() - 1] = 254;
  const Case cases[] = {
      {gradient(300, 7, false), 6},
      {gradient(300, 7, true), 2},
      {one_clear, 6},
      {gradient(1, 1, true), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image.width);
    std::vector<uint8_t> png;
    std::string error;
    ASSERT_TRUE(encode_png_memory(c.image, &png, &error)) << error;
    EXPECT_EQ(colour_type(png), c.colour_type);
    Image decoded;
    ASSERT_TRUE(decode_png_memory(png, &decoded, &error)) << error;
    EXPECT_EQ(decoded.width, c.image.width);
    EXPECT_EQ(decoded.height, c.image.height);
    EXPECT_EQ(decoded.rgba, c.image.rgba);
  }
}

TEST(PngEncode, RefusesPicturesWithoutMatchingPixels) {
  Image empty;
  Image short_data = gradient(4, 4, true);
  short_data.rgba.pop_back();
  const std::pair<const Image*, std::string> cases[] = {
      {&empty, "the picture is empty"},
      {&short_data, "the picture's pixel data does not match its size"},
  };
  fixtures::ScratchFolder folder;
  for (const auto& [image, problem] : cases) {
    std::vector<uint8_t> out = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(encode_png_memory(*image, &out, &error));
    EXPECT_EQ(error, "cannot encode the picture: " + problem);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));

    const std::filesystem::path file = folder.path() / "out.png";
    EXPECT_FALSE(encode_png_file(*image, file, &error));
    EXPECT_EQ(error, "cannot write " + utf8_from_path(file) + ": " + problem);
    EXPECT_FALSE(std::filesystem::exists(file));
  }
}

TEST(PngEncodeFile, WritesAndReplacesFilesByUnicodePath) {
  fixtures::ScratchFolder folder;
  const std::filesystem::path file = folder.path() / path_from_utf8("карта ü 地図_marked.png");
  std::string error;
  ASSERT_TRUE(encode_png_file(gradient(64, 64, false), file, &error)) << error;
  const Image smaller = gradient(5, 3, true);
  ASSERT_TRUE(encode_png_file(smaller, file, &error)) << error;
  Image decoded;
  ASSERT_TRUE(decode_png_file(file, &decoded, &error)) << error;
  EXPECT_EQ(decoded.width, 5u);
  EXPECT_EQ(decoded.rgba, smaller.rgba);

  const std::filesystem::path nowhere = folder.path() / "missing folder" / "map.png";
  EXPECT_FALSE(encode_png_file(smaller, nowhere, &error));
  EXPECT_EQ(error, "cannot create " + utf8_from_path(nowhere) + ": " +
                       std::generic_category().message(ENOENT));
}

}  // namespace
}  // namespace plantscatter
