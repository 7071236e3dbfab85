#include "platform/native_path.h"

#include <cstdio>

#include "platform/cp1250.h"
#include "platform/platform.h"

namespace zelk::plat {

std::string Utf8Name(std::string_view cp1250) { return cp1250::ToUtf8(cp1250); }

std::FILE* OpenFileStream(const std::string& path, const char* mode) {
    return std::fopen(Utf8Name(path).c_str(), mode);
}

}  // namespace zelk::plat
