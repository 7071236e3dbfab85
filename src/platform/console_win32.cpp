#include "platform/console.h"

#include <windows.h>
#include <io.h>

#include <atomic>
#include <clocale>
#include <cstdlib>

namespace zelk::plat {

namespace {
std::atomic<bool> g_interrupted{false};
BOOL WINAPI OnConsoleCtrl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        g_interrupted.store(true);
        return TRUE;
    }
    return FALSE;
}
}  // namespace

void PumpMessages(int ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (static_cast<int>(elapsed) >= ms || g_interrupted.load()) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms) - elapsed, QS_ALLINPUT);
    }
}

namespace {
UINT g_consoleCodePage = 0;
void RestoreConsoleCodePage() { SetConsoleOutputCP(g_consoleCodePage); }
bool IsConsole(DWORD stdHandle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stdHandle), &mode) != 0;
}
}  // namespace

void PrepareConsole() {
    // Names on the command line come in the ANSI code page; std::filesystem and the narrow file
    // functions convert narrow names through the C library's character type, which is "C"
    // (bytes as Latin-1) until set: with the user's own, a name reaches the system as typed.
    std::setlocale(LC_CTYPE, "");
    if (!IsConsole(STD_OUTPUT_HANDLE) && !IsConsole(STD_ERROR_HANDLE)) return;
    g_consoleCodePage = GetConsoleOutputCP();
    if (g_consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsoleCodePage);
}

std::string SystemNarrow(const std::filesystem::path& p) {
    const std::wstring w = p.wstring();
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0u, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool DesktopWindows() { return true; }

bool StdoutIsTerminal() { return _isatty(1) != 0; }

std::tm CalendarTime(std::time_t t) {
    std::tm tm{};
    localtime_s(&tm, &t);
    return tm;
}

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleCtrl, TRUE); }

bool Interrupted() { return g_interrupted.load(); }

}  // namespace zelk::plat
