// Number texts of the parameter file, parsed without the C locale.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "config/param_file.h"
#include "domain/ranges.h"

namespace zelk {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ParseRealText(const std::string& text, double& value) {
    std::string_view s = TrimBlanks(text);
    // Rebuilt as "[-]digits[.digits][e[-]digits]" for from_chars; '.' and ',' are both the
    // decimal separator, whatever the locale says.
    std::string canon;
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') canon.push_back('-');
        ++i;
    }
    size_t digits = 0, intDigits = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (IsDigit(c)) {
            canon.push_back(c);
            ++digits;
            if (!point) ++intDigits;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
            canon.push_back('.');
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        canon.push_back('e');
        ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
        if (negative) canon.push_back('-');
        size_t expDigits = 0;
        for (; i < s.size() && IsDigit(s[i]); ++i, ++expDigits) {
            canon.push_back(s[i]);
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
        }
        if (expDigits == 0) return false;
        if (negative) exponent = -exponent;
    }
    if (i != s.size()) return false;
    double v = 0.0;
    auto [end, ec] = std::from_chars(canon.data(), canon.data() + canon.size(), v, std::chars_format::general);
    if (end != canon.data() + canon.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        // Too small for a double is zero; too large is not a number the driver can use.
        if (static_cast<long long>(intDigits) + exponent > 0) return false;
        v = canon[0] == '-' ? -0.0 : 0.0;
    } else if (ec != std::errc() || !std::isfinite(v)) {
        return false;
    }
    value = v;
    return true;
}

bool ParseIntegerText(const std::string& text, int32_t& value) {
    std::string_view s = TrimBlanks(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() >= 1 && s[0] == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    uint64_t magnitude = 0;
    for (char c : s) {
        int d = base == 16 ? HexDigit(c) : (IsDigit(c) ? c - '0' : -1);
        if (d < 0) return false;
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    if (base == 16) {
        // Hexadecimal is a 32-bit pattern: $FFFFFFFF is -1.
        auto bits = static_cast<uint32_t>(magnitude);
        if (negative) bits = 0u - bits;
        value = static_cast<int32_t>(bits);
        return true;
    }
    if (negative ? magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull) return false;
    int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    value = static_cast<int32_t>(v);
    return true;
}

uint8_t RangeCodeOf(const std::string& text) { return RangeCodeOfName(text); }

}  // namespace zelk
