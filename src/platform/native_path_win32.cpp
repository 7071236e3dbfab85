#include "platform/native_path.h"

#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

namespace zelk::plat {

// Empty when the system cannot convert it; the file function it goes to then fails.
std::wstring WideName(std::string_view cp1250) {
    if (cp1250.empty()) return {};
    const int n = MultiByteToWideChar(1250, 0, cp1250.data(), static_cast<int>(cp1250.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(1250, 0, cp1250.data(), static_cast<int>(cp1250.size()), out.data(), n);
    return out;
}

std::FILE* OpenFileStream(const std::string& path, const char* mode) {
    std::wstring wideMode;
    for (const char* m = mode; *m; ++m) wideMode.push_back(static_cast<wchar_t>(*m));
    return _wfopen(WideName(path).c_str(), wideMode.c_str());
}

}  // namespace zelk::plat
