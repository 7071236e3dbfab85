// Windows-1250 text. Source files are UTF-8; every Czech text the driver shows, logs or
// returns becomes cp1250 bytes here, at compile time through the _cp literal.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelk::text {

// Code point to cp1250 byte; -1 when the code page has no such character.
constexpr int CodePointToCp1250(uint32_t cp);

namespace detail {
// Unicode code point of each cp1250 byte 0x80..0xFF; 0 where the code page has no character.
constexpr uint16_t kHigh[128] = {
    0x20AC, 0,      0x201A, 0,      0x201E, 0x2026, 0x2020, 0x2021, 0,      0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0,      0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

template <size_t N>
struct Utf8Literal {
    char bytes[N]{};
    constexpr Utf8Literal(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i) bytes[i] = s[i];
    }
};

// Converts a UTF-8 literal; fails to compile on a character cp1250 lacks.
template <size_t N>
constexpr std::array<char, N> Utf8ToCp1250Array(const char (&s)[N]) {
    std::array<char, N> out{};
    size_t o = 0;
    for (size_t i = 0; i + 1 < N;) {
        auto b = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0;
        size_t len = 1;
        if (b < 0x80) cp = b;
        else if ((b & 0xE0) == 0xC0) { cp = b & 0x1Fu; len = 2; }
        else if ((b & 0xF0) == 0xE0) { cp = b & 0x0Fu; len = 3; }
        else throw "character outside Windows-1250";
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
        i += len;
        int c = CodePointToCp1250(cp);
        if (c < 0) throw "character outside Windows-1250";
        out[o++] = static_cast<char>(c);
    }
    out[o] = 0;
    return out;
}

template <Utf8Literal S>
struct Cp1250Of {
    static constexpr std::array<char, sizeof(S.bytes)> value = Utf8ToCp1250Array(S.bytes);
};
}  // namespace detail

constexpr int CodePointToCp1250(uint32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    for (int i = 0; i < 128; ++i)
        if (detail::kHigh[i] == cp && cp != 0) return 0x80 + i;
    return -1;
}

// Runtime conversions. Characters without a counterpart become '?'.
std::string Utf8ToCp1250(std::string_view utf8);
std::string Cp1250ToUtf8(std::string_view cp1250);
std::u16string Cp1250ToUtf16(std::string_view cp1250);
// True if the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

}  // namespace zelk::text

// "V pořádku"_cp is the cp1250 form of the text, as a zero-terminated const char*.
template <zelk::text::detail::Utf8Literal S>
constexpr const char* operator""_cp() {
    return zelk::text::detail::Cp1250Of<S>::value.data();
}
