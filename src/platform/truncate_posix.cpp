#include <unistd.h>

#include "platform/platform.h"

namespace zelk::plat {

bool TruncateFile(const std::string& path, uint64_t size) {
    return truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

}  // namespace zelk::plat
