#include "plants/count_text.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace plantscatter {
namespace {

struct CountCase {
  std::string text;
  int64_t expected;
};

TEST(CountFromText, FollowsTheFieldRule) {
  const CountCase cases[] = {
      {"0", 0},
      {"", 0},
      {"   ", 0},
      {"\t \t", 0},
      {"40", 40},
      {"007", 7},
      {"12 5", 12},
      {"12a", 12},
      {"-3", -3},
      {"+3", 3},
      {"  \t42", 42},
      {"$1F", 31},
      {"$1f", 31},
      {"$ff", 255},
      {"$FFg", 255},
      {"%101", 5},
      {"%102", 2},
      {"- 5", 0},
      {"+ 5", 0},
      {"--5", 0},
      {"-+5", 0},
      {"+-5", 0},
      {"$", 0},
      {"%", 0},
      {"$-1", 0},
      {"-$10", -16},
      {"-%11", -3},
      {"x12", 0},
      {"5-3", 5},
      {" \n5", 0},  // only blanks and tabs are skipped
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", INT64_MIN},
      {"-9223372036854775808", INT64_MIN},
      {"18446744073709551615", -1},
      {"18446744073709551616", 0},  // 2^64 wraps to 0
      {"18446744073709551617", 1},
      {"$FFFFFFFFFFFFFFFF", -1},
      {"$10000000000000000", 0},
      {"%1" + std::string(64, '0'), 0},
      {"%1" + std::string(63, '0'), INT64_MIN},
      {"٣", 0},  // a digit of another script is no digit
  };
  for (const CountCase& c : cases) {
    EXPECT_EQ(count_from_text(c.text), c.expected) << "text: \"" << c.text << "\"";
  }
}

TEST(PlantCounts, TotalWrapsAround) {
  PlantCounts counts;
  counts[1] = 40;
  counts[7] = 25;
  EXPECT_EQ(counts.total(), 65);
  counts[3] = -70;
  EXPECT_EQ(counts.total(), -5);

  PlantCounts huge;
  huge[1] = INT64_MAX;
  huge[2] = 1;
  EXPECT_EQ(huge.total(), INT64_MIN);
}

}  // namespace
}  // namespace plantscatter
