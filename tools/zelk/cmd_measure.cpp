// zelk measure: a timer-driven measurement through channels 164..176, 200..203, with a
// progress line, a clean stop on Ctrl+C and a summary of the files written.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "channels.h"
#include "commands.h"
#include "config/numtext.h"
#include "core/channel_map.h"
#include "dataset.h"
#include "sidecar.h"

namespace zelk::tool {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What a stream of records needs of the link beyond this is lost (a full-speed USB link).
constexpr double kFullSpeedLinkBytesPerSecond = 1000000.0;
// Analog channels a measurement without --param and --channels records.
constexpr int kDefaultChannels = 4;

const char* MeasurementStatusName(uint32_t s) {
    switch (s) {
        case ZELK_MEASURE_IDLE: return "idle";
        case ZELK_MEASURE_RUNNING: return "running";
        case ZELK_MEASURE_CONVERTING: return "converting";
        case ZELK_MEASURE_NO_DATA: return "ended: no data within the USB timeout";
        case ZELK_MEASURE_COMMAND_FAILED: return "failed: module command or D2XX call";
        case ZELK_MEASURE_FILE_FAILED: return "failed: record file";
        default: return "unknown";
    }
}

std::set<fs::path> RecordFiles(const fs::path& dir) {
    std::set<fs::path> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string ext = e.path().extension().string();
        if (e.path().filename().string().rfind("Zelk2716e_", 0) == 0 && (ext == ".bin" || ext == ".dbf"))
            names.insert(e.path());
    }
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
    auto r = s.Read({ZELK_CH_MEASURE_STORED, ZELK_CH_MEASURE_STATUS}, timeoutMs);
    return {AsLong(r[0].value), AsLong(r[1].value)};
}

// Records stored at a moment while the measurement ran.
struct Sample {
    Clock::time_point at;
    uint32_t stored = 0;
};

// True when the records stored while the measurement was seen running fall short of what
// the elapsed time allows by more than 2 %, with one upload pass (100 ms) of slack.
bool RecordsLost(const Sample& first, const Sample& last, double periodUs, double* achievedRate) {
    const double window = std::chrono::duration<double>(last.at - first.at).count();
    if (window < 1.0 || periodUs <= 0) return false;
    const double allowed = window * 1e6 / periodUs;
    const double achieved = static_cast<double>(last.stored - first.stored);
    *achievedRate = achieved / window;
    return achieved < 0.98 * allowed - 0.1e6 / periodUs;
}

std::string LocalTimeText(std::time_t t) {
    const std::tm tm = LocalTime(t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
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
    // The driver takes the folder from the parameter file as cp1250 text and gives the system
    // that text's characters: a character cp1250 lacks would name another folder.
    const std::string outUtf8 = Utf8(out);
    if (std::string unused; !DriverName(out, &unused)) {
        Error("the output folder " + outUtf8 + " has characters that code page 1250 lacks; the driver cannot name it");
        return kExitUsage;
    }
    fs::create_directories(out, ec);
    if (!fs::is_directory(out)) {
        Error("cannot create the output folder " + outUtf8);
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

    // The run's parameter file: the given one with the options put in, or a new one. The
    // driver's own reader then says what the driver will configure.
    ParamText run = ParamText::FromUtf8(MinimalParamText(o));
    if (!o.param.empty()) {
        if (!fs::is_regular_file(o.param)) return MissingFile("parameter file", o.param);
        std::string error;
        auto p = ParamText::Load(o.param, &error);
        if (!p) {
            Error(error);
            return kExitFile;
        }
        run = *p;
    } else if (lo.channels < 0) {
        run.Set("Měření časovačem", "Počet kanálů", std::to_string(kDefaultChannels));
    }
    if (!format.empty()) run.Set("Konverze souboru", "Typ souboru", format);
    run.Set("Konverze souboru", "Adresář", outUtf8);
    if (lo.channels > 0) run.Set("Měření časovačem", "Počet kanálů", std::to_string(lo.channels));
    if (lo.periodUs > 0) run.Set("Měření časovačem", "Perioda [us]", text::FormatFixed(lo.periodUs, 1, 15, '.'));
    if (lo.noCnt0) run.Set("Měření časovačem", "Povolení CNT0", "0");
    if (lo.noCnt1) run.Set("Měření časovačem", "Povolení CNT1", "0");
    if (lo.noDio) run.Set("Měření časovačem", "Povolení DIN a DOUT", "0");
    if (!lo.ranges.empty()) {
        dbf::RecordLayout l;
        double unused;
        std::string error;
        if (!BuildLayout(nullptr, LayoutOptions{1, false, false, false, lo.ranges, -1}, &l, &unused, &error)) {
            Error(error);
            return kExitUsage;
        }
        const size_t count = static_cast<size_t>(std::count(lo.ranges.begin(), lo.ranges.end(), ',')) + 1;
        for (size_t i = 0; i < count && i < 16; ++i)
            run.Set("Analogový kanál " + std::to_string(i), "Rozsah", RangeName(l.Range[i]));
    }

    Host h;
    if (int rc = StartHost(o, &h, &run); rc != kExitOk) return rc;
    Session& s = *h.session;
    TCFG cfg;
    std::string message;
    if (!ReadParam(h.paramPath, &cfg, &message)) {  // Init has read it: it cannot fail here
        Error("parameter file: " + message);
        return kExitDriver;
    }
    const dbf::RecordLayout layout = LayoutOfConfig(cfg);
    const double configuredPeriod = cfg.TimerPeriod;
    format = cfg.ConvFileType == 1 ? "DBF" : "BIN";
    if (h.deviceStatus != 0) {
        Error("the module is not in order: device status " + StatusShown(h.deviceStatus, h.deviceText));
        return kExitDevice;
    }
    const std::set<fs::path> before = RecordFiles(out);

    std::cout << "measuring " << layout.Channels() << " channel" << (layout.Channels() == 1 ? "" : "s")
              << (layout.Cnt0 ? " +CNT0" : "") << (layout.Cnt1 ? " +CNT1" : "") << (layout.DinDout ? " +DIN/DOUT" : "")
              << ", " << (m.records ? std::to_string(m.records) + " records" : "no record limit")
              << (m.duration > 0 ? ", at most " + Seconds1(m.duration) : "") << ", " << format
              << " into " << outUtf8 << "\n"
              << std::flush;

    auto start = Clock::now();
    const std::string started = LocalTimeText(std::time(nullptr));
    if (!s.Write({{ZELK_CH_MEASURE_RECORDS, LongValue(m.records)}, {ZELK_CH_MEASURE_START, LongValue(1)}},
                 o.cycleTimeoutMs)) {
        Error("the start request did not finish");
        return kExitMeasurement;
    }
    auto periodReading = s.Read({ZELK_CH_TIMER_PERIOD}, o.cycleTimeoutMs);
    const double periodUsed = AsReal(periodReading[0].value);
    // Records travel as they are stored: a faster stream than the link carries is lost. The
    // period is the one the driver settled on for this layout.
    const double wantedBytesPerSecond = layout.RecordBytes() * 1e6 / std::max(periodUsed, 1.0);
    if (wantedBytesPerSecond > kFullSpeedLinkBytesPerSecond)
        Error("warning: " + std::to_string(layout.RecordBytes()) + " bytes per record every " +
              text::FormatFixed(periodUsed, 1, 15, '.') + " us is " +
              std::to_string(static_cast<long long>(wantedBytesPerSecond)) +
              " B/s, more than a full-speed USB link carries (about 1000000 B/s): records will be lost. Use "
              "fewer channels or counters, or a longer period.");
    // The start runs in the acquisition thread's output pass; give it the time of its
    // four module commands before judging it.
    Progress p = Poll(s, o.cycleTimeoutMs);
    const auto startDeadline = Clock::now() + std::chrono::milliseconds(4 * o.usbTimeoutMs + 1000);
    while (p.status == ZELK_MEASURE_IDLE && p.stored == 0 && Clock::now() < startDeadline) {
        PumpMessages(10);
        p = Poll(s, o.cycleTimeoutMs);
    }
    if (p.status != ZELK_MEASURE_RUNNING && p.stored == 0) {
        std::string text;
        int status = s.DeviceStatus(&text, o.cycleTimeoutMs);
        Error("the measurement did not start: measurement status " + std::to_string(p.status) + " (" +
              MeasurementStatusName(p.status) + "), device status " + StatusShown(status, Show(text)));
        return kExitMeasurement;
    }

    const bool tty = StdoutIsTerminal() && !m.noProgress;
    bool stopRequested = false, interrupted = false;
    auto lastLine = Clock::now();
    Sample first, last;
    for (;;) {
        if (p.status == ZELK_MEASURE_RUNNING && p.stored > 0 && !stopRequested) {
            last = {Clock::now(), p.stored};
            if (first.stored == 0) first = last;
        }
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
        if (p.status != ZELK_MEASURE_RUNNING) break;
        if (!stopRequested && (Interrupted() || (m.duration > 0 && elapsed >= m.duration))) {
            interrupted = Interrupted();
            stopRequested = true;
            // Channel 200 = 0 stops the module; in DBF mode it also starts the conversion.
            s.Write({{ZELK_CH_MEASURE_START, LongValue(0)}}, o.cycleTimeoutMs);
        }
        for (int i = 0; i < 20 && !(Interrupted() && !stopRequested); ++i) PumpMessages(10);
        p = Poll(s, o.cycleTimeoutMs);
    }
    if (tty) std::cout << "\n";
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const uint32_t endStatus = p.status;
    const bool failed = endStatus == ZELK_MEASURE_NO_DATA || endStatus == ZELK_MEASURE_COMMAND_FAILED ||
                        endStatus == ZELK_MEASURE_FILE_FAILED;

    // The conversion thread deletes the record file once the table is complete; Done
    // would cut it short, so wait for it here.
    std::set<fs::path> files;
    for (const fs::path& f : RecordFiles(out))
        if (!before.count(f)) files.insert(f);
    if (format == "DBF" && !failed) {
        auto limit = Clock::now() + std::chrono::seconds(30) + std::chrono::milliseconds(p.stored / 20);
        auto binLeft = [&] {
            for (const fs::path& f : RecordFiles(out))
                if (!before.count(f) && f.extension() == ".bin") return true;
            return false;
        };
        while (binLeft() && Clock::now() < limit) PumpMessages(20);
        files.clear();
        for (const fs::path& f : RecordFiles(out))
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
              << "device status     " << StatusShown(device, Show(text)) << "\n"
              << "bytes per record  " << layout.RecordBytes() << "\n";
    for (const fs::path& f : files) std::cout << "wrote             " << Utf8(f) << " (" << fs::file_size(f, ec) << " bytes)\n";
    if (files.empty()) std::cout << "wrote             nothing\n";
    if (files.empty() && p.stored > 0) {
        Error("the driver stored " + std::to_string(p.stored) + " records, but " + outUtf8 +
              " holds no file of this measurement");
        return kExitFile;
    }
    // The settings travel with the data: one sidecar per base name (record file and table).
    std::set<fs::path> sidecars;
    for (const fs::path& f : files) sidecars.insert(SidecarPath(f));
    const RunFacts facts{periodUsed, started, p.stored, layout.RecordBytes()};
    bool sidecarFailed = false;
    for (const fs::path& f : sidecars) {
        std::string error;
        if (WriteSidecar(run, facts, f, &error)) {
            std::cout << "wrote             " << Utf8(f) << " (settings)\n";
        } else {
            Error(error);
            sidecarFailed = true;
        }
    }
    double achievedRate = 0;
    const bool lost = RecordsLost(first, last, periodUsed, &achievedRate);
    if (lost)
        Error("warning: records were lost: " + std::to_string(static_cast<long long>(achievedRate)) +
              " records/s stored where the period of " + text::FormatFixed(periodUsed, 1, 15, '.') + " us gives " +
              std::to_string(static_cast<long long>(1e6 / periodUsed)) + ". The likely cause is the link: " +
              std::to_string(layout.RecordBytes()) + " bytes per record at that rate need " +
              std::to_string(static_cast<long long>(layout.RecordBytes() * 1e6 / periodUsed)) +
              " B/s; use fewer channels or counters, or a longer period.");
    if (failed || device != 0 || lost) return kExitMeasurement;
    if (sidecarFailed) return kExitFile;
    if (format == "DBF")
        for (const fs::path& f : files)
            if (f.extension() == ".bin") {
                Error("the conversion to dBASE did not finish; the record file is left");
                return kExitMeasurement;
            }
    return interrupted ? kExitInterrupted : kExitOk;
}

}  // namespace zelk::tool
