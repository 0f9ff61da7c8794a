// Writes the fuzzers' seed corpus: a PNG of every kind the format allows (from the test
// fixtures) plus a few damaged ones, count texts, export inputs and argument lists.
//
//   make_fuzz_corpus fuzz/corpus
//
// The output is committed; run this again only when the fixtures change.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "plants/big_endian.h"
#include "plants/png_fixtures.h"

namespace {

namespace fs = std::filesystem;
using plantscatter::fixtures::ColourType;

bool write(const fs::path& file, std::string_view bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool write(const fs::path& file, const std::vector<uint8_t>& bytes) {
  return write(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A 4 x 4 RGB picture whose image data inflates to far more than its rows need.
std::vector<uint8_t> excess_data_png() {
  namespace fx = plantscatter::fixtures;
  std::vector<uint8_t> png =
      fx::write_png(fx::random_picture(ColourType::kRgb, 8, 4, 4, false, false, 9));
  std::vector<uint8_t> raw(4 * (1 + 4 * 3) + 4096, 0);
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packed_size);
  compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 9);
  const size_t idat = fx::find_chunk(png, "IDAT");
  const size_t end = idat + 12 + fx::chunk_length(png, idat);
  std::vector<uint8_t> out(png.begin(), png.begin() + static_cast<ptrdiff_t>(idat) + 8);
  plantscatter::write_be32(out.data() + idat, static_cast<uint32_t>(packed_size));
  out.insert(out.end(), packed.begin(), packed.begin() + static_cast<ptrdiff_t>(packed_size));
  out.resize(out.size() + 4);
  out.insert(out.end(), png.begin() + static_cast<ptrdiff_t>(end), png.end());
  fx::update_crc(out, idat);
  return out;
}

// An argument list as the harness reads it: words separated by NUL bytes.
std::string words(std::initializer_list<std::string_view> list) {
  std::string joined;
  for (std::string_view word : list) {
    if (!joined.empty()) joined += '\0';
    joined += word;
  }
  return joined;
}

// An export input as the harness reads it: the map path first (a backslash doubled, a
// backslash and another character to end it), then bytes the numbers are taken from.
std::string export_input(std::string_view path, uint8_t fill) {
  std::string bytes;
  for (char c : path) {
    bytes += c;
    if (c == '\\') bytes += '\\';
  }
  bytes += "\\e";
  for (int i = 0; i < 96; ++i) bytes += static_cast<char>(fill + i * 37);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fx = plantscatter::fixtures;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
    return 2;
  }
  const fs::path root = argv[1];
  bool ok = true;

  const fs::path png = root / "png_decode";
  for (const fx::NamedPicture& named : fx::every_kind()) {
    ok = ok && write(png / (named.name + ".png"), fx::write_png(named.picture));
  }
  // Interlaced pictures so small that some of their passes are empty.
  const uint32_t tiny_sizes[][2] = {{1, 1}, {2, 3}, {3, 1}, {1, 6}, {5, 2}};
  for (const auto& size : tiny_sizes) {
    const std::string name =
        "tiny_interlaced_" + std::to_string(size[0]) + "x" + std::to_string(size[1]);
    ok = ok && write(png / (name + ".png"),
                     fx::write_png(fx::random_picture(ColourType::kRgb, 8, size[0], size[1], true,
                                                      false, size[0] * 7 + size[1])));
    ok = ok && write(png / (name + "_palette.png"),
                     fx::write_png(fx::random_picture(ColourType::kPalette, 2, size[0], size[1],
                                                      true, true, size[0] * 5 + size[1])));
  }
  std::vector<uint8_t> huge = fx::write_png(fx::every_kind().front().picture);
  fx::set_header_size(huge, 100000, 100000);
  ok = ok && write(png / "forged_header.png", huge);
  ok = ok && write(png / "excess_image_data.png", excess_data_png());

  const fs::path count = root / "count_text";
  const std::string_view texts[] = {
      "0",
      "40",
      "007",
      "12 5",
      "-3",
      "+3",
      "$1F",
      "%101",
      "  \t42",
      "18446744073709551616",
      "$FFFFFFFFFFFFFFFF",
      "1\n2\n3\n4\n5\n6\n7\n8\n9\n10",
  };
  int n = 0;
  for (std::string_view text : texts)
    ok = ok && write(count / ("text" + std::to_string(n++)), text);

  const fs::path exports = root / "export_writer";
  const std::string_view paths[] = {
      "C:\\maps\\forest.png", "/maps/a.b.png", "/karten/wald\xc3\xa9.png",
      "/maps/say \"hi\".png", "/maps/.png",    "/maps/a\n#declare x = 1;\n.png",
  };
  n = 0;
  for (std::string_view path : paths) {
    ok = ok && write(exports / ("input" + std::to_string(n)),
                     export_input(path, static_cast<uint8_t>(n * 11)));
    ++n;
  }

  const fs::path cli = root / "cli_args";
  const std::string lines[] = {
      words({"map.png", "--count", "1=40", "-c", "7=25", "--seed", "5"}),
      words({"map.png", "--count=2=3", "--output=out.inc", "--marked-map", "m.png", "-q"}),
      words({"map.png", "-c", "3=-2", "--max-pixels", "1000"}),
      words({"--help"}),
      words({"--", "-odd.png", "-c", "10=1"}),
      words({"a.png", "b.png"}),
      words({"m.png", "--seed", "18446744073709551616"}),
      words({"m.png", "-c", "1=1", "--pov-version", "3.7"}),
      words({"m.png", "-c", "1=1", "--pov-version=3.8"}),
  };
  n = 0;
  for (const std::string& line : lines)
    ok = ok && write(cli / ("args" + std::to_string(n++)), line);

  if (!ok) {
    std::fprintf(stderr, "make_fuzz_corpus: cannot write under %s\n", root.string().c_str());
    return 1;
  }
  return 0;
}
