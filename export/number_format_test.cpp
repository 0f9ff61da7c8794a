#include "export/number_format.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "scatter/random.h"

namespace plantscatter {
namespace {

TEST(IntText, PlainDecimal) {
  const struct {
    int64_t value;
    const char* expected;
  } cases[] = {
      {0, "0"},
      {7, "7"},
      {10, "10"},
      {1377, "1377"},
      {-1, "-1"},
      {-100, "-100"},
      {std::numeric_limits<int64_t>::max(), "9223372036854775807"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
  };
  for (const auto& c : cases) EXPECT_EQ(int_text(c.value), c.expected) << c.value;
}

TEST(FixedText, ExamplesOfTheExportFormat) {
  const struct {
    float value;
    int decimals;
    const char* expected;
  } cases[] = {
      // Normalized map positions: computed in double, rounded to float, 6 decimals.
      {static_cast<float>(120.0 / 2000.0), 6, "0.060000"},
      {static_cast<float>(1.0 - 123.0 / 1500.0), 6, "0.918000"},
      {static_cast<float>(27.0 / 29.0), 6, "0.931035"},        // double alone would give 0.931034
      {static_cast<float>(1.0 / 128.0), 6, "0.007812"},        // exact half, down to even
      {static_cast<float>(1.0 - 1.0 / 128.0), 6, "0.992188"},  // exact half, up to even
      {0.0f, 6, "0.000000"},
      {1.0f, 6, "1.000000"},
      // Rotations and scales.
      {137.0f, 2, "137.00"},
      {0.0f, 2, "0.00"},
      {360.0f, 2, "360.00"},
      {80.0f / 100.0f, 4, "0.8000"},
      {81.0f / 100.0f, 4, "0.8100"},
      {99.0f / 100.0f, 4, "0.9900"},
      {115.0f / 100.0f, 4, "1.1500"},
      {120.0f / 100.0f, 4, "1.2000"},
      // Signs: none on zero, whichever side it was rounded from.
      {-0.0f, 2, "0.00"},
      {-0.001f, 2, "0.00"},
      {-1.5f, 2, "-1.50"},
      // No decimals: no point, ties to even.
      {2.5f, 0, "2"},
      {3.5f, 0, "4"},
      {0.5f, 0, "0"},
      // The smallest subnormal and a large integer.
      {std::numeric_limits<float>::denorm_min(), 9, "0.000000000"},
      {16777216.0f, 2, "16777216.00"},
      {1e10f, 0, "10000000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fixed_text(c.value, c.decimals), c.expected)
        << c.value << " with " << c.decimals << " decimals";
  }
}

// glibc prints a double's exact binary value correctly rounded, halves to even: for the
// float's value widened to double that is exactly the required text, except that it keeps a
// "-" on a value that rounds to zero.
std::string reference_text(float value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, static_cast<double>(value));
  std::string text = buffer;
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

std::string describe(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.9g (bits 0x%08x)", static_cast<double>(value), bits);
  return buffer;
}

TEST(FixedText, MatchesCorrectlyRoundedPrintingOfTheFloat) {
  // Every 2003rd float from 0 to 1 (about half a million values), at every count of decimals
  // that the exports use and at the extremes.
  const uint32_t one_bits = 0x3f800000;
  for (uint32_t bits = 0; bits <= one_bits; bits += 2003) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    for (int decimals : {0, 2, 4, 6, 9}) {
      ASSERT_EQ(fixed_text(value, decimals), reference_text(value, decimals))
          << describe(value) << " with " << decimals << " decimals";
    }
  }
  // Random floats in the ranges of rotations and scales, of either sign, and quotients like
  // the normalized positions.
  Random rng(20240611);
  for (int i = 0; i < 50000; ++i) {
    const float rotation = static_cast<float>(rng.in_range(-360000000, 360000000)) / 1e6f;
    const float scale = static_cast<float>(rng.in_range(0, 1 << 24)) / float(1 << 23);
    const int64_t size = rng.in_range(1, 100000);
    const float quotient = static_cast<float>(static_cast<double>(rng.in_range(0, size - 1)) /
                                              static_cast<double>(size));
    for (int decimals = 0; decimals <= 9; ++decimals) {
      for (float value : {rotation, scale, quotient}) {
        ASSERT_EQ(fixed_text(value, decimals), reference_text(value, decimals))
            << describe(value) << " with " << decimals << " decimals";
      }
    }
  }
}

}  // namespace
}  // namespace plantscatter
