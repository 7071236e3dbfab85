#include "host_platform.h"

#include <dlfcn.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace zelk::tool {

const char* const kDriverFileName = "librq_zelk2716e.so";
const char* const kSimDriverFileName = "librq_zelk2716e_sim.so";
const char* const kD2xxFileName = "libftd2xx.so";
const char* const kToolFileName = "zelk";

Library::~Library() {
    if (handle_) dlclose(handle_);
}

bool Library::Open(const std::string& path, std::string* error) {
    dlerror();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_ && error) {
        const char* e = dlerror();
        *error = e ? e : "dlopen failed";
    }
    return handle_ != nullptr;
}

void* Library::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

std::string ExecutableDirectory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string p(buf, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/') + 1);
}

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

bool StdoutIsTerminal() { return isatty(1) != 0; }

std::tm LocalTime(std::time_t t) {
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
}

bool Interrupted() { return g_interrupted.load(); }

}  // namespace zelk::tool
