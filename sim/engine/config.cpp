// The simulator's INI file: bench settings, devices, command faults and D2XX faults.
// The whole file is checked before anything is applied, so a bad file changes nothing.
#include <cstdio>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "sim/sim.h"

namespace zelk::sim {

namespace {

struct Entry {
    std::string key, value;
    int line = 0;
};

struct Section {
    std::string name;
    int line = 0;
    std::vector<Entry> entries;
};

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

// Keys and keywords compare without case, with '_' and '-' taken as blanks.
std::string Norm(std::string_view s) {
    std::string out;
    for (char c : Trim(s)) {
        if (c == '_' || c == '-') c = ' ';
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

bool ParseSections(const std::string& text, std::vector<Section>& out, std::string& error) {
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        std::string s = Trim(raw);
        if (s.empty() || s[0] == ';' || s[0] == '#') continue;
        if (s.front() == '[') {
            const size_t close = s.find(']');
            const std::string rest = close == std::string::npos ? "" : Trim(s.substr(close + 1));
            if (close == std::string::npos || (!rest.empty() && rest[0] != ';' && rest[0] != '#')) {
                error = "line " + std::to_string(line) + ": bad section name";
                return false;
            }
            out.push_back({Norm(s.substr(1, close - 1)), line, {}});
            continue;
        }
        const size_t eq = s.find('=');
        if (eq == std::string::npos || out.empty()) {
            error = "line " + std::to_string(line) + (out.empty() ? ": entry outside a section" : ": no '='");
            return false;
        }
        std::string value = Trim(s.substr(eq + 1));
        const size_t comment = value.find(" ;");
        if (comment != std::string::npos) value = Trim(value.substr(0, comment));
        out.back().entries.push_back({Norm(s.substr(0, eq)), value, line});
    }
    return true;
}

bool ParseNumber(const std::string& v, uint64_t& out) {
    int base = 10;
    std::string_view s = v;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return ec == std::errc() && p == s.data() + s.size();
}

bool ParseBool(const std::string& v, bool& out) {
    const std::string n = Norm(v);
    if (n == "1" || n == "yes" || n == "true" || n == "on") return out = true, true;
    if (n == "0" || n == "no" || n == "false" || n == "off") return out = false, true;
    return false;
}

bool ParseSignals(const std::string& v, SignalMode& out) {
    const std::string n = Norm(v);
    if (n == "waveform") return out = SignalMode::Waveform, true;
    if (n == "sequence") return out = SignalMode::Sequence, true;
    return false;
}

bool ParseFault(const std::string& v, ReplyFault& out) {
    static const std::pair<const char*, ReplyFault> kNames[] = {
        {"none", ReplyFault::None},           {"no reply", ReplyFault::NoReply},
        {"late reply", ReplyFault::LateReply}, {"short reply", ReplyFault::ShortReply},
        {"long reply", ReplyFault::LongReply}, {"wrong echo", ReplyFault::WrongEcho},
        {"extra byte", ReplyFault::ExtraByte}, {"split reply", ReplyFault::SplitReply}};
    for (const auto& [name, f] : kNames)
        if (Norm(v) == name) return out = f, true;
    return false;
}

bool ParseCall(const std::string& v, D2xxCall& out) {
    static const char* kNames[kD2xxCallCount] = {"ft listdevices", "ft open", "ft close", "ft resetdevice",
                                                 "ft setlatencytimer", "ft purge", "ft write", "ft read",
                                                 "ft getqueuestatus"};
    for (int i = 0; i < kD2xxCallCount; ++i)
        if (Norm(v) == kNames[i]) return out = D2xxCall(i), true;
    return false;
}

// "0, 3, 1000": the byte counts of successive short reads.
bool ParseNumberList(const std::string& v, std::vector<uint32_t>& out) {
    std::stringstream in(v);
    std::string item;
    out.clear();
    while (std::getline(in, item, ',')) {
        uint64_t n = 0;
        if (!ParseNumber(Trim(item), n) || n > 0xFFFFFFFFu) return false;
        out.push_back(uint32_t(n));
    }
    return !out.empty();
}

bool ParseTimes(const std::string& v, int& out) {
    if (Norm(v) == "always") return out = kAlways, true;
    uint64_t n = 0;
    if (!ParseNumber(v, n) || n == 0 || n > 1000000000) return false;
    out = int(n);
    return true;
}

using Action = std::function<void(Bench&)>;

// Indices of the devices a fault names: one index, or every device.
std::function<std::vector<int>(Bench&)> DeviceSelector(const std::string& v, bool& ok) {
    ok = true;
    if (Norm(v) == "all")
        return [](Bench& b) {
            std::vector<int> all(size_t(b.DeviceCount()));
            for (size_t i = 0; i < all.size(); ++i) all[i] = int(i);
            return all;
        };
    uint64_t n = 0;
    ok = ParseNumber(v, n) && n < 1000;
    return [n](Bench&) { return std::vector<int>{int(n)}; };
}

class Planner {
public:
    std::vector<Action> devices, settings;
    std::string error;

    bool Fail(const Entry& e, const std::string& what) {
        error = "line " + std::to_string(e.line) + ": " + what + " '" + e.value + "'";
        return false;
    }
    bool FailKey(const Entry& e, const std::string& what) {
        error = "line " + std::to_string(e.line) + ": " + what + " '" + e.key + "'";
        return false;
    }

    bool BenchSection(const Section& s) {
        for (const Entry& e : s.entries) {
            uint64_t n = 0;
            SignalMode mode{};
            if (e.key == "signals") {
                if (!ParseSignals(e.value, mode)) return Fail(e, "unknown signal mode");
                settings.push_back([mode](sim::Bench& b) {
                    for (int i = 0; i < b.DeviceCount(); ++i) b.SetSignalMode(i, mode);
                });
                continue;
            }
            if (!ParseNumber(e.value, n) || n > 0xFFFFFFFFu) return Fail(e, "bad number");
            if (e.key == "bandwidth") {
                settings.push_back([n](sim::Bench& b) { b.SetBandwidth(uint32_t(n)); });
            } else if (e.key == "latency") {
                settings.push_back([n](sim::Bench& b) { b.SetReplyLatencyMs(uint32_t(n)); });
            } else if (e.key == "module buffer") {
                settings.push_back([n](sim::Bench& b) { b.SetModuleBufferBytes(size_t(n)); });
            } else if (e.key == "host queue") {
                settings.push_back([n](sim::Bench& b) { b.SetHostQueueBytes(size_t(n)); });
            } else {
                return FailKey(e, "unknown key in [bench]:");
            }
        }
        return true;
    }

    bool DeviceSection(const Section& s) {
        std::string serial, description = "ZELK-2716E";
        bool plugged = true;
        std::optional<SignalMode> mode;
        for (const Entry& e : s.entries) {
            if (e.key == "serial") {
                serial = e.value;
            } else if (e.key == "description") {
                description = e.value;
            } else if (e.key == "plugged") {
                if (!ParseBool(e.value, plugged)) return Fail(e, "not yes or no:");
            } else if (e.key == "signals") {
                SignalMode m{};
                if (!ParseSignals(e.value, m)) return Fail(e, "unknown signal mode");
                mode = m;
            } else {
                return FailKey(e, "unknown key in [device]:");
            }
        }
        if (serial.empty()) {
            error = "line " + std::to_string(s.line) + ": [device] without a serial";
            return false;
        }
        if (devices.empty()) devices.push_back([](sim::Bench& b) { b.ClearDevices(); });
        devices.push_back([=](sim::Bench& b) {
            const int i = b.AddDevice(serial, description);
            b.SetPlugged(i, plugged);
            if (mode) b.SetSignalMode(i, *mode);
        });
        return true;
    }

    bool CommandFaultSection(const Section& s) {
        std::function<std::vector<int>(sim::Bench&)> which = [](sim::Bench&) { return std::vector<int>{0}; };
        std::optional<uint8_t> code;
        ReplyFault fault = ReplyFault::None;
        uint32_t amount = 0;
        int times = kAlways;
        for (const Entry& e : s.entries) {
            uint64_t n = 0;
            bool ok = true;
            if (e.key == "device") {
                which = DeviceSelector(e.value, ok);
                if (!ok) return Fail(e, "bad device");
            } else if (e.key == "command") {
                if (!ParseNumber(e.value, n) || n > 0xFF) return Fail(e, "bad command code");
                code = uint8_t(n);
            } else if (e.key == "fault") {
                if (!ParseFault(e.value, fault)) return Fail(e, "unknown fault");
            } else if (e.key == "amount") {
                if (!ParseNumber(e.value, n) || n > 0xFFFFFFFFu) return Fail(e, "bad number");
                amount = uint32_t(n);
            } else if (e.key == "times") {
                if (!ParseTimes(e.value, times)) return Fail(e, "bad times");
            } else {
                return FailKey(e, "unknown key in [command fault]:");
            }
        }
        if (!code) {
            error = "line " + std::to_string(s.line) + ": [command fault] without a command";
            return false;
        }
        settings.push_back([=, c = *code](sim::Bench& b) {
            for (int i : which(b)) b.SetCommandFault(i, c, fault, amount, times);
        });
        return true;
    }

    bool D2xxFaultSection(const Section& s) {
        std::optional<D2xxCall> call;
        std::optional<uint64_t> status, limit;
        std::optional<std::vector<uint32_t>> read_limits;
        bool invalid_handle = false;
        int times = kAlways;
        for (const Entry& e : s.entries) {
            uint64_t n = 0;
            D2xxCall c{};
            if (e.key == "function") {
                if (!ParseCall(e.value, c)) return Fail(e, "unknown D2XX function");
                call = c;
            } else if (e.key == "status") {
                if (!ParseNumber(e.value, n) || n > 0xFFFFFFFFu) return Fail(e, "bad status");
                status = n;
            } else if (e.key == "invalid handle") {
                if (!ParseBool(e.value, invalid_handle)) return Fail(e, "not yes or no:");
            } else if (e.key == "write limit") {
                if (!ParseNumber(e.value, n) || n > 0xFFFFFFFFu) return Fail(e, "bad number");
                limit = n;
            } else if (e.key == "read limit") {
                std::vector<uint32_t> l;
                if (!ParseNumberList(e.value, l)) return Fail(e, "bad list of numbers");
                read_limits = std::move(l);
            } else if (e.key == "times") {
                if (!ParseTimes(e.value, times)) return Fail(e, "bad times");
            } else {
                return FailKey(e, "unknown key in [d2xx fault]:");
            }
        }
        const std::string where = "line " + std::to_string(s.line) + ": [d2xx fault] ";
        if (!call) return error = where + "without a function", false;
        if (invalid_handle && *call != D2xxCall::Open) return error = where + "invalid handle needs FT_Open", false;
        if (limit && *call != D2xxCall::Write) return error = where + "write limit needs FT_Write", false;
        if (read_limits && *call != D2xxCall::Read) return error = where + "read limit needs FT_Read", false;
        if (int(!!status) + int(invalid_handle) + int(!!limit) + int(!!read_limits) != 1)
            return error = where + "needs one of status, invalid handle, write limit, read limit", false;
        if (status) {
            settings.push_back([=, c = *call, st = uint32_t(*status)](sim::Bench& b) { b.FailD2xx(c, st, times); });
        } else if (invalid_handle) {
            settings.push_back([=](sim::Bench& b) { b.SetOpenReturnsInvalidHandle(times); });
        } else if (read_limits) {
            settings.push_back([=, l = *read_limits](sim::Bench& b) { b.LimitRead(l, times); });
        } else {
            settings.push_back([=, l = uint32_t(*limit)](sim::Bench& b) { b.LimitWrite(l, times); });
        }
        return true;
    }
};

}  // namespace

bool ConfigureBench(Bench& bench, const std::string& ini_text, std::string* error) {
    std::vector<Section> sections;
    std::string err;
    Planner plan;
    bool ok = ParseSections(ini_text, sections, err);
    for (size_t i = 0; ok && i < sections.size(); ++i) {
        const Section& s = sections[i];
        if (s.name == "bench") ok = plan.BenchSection(s);
        else if (s.name == "device") ok = plan.DeviceSection(s);
        else if (s.name == "command fault") ok = plan.CommandFaultSection(s);
        else if (s.name == "d2xx fault") ok = plan.D2xxFaultSection(s);
        else {
            plan.error = "line " + std::to_string(s.line) + ": unknown section [" + s.name + "]";
            ok = false;
        }
        if (!ok && err.empty()) err = plan.error;
    }
    if (!ok) {
        if (error) *error = err;
        return false;
    }
    for (const Action& a : plan.devices) a(bench);
    for (const Action& a : plan.settings) a(bench);
    return true;
}

bool ConfigureBenchFromFile(Bench& bench, const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ConfigureBench(bench, text.str(), error);
}

void ConfigureGlobalBenchFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* path = std::getenv("ZELK_SIM_CONFIG");
        if (path == nullptr || *path == 0) return;
        std::string error;
        // The simulator is a development tool: a configuration it cannot use is said once on
        // stderr rather than silently replaced by the default bench.
        if (!ConfigureBenchFromFile(GlobalBench(), path, &error))
            std::fprintf(stderr, "simulated module: ZELK_SIM_CONFIG %s not used: %s\n", path, error.c_str());
    });
}

}  // namespace zelk::sim
