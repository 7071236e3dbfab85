// Windows-1250 texts of the driver shown on a UTF-8 terminal, and UTF-8 texts of the user
// written into the driver's cp1250 parameter files.
#pragma once
#include <string>
#include <string_view>

namespace zelk::tool {

std::string Cp1250ToUtf8(std::string_view cp1250);
// Characters that code page 1250 lacks become '?'.
std::string Utf8ToCp1250(std::string_view utf8);
// Columns a UTF-8 text takes on a terminal (one per code point).
size_t DisplayWidth(std::string_view utf8);

}  // namespace zelk::tool
