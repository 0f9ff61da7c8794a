#include "cli/cli.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace plantscatter {
namespace {

std::vector<std::string_view> split(const std::string& line) {
  static std::vector<std::string> storage;  // keeps the words alive for the views
  storage.clear();
  std::string word;
  for (char c : line + " ") {
    if (c == ' ') {
      if (!word.empty()) storage.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return {storage.begin(), storage.end()};
}

TEST(ParseCliArgs, AcceptsWellFormedCommands) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(parse_cli_args(split("map.png --count 1=40 -c 7=25 --seed 18446744073709551615 "
                                   "--output=out.inc --marked-map m.png --max-pixels 100 -q"),
                             &options, &error))
      << error;
  EXPECT_EQ(options.map, "map.png");
  EXPECT_EQ(options.counts[1], 40);
  EXPECT_EQ(options.counts[7], 25);
  EXPECT_EQ(options.counts.total(), 65);
  ASSERT_TRUE(options.seed.has_value());
  EXPECT_EQ(*options.seed, UINT64_MAX);
  EXPECT_EQ(options.output, "out.inc");
  EXPECT_EQ(options.marked_map, "m.png");
  EXPECT_EQ(options.limits.max_pixels, 100u);
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(options.pov_version, PovVersion::k38) << "3.8 unless asked otherwise";

  const struct {
    const char* line;
    PovVersion version;
  } versions[] = {
      {"m.png --pov-version 3.7", PovVersion::k37},
      {"m.png --pov-version=3.7", PovVersion::k37},
      {"m.png --pov-version 3.8", PovVersion::k38},
      {"--pov-version=3.8 m.png", PovVersion::k38},
      {"m.png --pov-version 3.8 --pov-version 3.7", PovVersion::k37},  // the last one counts
  };
  for (const auto& c : versions) {
    ASSERT_TRUE(parse_cli_args(split(c.line), &options, &error)) << c.line << ": " << error;
    EXPECT_EQ(options.pov_version, c.version) << c.line;
  }

  ASSERT_TRUE(parse_cli_args(split("--count=10=0 -- -odd.png"), &options, &error)) << error;
  EXPECT_EQ(options.map, "-odd.png");
  EXPECT_FALSE(options.seed.has_value());

  // A negative count parses; refusing it is the core's business, with a clear message.
  ASSERT_TRUE(parse_cli_args(split("m.png --count 3=-2"), &options, &error)) << error;
  EXPECT_EQ(options.counts[3], -2);

  ASSERT_TRUE(parse_cli_args(split("--help"), &options, &error)) << error;
  EXPECT_TRUE(options.help);
}

TEST(ParseCliArgs, RefusesMalformedCommands) {
  struct Case {
    std::string line;
    std::string expected_in_error;
  };
  const Case cases[] = {
      {"", "no map given"},
      {"--count 1=5", "no map given"},
      {"a.png b.png", "one too many"},
      {"m.png --count", "--count needs a value"},
      {"m.png --count 11=5", "TYPE from 1 to 10"},
      {"m.png --count 0=5", "TYPE from 1 to 10"},
      {"m.png --count x=5", "TYPE from 1 to 10"},
      {"m.png --count 5", "TYPE from 1 to 10"},
      {"m.png --count 1=", "not a whole number"},
      {"m.png --count 1=$1F", "not a whole number"},
      {"m.png --count 1=12a", "not a whole number"},
      {"m.png --count 1=+5", "not a whole number"},
      {"m.png --count 1=99999999999999999999", "not a whole number"},
      {"m.png --count 1=5 --count 1=6", "given twice"},
      {"m.png --seed -1", "--seed takes"},
      {"m.png --seed 18446744073709551616", "--seed takes"},
      {"m.png --seed abc", "--seed takes"},
      {"m.png --max-pixels 0", "--max-pixels takes"},
      {"m.png --output=", "--output needs a file name"},
      {"m.png --quiet=yes", "--quiet takes no value"},
      {"m.png --pov-version", "--pov-version needs a value"},
      {"m.png --pov-version=", "--pov-version takes 3.7 or 3.8, not ''"},
      {"m.png --pov-version 3.6", "--pov-version takes 3.7 or 3.8, not '3.6'"},
      {"m.png --pov-version 3.70", "not '3.70'"},
      {"m.png --pov-version 3", "not '3'"},
      {"m.png --pov-version v3.7", "not 'v3.7'"},
      {"m.png --frobnicate", "unknown option '--frobnicate'"},
      {"m.png -x", "unknown option '-x'"},
  };
  for (const Case& c : cases) {
    CliOptions options;
    std::string error;
    EXPECT_FALSE(parse_cli_args(split(c.line), &options, &error)) << c.line;
    EXPECT_NE(error.find(c.expected_in_error), std::string::npos)
        << "command: " << c.line << "\nerror: " << error;
  }
}

}  // namespace
}  // namespace plantscatter
