#include "platform/cp1250.h"

namespace zelk::cp1250 {

static uint32_t CodePointOf(unsigned char b) {
    if (b < 0x80) return b;
    uint16_t cp = kHigh[b - 0x80];
    return cp ? cp : 0xFFFD;
}

std::string ToUtf8(std::string_view cp1250) {
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

std::u16string ToUtf16(std::string_view cp1250) {
    std::u16string out;
    out.reserve(cp1250.size());
    for (char ch : cp1250) out.push_back(static_cast<char16_t>(CodePointOf(static_cast<unsigned char>(ch))));
    return out;
}

}  // namespace zelk::cp1250
