#include "platform/platform.h"

#include <windows.h>

namespace zelk::plat {

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& name) {
    Close();
    handle_ = reinterpret_cast<void*>(LoadLibraryA(name.c_str()));
    return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace zelk::plat
