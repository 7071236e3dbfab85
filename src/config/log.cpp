#include "config/log.h"

#include <array>
#include <cstdio>
#include <mutex>

#include "config/text.h"
#include "core/Pomocny.h"

namespace zelk {

// The open log file and the lock that keeps its lines whole. It lives as long as the
// instance, so a worker thread that writes after CloseLog finds a null file, not freed memory.
struct LogState {
    std::mutex Lock;
    FILE* File = nullptr;
    // The file's buffer: text reaches the disk when it fills and at the close.
    std::array<char, 128> Buffer{};
};

namespace {

// Called with the lock held (or before any other thread can see the state).
void CloseFile(LogState& s) {
    if (s.File != nullptr) {
        std::fclose(s.File);  // a failed close loses the buffered text; nothing else to do
        s.File = nullptr;
    }
}

}  // namespace

LogState* NewLogState() { return new LogState; }

void LogStateDeleter::operator()(LogState* s) const {
    if (s == nullptr) return;
    CloseFile(*s);
    delete s;
}

std::string BuildLogLine(const plat::LocalTime& t, std::string_view serial, std::string_view text) {
    char ms[8];
    int m = t.millisecond < 0 ? 0 : t.millisecond % 1000;
    std::snprintf(ms, sizeof ms, "%03d", m);
    std::string line;
    line.reserve(40 + serial.size() + text.size());
    line += '[';
    line += plat::FormatRegionalDateTime(t);
    line += '.';
    line += ms;
    line += "] - ";
    line += serial;
    line += " - ";
    line += text;
    line += "\r\n";
    return line;
}

void OpenLog(TData* d) {
    if (d == nullptr) return;
    try {
        if (d->Log) {
            std::lock_guard<std::mutex> g(d->Log->Lock);
            CloseFile(*d->Log);
        }
        if (d->Cfg.LogLevel == 0 || !d->Log) return;
        LogState& s = *d->Log;
        // Binary append: the lines carry their own CR LF on every platform.
        FILE* f = plat::OpenFileStream(d->Cfg.LogFileName, "ab");
        if (f != nullptr) std::setvbuf(f, s.Buffer.data(), _IOFBF, s.Buffer.size());
        std::lock_guard<std::mutex> g(s.Lock);
        s.File = f;
    } catch (...) {
        // No log: every later line is dropped.
    }
}

void WriteLog(TData* d, std::string_view text, uint8_t level) {
    if (d == nullptr) return;
    const int32_t configured = d->Cfg.LogLevel;
    if (configured == 0 || configured < static_cast<int32_t>(level)) return;
    LogState* s = d->Log.get();
    if (s == nullptr) return;
    try {
        // The clock is read and the line built outside the lock.
        const std::string line = BuildLogLine(plat::Now(), d->Cfg.ModuleSerial, text);
        std::lock_guard<std::mutex> g(s->Lock);
        if (s->File == nullptr) return;
        if (std::fwrite(line.data(), 1, line.size(), s->File) != line.size()) std::clearerr(s->File);
    } catch (...) {
        // A line that cannot be built or written is lost; the caller is not told.
    }
}

void CloseLog(TData* d) {
    if (d == nullptr || !d->Log) return;
    try {
        std::lock_guard<std::mutex> g(d->Log->Lock);
        CloseFile(*d->Log);
    } catch (...) {
    }
}

bool LogIsOpen(const TData* d) {
    if (d == nullptr || !d->Log) return false;
    try {
        std::lock_guard<std::mutex> g(d->Log->Lock);
        return d->Log->File != nullptr;
    } catch (...) {
        return false;
    }
}

const char* InternalErrorText() { return "Vnitřní chyba ovladače: "_cp; }

}  // namespace zelk
