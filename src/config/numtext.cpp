#include "config/numtext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zelk::text {

static std::string WithSeparator(std::string s, char separator) {
    for (char& c : s)
        if (c == '.') c = separator;
    return s;
}

std::string FormatFixed(double v, int decimals, int precision, char separator) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    char buf[512];
    // Round to the significant digits first, the way the result would be rounded for display.
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, v);
    double r = std::strtod(buf, nullptr);
    if (r != 0.0 && std::fabs(r) >= std::pow(10.0, precision)) {
        // Too many digits before the point: scientific, mantissa without trailing zeros.
        std::string m(buf);
        size_t e = m.find('e');
        std::string mant = m.substr(0, e);
        int exp = std::atoi(m.c_str() + e + 1);
        if (mant.find('.') != std::string::npos) {
            while (!mant.empty() && mant.back() == '0') mant.pop_back();
            if (!mant.empty() && mant.back() == '.') mant.pop_back();
        }
        return WithSeparator(mant, separator) + "E" + std::to_string(exp);
    }
    std::snprintf(buf, sizeof buf, "%.*f", decimals, r);
    std::string s(buf);
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
