// Number texts: "fixed notation with D decimals after rounding to P significant digits",
// with the decimal separator passed in.
#pragma once
#include <cstdint>
#include <string>

namespace zelk::text {

// Rounds v to `precision` significant digits, then writes it with exactly `decimals`
// decimals. A value with more than `precision` digits before the point is written in
// scientific notation (mantissa, 'E', exponent), as fixed notation cannot hold it.
std::string FormatFixed(double v, int decimals, int precision, char separator);

std::string Decimal(int64_t v);
std::string Decimal(uint32_t v);
std::string Decimal(int32_t v);

// 8 upper-case hexadecimal digits.
std::string Hex8(uint32_t v);

}  // namespace zelk::text
