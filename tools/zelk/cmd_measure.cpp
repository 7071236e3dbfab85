// zelk measure: a timer-driven measurement through channels 164..176, 200..203, with a
// progress line, a clean stop on Ctrl+C and a summary of the files written.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "channels.h"
#include "commands.h"
#include "cp1250.h"
#include "dataset.h"

#if defined(_WIN32)
#include <io.h>
#define ZK_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define ZK_ISATTY(fd) isatty(fd)
#endif

namespace zelk::tool {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* MeasurementStatusName(uint32_t s) {
    switch (s) {
        case 0: return "idle";
        case 3: return "running";
        case 5: return "converting";
        case 256: return "ended: no data within the USB timeout";
        case 512: return "failed: module command or D2XX call";
        case 1024: return "failed: record file";
        default: return "unknown";
    }
}

std::set<std::string> RecordFiles(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().filename().string().rfind("Zelk2716e_", 0) == 0) names.insert(e.path().string());
    return names;
}

std::string Clock2(double seconds) {
    char buf[32];
    int m = static_cast<int>(seconds) / 60;
    std::snprintf(buf, sizeof buf, "%02d:%04.1f", m, seconds - m * 60);
    return buf;
}

std::string Seconds1(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", s);
    return buf;
}

struct Progress {
    uint32_t stored = 0, status = 0;
};

Progress Poll(Session& s, int timeoutMs) {
    auto r = s.Read({201, 203}, timeoutMs);
    return {AsLong(r[0].value), AsLong(r[1].value)};
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

int CmdMeasure(const DriverOptions& o, const MeasureOptions& m) {
    std::error_code ec;
    fs::path out = fs::absolute(m.out);
    fs::create_directories(out, ec);
    if (!fs::is_directory(out)) {
        Error("cannot create the output folder " + out.string());
        return kExitFile;
    }
    std::string format = UpperAscii(m.format);
    if (!format.empty() && format != "BIN" && format != "DBF") {
        Error("--format is bin or dbf");
        return kExitUsage;
    }
    const LayoutOptions& lo = m.layout;
    if (lo.channels == 0 || lo.channels > 16) {
        Error("--channels is 1..16");
        return kExitUsage;
    }

    // The run's parameter file: the given one with the options put in, or a new one.
    ParamFile param = ParamFile::FromText("");
    if (!o.param.empty()) {
        std::string error;
        auto p = ParamFile::Load(o.param, &error);
        if (!p) {
            Error(error);
            return kExitFile;
        }
        param = *p;
        if (format.empty()) format = UpperAscii(param.Get("Konverze souboru", "Typ souboru").value_or("DBF"));
    } else {
        RunSettings rs;
        rs.serial = o.serial;
        rs.usbTimeoutMs = o.usbTimeoutMs;
        if (!o.log.empty()) {
            rs.logLevel = 3;
            rs.logFile = fs::absolute(o.log).string();
        }
        param = ParamFile::FromText(Utf8ToCp1250(BuildParamText(rs)));
        if (format.empty()) format = "DBF";
    }
    param.Set("Konverze souboru", "Typ souboru", format);
    param.Set("Konverze souboru", "Adresář", out.string());
    if (lo.channels > 0) param.Set("Měření časovačem", "Počet kanálů", std::to_string(lo.channels));
    if (lo.periodUs > 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.1f", lo.periodUs);
        param.Set("Měření časovačem", "Perioda [us]", buf);
    }
    if (lo.noCnt0) param.Set("Měření časovačem", "Povolení CNT0", "0");
    if (lo.noCnt1) param.Set("Měření časovačem", "Povolení CNT1", "0");
    if (lo.noDio) param.Set("Měření časovačem", "Povolení DIN a DOUT", "0");
    if (!lo.ranges.empty()) {
        static const char* const names[8] = {"10V", "5V", "2V", "1V", "500mV", "200mV", "10V", "10V"};
        dbf::RecordLayout l;
        double unused;
        std::string error;
        if (!BuildLayout(nullptr, LayoutOptions{1, false, false, false, lo.ranges, -1}, &l, &unused, &error)) {
            Error(error);
            return kExitUsage;
        }
        const size_t count = static_cast<size_t>(std::count(lo.ranges.begin(), lo.ranges.end(), ',')) + 1;
        for (size_t i = 0; i < count && i < 16; ++i)
            param.Set("Analogový kanál " + std::to_string(i), "Rozsah", names[l.Range[i] & 7]);
    }
    dbf::RecordLayout layout;
    double configuredPeriod = 0;
    std::string error;
    if (!BuildLayout(&param, LayoutOptions{}, &layout, &configuredPeriod, &error)) {
        Error(error);
        return kExitUsage;
    }

    Host h;
    if (int rc = StartHost(o, &h, Cp1250ToUtf8(param.Text())); rc != kExitOk) return rc;
    Session& s = *h.session;
    if (h.deviceStatus != 0) {
        Error("the module is not in order: device status " + std::to_string(h.deviceStatus) + " " + h.deviceText);
        return kExitDevice;
    }
    const std::set<std::string> before = RecordFiles(out);

    std::cout << "measuring " << layout.Channels() << " channel" << (layout.Channels() == 1 ? "" : "s")
              << (layout.Cnt0 ? " +CNT0" : "") << (layout.Cnt1 ? " +CNT1" : "") << (layout.DinDout ? " +DIN/DOUT" : "")
              << ", " << (m.records ? std::to_string(m.records) + " records" : "no record limit")
              << (m.duration > 0 ? ", at most " + Seconds1(m.duration) : "") << ", " << format
              << " into " << out.string() << "\n"
              << std::flush;

    auto start = Clock::now();
    if (!s.Write({{202, LongValue(m.records)}, {200, LongValue(1)}}, o.cycleTimeoutMs)) {
        Error("the start request did not finish");
        return kExitMeasurement;
    }
    auto periodReading = s.Read({165}, o.cycleTimeoutMs);
    const double periodUsed = AsReal(periodReading[0].value);
    // The start runs in the acquisition thread's output pass; give it the time of its
    // four module commands before judging it.
    Progress p = Poll(s, o.cycleTimeoutMs);
    const auto startDeadline = Clock::now() + std::chrono::milliseconds(4 * o.usbTimeoutMs + 1000);
    while (p.status == 0 && p.stored == 0 && Clock::now() < startDeadline) {
        PumpMessages(10);
        p = Poll(s, o.cycleTimeoutMs);
    }
    if (p.status != 3 && p.stored == 0) {
        std::string text;
        int status = s.DeviceStatus(&text, o.cycleTimeoutMs);
        Error("the measurement did not start: measurement status " + std::to_string(p.status) + " (" +
              MeasurementStatusName(p.status) + "), device status " + std::to_string(status) + " " + Show(text));
        return kExitMeasurement;
    }

    const bool tty = ZK_ISATTY(1) != 0 && !m.noProgress;
    bool stopRequested = false, interrupted = false;
    auto lastLine = Clock::now();
    for (;;) {
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (!m.noProgress && (tty || Clock::now() - lastLine >= std::chrono::seconds(1))) {
            lastLine = Clock::now();
            std::string bar;
            if (m.records > 0) {
                int filled = static_cast<int>(30.0 * std::min<double>(1.0, static_cast<double>(p.stored) / m.records));
                bar = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(30 - filled), '.') + "] ";
            }
            char line[256];
            std::snprintf(line, sizeof line, "%s%u%s records  %.0f rec/s  %s  status %u %s", bar.c_str(), p.stored,
                          m.records ? ("/" + std::to_string(m.records)).c_str() : "",
                          elapsed > 0 ? p.stored / elapsed : 0.0, Clock2(elapsed).c_str(), p.status,
                          MeasurementStatusName(p.status));
            std::cout << (tty ? "\r\x1b[K" : "") << line << (tty ? "" : "\n") << std::flush;
        }
        if (p.status != 3) break;
        if (!stopRequested && (Interrupted() || (m.duration > 0 && elapsed >= m.duration))) {
            interrupted = Interrupted();
            stopRequested = true;
            // Channel 200 = 0 stops the module; in DBF mode it also starts the conversion.
            s.Write({{200, LongValue(0)}}, o.cycleTimeoutMs);
        }
        for (int i = 0; i < 20 && !(Interrupted() && !stopRequested); ++i) PumpMessages(10);
        p = Poll(s, o.cycleTimeoutMs);
    }
    if (tty) std::cout << "\n";
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const uint32_t endStatus = p.status;
    const bool failed = endStatus == 256 || endStatus == 512 || endStatus == 1024;

    // The conversion thread deletes the record file once the table is complete; Done
    // would cut it short, so wait for it here.
    std::set<std::string> files;
    for (const std::string& f : RecordFiles(out))
        if (!before.count(f)) files.insert(f);
    if (format == "DBF" && !failed) {
        auto limit = Clock::now() + std::chrono::seconds(30) + std::chrono::milliseconds(p.stored / 20);
        auto binLeft = [&] {
            for (const std::string& f : RecordFiles(out))
                if (!before.count(f) && fs::path(f).extension() == ".bin") return true;
            return false;
        };
        while (binLeft() && Clock::now() < limit) PumpMessages(20);
        files.clear();
        for (const std::string& f : RecordFiles(out))
            if (!before.count(f)) files.insert(f);
    }
    std::string text;
    int device = s.DeviceStatus(&text, o.cycleTimeoutMs);

    std::cout << "records stored    " << p.stored << "\n";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f us (configured %.1f us)", periodUsed, configuredPeriod);
    std::cout << "period used       " << buf << "\n";
    std::snprintf(buf, sizeof buf, "%.1f s", elapsed);
    std::cout << "elapsed           " << buf << "\n"
              << "end               " << (interrupted ? "stopped by Ctrl+C" : stopRequested ? "stopped after --duration"
                                                                                             : MeasurementStatusName(endStatus))
              << " (measurement status " << endStatus << ")\n"
              << "device status     " << device << " " << Show(text) << "\n"
              << "bytes per record  " << layout.RecordBytes() << "\n";
    for (const std::string& f : files) std::cout << "wrote             " << f << " (" << fs::file_size(f, ec) << " bytes)\n";
    if (files.empty()) std::cout << "wrote             nothing\n";
    if (failed || device != 0) return kExitMeasurement;
    if (format == "DBF")
        for (const std::string& f : files)
            if (fs::path(f).extension() == ".bin") {
                Error("the conversion to dBASE did not finish; the record file is left");
                return kExitMeasurement;
            }
    return interrupted ? kExitInterrupted : kExitOk;
}

}  // namespace zelk::tool
