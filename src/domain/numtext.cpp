#include "domain/numtext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zelk::text {

static std::string WithSeparator(std::string s, char separator) {
    for (char& c : s)
        if (c == '.') c = separator;
    return s;
}

static double PowerOfTen(int p) {
    static const double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return p >= 0 && p <= 22 ? kExact[p] : std::pow(10.0, p);
}

// to_chars and from_chars round exactly as printf and strtod do, independent of the C
// locale and several times faster: the dBASE conversion formats every sample this way.
std::string FormatFixed(double v, int decimals, int precision, char separator) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    // Bounds that keep every text inside the buffer below.
    precision = precision < 1 ? 1 : precision > 100 ? 100 : precision;
    decimals = decimals < 0 ? 0 : decimals > 100 ? 100 : decimals;
    char buf[512];
    // Round to the significant digits first, the way the result would be rounded for display.
    char* end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision - 1).ptr;
    double r = 0.0;
    std::from_chars(buf, end, r);
    if (r != 0.0 && std::fabs(r) >= PowerOfTen(precision)) {
        // Too many digits before the point: scientific, mantissa without trailing zeros.
        std::string m(buf, end);
        size_t e = m.find('e');
        std::string mant = m.substr(0, e);
        int exp = std::atoi(m.c_str() + e + 1);
        if (mant.find('.') != std::string::npos) {
            while (!mant.empty() && mant.back() == '0') mant.pop_back();
            if (!mant.empty() && mant.back() == '.') mant.pop_back();
        }
        return WithSeparator(mant, separator) + "E" + std::to_string(exp);
    }
    end = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, decimals).ptr;
    std::string s(buf, end);
    // A value that rounds to zero is written without a sign.
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return WithSeparator(s, separator);
}

std::string Decimal(int64_t v) { return std::to_string(v); }
std::string Decimal(uint32_t v) { return std::to_string(v); }
std::string Decimal(int32_t v) { return std::to_string(v); }

std::string Hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
    return buf;
}

}  // namespace zelk::text
