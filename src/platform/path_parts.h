// How names written in a parameter file split into folder and file on this platform.
#pragma once
#include <cstddef>
#include <string>

namespace zelk::plat {

// Length of the directory part of a file name: up to and including its last separator
// (Windows: backslash or drive colon; POSIX: slash); 0 when there is none.
size_t DirectoryPartLength(const std::string& name);

// A non-empty directory that does not end in a separator gets one (Windows: a backslash).
std::string WithTrailingSeparator(const std::string& dir);

}  // namespace zelk::plat
