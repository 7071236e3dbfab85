#include "platform/path_parts.h"

namespace zelk::plat {

size_t DirectoryPartLength(const std::string& name) {
    size_t p = name.find_last_of('/');
    return p == std::string::npos ? 0 : p + 1;
}

// A backslash is kept as the end of a directory written for Windows.
std::string WithTrailingSeparator(const std::string& dir) {
    if (dir.empty() || dir.back() == '/' || dir.back() == '\\') return dir;
    return dir + '/';
}

}  // namespace zelk::plat
