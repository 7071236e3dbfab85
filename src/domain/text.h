// Windows-1250 text. Source files are UTF-8; every Czech text the driver shows, logs or
// returns becomes cp1250 bytes here, at compile time through the _cp literal. The code
// page's table is platform/cp1250.h.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cp1250.h"

namespace zelk::text {

// Code point to cp1250 byte; -1 when the code page has no such character.
constexpr int CodePointToCp1250(uint32_t cp) { return cp1250::FromCodePoint(cp); }

namespace detail {
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

// Runtime conversions. Characters without a counterpart become '?'; `lost`, when given,
// receives the positions of those '?' in the result, in order.
std::string Utf8ToCp1250(std::string_view utf8, std::vector<size_t>* lost = nullptr);
inline std::string Cp1250ToUtf8(std::string_view s) { return cp1250::ToUtf8(s); }
inline std::u16string Cp1250ToUtf16(std::string_view s) { return cp1250::ToUtf16(s); }
// True if the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

}  // namespace zelk::text

// "V pořádku"_cp is the cp1250 form of the text, as a zero-terminated const char*.
template <zelk::text::detail::Utf8Literal S>
constexpr const char* operator""_cp() {
    return zelk::text::detail::Cp1250Of<S>::value.data();
}
