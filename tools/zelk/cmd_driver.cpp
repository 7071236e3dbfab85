// Commands that talk to a running driver instance: info, devices, read, write, watch,
// window, and the channel table.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <thread>

#include "channel_labels.h"
#include "channels.h"
#include "commands.h"
#include "domain/status_texts.h"
#include "domain/channel_map.h"
#include "usb/d2xx.h"

namespace zelk::tool {
namespace {

constexpr uint32_t kDiagnosticsPage = 1;

// The window's diagnostics page for one channel: description, stored value text, status.
struct Diagnostics {
    std::string description, value, status;  // UTF-8
    bool available = false;
};

Diagnostics Diagnose(Session& s, uint32_t ch) {
    s.WindowPage(kDiagnosticsPage);
    s.WindowMonitor(ch);
    std::string text = Show(s.WindowText());
    Diagnostics d;
    d.available = text.find("Hodnota") != std::string::npos;
    d.description = WindowField(text, "Typ");
    d.value = WindowField(text, "Hodnota");
    d.status = WindowField(text, "Status");
    return d;
}

// The code beside a channel's status text (UTF-8): the channel's own statuses for a number
// that names no channel or a channel without a finished request, 0 for a request that
// finished in order, else the device status that the cycle finished with.
int ChannelStatusCode(uint32_t ch, const std::string& text, int deviceStatus) {
    if (!IsDefinedChannel(ch)) return kChannelStatusUndefined;
    if (text == Show(StatusText(Status::ChannelUnused))) return kChannelStatusUnused;
    // Channels the driver answers itself (the period, the device status) finish with the
    // status at their request, which may be 0 in a cycle whose module channels failed.
    if (text == Show(StatusText(Status::Ok))) return Code(Status::Ok);
    return deviceStatus;
}

std::string JsonStatus(int code, const std::string& utf8Text) {
    return "{\"code\": " + std::to_string(code) + ", \"text\": " + Json(utf8Text) +
           ", \"english\": " + Json(StatusGloss(code)) + "}";
}

// A read gives a value when it finished with status 0. Channels 97..99 are the device status
// itself: their value stands whatever the status is.
bool HasValue(const Reading& r, int statusCode) {
    if (!r.finished) return false;
    if (r.channel >= ZELK_CH_DEVICE_FAULT && r.channel <= ZELK_CH_DEVICE_TEXT) return true;
    return statusCode == 0;
}

// A value as JSON: a number, true/false, a string, or null for a read without a value.
std::string JsonValue(const Reading& r, bool hasValue) {
    if (!hasValue) return "null";
    switch (r.value.tag) {
        case kTagBoolean: return AsBool(r.value) ? "true" : "false";
        case kTagLongcard: return std::to_string(AsLong(r.value));
        case kTagReal: {
            const double v = AsReal(r.value);
            if (!std::isfinite(v)) return "null";
            char buf[32];
            auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
            return std::string(buf, end);
        }
        case kTagString: return Json(Show(r.text));
        default: return "null";
    }
}

int DeviceExit(const Host& h) { return h.deviceStatus == 0 ? kExitOk : kExitDevice; }

// One read cycle with the device status code in the same batch: the status the channels
// finished with (-1 when it did not finish).
std::vector<Reading> ReadWithStatus(Session& s, std::vector<uint32_t> channels, int timeoutMs, int* deviceStatus) {
    channels.push_back(ZELK_CH_DEVICE_STATUS);
    std::vector<Reading> rs = s.Read(channels, timeoutMs);
    *deviceStatus = rs.back().finished ? static_cast<int>(AsLong(rs.back().value)) : -1;
    rs.pop_back();
    return rs;
}

// Exit 3 with the device status when channels finished with a non-zero one.
int CycleDeviceExit(Session& s, int deviceStatus, int timeoutMs) {
    if (deviceStatus == 0) return kExitOk;
    std::string text;
    const int now = s.DeviceStatus(&text, timeoutMs);
    Error("channels finished with device status " + std::to_string(deviceStatus) + " (now " +
          StatusShown(now, Show(text)) + "); see docs/troubleshooting.md");
    return kExitDevice;
}

// A read's value with its unit; "–" for a read without a value.
std::string ReadingText(const Reading& r, bool hasValue, const ChannelLabels& labels) {
    if (!r.finished) return "– (not finished)";
    if (!hasValue) return "–";
    std::string v = r.value.tag == kTagString ? Show(r.text) : ValueText(r.value, r.text);
    const std::string unit = labels.Of(r.channel).unit;
    if (!unit.empty()) v += " " + unit;
    return v;
}

constexpr size_t kNameColumns = 24;  // longer names are cut with "…" in tables

// Width of a name column for the channels shown: 0 (no column) when none has a name.
size_t NameWidth(const std::vector<uint32_t>& channels, const ChannelLabels& labels) {
    size_t w = 0;
    for (uint32_t ch : channels) w = std::max(w, Columns(labels.Of(ch).name));
    return w == 0 ? 0 : std::min(std::max<size_t>(w, 4), kNameColumns) + 2;
}

// Exit 4 for channels the driver does not define: their reads never finish with a value.
int UndefinedExit(const std::vector<uint32_t>& channels) {
    std::string undefined;
    for (uint32_t ch : channels)
        if (!IsDefinedChannel(ch)) undefined += (undefined.empty() ? "" : ", ") + std::to_string(ch);
    if (undefined.empty()) return kExitOk;
    Error("channel" + std::string(undefined.find(',') == std::string::npos ? " " : "s ") + undefined +
          (undefined.find(',') == std::string::npos ? " is" : " are") +
          " not defined (status 100): nothing read; `zelk channels` lists the channels");
    return kExitMeasurement;
}

}  // namespace

int CmdInfo(const DriverOptions& o, bool json) {
    DriverLibrary lib;
    if (int rc = LoadDriver(o, &lib); rc != kExitOk) return rc;
    int32_t version = lib.Version();
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%05X", static_cast<unsigned>(version));
    const bool check = lib.Check() == 1;
    const std::string info = Show(lib.DriverInfo()), queried = Show(lib.QueryVersion());
    if (!json)
        std::cout << "driver library   " << lib.Path() << "\n"
                  << "Version          " << hex << " (" << version << ")\n"
                  << "Check            " << (check ? "true" : "false") << "\n"
                  << "GetDriverInfo    " << info << "\n"
                  << "GetVersion       " << queried << "\n";

    Host h;
    if (int rc = StartHost(o, &h); rc != kExitOk) return rc;
    Session& s = *h.session;
    s.WindowPage(0);
    std::string settings = Show(s.WindowText());
    auto r = s.Read({ZELK_CH_DEVICE_TEXT}, o.cycleTimeoutMs);
    const std::string param = o.param.empty() ? "(written for serial " + o.serial + ")" : h.paramPath;
    if (json) {
        std::cout << "{\"driver_library\": " << Json(lib.Path()) << ", \"version\": " << version
                  << ", \"check\": " << (check ? "true" : "false") << ", \"driver_info\": " << Json(info)
                  << ", \"get_version\": " << Json(queried) << ", \"parameter_file\": " << Json(param)
                  << ", \"serial_number\": " << Json(WindowField(settings, "Výrobní číslo"))
                  << ", \"module_type\": " << Json(WindowField(settings, "Typ"))
                  << ", \"device_status\": " << JsonStatus(h.deviceStatus, h.deviceText) << "}\n";
        return DeviceExit(h);
    }
    std::cout << "parameter file   " << param << "\n"
              << "serial number    " << WindowField(settings, "Výrobní číslo") << "\n"
              << "module type      " << WindowField(settings, "Typ") << "\n"
              << "channel 99       " << Show(r[0].text) << "\n"
              << "device status    " << StatusShown(h.deviceStatus, h.deviceText) << "\n";
    return DeviceExit(h);
}

static std::string D2xxCandidate(const DriverOptions& o, const DevicesOptions& d, std::string* what) {
    namespace fs = std::filesystem;
    if (!d.d2xx.empty()) {
        *what = "the D2XX library named by --d2xx";
        return fs::absolute(d.d2xx).string();
    }
    std::string driver = ResolveDriverPath(o.driver);
    if (driver.find("_sim") != std::string::npos) {
        // The simulated driver carries its bench inside; the drop-in D2XX library is the
        // same simulator, configured from the same ZELK_SIM_CONFIG.
        const char* cfg = std::getenv("ZELK_SIM_CONFIG");
        *what = std::string("the simulator's drop-in D2XX library (the sim driver's bench: ") +
                (cfg && *cfg ? "ZELK_SIM_CONFIG=" + std::string(cfg) : "default bench, ZELK_SIM_CONFIG unset") + ")";
        fs::path dir = fs::path(driver).parent_path();
        for (fs::path p : {dir / ".." / "d2xx" / D2xxFileName(), dir / "d2xx" / D2xxFileName(),
                           fs::path(plat::ExecutableDirectory()) / ".." / "d2xx" / D2xxFileName()})
            if (fs::exists(p)) return fs::weakly_canonical(p).string();
    }
    *what = "FTDI's D2XX library found by the system's library search";
    return D2xxFileName();
}

int CmdDevices(const DriverOptions& o, const DevicesOptions& d) {
    std::string what;
    std::string path = D2xxCandidate(o, d, &what);
    plat::DynamicLibrary lib;
    std::string error;
    if (!lib.Open(path, &error)) {
        Error("cannot load " + path + ": " + error);
        return kExitDriver;
    }
    auto list = reinterpret_cast<usb::PFN_FT_ListDevices>(lib.Symbol("FT_ListDevices"));
    if (!list) {
        Error(path + " does not export FT_ListDevices");
        return kExitDriver;
    }
    uint32_t count = 0;
    uint32_t st = list(&count, nullptr, usb::FT_LIST_NUMBER_ONLY);
    if (!d.json) std::cout << "D2XX devices seen by " << what << "\n  " << path << "\n";
    if (st != 0) {
        if (d.json) std::cout << "{\"d2xx\": " << Json(path) << ", \"ft_status\": " << st << ", \"devices\": []}\n";
        else std::cout << "FT_ListDevices failed, FT status " << st << "\n";
        return kExitDevice;
    }
    if (!d.json) std::cout << "\n" << Pad("index", 7) << Pad("serial", 14) << "description\n";
    std::vector<std::string> serials, jsonDevices;
    for (uint32_t i = 0; i < count; ++i) {
        char serial[usb::kD2xxTextBufferSize] = {}, desc[usb::kD2xxTextBufferSize] = {};
        void* index = reinterpret_cast<void*>(static_cast<uintptr_t>(i));
        list(index, serial, usb::FT_LIST_BY_INDEX | usb::FT_OPEN_BY_SERIAL_NUMBER);
        list(index, desc, usb::FT_LIST_BY_INDEX | usb::FT_OPEN_BY_DESCRIPTION);
        serials.push_back(serial);
        jsonDevices.push_back("{\"index\": " + std::to_string(i) + ", \"serial\": " + Json(Show(serial)) +
                              ", \"description\": " + Json(Show(desc)));
        if (!d.json) std::cout << Pad(std::to_string(i), 7) << Pad(Show(serial), 14) << Show(desc) << "\n";
    }
    if (count == 0 && !d.json) std::cout << "(no device)\n";
    if (d.probe) {
        // What the driver itself makes of each one: one instance per module, in turn.
        if (!d.json) std::cout << "\nprobed through the driver " << ResolveDriverPath(o.driver) << ":\n";
        for (size_t i = 0; i < serials.size(); ++i) {
            DriverOptions po = o;
            po.serial = serials[i];
            po.param.clear();
            Host h;
            if (int rc = StartHost(po, &h); rc != kExitOk) return rc;
            h.session->WindowPage(0);
            std::string type = WindowField(Show(h.session->WindowText()), "Typ");
            jsonDevices[i] += ", \"module_type\": " + Json(type) +
                              ", \"device_status\": " + JsonStatus(h.deviceStatus, h.deviceText);
            if (!d.json)
                std::cout << "  " << Pad(serials[i], 12) << " type " << Pad(type, 12) << " status "
                          << StatusShown(h.deviceStatus, h.deviceText) << "\n";
        }
    }
    if (d.json) {
        std::cout << "{\"d2xx\": " << Json(path) << ", \"devices\": [";
        for (size_t i = 0; i < jsonDevices.size(); ++i) std::cout << (i ? ", " : "") << jsonDevices[i] << "}";
        std::cout << "]}\n";
    }
    return count > 0 ? kExitOk : kExitDevice;
}

int CmdRead(const DriverOptions& o, const ReadOptions& ro) {
    std::vector<uint32_t> channels;
    std::string error;
    if (ro.channels.empty()) channels = DefaultReadChannels();
    else if (!ParseChannelList(ro.channels, &channels, &error)) {
        Error(error);
        return kExitUsage;
    }
    Host h;
    if (int rc = StartHost(o, &h); rc != kExitOk) return rc;
    Session& s = *h.session;
    const ChannelLabels labels = ChannelLabels::FromParamFile(h.paramPath);
    int cycleStatus = -1;
    std::vector<Reading> readings = ReadWithStatus(s, channels, o.cycleTimeoutMs, &cycleStatus);
    bool allFinished = true;
    const size_t nameWidth = NameWidth(channels, labels);
    struct Row {
        std::string desc, value, statusText;
        int code;
        bool hasValue;
    };
    std::vector<Row> rows;
    size_t valueWidth = 24;
    for (const Reading& r : readings) {
        ChannelInfo c = Channel(r.channel);
        Diagnostics d = Diagnose(s, r.channel);
        Row row;
        row.desc = ro.english || d.description.empty() ? (c.defined ? c.meaning : "not defined") : d.description;
        row.code = d.available ? ChannelStatusCode(r.channel, d.status, cycleStatus) : h.deviceStatus;
        row.statusText = d.available ? d.status : h.deviceText;
        row.hasValue = HasValue(r, row.code);
        row.value = ReadingText(r, row.hasValue, labels);
        valueWidth = std::max(valueWidth, Columns(row.value) + 2);
        allFinished = allFinished && r.finished;
        rows.push_back(std::move(row));
    }
    if (ro.json) std::cout << "[";
    else
        std::cout << Pad("ch", 5) << (nameWidth ? Pad("name", nameWidth) : "") << Pad("description", 54)
                  << Pad("value", valueWidth) << "status\n";
    for (size_t i = 0; i < readings.size(); ++i) {
        const Reading& r = readings[i];
        const Row& row = rows[i];
        const ChannelLabel label = labels.Of(r.channel);
        if (ro.json)
            std::cout << (i == 0 ? "" : ",\n ") << "{\"channel\": " << r.channel << ", \"name\": " << Json(label.name)
                      << ", \"description\": " << Json(row.desc) << ", \"kind\": " << Json(KindName(Channel(r.channel).tag))
                      << ", \"value\": " << JsonValue(r, row.hasValue) << ", \"unit\": " << Json(label.unit)
                      << ", \"finished\": " << (r.finished ? "true" : "false")
                      << ", \"status\": " << JsonStatus(row.code, row.statusText) << "}";
        else
            std::cout << Pad(std::to_string(r.channel), 5)
                      << (nameWidth ? Pad(Clip(label.name, nameWidth - 2), nameWidth) : "") << Pad(row.desc, 54)
                      << Pad(row.value, valueWidth) << StatusShown(row.code, row.statusText) << "\n";
    }
    if (ro.json) std::cout << "]\n";
    if (!allFinished) {
        Error("some channels did not finish within " + std::to_string(o.cycleTimeoutMs) + " ms");
        return kExitMeasurement;
    }
    const int undefined = UndefinedExit(channels);
    const int device = CycleDeviceExit(s, cycleStatus, o.cycleTimeoutMs);
    return undefined != kExitOk ? undefined : device;
}

int CmdWrite(const DriverOptions& o, const std::vector<std::string>& assignments) {
    std::vector<std::pair<uint32_t, Value>> values;
    for (const std::string& a : assignments) {
        uint32_t ch;
        Value v{};
        std::string error;
        if (!ParseWrite(a, &ch, &v, &error)) {
            Error(error);
            return kExitUsage;
        }
        values.emplace_back(ch, v);
    }
    if (values.empty()) {
        Error("nothing to write: give CH=VALUE, e.g. zelk write 78=1 165=500");
        return kExitUsage;
    }
    Host h;
    if (int rc = StartHost(o, &h); rc != kExitOk) return rc;
    Session& s = *h.session;
    bool finished = s.Write(values, o.cycleTimeoutMs);
    Table t({"ch", "written", "limits applied", "driver stored", "status"});
    std::vector<std::string> notes;
    for (const auto& [ch, v] : values) {
        std::optional<std::string> expected = ExpectedStored(ch, v);
        Diagnostics d = Diagnose(s, ch);
        const std::string written = ValueText(v, "");
        t.Add({std::to_string(ch), written, expected.value_or("-"), d.available ? d.value : "?",
               d.available ? StatusShown(ChannelStatusCode(ch, d.status, h.deviceStatus), d.status) : ""});
        if (const std::string note = WriteNote(ch, v); !note.empty())
            notes.push_back("channel " + std::to_string(ch) + ": " + note);
    }
    std::cout << t.Text();
    for (const std::string& n : notes) std::cout << n << "\n";
    if (!finished) {
        Error("the write cycle did not finish within " + std::to_string(o.cycleTimeoutMs) + " ms");
        return kExitMeasurement;
    }
    std::string text;
    int status = s.DeviceStatus(&text, o.cycleTimeoutMs);
    if (status != 0) Error("device status " + StatusShown(status, Show(text)));
    return status == 0 ? kExitOk : kExitDevice;
}

int CmdWatch(const DriverOptions& o, const WatchOptions& w) {
    std::vector<uint32_t> channels;
    std::string error;
    if (!ParseChannelList(w.channels, &channels, &error)) {
        Error(error);
        return kExitUsage;
    }
    if (w.intervalMs < 1) {
        Error("--interval must be at least 1 ms");
        return kExitUsage;
    }
    Host h;
    if (int rc = StartHost(o, &h); rc != kExitOk) return rc;
    Session& s = *h.session;
    const ChannelLabels labels = ChannelLabels::FromParamFile(h.paramPath);
    const size_t nameWidth = NameWidth(channels, labels);
    const bool live = StdoutIsTerminal() && !w.json;
    if (!live && !w.json) {
        std::cout << "cycle";
        for (uint32_t ch : channels) std::cout << "\t" << labels.Heading("ch" + std::to_string(ch), ch);
        std::cout << "\n";
    }
    auto start = std::chrono::steady_clock::now();
    int failedStatus = 0;  // the first non-zero device status a cycle finished with
    for (int cycle = 1; w.count == 0 || cycle <= w.count; ++cycle) {
        if (Interrupted()) break;
        auto begin = std::chrono::steady_clock::now();
        int cycleStatus = -1;
        std::vector<Reading> rs = ReadWithStatus(s, channels, o.cycleTimeoutMs, &cycleStatus);
        if (failedStatus == 0 && cycleStatus != 0) failedStatus = cycleStatus;
        auto code = [&](const Reading& r) {
            Diagnostics d = Diagnose(s, r.channel);
            return d.available ? ChannelStatusCode(r.channel, d.status, cycleStatus) : cycleStatus;
        };
        auto text = [&](const Reading& r) { return ReadingText(r, HasValue(r, code(r)), labels); };
        if (w.json) {
            std::ostringstream out;
            out << "{\"cycle\": " << cycle << ", \"t_s\": " << std::chrono::duration<double>(begin - start).count()
                << ", \"device_status\": " << cycleStatus << ", \"channels\": [";
            for (const Reading& r : rs) {
                const ChannelLabel label = labels.Of(r.channel);
                out << (&r == &rs.front() ? "" : ", ") << "{\"channel\": " << r.channel << ", \"name\": "
                    << Json(label.name) << ", \"value\": " << JsonValue(r, HasValue(r, code(r)))
                    << ", \"unit\": " << Json(label.unit) << ", \"finished\": " << (r.finished ? "true" : "false")
                    << ", \"status\": " << code(r) << "}";
            }
            std::cout << out.str() << "]}\n" << std::flush;
        } else if (live) {
            double t = std::chrono::duration<double>(begin - start).count();
            std::ostringstream out;
            out << "\x1b[H\x1b[J" << "zelk watch  cycle " << cycle << "  " << static_cast<int>(t) << " s  every "
                << w.intervalMs << " ms  (Ctrl+C ends)\n\n";
            for (const Reading& r : rs)
                out << Pad(std::to_string(r.channel), 5)
                    << (nameWidth ? Pad(Clip(labels.Of(r.channel).name, nameWidth - 2), nameWidth) : "")
                    << Pad(Channel(r.channel).meaning, 54) << text(r) << "\n";
            std::cout << out.str() << std::flush;
        } else {
            std::cout << cycle;
            for (const Reading& r : rs) std::cout << "\t" << text(r);
            std::cout << "\n" << std::flush;
        }
        auto next = begin + std::chrono::milliseconds(w.intervalMs);
        while (std::chrono::steady_clock::now() < next && !Interrupted()) PumpMessages(5);
    }
    const int undefined = UndefinedExit(channels);
    if (failedStatus != 0) {
        const int device = CycleDeviceExit(s, failedStatus, o.cycleTimeoutMs);
        return undefined != kExitOk ? undefined : device;
    }
    if (Interrupted()) return kExitInterrupted;
    return undefined;
}

int CmdWindow(const DriverOptions& o, const WindowOptions& wo) {
    if (wo.page != "settings" && wo.page != "diagnostics") {
        Error("--page is settings or diagnostics");
        return kExitUsage;
    }
    Host h;
    if (int rc = StartHost(o, &h); rc != kExitOk) return rc;
    Session& s = *h.session;
    s.WindowPage(wo.page == "diagnostics" ? 1 : 0);
    if (wo.channel >= 0) {
        s.WindowPage(1);
        s.WindowMonitor(static_cast<uint32_t>(wo.channel));
    }
    for (char c : wo.keys) s.WindowKey(c == '\n' ? '\r' : c);
    s.WindowProc(ZELK_WINDOW_SHOW);  // its timer refreshes the active page
    if (DesktopWindows() && !wo.text) {
        s.WindowProc(ZELK_WINDOW_RESTORE);
        s.WindowProc(ZELK_WINDOW_FOCUS);
        std::cout << "The driver window is open; Ctrl+C closes it.\n" << std::flush;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(wo.seconds * 1000));
        while (!Interrupted() && (wo.seconds <= 0 || std::chrono::steady_clock::now() < end)) PumpMessages(50);
        s.WindowProc(ZELK_WINDOW_HIDE);
        return Interrupted() ? kExitInterrupted : DeviceExit(h);
    }
    // Let one timer tick (100 ms) refresh the page before it is read.
    PumpMessages(250);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(wo.seconds * 1000));
    for (;;) {
        std::string text = Show(s.WindowText());
        if (wo.follow && StdoutIsTerminal()) std::cout << "\x1b[H\x1b[J";
        std::cout << text;
        if (!text.empty() && text.back() != '\n') std::cout << "\n";
        std::cout << std::flush;
        if (!wo.follow) break;
        if (wo.seconds > 0 && std::chrono::steady_clock::now() >= end) break;
        for (int i = 0; i < 10 && !Interrupted(); ++i) PumpMessages(50);
        if (Interrupted()) break;
        std::cout << "\n";
    }
    s.WindowProc(ZELK_WINDOW_HIDE);
    return Interrupted() ? kExitInterrupted : DeviceExit(h);
}

int CmdChannels(bool markdown, bool json) {
    if (json) {
        std::cout << "[";
        bool first = true;
        for (uint32_t ch = 0; ch < kChannelCount; ++ch) {
            ChannelInfo c = Channel(ch);
            if (!c.defined) continue;
            std::cout << (first ? "" : ",\n ") << "{\"channel\": " << ch << ", \"kind\": " << Json(KindName(c.tag))
                      << ", \"direction\": " << Json(DirectionName(c.direction))
                      << ", \"description\": " << Json(Show(ChannelDescription(ch))) << ", \"meaning\": " << Json(c.meaning)
                      << ", \"unit\": " << Json(c.unit) << ", \"limits\": " << Json(c.limits) << "}";
            first = false;
        }
        std::cout << "]\n";
        return kExitOk;
    }
    if (markdown) {
        std::cout << "| channel | kind | direction | meaning | limits on write |\n|---|---|---|---|---|\n";
        uint32_t ch = 0;
        while (ch < kChannelCount) {
            ChannelInfo c = Channel(ch);
            if (!c.defined) {
                uint32_t last = ch;
                while (last + 1 < kChannelCount && !Channel(last + 1).defined) ++last;
                std::cout << "| " << ch << (last > ch ? ".." + std::to_string(last) : "")
                          << " | - | - | not defined (status 100 \"Kanál nedefinován\") | - |\n";
                ch = last + 1;
                continue;
            }
            std::string meaning = c.meaning + (c.unit.empty() ? "" : ", unit " + c.unit);
            std::cout << "| " << ch << " | " << KindName(c.tag) << " | " << DirectionName(c.direction) << " | "
                      << meaning << " | " << (c.limits.empty() ? "-" : c.limits) << " |\n";
            ++ch;
        }
        return kExitOk;
    }
    for (uint32_t ch = 0; ch < kChannelCount; ++ch) {
        ChannelInfo c = Channel(ch);
        if (!c.defined) continue;
        std::cout << Pad(std::to_string(ch), 5) << Pad(KindName(c.tag), 10) << Pad(DirectionName(c.direction), 15)
                  << c.meaning << (c.limits.empty() ? "" : "  [" + c.limits + "]") << "\n";
    }
    return kExitOk;
}

}  // namespace zelk::tool
