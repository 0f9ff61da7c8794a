#include "export/number_format.h"

#include <cassert>
#include <cstring>

namespace plantscatter {

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint64_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                     100000, 1000000, 10000000, 100000000, 1000000000};

char* format_unsigned(char* out, uint64_t value) {
  char buffer[20];
  char* p = buffer + sizeof buffer;
  while (value >= 100) {
    const unsigned pair = static_cast<unsigned>(value % 100) * 2;
    value /= 100;
    p -= 2;
    std::memcpy(p, kDigitPairs + pair, 2);
  }
  if (value >= 10) {
    p -= 2;
    std::memcpy(p, kDigitPairs + value * 2, 2);
  } else {
    *--p = static_cast<char>('0' + value);
  }
  const size_t length = static_cast<size_t>(buffer + sizeof buffer - p);
  std::memcpy(out, p, length);
  return out + length;
}

// |value| * 10^kDecimals, rounded to the nearest integer with ties to even. The float is
// taken apart into an integer significand m and a power of two, |value| = m * 2^e, so the
// product is exact: m < 2^24 and 10^9 < 2^30 keep m * 10^kDecimals below 2^54.
template <int kDecimals>
uint64_t scaled_magnitude(uint32_t bits) {
  constexpr uint64_t kScale = kPowersOfTen[kDecimals];
  const uint32_t biased_exponent = (bits >> 23) & 0xff;
  const uint32_t fraction = bits & 0x7fffff;
  uint64_t significand;
  int exponent;
  if (biased_exponent == 0) {  // zero or subnormal
    significand = fraction;
    exponent = -149;
  } else {
    significand = fraction | 0x800000;
    exponent = static_cast<int>(biased_exponent) - 150;
  }
  if (exponent >= 0) return (significand << exponent) * kScale;
  const int shift = -exponent;
  const uint64_t product = significand * kScale;
  // Below 2^54, the product is less than half of 2^shift for any shift of 64 or more.
  if (shift >= 64) return 0;
  const uint64_t quotient = product >> shift;
  const uint64_t remainder = product & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  if (remainder > half || (remainder == half && (quotient & 1))) return quotient + 1;
  return quotient;
}

template <int kDecimals>
char* format_fixed_with(char* out, float value) {
  constexpr uint64_t kScale = kPowersOfTen[kDecimals];
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint64_t scaled = scaled_magnitude<kDecimals>(bits);
  if ((bits >> 31) && scaled != 0) *out++ = '-';
  out = format_unsigned(out, scaled / kScale);
  if constexpr (kDecimals > 0) {
    *out = '.';
    uint64_t fraction = scaled % kScale;
    for (int i = kDecimals; i > 0; --i) {
      out[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    out += kDecimals + 1;
  }
  return out;
}

}  // namespace

char* format_int(char* out, int64_t value) {
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;
  }
  return format_unsigned(out, magnitude);
}

char* format_fixed(char* out, float value, int decimals) {
  assert(decimals >= 0 && decimals <= 9);
  // Each count of decimals gets its own instance so that the divisions by powers of ten are
  // by constants.
  switch (decimals) {
    case 0:
      return format_fixed_with<0>(out, value);
    case 1:
      return format_fixed_with<1>(out, value);
    case 2:
      return format_fixed_with<2>(out, value);
    case 3:
      return format_fixed_with<3>(out, value);
    case 4:
      return format_fixed_with<4>(out, value);
    case 5:
      return format_fixed_with<5>(out, value);
    case 6:
      return format_fixed_with<6>(out, value);
    case 7:
      return format_fixed_with<7>(out, value);
    case 8:
      return format_fixed_with<8>(out, value);
    default:
      return format_fixed_with<9>(out, value);
  }
}

std::string int_text(int64_t value) {
  char buffer[20];
  return std::string(buffer, format_int(buffer, value));
}

std::string fixed_text(float value, int decimals) {
  char buffer[32];
  return std::string(buffer, format_fixed(buffer, value, decimals));
}

}  // namespace plantscatter
