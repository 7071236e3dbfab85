// The parts of the file primitives that need no system call of their own.
#include "platform/file_io.h"

namespace zelk::plat {

// A read may deliver less than asked (a pipe, a large request cut into pieces on Windows):
// read on until the whole block is there or the file ends.
bool File::ReadExactly(void* data, size_t bytes) {
    char* p = static_cast<char*>(data);
    while (bytes > 0) {
        size_t got = 0;
        if (!Read(p, bytes, got) || got == 0) return false;
        p += got;
        bytes -= got;
    }
    return true;
}

}  // namespace zelk::plat
