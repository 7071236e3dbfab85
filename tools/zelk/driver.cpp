#include "driver.h"

#include "channels.h"

#include <chrono>
#include <filesystem>
#include <mutex>

namespace zelk::tool {

Value BoolValue(bool b) {
    Value v{};
    v.tag = kTagBoolean;
    v.payload[0] = b ? 1 : 0;
    return v;
}

Value LongValue(uint32_t x) {
    Value v{};
    v.tag = kTagLongcard;
    std::memcpy(v.payload, &x, sizeof x);
    return v;
}

Value RealValue(double d) {
    Value v{};
    v.tag = kTagReal;
    std::memcpy(v.payload, &d, sizeof d);
    return v;
}

uint32_t AsLong(const Value& v) {
    uint32_t x;
    std::memcpy(&x, v.payload, sizeof x);
    return x;
}

double AsReal(const Value& v) {
    double d;
    std::memcpy(&d, v.payload, sizeof d);
    return d;
}

bool AsBool(const Value& v) { return v.payload[0] != 0; }

template <typename F>
static bool Bind(const plat::DynamicLibrary& lib, const char* name, F& fn, std::string* missing) {
    fn = reinterpret_cast<F>(lib.Symbol(name));
    if (!fn && missing->empty()) *missing = name;
    return fn != nullptr;
}

bool DriverLibrary::Load(const std::string& path, std::string* error) {
    path_ = path;
    std::string why;
    if (!lib_.Open(path, &why)) {
        *error = "cannot load the driver " + path + ": " + why;
        return false;
    }
    std::string missing;
    Bind(lib_, "Version", Version, &missing);
    Bind(lib_, "Check", Check, &missing);
    Bind(lib_, "GetDriverInfo", GetDriverInfo, &missing);
    Bind(lib_, "MakeDriver", MakeDriver, &missing);
    Bind(lib_, "DisposeDriver", DisposeDriver, &missing);
    Bind(lib_, "Init", Init, &missing);
    Bind(lib_, "Done", Done, &missing);
    Bind(lib_, "BufferInfo", BufferInfo, &missing);
    Bind(lib_, "SetBufferAddr", SetBufferAddr, &missing);
    Bind(lib_, "InputRequest", InputRequest, &missing);
    Bind(lib_, "InputRequestCompleted", InputRequestCompleted, &missing);
    Bind(lib_, "InputFinalized", InputFinalized, &missing);
    Bind(lib_, "GetInput", GetInput, &missing);
    Bind(lib_, "OutputRequest", OutputRequest, &missing);
    Bind(lib_, "OutputRequestCompleted", OutputRequestCompleted, &missing);
    Bind(lib_, "OutputFinalized", OutputFinalized, &missing);
    Bind(lib_, "DriverProc", DriverProc, &missing);
    Bind(lib_, "QueryProc", QueryProc, &missing);
    if (!missing.empty()) {
        *error = "the driver " + path + " does not export " + missing;
        return false;
    }
    return true;
}

std::string DriverLibrary::DriverInfo() const {
    char buf[257] = {};
    GetDriverInfo(256, buf);
    return buf;
}

std::string DriverLibrary::QueryVersion() const {
    void* inst = MakeDriver();
    if (!inst) return {};
    char buf[256] = {};
    Value v{};
    v.tag = kTagString;
    char* p = buf;
    std::memcpy(v.payload, &p, sizeof p);
    QueryProc(inst, kTagString, "GetVersion", static_cast<int32_t>(sizeof buf), &v);
    DisposeDriver(inst);
    return buf;
}

// A library of the unpacked package (bin/ and lib/ side by side) by its full path, else the
// bare name for the loader's own search (the .deb's system folders, LD_LIBRARY_PATH). The path
// does not rely on the tool's run path, which a loader wrapped by a sanitizer does not apply.
static std::string PackagedOrBare(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path packaged = fs::path(plat::ExecutableDirectory()) / ".." / "lib" / name;
    std::error_code ec;
    return fs::is_regular_file(packaged, ec) ? fs::weakly_canonical(packaged, ec).string() : name;
}

std::string DefaultDriverPath() {
    namespace fs = std::filesystem;
    std::string dir = plat::ExecutableDirectory();
    fs::path beside = fs::path(dir) / SimDriverFileName();
    if (fs::exists(beside)) return beside.string();
    fs::path tree = fs::path(dir) / ".." / "sim" / SimDriverFileName();
    if (fs::exists(tree)) return fs::weakly_canonical(tree).string();
    return PackagedOrBare(SimDriverFileName());
}

std::string ResolveDriverPath(const std::string& option) {
    if (option.empty()) return DefaultDriverPath();
    namespace fs = std::filesystem;
    // A bare file name: the package's own lib/ first, then the loader's search; a path is made absolute.
    if (option.find_first_of("/\\") == std::string::npos) return PackagedOrBare(option);
    return fs::absolute(option).string();
}

// Notifications arrive on the driver's thread with the user value given to Init, which
// names the session in this table.
namespace {
constexpr uint32_t kMaxSessions = 64;
std::mutex g_sessions_lock;
Session* g_sessions[kMaxSessions] = {};
std::atomic<uint32_t>* g_counters[kMaxSessions][2] = {};
}  // namespace

Session::Session(const DriverLibrary& lib) : lib_(lib) {
    inst_ = lib_.MakeDriver();
    std::lock_guard<std::mutex> g(g_sessions_lock);
    for (uint32_t i = 1; i < kMaxSessions; ++i) {
        if (!g_sessions[i]) {
            g_sessions[i] = this;
            g_counters[i][0] = &notified_[0];
            g_counters[i][1] = &notified_[1];
            userValue_ = i;
            break;
        }
    }
}

Session::~Session() {
    if (inst_) {
        if (started_) lib_.Done(inst_);
        lib_.DisposeDriver(inst_);
    }
    std::lock_guard<std::mutex> g(g_sessions_lock);
    if (userValue_ != 0) {
        g_sessions[userValue_] = nullptr;
        g_counters[userValue_][0] = g_counters[userValue_][1] = nullptr;
    }
}

int32_t ZELK_CDECL Session::OnNotify(uint32_t userValue, int32_t kind, void*) {
    std::lock_guard<std::mutex> g(g_sessions_lock);
    if (userValue < kMaxSessions && (kind == 0 || kind == 1) && g_counters[userValue][kind])
        g_counters[userValue][kind]->fetch_add(1);
    return 0;  // one call per notification is enough: the cycle finalizes again
}

bool Session::Start(const std::string& paramFile, std::string* message) {
    if (!inst_) {
        *message = "MakeDriver returned no instance";
        return false;
    }
    char msg[1025] = {};
    started_ = lib_.Init(inst_, 0, paramFile.c_str(), 1024, msg, 0, 0, userValue_, &Session::OnNotify) == 1;
    *message = msg;
    // A failed Init may still have opened the log; Done closes it and is harmless otherwise.
    if (!started_) lib_.Done(inst_);
    return started_;
}

bool Session::WaitFinished(std::vector<uint32_t>& waiting, FnFinalized finalized, int kind, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!waiting.empty()) {
        uint32_t seen = notified_[kind].load();
        std::vector<uint32_t> still;
        for (uint32_t ch : waiting) {
            int32_t err = 0;
            if (finalized(inst_, ch, &err) != 1) still.push_back(ch);
        }
        waiting.swap(still);
        if (waiting.empty()) break;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Wait for a notification; finalize again now and then in case one was missed
        // between the finalize and the wait.
        for (int i = 0; i < 50 && notified_[kind].load() == seen; ++i) {
            PumpMessages(1);
            if (std::chrono::steady_clock::now() >= deadline) break;
        }
    }
    return true;
}

std::vector<Reading> Session::Read(const std::vector<uint32_t>& channels, int timeoutMs) {
    std::vector<Reading> out;
    for (uint32_t ch : channels) lib_.InputRequest(inst_, ch);
    lib_.InputRequestCompleted(inst_);
    std::vector<uint32_t> waiting = channels;
    WaitFinished(waiting, lib_.InputFinalized, 0, timeoutMs);
    for (uint32_t ch : channels) {
        Reading r;
        r.channel = ch;
        r.finished = true;
        for (uint32_t w : waiting)
            if (w == ch) r.finished = false;
        r.value.tag = Channel(ch).tag;
        char buf[2048] = {};
        if (r.value.tag == kTagString) {
            char* p = buf;
            std::memcpy(r.value.payload, &p, sizeof p);
        }
        lib_.GetInput(inst_, ch, &r.value);
        if (r.value.tag == kTagString) {
            buf[sizeof buf - 1] = 0;
            r.text = buf;
        }
        out.push_back(r);
    }
    return out;
}

bool Session::Write(const std::vector<std::pair<uint32_t, Value>>& values, int timeoutMs) {
    std::vector<uint32_t> waiting;
    for (const auto& [ch, v] : values) {
        lib_.OutputRequest(inst_, ch, v);
        waiting.push_back(ch);
    }
    lib_.OutputRequestCompleted(inst_);
    return WaitFinished(waiting, lib_.OutputFinalized, 1, timeoutMs);
}

int Session::DeviceStatus(std::string* text, int timeoutMs) {
    auto r = Read({ZELK_CH_DEVICE_STATUS, ZELK_CH_DEVICE_TEXT}, timeoutMs);
    Value code{};
    code.tag = kTagLongcard;
    lib_.GetInput(inst_, ZELK_CH_DEVICE_STATUS, &code);
    char buf[2048] = {};
    Value t{};
    t.tag = kTagString;
    char* p = buf;
    std::memcpy(t.payload, &p, sizeof p);
    lib_.GetInput(inst_, ZELK_CH_DEVICE_TEXT, &t);
    if (text) *text = buf;
    if (!r[0].finished) return -1;
    return static_cast<int>(AsLong(code));
}

void Session::WindowProc(uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height) {
    lib_.DriverProc(inst_, function, left, top, width, height);
}

std::string Session::WindowText() {
    std::vector<char> buf(16384, 0);
    Value v{};
    v.tag = kTagString;
    char* p = buf.data();
    std::memcpy(v.payload, &p, sizeof p);
    lib_.QueryProc(inst_, kTagString, "WindowText", static_cast<int32_t>(buf.size()), &v);
    buf.back() = 0;
    return buf.data();
}

void Session::WindowKey(char key) {
    Value v = LongValue(static_cast<unsigned char>(key));
    lib_.QueryProc(inst_, kTagLongcard, "WindowKey", 0, &v);
}

void Session::WindowPage(int page) {
    Value v = LongValue(static_cast<uint32_t>(page));
    lib_.QueryProc(inst_, kTagLongcard, "WindowPage", 0, &v);
}

void Session::WindowMonitor(uint32_t channel) {
    // Empty the field first: Backspace is the one key besides digits that it keeps.
    for (int i = 0; i < 12; ++i) WindowKey('\b');
    for (char c : std::to_string(channel)) WindowKey(c);
    WindowKey('\r');
}

}  // namespace zelk::tool
