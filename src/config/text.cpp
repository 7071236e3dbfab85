#include "config/text.h"

namespace zelk::text {

static uint32_t DecodeOne(std::string_view s, size_t& i, bool& ok) {
    auto b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    ok = len != 0 && i + len <= s.size();
    if (!ok) {
        ++i;
        return 0xFFFD;
    }
    uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
    for (size_t k = 1; k < len; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ok = false;
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3Fu);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ok = false;
    i += len;
    return cp;
}

bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        bool ok = true;
        DecodeOne(bytes, i, ok);
        if (!ok) return false;
    }
    return true;
}

std::string Utf8ToCp1250(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        bool ok = true;
        uint32_t cp = DecodeOne(utf8, i, ok);
        int c = ok ? CodePointToCp1250(cp) : -1;
        out.push_back(c < 0 ? '?' : static_cast<char>(c));
    }
    return out;
}

static uint32_t CodePointOf(unsigned char b) {
    if (b < 0x80) return b;
    uint16_t cp = detail::kHigh[b - 0x80];
    return cp ? cp : 0xFFFD;
}

std::string Cp1250ToUtf8(std::string_view cp1250) {
    std::string out;
    out.reserve(cp1250.size() * 2);
    for (char ch : cp1250) {
        uint32_t cp = CodePointOf(static_cast<unsigned char>(ch));
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string Cp1250ToUtf16(std::string_view cp1250) {
    std::u16string out;
    out.reserve(cp1250.size());
    for (char ch : cp1250) out.push_back(static_cast<char16_t>(CodePointOf(static_cast<unsigned char>(ch))));
    return out;
}

}  // namespace zelk::text
