#include "platform/console.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace zelk::plat {

void PumpMessages(int ms) {
    if (ms <= 0) return;
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && !Interrupted()) {
    }
}

namespace {
std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) { g_interrupted.store(true); }
}  // namespace

void PrepareConsole() {}

std::string SystemNarrow(const std::filesystem::path& p) { return p.string(); }

bool DesktopWindows() { return false; }

bool StdoutIsTerminal() { return isatty(1) != 0; }

std::tm CalendarTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

void InstallInterruptHandler() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A reader that goes away (zelk measure --stream csv | head) is a failed write, which
    // stops the measurement cleanly, not a signal that ends zelk in the middle of it.
    signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return g_interrupted.load(); }

}  // namespace zelk::plat
