// Fuzz target: the 18 exports called as a careless host calls them, on the simulated module.
// Each input is a sequence of calls: any channel up to 2^32-1, any tag and payload, the null
// pointers the host contract allows (instance, error pointer, value record, name, buffers),
// odd window functions, unplug and replug of the modules, reply faults, sleeps that let the
// driver's threads run in between, and now and then Done, Init or DisposeDriver and
// MakeDriver. Buffers the driver writes into are exactly as large as the contract says, so
// a longer copy shows as an overflow.
//
// One instance lives across inputs: Done waits at least 200 ms and Init 300 ms, so the calls
// that end or start an instance are carried out on the first input of a process (so that
// one input replays alone) and then at most once every kLifecycleEvery inputs.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "domain/text.h"
#include "byte_stream.h"
#include "fuzz_check.h"
#include "fuzz_work_folder.h"
#include "host/exports.h"
#include "sim/sim.h"

namespace {

namespace fs = std::filesystem;
using zelk::sim::GlobalBench;

constexpr uint64_t kLifecycleEvery = 4096;
// Measurements started by inputs are stopped and their files removed this often.
constexpr uint64_t kCleanEvery = 256;
// The longest text GetInput of channel 99 copies whole (the contract asks the host for 256).
constexpr size_t kStatusBuffer = 256;
// "GetVersion" copies the driver text whole: 27 bytes with the zero.
constexpr size_t kVersionBuffer = 27;

fs::path g_dir;
std::vector<std::string> g_paramFiles;  // index 0 is the good default
void* g_inst = nullptr;
uint64_t g_runs = 0;
uint64_t g_lastLifecycle = 0;
std::atomic<int32_t> g_callbackResult{0};
std::atomic<bool> g_doneInCallback{false};
std::atomic<uint64_t> g_callbacks{0};

int32_t Callback(uint32_t, int32_t, void* instance) {
    g_callbacks++;
    int32_t err = -1;
    InputFinalized(instance, 99, &err);
    if (g_doneInCallback.exchange(false)) Done(instance);
    return g_callbackResult.load();
}

std::string WriteFile(const std::string& name, const std::string& utf8) {
    const std::string path = (g_dir / name).string();
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << zelk::text::Utf8ToCp1250(utf8);
    return path;
}

void MakeParamFiles() {
    const std::string data = (g_dir / "data").string();
    const std::string conv = "[Konverze souboru]\r\nTyp souboru=DBF\r\nAdresář=" + data + "\r\n";
    g_paramFiles.push_back(WriteFile("p0.ini", "[Volba modulu]\r\nVýrobní číslo=12000001\r\nUSB timeout=200\r\n" + conv));
    // The log at its most detailed level; the harness empties it now and then.
    g_paramFiles.push_back(WriteFile("p1.ini", "[Volba modulu]\r\nVýrobní číslo=12100002\r\n[Logovací soubor]\r\nÚroveň=3\r\n"
                                               "Název souboru=" + (g_dir / "driver.log").string() + "\r\n" +
                                               "[Měření časovačem]\r\nPočet kanálů=3\r\nPerioda [us]=200\r\n"
                                               "Povolení CNT0=256\r\n[Analogový kanál 1]\r\nRozsah=200mV\r\n" + conv));
    // A module that is not attached, and a file the checks refuse.
    g_paramFiles.push_back(WriteFile("p2.ini", "[Volba modulu]\r\nVýrobní číslo=12999999\r\n" + conv));
    g_paramFiles.push_back(WriteFile("p3.ini", "[Volba modulu]\r\nUSB timeout=0\r\n"));
    g_paramFiles.push_back(WriteFile("p4.ini", "[Volba modulu]\r\nVýrobní číslo=12000001\r\n[Konverze souboru]\r\n"
                                               "Typ souboru=BIN\r\nAdresář=" + data + "\r\n"));
}

bool LifecycleAllowed() {
    if (g_runs != 1 && g_runs - g_lastLifecycle < kLifecycleEvery) return false;
    g_lastLifecycle = g_runs;
    return true;
}

uint32_t Channel(ByteStream& in) {
    return in.Byte() < 240 ? in.Range<uint32_t>(0, 210) : in.U32();
}

// A value record with any tag and payload; a string tag points at a real buffer of
// kStatusBuffer bytes or is null.
ZelkValue Value(ByteStream& in, std::vector<std::unique_ptr<char[]>>& buffers) {
    static const int32_t kTags[] = {ZELK_TAG_BOOLEAN, ZELK_TAG_LONGCARD, ZELK_TAG_REAL, ZELK_TAG_STRING};
    ZelkValue v{};
    const uint8_t t = in.Byte();
    v.tag = t < 240 ? kTags[t % 4] : in.I32();
    if (v.tag == ZELK_TAG_STRING) {
        char* p = nullptr;
        if (in.Bool()) {
            buffers.push_back(std::make_unique<char[]>(kStatusBuffer));
            p = buffers.back().get();
        }
        std::memcpy(v.payload, &p, sizeof p);
    } else if (v.tag == ZELK_TAG_REAL && in.Bool()) {
        const double x = in.F64();
        std::memcpy(v.payload, &x, sizeof x);
    } else {
        const std::string bytes = in.Bytes(sizeof v.payload);
        std::memcpy(v.payload, bytes.data(), bytes.size());
    }
    return v;
}

void Query(ByteStream& in, void* inst, std::vector<std::unique_ptr<char[]>>& buffers) {
    static const char* const kNames[] = {"GetVersion", "WindowText", "WindowKey", "WindowPage", "getversion", ""};
    std::string other;
    const char* name = nullptr;
    const uint8_t n = in.Byte();
    if (n < 240) {
        name = kNames[n % 6];
    } else if (n < 250) {
        other = in.Bytes(in.Range<size_t>(0, 16));
        name = other.c_str();
    }
    const int32_t kind = in.Bool() ? ZELK_TAG_STRING : in.Bool() ? ZELK_TAG_LONGCARD : in.I32();
    int32_t reserved = in.Range<int32_t>(-2, 300);
    ZelkValue v{};
    v.tag = kind;
    if (kind == ZELK_TAG_STRING) {
        // WindowText writes at most `reserved` bytes, GetVersion its whole text.
        const bool text = name != nullptr && std::strcmp(name, "WindowText") == 0;
        char* p = nullptr;
        if (in.Bool()) {
            const size_t size = text ? static_cast<size_t>(reserved > 0 ? reserved : 0) : kVersionBuffer;
            buffers.push_back(std::make_unique<char[]>(size));
            p = buffers.back().get();
        }
        std::memcpy(v.payload, &p, sizeof p);
    } else {
        const uint32_t x = in.Bool() ? in.Range<uint32_t>(0, 2) : in.U32();
        std::memcpy(v.payload, &x, sizeof x);
    }
    QueryProc(inst, kind, name, reserved, in.Byte() < 240 ? &v : nullptr);
}

void DriverInfo(ByteStream& in) {
    Version();
    Check();
    const int32_t maxLen = in.Range<int32_t>(-3, 40);
    if (maxLen < 0 || in.Byte() >= 240) {
        GetDriverInfo(maxLen, nullptr);
        return;
    }
    auto buf = std::make_unique<char[]>(static_cast<size_t>(maxLen) + 1);
    GetDriverInfo(maxLen, buf.get());
}

void InitInstance(ByteStream& in) {
    const uint8_t f = in.Byte();
    const char* path = f < 250 ? g_paramFiles[f % g_paramFiles.size()].c_str() : nullptr;
    const int32_t msgMax = in.Range<int32_t>(-2, 300);
    std::unique_ptr<char[]> msg;
    if (msgMax >= 0 && in.Byte() < 240) msg = std::make_unique<char[]>(static_cast<size_t>(msgMax) + 1);
    const bool callback = in.Byte() < 224;
    Init(g_inst, in.U32(), path, msgMax, msg.get(), 0, 0, in.U32(),
         callback ? Callback : nullptr);
}

void Lifecycle(ByteStream& in) {
    switch (in.Range<int>(0, 4)) {
        case 0: Done(g_inst); break;
        case 1: InitInstance(in); break;
        case 2:
            Done(g_inst);
            InitInstance(in);
            break;
        case 3:
            // Freed without Done: whatever runs must be stopped first.
            DisposeDriver(g_inst);
            g_inst = MakeDriver();
            if (in.Bool()) InitInstance(in);
            break;
        default: g_doneInCallback = true; break;
    }
}

void ChangeBench(ByteStream& in) {
    using namespace zelk::sim;
    const int device = in.Range<int>(0, 1);
    switch (in.Range<int>(0, 3)) {
        case 0: GlobalBench().SetPlugged(device, false); break;
        case 1: GlobalBench().SetPlugged(device, true); break;
        case 2: {
            static const uint8_t kCodes[] = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x90, 0x91, 0x92, 0x93};
            const auto code = kCodes[in.Range<size_t>(0, sizeof kCodes - 1)];
            const auto fault = static_cast<ReplyFault>(in.Range<int>(0, 8));
            GlobalBench().SetCommandFault(device, code, fault, in.Range<uint32_t>(0, 50),
                                          in.Range<int>(1, 3));
            break;
        }
        default: {
            const auto call = static_cast<D2xxCall>(in.Range<int>(0, kD2xxCallCount - 1));
            GlobalBench().FailD2xx(call, in.Range<uint32_t>(1, 19), in.Range<int>(1, 3));
            break;
        }
    }
}

// Calls on a null instance touch nothing and answer what the contract says.
void NullInstance(ByteStream& in) {
    const uint32_t ch = Channel(in);
    int32_t err = -1;
    BufferInfo(nullptr, ch);
    SetBufferAddr(nullptr, ch);
    InputRequest(nullptr, ch);
    InputRequestCompleted(nullptr);
    FUZZ_CHECK(InputFinalized(nullptr, ch, &err) == 1 && err == 0);
    ZelkValue v{ZELK_TAG_LONGCARD, {}};
    GetInput(nullptr, ch, &v);
    OutputRequest(nullptr, ch, v);
    OutputRequestCompleted(nullptr);
    err = -1;
    FUZZ_CHECK(OutputFinalized(nullptr, ch, &err) == 1 && err == 0);
    DriverProc(nullptr, 1, 0, 0, 100, 100);
    QueryProc(nullptr, ZELK_TAG_STRING, "GetVersion", 0, nullptr);
    char msg[8];
    FUZZ_CHECK(Init(nullptr, 0, g_paramFiles[0].c_str(), 7, msg, 0, 0, 0, nullptr) == 0);
    Done(nullptr);
    DisposeDriver(nullptr);
}

// Stops a measurement that inputs left running and removes the files measurements made.
void Clean() {
    ZelkValue stop{ZELK_TAG_LONGCARD, {}};
    OutputRequest(g_inst, 200, stop);
    OutputRequestCompleted(g_inst);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(g_dir / "data", ec)) fs::remove(e.path(), ec);
    fs::resize_file(g_dir / "driver.log", 0, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_dir = FuzzWorkFolder("zelk_fuzz_host");
    fs::create_directories(g_dir / "data");
    MakeParamFiles();
    GlobalBench().Reset();  // made before the exit handler below, so destroyed after it
    g_inst = MakeDriver();
    char msg[256];
    Init(g_inst, 0, g_paramFiles[0].c_str(), 255, msg, 0, 0, 7, Callback);
    std::atexit([] {
        Done(g_inst);
        DisposeDriver(g_inst);
        std::error_code ec;
        fs::remove_all(g_dir, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteStream in(data, size);
    ++g_runs;
    if (g_runs % kCleanEvery == 0) Clean();
    GlobalBench().ClearFaults();
    for (int i = 0; i < 2; ++i) GlobalBench().SetPlugged(i, true);
    g_callbackResult = 0;

    std::vector<std::unique_ptr<char[]>> buffers;  // host buffers handed to the driver this input
    void* inst = g_inst;
    int pauses = 0;
    for (int op = 0; op < 64 && !in.Empty(); ++op) {
        inst = g_inst;
        switch (in.Range<int>(0, 17)) {
            case 0: InputRequest(inst, Channel(in)); break;
            case 1: InputRequestCompleted(inst); break;
            case 2:
            case 6: {
                int32_t err = -1;
                const uint32_t ch = Channel(in);
                int32_t* e = in.Byte() < 240 ? &err : nullptr;
                const uint8_t done = in.Bool() ? InputFinalized(inst, ch, e) : OutputFinalized(inst, ch, e);
                FUZZ_CHECK(done <= 1 && (e == nullptr || err == 0));
                break;
            }
            case 3: {
                const uint32_t ch = Channel(in);
                ZelkValue v = Value(in, buffers);
                GetInput(inst, ch, in.Byte() < 240 ? &v : nullptr);
                break;
            }
            case 4: {
                const uint32_t ch = Channel(in);
                OutputRequest(inst, ch, Value(in, buffers));
                break;
            }
            case 5: OutputRequestCompleted(inst); break;
            case 7:
                BufferInfo(inst, Channel(in));
                SetBufferAddr(inst, Channel(in));
                break;
            case 8: {
                const uint32_t fn = in.Byte() < 240 ? in.Range<uint32_t>(0, 6)
                                                                        : in.U32();
                DriverProc(inst, fn, in.I32(), in.I32(),
                           in.I32(), in.I32());
                break;
            }
            case 9: Query(in, inst, buffers); break;
            case 10: DriverInfo(in); break;
            case 11:
            case 12: ChangeBench(in); break;
            case 13:
                // A short pause lets the driver's threads run between calls; a few per input,
                // short enough that a long run reaches millions of inputs.
                if (++pauses <= 4) usleep(in.Range<useconds_t>(20, 400));
                break;
            case 14: g_callbackResult = in.Bool() ? 1 : 0; break;
            case 15:
                if (LifecycleAllowed()) Lifecycle(in);
                break;
            case 16: NullInstance(in); break;
            default: {
                // A whole read cycle, as a host runs it.
                const uint32_t ch = Channel(in);
                InputRequest(inst, ch);
                InputRequestCompleted(inst);
                int32_t err = -1;
                InputFinalized(inst, ch, &err);
                ZelkValue v = Value(in, buffers);
                GetInput(inst, ch, &v);
                break;
            }
        }
    }
    // The buffers go away with the input: no driver thread may still hold them, and none
    // does, since the driver copies into host buffers only inside the call.
    return 0;
}
