// zelk measure: a timer-driven measurement through channels 164..176, 200..203, with a
// progress line, a clean stop on Ctrl+C and a summary of the files written.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>
#include <iostream>
#include <map>
#include <set>

#include "channels.h"
#include "commands.h"
#include "domain/numtext.h"
#include "domain/channel_map.h"
#include "dataset.h"
#include "sidecar.h"
#include "stream.h"

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
    if (achievedRate) *achievedRate = achieved / window;
    return achieved < 0.98 * allowed - 0.1e6 / periodUs;
}

// The pace of a running measurement, in records and records per second: what the period
// gives, what was stored since it was first seen running, and how far the stored count is
// behind the module's clock.
struct Pace {
    double expected = 0, stored = 0, behind = 0;
};

Pace PaceOf(const Sample& first, const Sample& last, double periodUs) {
    Pace p;
    if (periodUs <= 0) return p;
    p.expected = 1e6 / periodUs;
    const double window = std::chrono::duration<double>(last.at - first.at).count();
    if (window <= 0) return p;
    const double stored = static_cast<double>(last.stored - first.stored);
    p.stored = stored / window;
    p.behind = std::max(0.0, window * p.expected - stored);
    return p;
}

std::string Seconds3(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

// "period asked X us, used Y us, because ..." when the start did not take the configured period.
std::string PeriodNote(const TCFG& cfg, double used) {
    const double asked = cfg.Timer.TimerPeriodUs;
    if (used == asked) return "";
    const ModuleSettings s = SettingsOfConfig(cfg);
    const double shortest = ShortestPeriodUs(s);
    std::string why;
    if (!(asked >= shortest)) {
        const uint32_t n = std::clamp<uint32_t>(s.TimerChannelCount, 1, 16);
        const double settle = SettleTimesUs(s);
        std::string items = std::to_string(n) + " channel" + (n == 1 ? "" : "s");
        if (IsRecorded(s.Cnt0Enable)) items += ", CNT0";
        if (IsRecorded(s.Cnt1Enable)) items += ", CNT1";
        if (IsRecorded(s.DinDoutEnable)) items += ", DIN/DOUT";
        why = "the shortest period for " + items + " is " + text::FormatFixed(shortest, 1, 15, '.') +
              " us (settle times " + text::FormatFixed(settle, 0, 15, '.') + " us + 10 us for each item, at least 25)";
    } else if (asked > kPeriodMaxUs) {
        why = "the longest period is 32767.5 us";
    } else {
        why = "periods go in 0.5 us steps";
    }
    return "period            asked " + text::FormatFixed(asked, 1, 15, '.') + " us, used " +
           text::FormatFixed(used, 1, 15, '.') + " us, because " + why;
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
    const std::string streamFormat = UpperAscii(m.stream);
    if (!streamFormat.empty() && streamFormat != "CSV" && streamFormat != "JSONL") {
        Error("--stream is csv or jsonl");
        return kExitUsage;
    }
    if (!m.streamOut.empty() && streamFormat.empty()) {
        Error("-o names the file of --stream");
        return kExitUsage;
    }
    std::ofstream streamFile;
    if (!m.streamOut.empty() && m.streamOut != "-") {
        streamFile.open(m.streamOut, std::ios::binary | std::ios::trunc);
        if (!streamFile) {
            Error("cannot write " + m.streamOut);
            return kExitFile;
        }
    }
    // Records on standard output leave it to them: what zelk says goes to standard error then.
    const bool recordsOnStdout = !streamFormat.empty() && !streamFile.is_open();
    std::ostream& info = recordsOnStdout ? std::cerr : std::cout;
    std::ostream& records = streamFile.is_open() ? static_cast<std::ostream&>(streamFile) : std::cout;
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
    const double configuredPeriod = cfg.Timer.TimerPeriodUs;
    format = cfg.ConvFileType == 1 ? "DBF" : "BIN";
    if (h.deviceStatus != 0) {
        Error("the module is not in order: device status " + StatusShown(h.deviceStatus, h.deviceText));
        return kExitDevice;
    }
    const std::set<fs::path> before = RecordFiles(out);

    if (!m.json)
        info << "measuring " << layout.Channels() << " channel" << (layout.Channels() == 1 ? "" : "s")
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
    if (const std::string note = PeriodNote(cfg, periodUsed); !note.empty()) {
        if (m.json) info << "{\"event\": \"period\", \"note\": " << Json(note) << "}\n" << std::flush;
        else info << note << "\n" << std::flush;
    }
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

    // The layout goes beside the record file now: after a crash of the tool or the machine,
    // convert and plot still find it. The end completes it with the count.
    for (const fs::path& f : RecordFiles(out)) {
        if (before.count(f) || f.extension() != ".bin") continue;
        std::string error;
        const RunFacts facts{periodUsed, started, std::nullopt, layout.RecordBytes(), Utf8(f.filename())};
        if (!WriteSidecar(run, facts, SidecarPath(f), &error)) Error(error);
    }

    // The stream follows the record file from its first byte; the handle keeps it readable
    // even when the conversion deletes it at the end.
    RecordFollower follower(layout);
    std::optional<StreamWriter> writer;
    bool streamFailed = false;
    if (!streamFormat.empty()) {
        // The follower reads through the driver's file layer, which takes names as the driver holds them.
        for (const fs::path& f : RecordFiles(out))
            if (std::string name; !before.count(f) && f.extension() == ".bin" && DriverName(f, &name)) follower.Open(name);
        if (!follower.IsOpen()) {
            Error("the record file of the measurement cannot be read for --stream");
            streamFailed = true;
        }
        writer.emplace(records, streamFormat == "CSV" ? StreamWriter::Format::Csv : StreamWriter::Format::Jsonl,
                       layout, periodUsed, ChannelLabels::FromConfig(cfg, h.paramPath));
        writer->Header();
    }
    auto streamNew = [&] {
        if (!writer || streamFailed) return;
        const uint64_t first = follower.RecordsRead();
        const std::vector<uint8_t>& bytes = follower.Poll();
        if (!bytes.empty() && !writer->Records(bytes, first)) streamFailed = true;
    };

    const bool tty = StdoutIsTerminal() && !m.noProgress && !recordsOnStdout && !m.json;
    bool stopRequested = false, interrupted = false, lossReported = false;
    auto lastLine = Clock::now();
    Sample first, last;
    for (;;) {
        if (p.status == ZELK_MEASURE_RUNNING && p.stored > 0 && !stopRequested) {
            last = {Clock::now(), p.stored};
            if (first.stored == 0) first = last;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const Pace pace = PaceOf(first, last, periodUsed);
        // A shortfall is said as soon as it passes the threshold, not only at the end.
        if (!lossReported && RecordsLost(first, last, periodUsed, nullptr)) {
            lossReported = true;
            Error("warning: records are being lost: " + std::to_string(static_cast<long long>(pace.stored)) +
                  " records/s stored where the period gives " + std::to_string(static_cast<long long>(pace.expected)) +
                  "; " + std::to_string(static_cast<long long>(pace.behind)) + " records behind the module's clock");
        }
        if (!m.noProgress && (tty || Clock::now() - lastLine >= std::chrono::seconds(1))) {
            lastLine = Clock::now();
            if (m.json) {
                info << "{\"event\": \"progress\", \"elapsed_s\": " << Seconds3(elapsed) << ", \"stored\": " << p.stored
                     << ", \"period_rate\": " << static_cast<long long>(pace.expected)
                     << ", \"stored_rate\": " << static_cast<long long>(pace.stored)
                     << ", \"behind\": " << static_cast<long long>(pace.behind) << ", \"measurement_status\": " << p.status
                     << ", \"status_name\": " << Json(MeasurementStatusName(p.status)) << "}\n"
                     << std::flush;
            } else {
                std::string bar;
                if (m.records > 0) {
                    int filled = static_cast<int>(30.0 * std::min<double>(1.0, static_cast<double>(p.stored) / m.records));
                    bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                          std::string(static_cast<size_t>(30 - filled), '.') + "] ";
                }
                char line[320];
                std::snprintf(line, sizeof line,
                              "%s%u%s records  %.0f/s by the period, %.0f/s stored, %.0f behind  %s  status %u %s",
                              bar.c_str(), p.stored, m.records ? ("/" + std::to_string(m.records)).c_str() : "",
                              pace.expected, pace.stored, pace.behind, Clock2(elapsed).c_str(), p.status,
                              MeasurementStatusName(p.status));
                info << (tty ? "\r\x1b[K" : "") << line << (tty ? "" : "\n") << std::flush;
            }
        }
        if (p.status != ZELK_MEASURE_RUNNING) break;
        if (!stopRequested && (Interrupted() || streamFailed || (m.duration > 0 && elapsed >= m.duration))) {
            interrupted = Interrupted();
            stopRequested = true;
            // Channel 200 = 0 stops the module; in DBF mode it also starts the conversion.
            s.Write({{ZELK_CH_MEASURE_START, LongValue(0)}}, o.cycleTimeoutMs);
        }
        for (int i = 0; i < 20 && !(Interrupted() && !stopRequested); ++i) {
            PumpMessages(10);
            streamNew();
        }
        p = Poll(s, o.cycleTimeoutMs);
    }
    // The measurement has ended: what it stored last is in the file now.
    streamNew();
    if (tty) info << "\n";
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
        // A conversion that fails says so on channel 203: no need to wait for the limit then.
        uint32_t conversion = ZELK_MEASURE_IDLE;
        while (binLeft() && Clock::now() < limit && conversion != ZELK_MEASURE_FILE_FAILED) {
            PumpMessages(20);
            conversion = Poll(s, o.cycleTimeoutMs).status;
        }
        if (conversion == ZELK_MEASURE_FILE_FAILED) {
            std::string text;
            const int status = s.DeviceStatus(&text, o.cycleTimeoutMs);
            Error("the conversion to dBASE failed: device status " + StatusShown(status, Show(text)) +
                  "; the record file is left, convert it with zelk convert once the cause is mended");
        }
        files.clear();
        for (const fs::path& f : RecordFiles(out))
            if (!before.count(f)) files.insert(f);
    }
    std::string text;
    int device = s.DeviceStatus(&text, o.cycleTimeoutMs);

    const std::string endText = interrupted                ? "stopped by Ctrl+C"
                                : streamFailed && writer ? "stopped: the stream's output failed"
                                : stopRequested          ? "stopped after --duration"
                                                         : MeasurementStatusName(endStatus);
    if (m.json) {
        info << "{\"event\": \"end\", \"stored\": " << p.stored << ", \"streamed\": " << follower.RecordsRead()
             << ", \"period_used_us\": " << Seconds3(periodUsed) << ", \"configured_period_us\": "
             << Seconds3(configuredPeriod) << ", \"elapsed_s\": " << Seconds3(elapsed) << ", \"end\": " << Json(endText)
             << ", \"measurement_status\": " << endStatus << ", \"device_status\": " << device
             << ", \"device_text\": " << Json(Show(text)) << ", \"bytes_per_record\": " << layout.RecordBytes()
             << ", \"files\": [";
        bool comma = false;
        for (const fs::path& f : files) info << (std::exchange(comma, true) ? ", " : "") << Json(Utf8(f));
        info << "]}\n";
    } else {
        info << "records stored    " << p.stored << "\n";
        if (writer) info << "records streamed  " << follower.RecordsRead() << "\n";
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.1f us (configured %.1f us)", periodUsed, configuredPeriod);
        info << "period used       " << buf << "\n";
        std::snprintf(buf, sizeof buf, "%.1f s", elapsed);
        info << "elapsed           " << buf << "\n"
             << "end               " << endText << " (measurement status " << endStatus << ")\n"
             << "device status     " << StatusShown(device, Show(text)) << "\n"
             << "bytes per record  " << layout.RecordBytes() << "\n";
        for (const fs::path& f : files) info << "wrote             " << Utf8(f) << " (" << fs::file_size(f, ec) << " bytes)\n";
        if (files.empty()) info << "wrote             nothing\n";
    }
    if (files.empty() && p.stored > 0) {
        Error("the driver stored " + std::to_string(p.stored) + " records, but " + outUtf8 +
              " holds no file of this measurement");
        return kExitFile;
    }
    // The settings travel with the data: one sidecar per base name (record file and table),
    // naming the first of its files (the record file while it is there).
    std::map<fs::path, std::string> sidecars;
    for (const fs::path& f : files) sidecars.emplace(SidecarPath(f), Utf8(f.filename()));
    bool sidecarFailed = false;
    for (const auto& [f, dataFile] : sidecars) {
        std::string error;
        if (WriteSidecar(run, RunFacts{periodUsed, started, p.stored, layout.RecordBytes(), dataFile}, f, &error)) {
            if (!m.json) info << "wrote             " << Utf8(f) << " (settings)\n";
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
    if (streamFailed && writer) {
        Error("the stream's output failed (a closed pipe, a full disk): the measurement was stopped");
        return kExitFile;
    }
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
