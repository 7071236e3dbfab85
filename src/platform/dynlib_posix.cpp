#include "platform/platform.h"

#include <dlfcn.h>

namespace zelk::plat {

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& name, std::string* error) {
    Close();
    dlerror();
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_ && error) {
        const char* e = dlerror();
        *error = e ? e : "dlopen failed";
    }
    return handle_ != nullptr;
}

// The loader's own search (LD_LIBRARY_PATH, the run path, the system's folders) has no
// current-directory entry to avoid.
bool DynamicLibrary::OpenFromTrustedFolders(const std::string& fileName, std::string* error) {
    return Open(fileName, error);
}

void* DynamicLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

void DynamicLibrary::Close() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

std::string SharedLibraryFileName(const std::string& base) { return "lib" + base + ".so"; }

std::string ExecutableFileName(const std::string& base) { return base; }

}  // namespace zelk::plat
