#include "core/log.h"

#include <array>
#include <cstdio>

#include "domain/text.h"
#include "core/Pomocny.h"

namespace zelk {

// The open log file and the lock that keeps its lines whole. It lives as long as the
// instance, so a worker thread that writes after CloseLog finds a null file, not freed memory.
struct LogState {
    plat::Mutex Lock;
    FILE* File GUARDED_BY(Lock) = nullptr;
    // The file's buffer: text reaches the disk when it fills and at the close.
    std::array<char, 128> Buffer GUARDED_BY(Lock){};
    // The size bound: the file's name, its bound (0: none), the bytes it holds as counted
    // here, and the size at which it is renamed next (the bound, or a bound further on after
    // a rename failed).
    std::string Name GUARDED_BY(Lock);
    uint64_t Limit GUARDED_BY(Lock) = 0;
    uint64_t Size GUARDED_BY(Lock) = 0;
    uint64_t RotateAt GUARDED_BY(Lock) = 0;
};

namespace {

void CloseFile(LogState& s) REQUIRES(s.Lock) {
    if (s.File != nullptr) {
        std::fclose(s.File);  // a failed close loses the buffered text; nothing else to do
        s.File = nullptr;
    }
}

// Opens s.Name for appending and takes its size from the file once; later lines are counted.
// A size that cannot be told (past 2 GiB where `long` has 32 bits) counts as the bound.
void OpenFile(LogState& s) REQUIRES(s.Lock) {
    // Binary append: the lines carry their own CR LF on every platform.
    FILE* f = plat::OpenFileStream(s.Name, "ab");
    if (f != nullptr) {
        std::setvbuf(f, s.Buffer.data(), _IOFBF, s.Buffer.size());
        const long end = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
        s.Size = end >= 0 ? static_cast<uint64_t>(end) : s.Limit;
    }
    s.File = f;
}

// The file would pass its bound: it becomes name.1 (an older one goes) and a new file starts.
// If the rename fails (name.1 held open by another program), the same file goes on and the
// rename is tried again when it has grown by another bound.
void Rotate(LogState& s) REQUIRES(s.Lock) {
    CloseFile(s);
    const bool renamed = plat::RenameFile(s.Name, s.Name + ".1");
    const uint64_t before = s.Size;
    OpenFile(s);
    s.RotateAt = renamed ? s.Limit : before + s.Limit;
}

}  // namespace

LogState* NewLogState() { return new LogState; }

void LogStateDeleter::operator()(LogState* s) const {
    if (s == nullptr) return;
    {
        plat::LockGuard g(s->Lock);
        CloseFile(*s);
    }
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
            plat::LockGuard g(d->Log->Lock);
            CloseFile(*d->Log);
        }
        if (d->Cfg.LogLevel == 0 || !d->Log) return;
        LogState& s = *d->Log;
        plat::LockGuard g(s.Lock);
        s.Name = d->Cfg.LogFileName;
        s.Limit = d->Cfg.LogSizeLimit;
        s.RotateAt = s.Limit;
        OpenFile(s);
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
        plat::LockGuard g(s->Lock);
        if (s->File == nullptr) return;
        // A line never makes a file pass its bound, unless the line alone is longer.
        if (s->Limit != 0 && s->Size != 0 && s->Size + line.size() > s->RotateAt) {
            Rotate(*s);
            if (s->File == nullptr) return;
        }
        const size_t written = std::fwrite(line.data(), 1, line.size(), s->File);
        s->Size += written;
        if (written != line.size()) std::clearerr(s->File);
    } catch (...) {
        // A line that cannot be built or written is lost; the caller is not told.
    }
}

void CloseLog(TData* d) {
    if (d == nullptr || !d->Log) return;
    try {
        plat::LockGuard g(d->Log->Lock);
        CloseFile(*d->Log);
    } catch (...) {
    }
}

bool LogIsOpen(const TData* d) {
    if (d == nullptr || !d->Log) return false;
    try {
        plat::LockGuard g(d->Log->Lock);
        return d->Log->File != nullptr;
    } catch (...) {
        return false;
    }
}

const char* InternalErrorText() { return "Vnitřní chyba ovladače: "_cp; }

}  // namespace zelk
