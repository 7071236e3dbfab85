// The fault matrix: one row per step that can fail while the module is opened, read,
// written, measured into a record file or uploaded from. Each row injects its fault into the
// simulated module and checks what the host sees: the device status and its whole text on
// channels 97..99, the log line, channel 203, the status of the requests of the failing pass,
// and that the instance comes back by itself (the retry, or the next start) once the fault
// is gone, with no Done and Init in between.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "acquisition/acquisition.h"
#include "domain/channel_map.h"
#include "host/host_test_util.h"

namespace {

using namespace zelk;
using namespace zelk::hosttest;
using sim::D2xxCall;
using sim::ReplyFault;
using usb::FT_HANDLE;
using usb::FT_STATUS;

constexpr const char* kOk = "V pořádku"_cp;

// The simulator's D2XX faults act on every caller in the process. The rows run side by side,
// one instance and one simulated device each, so every instance gets a D2XX table of its own
// that fails its own calls the same way and hands all other calls to the simulator.
struct CallFault {
    FT_STATUS status = usb::FT_OK;
    int skip = 0;   // calls that pass before the first failing one
    int times = 0;  // failing calls after those, or sim::kAlways
};

struct LaneFaults {
    std::mutex m;
    std::array<CallFault, sim::kD2xxCallCount> calls{};
    uint8_t writeCode = 0;  // FT_Write of a packet of this command fails as `write` says
    CallFault write;
    bool invalidHandle = false;  // FT_Open answers FT_OK with the invalid handle
    std::array<int, sim::kD2xxCallCount> counts{};

    void Clear() {
        std::lock_guard<std::mutex> g(m);
        calls = {};
        write = {};
        writeCode = 0;
        invalidHandle = false;
    }
};

constexpr size_t kLanes = 40;
LaneFaults g_lanes[kLanes];

bool Hit(CallFault& f) {
    if (f.times == 0) return false;
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    if (f.times > 0) --f.times;
    return true;
}

bool Fails(size_t lane, D2xxCall call, FT_STATUS& s) {
    LaneFaults& l = g_lanes[lane];
    std::lock_guard<std::mutex> g(l.m);
    ++l.counts[static_cast<size_t>(call)];
    CallFault& f = l.calls[static_cast<size_t>(call)];
    if (!Hit(f)) return false;
    s = f.status;
    return true;
}

bool WriteFails(size_t lane, const void* bytes, usb::DWORD n, FT_STATUS& s) {
    LaneFaults& l = g_lanes[lane];
    std::lock_guard<std::mutex> g(l.m);
    if (n == 0 || l.writeCode == 0 || static_cast<const uint8_t*>(bytes)[0] != l.writeCode || !Hit(l.write))
        return false;
    s = l.write.status;
    return true;
}

bool OpensInvalid(size_t lane) {
    std::lock_guard<std::mutex> g(g_lanes[lane].m);
    return g_lanes[lane].invalidHandle;
}

template <size_t L>
struct LaneD2xx {
    static sim::Bench& B() { return sim::GlobalBench(); }
    static FT_STATUS ZELK_D2XX_CALL ListDevices(void* a, void* b, usb::DWORD f) {
        FT_STATUS s;
        return Fails(L, D2xxCall::ListDevices, s) ? s : B().ListDevices(a, b, f);
    }
    static FT_STATUS ZELK_D2XX_CALL Open(int i, FT_HANDLE* h) {
        FT_STATUS s;
        if (Fails(L, D2xxCall::Open, s)) return s;
        if (OpensInvalid(L)) {
            *h = usb::InvalidHandle();
            return usb::FT_OK;
        }
        return B().Open(i, h);
    }
    static FT_STATUS ZELK_D2XX_CALL Close(FT_HANDLE h) {
        FT_STATUS s;
        return Fails(L, D2xxCall::Close, s) ? s : B().Close(h);
    }
    static FT_STATUS ZELK_D2XX_CALL ResetDevice(FT_HANDLE h) {
        FT_STATUS s;
        return Fails(L, D2xxCall::ResetDevice, s) ? s : B().ResetDevice(h);
    }
    static FT_STATUS ZELK_D2XX_CALL SetLatencyTimer(FT_HANDLE h, usb::UCHAR ms) {
        FT_STATUS s;
        return Fails(L, D2xxCall::SetLatencyTimer, s) ? s : B().SetLatencyTimer(h, ms);
    }
    static FT_STATUS ZELK_D2XX_CALL Purge(FT_HANDLE h, usb::ULONG mask) {
        FT_STATUS s;
        return Fails(L, D2xxCall::Purge, s) ? s : B().Purge(h, mask);
    }
    static FT_STATUS ZELK_D2XX_CALL Write(FT_HANDLE h, void* b, usb::DWORD n, usb::DWORD* w) {
        FT_STATUS s;
        if (Fails(L, D2xxCall::Write, s) || WriteFails(L, b, n, s)) return s;
        return B().Write(h, b, n, w);
    }
    static FT_STATUS ZELK_D2XX_CALL Read(FT_HANDLE h, void* b, usb::DWORD n, usb::DWORD* r) {
        FT_STATUS s;
        return Fails(L, D2xxCall::Read, s) ? s : B().Read(h, b, n, r);
    }
    static FT_STATUS ZELK_D2XX_CALL GetQueueStatus(FT_HANDLE h, usb::DWORD* q) {
        FT_STATUS s;
        return Fails(L, D2xxCall::GetQueueStatus, s) ? s : B().GetQueueStatus(h, q);
    }
    static usb::D2xxApi Table() {
        usb::D2xxApi a;
        a.ListDevices = ListDevices;
        a.Open = Open;
        a.Close = Close;
        a.ResetDevice = ResetDevice;
        a.SetLatencyTimer = SetLatencyTimer;
        a.Purge = Purge;
        a.Write = Write;
        a.Read = Read;
        a.GetQueueStatus = GetQueueStatus;
        return a;
    }
};

template <size_t... I>
std::array<usb::D2xxApi, sizeof...(I)> LaneTables(std::index_sequence<I...>) {
    return {LaneD2xx<I>::Table()...};
}

const usb::D2xxApi& LaneTable(size_t lane) {
    static const auto tables = LaneTables(std::make_index_sequence<kLanes>{});
    return tables[lane];
}

// ---------------------------------------------------------------------------------------

// Where the failing step is reached.
enum class Via {
    Open,    // Init's first open
    Input,   // an input batch (ReadInputs)
    Output,  // an output batch with one output channel
    Start,   // channel 200 written with 1
    Stop,    // a measurement started, then channel 200 written with 0
    Upload,  // a running measurement
};

struct Lane;

struct Row {
    const char* name;
    Via via;
    uint32_t code;        // device status, channel 98
    const char* text;     // its whole text, channel 99 (cp1250)
    const char* logLine;  // without time stamp and serial (cp1250)
    uint32_t ch203 = 0;   // measurement status while the fault lasts
    // Measurement status once the retry has reopened the module: the outcome stays until the
    // next start. Where the retry's close ended a measurement still marked as running: 512.
    std::optional<uint32_t> ch203Recovered = std::nullopt;
    std::function<void(Lane&)> inject = [](Lane&) {};
    std::function<void(Lane&)> lift = [](Lane&) {};  // besides lifting the instance's own faults
    bool alone = false;        // changes process-wide simulator state: runs with no other row
    bool recovers = true;      // false: the fault is in the parameter file, the retry repeats it
    bool injectFirst = false;  // Upload: the fault is set before the measurement starts
    uint32_t outputChannel = 0;
    ZelkValue outputValue{};
    uint32_t recordLimit = 0;       // channel 202 before the start
    const char* wanted = nullptr;   // the serial in the parameter file, when not the device's
    bool blockRecordDir = false;    // a plain file stands where the record folder should be
    // Upload: the fault comes when the retry's interval has long passed since the thread
    // started, so that the retry runs in the very pass that failed.
    bool late = false;
};

// How long after Init a late fault comes: more than one retry interval.
constexpr uint32_t kLateMs = 3500;

// One row's instance, its simulated device, its folder and what it found wrong.
struct Lane {
    size_t index = 0;
    std::string serial;  // of its simulated device
    std::string wanted;  // the serial its parameter file names
    std::string recordDir;
    TempDir dir;
    std::string log;
    void* inst = nullptr;
    // The instance's clock: the row makes the retry interval pass instead of waiting it out.
    SkipClock clock;
    uint32_t initTick = 0;
    bool lifted = false;
    std::vector<std::string> problems;

    LaneFaults& Faults() { return g_lanes[index]; }

    template <class A, class B>
    void Eq(const A& got, const B& want, const std::string& what) {
        if (got == want) return;
        std::ostringstream s;
        s << what << ": got [" << got << "], want [" << want << "]";
        problems.push_back(s.str());
    }
    void True(bool ok, const std::string& what) {
        if (!ok) problems.push_back(what);
    }
    // A wait that ran out ends the row: what follows would only wait in vain too.
    struct Stop {};
    void Need(bool ok, const std::string& what) {
        if (ok) return;
        problems.push_back(what);
        throw Stop{};
    }
};

// --- what a row injects ------------------------------------------------------------------

std::function<void(Lane&)> FailCall(D2xxCall call, FT_STATUS status, int skip = 0) {
    return [=](Lane& l) {
        std::lock_guard<std::mutex> g(l.Faults().m);
        l.Faults().calls[static_cast<size_t>(call)] = CallFault{status, skip, sim::kAlways};
    };
}

std::function<void(Lane&)> FailWriteOf(uint8_t code, int skip = 0) {
    return [=](Lane& l) {
        std::lock_guard<std::mutex> g(l.Faults().m);
        l.Faults().writeCode = code;
        l.Faults().write = CallFault{usb::FT_IO_ERROR, skip, sim::kAlways};
    };
}

std::function<void(Lane&)> Reply(uint8_t code, ReplyFault fault) {
    return [=](Lane& l) { sim::GlobalBench().SetCommandFault(static_cast<int>(l.index), code, fault); };
}

// --- the host's view ----------------------------------------------------------------------

struct HostView {
    uint8_t notOk = 0;
    uint32_t code = 0;
    std::string text;
    uint32_t stored = 0;
    uint32_t meas = 0;
};

HostView ReadStatus(void* inst) {
    for (uint32_t ch : {97u, 98u, 99u, 201u, 203u}) InputRequest(inst, ch);
    InputRequestCompleted(inst);
    HostView v;
    ZelkValue b = Bool(0);
    GetInput(inst, 97, &b);
    v.notOk = b.payload[0];
    ZelkValue x = Long(0);
    GetInput(inst, 98, &x);
    v.code = LongOf(x);
    std::vector<char> buffer(1024, '\0');
    ZelkValue s = Str(buffer.data());
    GetInput(inst, 99, &s);
    v.text = buffer.data();
    GetInput(inst, 201, &x);
    v.stored = LongOf(x);
    GetInput(inst, 203, &x);
    v.meas = LongOf(x);
    return v;
}

bool WaitFinished(void* inst, const std::vector<uint32_t>& channels, uint32_t ms = 20000) {
    return WaitUntil(
        [&] {
            for (uint32_t ch : channels) {
                int32_t err = 0;
                const uint8_t done = InOutputClass(ch) ? OutputFinalized(inst, ch, &err) : InputFinalized(inst, ch, &err);
                if (done != 1) return false;
            }
            return true;
        },
        ms);
}

void Write(void* inst, uint32_t ch, ZelkValue v) {
    OutputRequest(inst, ch, v);
    OutputRequestCompleted(inst);
}

void RequestInputs(void* inst, const std::vector<uint32_t>& channels) {
    for (uint32_t ch : channels) InputRequest(inst, ch);
    InputRequestCompleted(inst);
}

uint8_t Code(void* inst) { return DeviceStatusCode(*D(inst)); }

// Waits for a running measurement that has stored records, as the host sees it.
bool WaitMeasuring(void* inst) {
    return WaitUntil([&] {
        const HostView v = ReadStatus(inst);
        return v.meas == 3 && v.stored > 0;
    });
}

// Measurement records of the parameter file below: 8 channels, both counters, DIN and DOUT.
constexpr uintmax_t kRecordBytes = 22;

// Level 1 logs the failure lines and little else; the reply timeout is generous because a
// loaded machine must not turn a late reply into a failure of its own.
std::string ParamFile(Lane& l, bool blockedDirectory) {
    l.recordDir = l.dir.File(blockedDirectory ? "blocked" : "data");
    const std::string ini = U8(u8"[Volba modulu]\r\nVýrobní číslo=") + l.wanted +
                            "\r\nUSB timeout=1000\r\n" + U8(u8"[Logovací soubor]\r\nÚroveň=1\r\nNázev souboru=") +
                            l.log + U8(u8"\r\n[Konverze souboru]\r\nTyp souboru=BIN\r\nAdresář=") + l.recordDir +
                            U8(u8"\r\n[Měření časovačem]\r\nPočet kanálů=8\r\nPovolení CNT0=1\r\nPovolení CNT1=1\r\n"
                               u8"Povolení DIN a DOUT=1\r\n");
    const std::string path = l.dir.File("zelk.ini");
    std::ofstream(path, std::ios::binary) << text::Utf8ToCp1250(ini);
    return path;
}

// The failing step reached as the row says; returns the channels whose requests the
// failing pass (or, once the status is set, the next one) finishes. A measurement's requests
// are raised only once its upload has failed (see FailAndRecover).
std::vector<uint32_t> Trigger(const Row& r, Lane& l) {
    void* inst = l.inst;
    switch (r.via) {
        case Via::Open:
            RequestInputs(inst, {0, 50, 80});
            return {0, 50, 80};
        case Via::Input:
            r.inject(l);
            RequestInputs(inst, {0, 50, 80});
            return {0, 50, 80};
        case Via::Output:
            // The start request is served after the output commands: skipped once one fails.
            r.inject(l);
            OutputRequest(inst, r.outputChannel, r.outputValue);
            OutputRequest(inst, 200, Long(1));
            OutputRequestCompleted(inst);
            return {r.outputChannel, 200};
        case Via::Start:
            r.inject(l);
            Write(inst, 200, Long(1));
            return {200};
        case Via::Stop:
            r.inject(l);
            Write(inst, 200, Long(1));
            l.Need(WaitMeasuring(inst), "the measurement did not start");
            Write(inst, 200, Long(0));
            return {200};
        case Via::Upload:
            if (r.recordLimit != 0) Write(inst, 202, Long(r.recordLimit));
            if (r.injectFirst) r.inject(l);
            Write(inst, 200, Long(1));
            l.Need(WaitMeasuring(inst), "the measurement did not start");
            if (r.late)
                l.Need(WaitUntil([&] { return l.clock.NowMs() - l.initTick > kLateMs; }, kLateMs + 1000),
                       "no late moment");
            if (!r.injectFirst) r.inject(l);
            return {};
    }
    return {};
}

// After the recovery the instance does again what failed.
void CheckWorks(const Row& r, Lane& l) {
    void* inst = l.inst;
    sim::Bench& bench = sim::GlobalBench();
    const int dev = static_cast<int>(l.index);
    switch (r.via) {
        case Via::Open:
        case Via::Input: {
            RequestInputs(inst, {0, 80});
            l.Need(WaitFinished(inst, {0, 80}), "an input request after the recovery never finished");
            const TJedenKanal c = [&] {
                plat::LockGuard g(D(inst)->DataLock);
                return D(inst)->Channels[0];
            }();
            l.Eq(c.Status, 0, "channel 0 status after the recovery");
            l.Eq(c.StatusText, std::string(kOk), "channel 0 status text after the recovery");
            break;
        }
        case Via::Output: {
            Write(inst, r.outputChannel, r.outputValue);
            l.Need(WaitFinished(inst, {r.outputChannel}), "an output request after the recovery never finished");
            const sim::ModuleState s = bench.State(dev);
            if (r.outputChannel == 70) {
                l.Eq(int(s.dout), 1, "DOUT of the module after the recovery");
            } else {
                const uint32_t v = LongOf(r.outputValue);
                const std::vector<uint8_t> want = {static_cast<uint8_t>(r.outputChannel - 82), static_cast<uint8_t>(v),
                                                   static_cast<uint8_t>(v >> 8)};
                l.True(s.last_packet && s.last_packet->code == 0x93 && s.last_packet->data == want,
                       "the counter preset did not reach the module after the recovery");
            }
            // The start skipped during the fault is not served later either.
            l.True(!s.measuring && s.packets_by_code[0x91] == 0, "the skipped start was sent after all");
            break;
        }
        case Via::Start:
        case Via::Stop:
        case Via::Upload:
            Write(inst, 200, Long(1));
            l.Need(WaitMeasuring(inst), "no measurement started after the recovery");
            Write(inst, 200, Long(0));
            l.Need(WaitUntil([&] { return ReadStatus(inst).meas == 0 && !bench.State(dev).measuring; }),
                   "the measurement after the recovery did not stop");
            l.Eq(int(Code(inst)), 0, "device status after the stop");
            break;
    }
}

// Takes the row's fault away: the instance's own D2XX faults, the reply faults of its device
// and whatever else the row changed.
void Lift(const Row& r, Lane& l) {
    if (l.lifted) return;
    l.lifted = true;
    l.Faults().Clear();
    for (uint8_t code : {0x81, 0x84, 0x90})
        sim::GlobalBench().SetCommandFault(static_cast<int>(l.index), code, ReplyFault::None);
    r.lift(l);
}

void FailAndRecover(const Row& r, Lane& l) {
    // The fault, and what the host sees while it lasts.
    std::vector<uint32_t> requests = Trigger(r, l);
    if (r.late) {
        // The retry follows the failure in the same pass: the status to see is the one the
        // retry leaves, once the measurement has ended.
        l.Need(WaitUntil([&] { return D(l.inst)->Device.MeasurementRunning == 0 && ReadStatus(l.inst).meas == r.ch203; }),
               "the late fault did not end the measurement with its status");
    }
    l.Need(WaitUntil([&] { return Code(l.inst) == r.code; }), "the fault set no or another device status");
    if (r.via == Via::Upload) {
        // Requests finish on every pass of a measurement: those raised once the upload has
        // failed carry its status.
        requests = {0, 80};
        RequestInputs(l.inst, requests);
    }
    l.Need(WaitFinished(l.inst, requests), "a request of the failing pass never finished");
    const HostView bad = ReadStatus(l.inst);
    l.Eq(int(bad.notOk), r.code != 0 ? 1 : 0, "channel 97");
    l.Eq(bad.code, r.code, "channel 98");
    l.Eq(bad.text, std::string(r.text), "channel 99");
    l.Eq(bad.meas, r.ch203, "channel 203");
    if (r.via == Via::Upload) {
        // What was counted is on disk, and nothing else.
        std::string bin;
        {
            plat::LockGuard g(D(l.inst)->DataLock);
            bin = D(l.inst)->Device.RecordFilePath + ".bin";
        }
        std::error_code ec;
        l.Eq(std::filesystem::file_size(bin, ec), uintmax_t{bad.stored} * kRecordBytes, "record file size");
        if (r.recordLimit != 0) l.Eq(bad.stored, r.recordLimit, "records stored at the requested count");
    }
    for (uint32_t ch : requests) {
        TJedenKanal c;
        {
            plat::LockGuard g(D(l.inst)->DataLock);
            c = D(l.inst)->Channels[ch];
        }
        l.Eq(c.Status, static_cast<int32_t>(r.code), "status of the request on channel " + std::to_string(ch));
        l.Eq(c.StatusText, std::string(r.text), "status text of the request on channel " + std::to_string(ch));
    }

    if (!r.recovers) {
        // One retry; it meets the same fault.
        l.clock.Skip(kRetryIntervalMs);
        l.Need(WaitUntil([&] { return l.clock.Settled(); }), "no retry");
        l.Eq(int(Code(l.inst)), static_cast<int>(r.code), "device status after the retry");
        // Refused before any D2XX call, at Init and at the retry.
        std::array<int, sim::kD2xxCallCount> counts;
        {
            std::lock_guard<std::mutex> g(l.Faults().m);
            counts = l.Faults().counts;
        }
        for (int n : counts) l.Eq(n, 0, "D2XX calls");
        return;
    }
    // The fault goes; the instance comes back without Done and Init.
    Lift(r, l);
    l.clock.Skip(kRetryIntervalMs);
    l.Need(WaitUntil([&] { return Code(l.inst) == 0; }, 30000), "no recovery");
    const HostView good = ReadStatus(l.inst);
    l.Eq(int(good.notOk), 0, "channel 97 after the recovery");
    l.Eq(good.code, 0u, "channel 98 after the recovery");
    l.Eq(good.text, std::string(kOk), "channel 99 after the recovery");
    l.Eq(good.meas, r.ch203Recovered.value_or(r.ch203), "channel 203 after the recovery");
    if (r.via == Via::Upload) {
        l.Eq(good.stored, bad.stored, "records stored after the recovery");
        std::string bin;
        {
            plat::LockGuard g(D(l.inst)->DataLock);
            bin = D(l.inst)->Device.RecordFilePath + ".bin";
        }
        std::error_code ec;
        l.Eq(std::filesystem::file_size(bin, ec), uintmax_t{good.stored} * kRecordBytes,
             "record file size after the recovery");
    }
    CheckWorks(r, l);
}

void CheckLog(const Row& r, Lane& l) {
    const std::vector<std::string> lines = LogTexts(l.log);
    const int at = FindLine(lines, r.logLine);
    l.True(at >= 0, std::string("log line missing: ") + r.logLine);
    if (r.recovers) {
        l.True(at >= 0 && FindLine(lines, "Nalezen USB modul", at) > at, "no \"Nalezen USB modul\" after the failure");
    } else {
        l.True(at >= 0 && FindLine(lines, r.logLine, at + 1) > at, "the retry did not repeat the failure");
    }
}

// One row on an instance of its own. A row whose wait ran out is cut short, but it still
// takes its fault away and ends its instance.
void RunRow(const Row& r, Lane& l) {
    const uint32_t start = plat::TickCount();
    l.Faults().Clear();
    l.log = l.dir.File("driver.log");
    const std::string ini = ParamFile(l, r.blockRecordDir);
    if (r.blockRecordDir) std::ofstream(l.recordDir) << "a plain file where the folder should be";

    l.inst = MakeDriver();
    if (l.inst == nullptr) {
        l.problems.push_back("MakeDriver failed");
        return;
    }
    D(l.inst)->D2xx = &LaneTable(l.index);
    D(l.inst)->Clock = &l.clock;
    if (r.via == Via::Open) r.inject(l);
    char msg[256] = {};
    l.initTick = l.clock.NowMs();
    Init(l.inst, 0, ini.c_str(), sizeof msg - 1, msg, 0, 0, 0, nullptr);
    l.Eq(std::string(msg), std::string("Ok"), "Init");
    // A late fault waits out its moment in real time (Trigger): a skip of the clock while the
    // instance starts up, or while an exchange waits for its reply, would end that wait early
    // and fail another step than the row's.
    if (r.via != Via::Open) l.Eq(int(Code(l.inst)), 0, "device status after Init");

    bool whole = false;
    try {
        FailAndRecover(r, l);
        whole = true;
    } catch (const Lane::Stop&) {
    }
    Lift(r, l);
    Done(l.inst);
    DisposeDriver(l.inst);
    l.inst = nullptr;
    if (whole) CheckLog(r, l);
    std::printf("[ row      ] %s: %zu problem(s), %u ms\n", r.name, l.problems.size(),
                static_cast<unsigned>(plat::TickCount() - start));
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------

constexpr const char* kFtdi = "Chyba volání funkce knihovny FTDI "_cp;
constexpr const char* kWrite = "Chyba povelu -  Chyba funkce FT_Write"_cp;
constexpr const char* kNoReply = "Chyba povelu - Nepřišla odpověď (USB timeout = 1000ms)"_cp;
constexpr const char* kHeader = "Chyba povelu - Chyba čtení dat(hlavička)"_cp;
constexpr const char* kDisk = "Chyba přístupu na disk - Chyba ukládání naměřených dat"_cp;

void UnplugAll(bool unplug) {
    sim::Bench& b = sim::GlobalBench();
    for (int i = 0; i < b.DeviceCount(); ++i) b.SetPlugged(i, !unplug);
}

// Appends fail once the process may not grow files past a limit a little above the record
// file's present size (the log stays far below it). Wine offers no way to make a write on an
// open handle fail (byte-range locks do not stop it), so this row runs on POSIX only.
#ifndef _WIN32
rlimit g_savedLimit{};
void LimitFileSize(Lane& l) {
    std::string bin;
    {
        plat::LockGuard g(D(l.inst)->DataLock);
        bin = D(l.inst)->Device.RecordFilePath + ".bin";
    }
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &g_savedLimit);
    std::error_code e1, e2;
    const uintmax_t binSize = std::filesystem::file_size(bin, e1);
    const uintmax_t logSize = std::filesystem::file_size(l.log, e2);
    rlimit lim = g_savedLimit;
    lim.rlim_cur = static_cast<rlim_t>(std::max<uintmax_t>(e1 ? 0 : binSize, e2 ? 0 : logSize) + 4096);
    setrlimit(RLIMIT_FSIZE, &lim);
}
void UnlimitFileSize(Lane&) {
    setrlimit(RLIMIT_FSIZE, &g_savedLimit);
    std::signal(SIGXFSZ, SIG_DFL);
}
#endif

std::vector<Row> Matrix() {
    std::vector<Row> rows = {
        // Opening the module: Init's open, afterwards the acquisition thread's retry.
        {.name = "open (0a) unsupported serial", .via = Via::Open, .code = 17,
         .text = "Zadaný ZELK modul není ovladačem podporován"_cp,
         .logLine = "OZ (0a) Zadaný ZELK modul není ovladačem podporován"_cp, .recovers = false, .wanted = "99000001"},
        {.name = "open (0b) no FTDI device", .via = Via::Open, .code = 9, .text = "Nenalezen USB modul",
         .logLine = "OZ (0b) Nenalezen USB modul", .inject = [](Lane&) { UnplugAll(true); },
         .lift = [](Lane&) { UnplugAll(false); }, .alone = true},
        {.name = "open (0c) device count", .via = Via::Open, .code = 10, .text = kFtdi,
         .logLine = "OZ (0c) Chyba volání funkce knihovny FTDI "_cp,
         .inject = FailCall(D2xxCall::ListDevices, usb::FT_IO_ERROR)},
        {.name = "open (1a) serial not attached", .via = Via::Open, .code = 5,
         .text = "Nenalezen požadovaný USB modul."_cp, .logLine = "OZ (1a)",
         .lift = [](Lane& l) { sim::GlobalBench().AddDevice(l.wanted); }, .wanted = "12099999"},
        // The count, the serial numbers of the devices up to this one and its description pass.
        {.name = "open (2a) serial by index", .via = Via::Open, .code = 10, .text = kFtdi,
         .logLine = "OZ (2a) Chyba volání funkce knihovny FTDI "_cp,
         .inject =
             [](Lane& l) {
                 FailCall(D2xxCall::ListDevices, usb::FT_IO_ERROR, static_cast<int>(l.index) + 3)(l);
             }},
        {.name = "open (2b) FT_Open", .via = Via::Open, .code = 10, .text = kFtdi,
         .logLine = "OZ (2b) Chyba volání funkce knihovny FTDI "_cp,
         .inject = FailCall(D2xxCall::Open, usb::FT_DEVICE_NOT_OPENED)},
        {.name = "open (2c) invalid handle", .via = Via::Open, .code = 11, .text = "Chyba otevření USB modulu"_cp,
         .logLine = "OZ (2c) Chyba otevření USB modulu"_cp,
         .inject =
             [](Lane& l) {
                 std::lock_guard<std::mutex> g(l.Faults().m);
                 l.Faults().invalidHandle = true;
             }},
        {.name = "open (2d) link reset", .via = Via::Open, .code = 12,
         .text = "Chyba USB modulu (restart) - Chyba volání funkce knihovny FTDI "_cp,
         .logLine = "OZ (2d) Chyba USB modulu (restart) - Chyba volání funkce knihovny FTDI "_cp,
         .inject = FailCall(D2xxCall::ResetDevice, usb::FT_IO_ERROR)},
        {.name = "open (3a) module reset", .via = Via::Open, .code = 13, .text = kWrite,
         .logLine = "OZ (3a)  Chyba funkce FT_Write", .inject = FailWriteOf(0x80)},
        {.name = "open (3b) long value", .via = Via::Open, .code = 13, .text = kWrite,
         .logLine = "OZ (3b)  Chyba funkce FT_Write", .inject = FailWriteOf(0x83)},
        {.name = "open (4a) identification", .via = Via::Open, .code = 13, .text = kNoReply,
         .logLine = "OZ (4a) Nepřišla odpověď (USB timeout = 1000ms)"_cp, .inject = Reply(0x81, ReplyFault::NoReply)},
        {.name = "open (5a) configuration read", .via = Via::Open, .code = 13, .text = kHeader,
         .logLine = "OZ (5a) Chyba čtení dat(hlavička)"_cp, .inject = Reply(0x84, ReplyFault::WrongEcho)},
        {.name = "open (6a) configuration write", .via = Via::Open, .code = 13, .text = kWrite,
         .logLine = "OZ (6a)  Chyba funkce FT_Write", .inject = FailWriteOf(0x85)},

        // An input batch.
        {.name = "ReadInputs (1a)", .via = Via::Input, .code = 13, .text = kNoReply,
         .logLine = "P_IN (1a) Nepřišla odpověď (USB timeout = 1000ms)"_cp, .inject = Reply(0x84, ReplyFault::NoReply)},
        {.name = "ReadInputs (2a)", .via = Via::Input, .code = 13, .text = kWrite,
         .logLine = "P_IN (2a)  Chyba funkce FT_Write", .inject = FailWriteOf(0x85)},
        {.name = "ReadInputs (3a)", .via = Via::Input, .code = 13, .text = kHeader,
         .logLine = "P_IN (3a) Chyba čtení dat(hlavička)"_cp, .inject = Reply(0x90, ReplyFault::WrongEcho)},

        // An output batch with one channel.
        {.name = "DOUT", .via = Via::Output, .code = 13, .text = kWrite, .logLine = "Z_DO (1a)  Chyba funkce FT_Write",
         .inject = FailWriteOf(0x92), .outputChannel = 70, .outputValue = Bool(1)},
        {.name = "CNT0 preset", .via = Via::Output, .code = 13, .text = kWrite,
         .logLine = "Z_P_CN0 (1a)  Chyba funkce FT_Write", .inject = FailWriteOf(0x93), .outputChannel = 82,
         .outputValue = Long(0x1234)},
        {.name = "CNT1 preset", .via = Via::Output, .code = 13, .text = kWrite,
         .logLine = "Z_P_CN1 (1a)  Chyba funkce FT_Write", .inject = FailWriteOf(0x93), .outputChannel = 83,
         .outputValue = Long(0x4321)},

        // Starting and stopping a measurement.
        {.name = "start (3a) module reset", .via = Via::Start, .code = 13, .text = kWrite,
         .logLine = "Z_SS (3a)  Chyba funkce FT_Write", .ch203 = 512, .inject = FailWriteOf(0x80)},
        {.name = "start (4a) long value", .via = Via::Start, .code = 13, .text = kWrite,
         .logLine = "Z_SS (4a)  Chyba funkce FT_Write", .ch203 = 512, .inject = FailWriteOf(0x83)},
        {.name = "start (5a) configuration read", .via = Via::Start, .code = 13, .text = kNoReply,
         .logLine = "Z_SS (5a) Nepřišla odpověď (USB timeout = 1000ms)"_cp, .ch203 = 512,
         .inject = Reply(0x84, ReplyFault::NoReply)},
        {.name = "start (6a) configuration write", .via = Via::Start, .code = 13, .text = kWrite,
         .logLine = "Z_SS (6a)  Chyba funkce FT_Write", .ch203 = 512, .inject = FailWriteOf(0x85)},
        {.name = "start (7a) record file", .via = Via::Start, .code = 16, .text = kDisk,
         .logLine = "Z_SS (7a) Chyba ukládání naměřených dat"_cp, .ch203 = 1024,
         .lift = [](Lane& l) { std::filesystem::remove(l.recordDir); }, .blockRecordDir = true},
        // A failed module start leaves the measurement status at the 0 the request set first.
        {.name = "start (7a) module start", .via = Via::Start, .code = 13, .text = kWrite,
         .logLine = "Z_SS (7a)  Chyba funkce FT_Write", .inject = FailWriteOf(0x91)},
        // The start's reset passes, the stop's fails.
        {.name = "stop (10a) module reset", .via = Via::Stop, .code = 13, .text = kWrite,
         .logLine = "Z_SS (10a)  Chyba funkce FT_Write", .ch203Recovered = 512, .inject = FailWriteOf(0x80, 1)},

        // A running measurement.
        {.name = "upload (20) queue status", .via = Via::Upload, .code = 10,
         .text = "Chyba volání funkce knihovny FTDI  - Chyba FT_GetQueueStatus (ftStatus=00000004)"_cp,
         .logLine = "UD (20) Chyba FT_GetQueueStatus (ftStatus=00000004)", .ch203 = 512,
         .inject = FailCall(D2xxCall::GetQueueStatus, usb::FT_IO_ERROR)},
        {.name = "upload (1f) read", .via = Via::Upload, .code = 10,
         .text = "Chyba volání funkce knihovny FTDI  - Chyba FT_Read (ftStatus=00000012)"_cp,
         .logLine = "UD (1f) Chyba FT_Read (ftStatus=00000012)", .ch203 = 512,
         .inject = FailCall(D2xxCall::Read, usb::FT_OTHER_ERROR)},
        // The start's reset passes; the one at the requested count fails and the measurement
        // stays marked as running until the retry closes the module.
        {.name = "upload (2a) reset at the requested count", .via = Via::Upload, .code = 13, .text = kWrite,
         .logLine = "UD (2a)  Chyba funkce FT_Write", .ch203 = 3, .ch203Recovered = 512, .inject = FailWriteOf(0x80, 1),
         .injectFirst = true, .recordLimit = 100},
        {.name = "upload (10a) reset after the no-data timeout", .via = Via::Upload, .code = 13, .text = kWrite,
         .logLine = "UD (10a)  Chyba funkce FT_Write", .ch203 = 512,
         .inject =
             [](Lane& l) {
                 FailWriteOf(0x80)(l);
                 sim::GlobalBench().UseManualClock(true);  // the module falls silent
             },
         .lift = [](Lane&) { sim::GlobalBench().UseManualClock(false); }, .alone = true},

        // The same failures long after the thread started: the retry closes the module in the
        // pass that failed, and the outcome must survive that close.
        {.name = "late upload (1f) read", .via = Via::Upload, .code = 13, .text = "Chyba povelu - Chyba funkce FT_Read"_cp,
         .logLine = "UD (1f) Chyba FT_Read (ftStatus=00000012)", .ch203 = 512,
         .inject = FailCall(D2xxCall::Read, usb::FT_OTHER_ERROR), .late = true},
        // Unplugged: the failing upload, then the retry finds the module gone.
        {.name = "late unplug", .via = Via::Upload, .code = 5, .text = "Nenalezen požadovaný USB modul."_cp,
         .logLine = "UD (20) Chyba FT_GetQueueStatus (ftStatus=00000004)", .ch203 = 512,
         .inject = [](Lane& l) { sim::GlobalBench().SetPlugged(static_cast<int>(l.index), false); },
         .lift = [](Lane& l) { sim::GlobalBench().SetPlugged(static_cast<int>(l.index), true); }, .late = true},
    };
#ifndef _WIN32
    rows.push_back({.name = "upload (1d) append", .via = Via::Upload, .code = 16, .text = kDisk,
                    .logLine = "UD (1d) Chyba ukládání naměřených dat"_cp, .ch203 = 1024, .inject = LimitFileSize,
                    .lift = UnlimitFileSize, .alone = true});
    rows.push_back({.name = "late upload (1d) append", .via = Via::Upload, .code = 16, .text = kDisk,
                    .logLine = "UD (1d) Chyba ukládání naměřených dat"_cp, .ch203 = 1024, .inject = LimitFileSize,
                    .lift = UnlimitFileSize, .alone = true, .late = true});
    // The retry reopens the module at once: only the measurement status tells of the failure.
    rows.back().code = 0;
    rows.back().text = kOk;
#else
    std::printf("[ NOT RUN  ] upload (1d) append: no append failure can be injected under wine\n");
#endif
    return rows;
}

TEST(FaultMatrix, EveryFailingStepIsReportedAndRecoveredFrom) {
    sim::Bench& bench = sim::GlobalBench();
    bench.Reset();
    bench.ClearDevices();
    const std::vector<Row> rows = Matrix();
    ASSERT_LE(rows.size(), kLanes);
    std::vector<std::unique_ptr<Lane>> lanes;
    for (size_t i = 0; i < rows.size(); ++i) {
        auto l = std::make_unique<Lane>();
        l->index = i;
        l->serial = "1200" + std::to_string(1000 + i);
        l->wanted = rows[i].wanted ? rows[i].wanted : l->serial;
        ASSERT_EQ(bench.AddDevice(l->serial), static_cast<int>(i));
        lanes.push_back(std::move(l));
    }

    auto run = [&](size_t i) {
        try {
            RunRow(rows[i], *lanes[i]);
        } catch (const std::exception& e) {
            lanes[i]->problems.push_back(std::string("exception: ") + e.what());
        }
    };
    // Rows that touch only their own instance and device run side by side, the others after them.
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rows.size(); ++i)
        if (!rows[i].alone) threads.emplace_back(run, i);
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].alone) run(i);

    for (size_t i = 0; i < rows.size(); ++i)
        for (const std::string& p : lanes[i]->problems) ADD_FAILURE() << rows[i].name << ": " << p;
    bench.Reset();
}

}  // namespace
