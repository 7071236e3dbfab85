#include "domain/text.h"

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

std::string Utf8ToCp1250(std::string_view utf8, std::vector<size_t>* lost) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        bool ok = true;
        uint32_t cp = DecodeOne(utf8, i, ok);
        int c = ok ? CodePointToCp1250(cp) : -1;
        if (c < 0 && lost) lost->push_back(out.size());
        out.push_back(c < 0 ? '?' : static_cast<char>(c));
    }
    return out;
}

}  // namespace zelk::text
