#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace zelk::plat {

namespace {

struct PinnedJob {
    std::function<void()> body;
    HMODULE module = nullptr;
};

// Runs the job, then drops the module reference and ends the thread in one call that never
// returns into the module: if the host has unloaded the library meanwhile, it goes now.
DWORD WINAPI PinnedThreadMain(LPVOID p) {
    auto* job = static_cast<PinnedJob*>(p);
    HMODULE module = job->module;
    try {
        job->body();
    } catch (...) {
    }
    delete job;
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

bool RunDetachedPinned(std::function<void()> body) {
    HMODULE module = nullptr;
    // A reference of our own on the module that holds this code (the DLL, or the program
    // when the driver is linked into it).
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&PinnedThreadMain), &module))
        module = nullptr;
    auto* job = new (std::nothrow) PinnedJob{std::move(body), module};
    HANDLE h = job ? CreateThread(nullptr, 0, PinnedThreadMain, job, 0, nullptr) : nullptr;
    if (!h) {
        delete job;
        if (module) FreeLibrary(module);
        return false;
    }
    CloseHandle(h);
    return true;
}

}  // namespace zelk::plat
