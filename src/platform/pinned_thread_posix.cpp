#include <dlfcn.h>

#include <thread>

#include "platform/platform.h"

namespace zelk::plat {

// POSIX cannot drop a library reference from a thread that then ends without returning into
// the library, so the library is marked never to be unloaded: a dlclose by the host then
// leaves the code mapped under the thread. It costs the process one mapping.
bool RunDetachedPinned(std::function<void()> body) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&RunDetachedPinned), &info) != 0 && info.dli_fname != nullptr)
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    try {
        std::thread([b = std::move(body)] {
            try {
                b();
            } catch (...) {
            }
        }).detach();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace zelk::plat
