// Number text as the export file writes it: "." as the decimal point whatever the locale.
#ifndef PLANTSCATTER_EXPORT_NUMBER_FORMAT_H_
#define PLANTSCATTER_EXPORT_NUMBER_FORMAT_H_

#include <cstdint>
#include <string>

namespace plantscatter {

// Decimal digits, no leading zeros, spaces or grouping, "-" only for negative values.
// Writes at most 20 characters at `out` and returns the end.
char* format_int(char* out, int64_t value);

// The exact value of `value` (a float32) with exactly `decimals` digits (0 to 9) after the
// point, rounded to nearest with halves to even; no exponent, no "+", no "-" for zero.
// `value` must be finite with a magnitude below 2^63 / 10^decimals.
// Writes at most 32 characters at `out` and returns the end.
char* format_fixed(char* out, float value, int decimals);

std::string int_text(int64_t value);
std::string fixed_text(float value, int decimals);

}  // namespace plantscatter

#endif  // PLANTSCATTER_EXPORT_NUMBER_FORMAT_H_
