// The driver holds every name as cp1250 text; the file system gets it in its own form. Every
// platform function that takes a file or folder name converts it here, once:
// - POSIX (native_path_posix.cpp): UTF-8 bytes;
// - Windows (native_path_win32.cpp): UTF-16 for the wide-character functions, converted from
//   code page 1250 and not from the ANSI code page, so that a Czech name means the same
//   folder on a system whose code page is another.
// Each platform defines only its own function.
#pragma once
#include <string>
#include <string_view>

namespace zelk::plat {

std::string Utf8Name(std::string_view cp1250);
std::wstring WideName(std::string_view cp1250);

}  // namespace zelk::plat
