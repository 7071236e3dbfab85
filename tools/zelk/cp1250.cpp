#include "cp1250.h"

#include "config/text.h"

namespace zelk::tool {

// The driver's own pure conversions, so that the tool and the driver agree on every byte.
std::string Cp1250ToUtf8(std::string_view cp1250) { return zelk::text::Cp1250ToUtf8(cp1250); }

std::string Utf8ToCp1250(std::string_view utf8) { return zelk::text::Utf8ToCp1250(utf8); }

size_t DisplayWidth(std::string_view utf8) {
    size_t n = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace zelk::tool
