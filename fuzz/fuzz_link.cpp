// Fuzz target: the link's handling of what D2XX hands back. A D2XX table whose every answer
// (status, queue count, bytes read and their count, bytes written, device list, handle) comes
// from the input drives the exchange of single commands, the module open and close, the
// input read, the output commands, the measurement start and stop and the record upload.
// Besides the sanitizers it checks that a reply accepted as good has the length its command
// asks for and that an upload never stores more records than the measurement's limit.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "acquisition/acquisition.h"
#include "acquisition/measurement.h"
#include "core/Pomocny.h"
#include "byte_stream.h"
#include "fuzz_check.h"
#include "fuzz_work_folder.h"
#include "domain/status_texts.h"
#include "domain/channel_map.h"
#include "virtual_clock.h"
#include "usb/Vorna_FTD201.h"
#include "usb/link_internal.h"

namespace {

namespace fs = std::filesystem;
using namespace zelk;
using namespace zelk::usb;

const FT_HANDLE kHandle = reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A});
const char* const kSerial = "12000001";

// The input: a 16-bit length, that many control bytes (the operations, their settings and
// the table's statuses and counts, in call order), then the bytes the table hands out as
// read data and device texts. Run out, both read as zeros: success, replies of the length
// asked for that echo the command code.
ByteStream g_ctl;
ByteStream g_dat;
uint8_t g_lastCode = 0;              // command code of the last write, echoed by most replies
fs::path g_dir;
TData* g_d = nullptr;
// The instance's sleeps advance this clock instead of waiting.
fuzz::VirtualClock g_clock;

uint8_t Byte() { return g_ctl.Byte(); }

// Mostly FT_OK; otherwise any status, the undefined ones above FT_DEVICE_LIST_NOT_READY too.
FT_STATUS Status() {
    const uint8_t b = Byte();
    return b < 224 ? FT_OK : static_cast<FT_STATUS>(b - 224);
}

FT_STATUS ZELK_D2XX_CALL ListDevices(void* arg1, void* arg2, DWORD flags) {
    if (FT_STATUS s = Status(); s != FT_OK) return s;
    if (flags == FT_LIST_NUMBER_ONLY) {
        const uint8_t sel = Byte();
        *static_cast<DWORD*>(arg1) = sel < 240 ? sel % 4u : g_ctl.U32();
        return FT_OK;
    }
    // The library fills a 65-byte buffer; it may leave it unterminated.
    char* buf = static_cast<char*>(arg2);
    const uint8_t sel = Byte();
    if (sel < 128) {
        std::snprintf(buf, kD2xxTextBufferSize, "%s", sel < 96 ? kSerial : "ZELK-2716E");
    } else {
        const std::string raw = g_dat.Bytes(kD2xxTextBufferSize);
        std::memcpy(buf, raw.data(), raw.size());
    }
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Open(int, FT_HANDLE* handle) {
    if (FT_STATUS s = Status(); s != FT_OK) return s;
    const uint8_t sel = Byte();
    *handle = sel < 224 ? kHandle : sel < 240 ? InvalidHandle() : nullptr;
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Plain(FT_HANDLE) { return Status(); }
FT_STATUS ZELK_D2XX_CALL SetLatencyTimer(FT_HANDLE, UCHAR) { return Status(); }
FT_STATUS ZELK_D2XX_CALL Purge(FT_HANDLE, ULONG) { return Status(); }

FT_STATUS ZELK_D2XX_CALL Write(FT_HANDLE, void* buffer, DWORD bytes, DWORD* written) {
    if (bytes > 0) g_lastCode = static_cast<const uint8_t*>(buffer)[0];
    if (FT_STATUS s = Status(); s != FT_OK) return s;
    const uint8_t sel = Byte();
    *written = sel < 224 ? bytes : g_ctl.U32();
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Read(FT_HANDLE, void* buffer, DWORD bytes, DWORD* read) {
    if (FT_STATUS s = Status(); s != FT_OK) return s;
    const uint8_t sel = Byte();
    // A count above the request is a broken library's report; it never writes past it.
    const DWORD n = sel < 160 ? bytes : sel < 240 ? g_ctl.Range<DWORD>(0, bytes) : g_ctl.U32();
    auto* out = static_cast<uint8_t*>(buffer);
    const DWORD filled = std::min(n, bytes);
    const std::string data = g_dat.Bytes(filled);
    std::memcpy(out, data.data(), data.size());
    std::memset(out + data.size(), 0, filled - data.size());
    if (filled > 0 && (sel & 1) == 0) out[0] = g_lastCode;
    *read = n;
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL GetQueueStatus(FT_HANDLE, DWORD* queued) {
    if (FT_STATUS s = Status(); s != FT_OK) return s;
    const uint8_t sel = Byte();
    // Mostly the length the last command's reply has, or a few records' worth.
    *queued = sel < 128   ? static_cast<DWORD>(ExpectedReplyLength(g_lastCode))
              : sel < 192 ? static_cast<DWORD>(sel - 128) * 2u
              : sel < 240 ? g_ctl.Range<DWORD>(0, 80000)
                          : g_ctl.U32();
    return FT_OK;
}

D2xxApi FuzzTable() {
    D2xxApi a;
    a.ListDevices = ListDevices;
    a.Open = Open;
    a.Close = Plain;
    a.ResetDevice = Plain;
    a.SetLatencyTimer = SetLatencyTimer;
    a.Purge = Purge;
    a.Write = Write;
    a.Read = Read;
    a.GetQueueStatus = GetQueueStatus;
    return a;
}

// A library that lacks one function: entry k (0..8) left null.
void DropEntry(D2xxApi& a, int k) {
    using Entry = void*;
    Entry* entries[] = {reinterpret_cast<Entry*>(&a.ListDevices), reinterpret_cast<Entry*>(&a.Open),
                        reinterpret_cast<Entry*>(&a.Close),       reinterpret_cast<Entry*>(&a.ResetDevice),
                        reinterpret_cast<Entry*>(&a.SetLatencyTimer), reinterpret_cast<Entry*>(&a.Purge),
                        reinterpret_cast<Entry*>(&a.Write),       reinterpret_cast<Entry*>(&a.Read),
                        reinterpret_cast<Entry*>(&a.GetQueueStatus)};
    *entries[k] = nullptr;
    a.missing = "FT_Fuzz";
}

void ModuleOpen(TData* d) {
    d->Device.Handle = kHandle;
    d->Device.HandleValid = 1;
    d->Device.ModuleReady = 1;
}

void Exchange(const D2xxApi& api) {
    const uint32_t timeout = g_ctl.Range<uint32_t>(0, 40);
    const uint8_t code = Byte();
    const bool raw = g_ctl.Bool();
    LinkBuffer buffer{};
    uint8_t count = g_ctl.Byte();
    const std::string data = g_dat.Bytes(count);
    std::memcpy(buffer.data(), data.data(), data.size());
    const LinkResult result = ExchangeCommand(api, kHandle, g_clock, timeout, code, raw, buffer, count);
    const bool ok = result.ok();
    FUZZ_CHECK(ok || !Describe(result.error()).detail.empty());
    const int expected = ExpectedReplyLength(code);
    if (ok && expected != kReplyHeaderSize) {
        const int payload = expected - kReplyHeaderSize;
        FUZZ_CHECK(count == (raw ? payload : payload / 2));
    }
}

void Upload(TData* d) {
    TZarizeni& z = d->Device;
    ModuleOpen(d);
    if (z.MeasurementRunning == 0) {
        // A measurement as a start leaves it, with a layout and counts from the input; no file.
        plat::LockGuard g(d->DataLock);
        MeasurementSnapshot& s = d->Snapshot;
        s.Settings.TimerChannelCount = g_ctl.Range<int32_t>(0, 17);
        s.Settings.Cnt0Enable = g_ctl.Byte() % 3;
        s.Settings.Cnt1Enable = g_ctl.Byte() % 3;
        s.Settings.DinDoutEnable = g_ctl.Byte() % 3;
        s.RecordBytes =
            RecordBytesOf(std::clamp<int32_t>(static_cast<int32_t>(s.Settings.TimerChannelCount), 1, kAnalogCount),
                          s.Settings.Cnt0Enable, s.Settings.Cnt1Enable, s.Settings.DinDoutEnable);
        s.RecordLimit = g_ctl.Bool() ? 0 : g_ctl.I32();
        for (auto& r : s.Settings.RangeCode) r = g_ctl.Byte() % 16;
        z.StoredRecordCount = g_ctl.Bool() ? g_ctl.Range<uint32_t>(0, 1000)
                                                  : g_ctl.U32();
        z.RecordFileOk = 0;
        d->ConversionPending = 0;
        z.MeasurementRunning = 1;
    }
    z.MeasurementStartTick = g_clock.NowMs() - g_ctl.Range<uint32_t>(0, 100);
    uint32_t limit;
    {
        plat::LockGuard g(d->DataLock);
        limit = static_cast<uint32_t>(d->Snapshot.RecordLimit);
    }
    const uint64_t before = z.StoredRecordCount.load();
    UploadRecords(d);
    const uint64_t after = z.StoredRecordCount.load();
    if (limit != 0 && before <= limit && after >= before) FUZZ_CHECK(after <= limit);
}

void StartStop(TData* d) {
    ModuleOpen(d);
    {
        plat::LockGuard g(d->DataLock);
        d->Channels[200].LongValue = g_ctl.Bool() ? 1u : 0u;
        d->Device.Settings.TimerChannelCount = g_ctl.Range<uint32_t>(0, 20);
        d->Device.Settings.Cnt0Enable = g_ctl.Byte() % 3;
        d->Device.Settings.DinDoutEnable = g_ctl.Byte() % 3;
        d->Device.Settings.TimerPeriodUs = g_ctl.F64();
        d->Device.RequestedRecordCount = g_ctl.Range<int32_t>(0, 50);
    }
    d->Device.ReqStartStop = 1;
    StartStopMeasurement(d);
}

// The record files that the starts of one input made.
void RemoveRecordFiles() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(g_dir, ec)) fs::remove_all(e.path(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Record files of the measurements started by an input are made in a private folder.
    g_dir = FuzzWorkFolder("zelk_fuzz_link");
    fs::create_directories(g_dir);
    fs::current_path(g_dir);
    // An instance as MakeDriver leaves it, without the host layer around it.
    g_d = new TData;
    g_d->Clock = &g_clock;
    SetConfigDefaults(g_d->Cfg);
    ResetDeviceBlock(*g_d, DeviceReset::Everything);
    BuildChannelTable(*g_d);
    std::atexit([] {
        delete g_d;
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
        fs::remove_all(g_dir, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteStream input(data, size);
    const uint16_t controlBytes = input.U16();
    g_ctl = input.Take(controlBytes);
    g_dat = input;
    ByteStream& in = g_ctl;
    g_lastCode = 0;
    D2xxApi api = FuzzTable();
    if (const uint8_t sel = in.Byte(); sel >= 247) DropEntry(api, sel - 247);

    // One instance for every input, its device block, settings and status reset as a new
    // instance has them; the channel values left by earlier inputs steer no link path.
    TData* d = g_d;
    ResetDeviceBlock(*d, DeviceReset::Everything);
    SetDeviceStatus(*d, 0, StatusTexts[0]);
    d->ConversionPending = 0;
    d->D2xx = &api;
    d->Cfg.UsbTimeout = in.Range<int32_t>(1, 60);
    d->Cfg.ConvFileType = 0;  // no conversion thread: this target runs on one thread
    {
        plat::LockGuard g(d->DataLock);
        d->Device.SerialNumber = kSerial;
        for (auto& r : d->Device.Settings.RangeCode) r = in.Byte() % 16;
    }

    bool started = false;
    for (int op = 0; op < 24 && !in.Empty(); ++op) {
        switch (in.Range<int>(0, 7)) {
            case 0: Exchange(api); break;
            case 1:
                ModuleOpen(d);
                (in.Bool() ? d->Device.ReqAnalogIn : in.Bool() ? d->Device.ReqDigitalIn
                                                                              : d->Device.ReqCounterIn) = 1;
                ReadInputs(d);
                break;
            case 2: Upload(d); break;
            case 3: OpenModule(d); break;
            case 4: CloseModule(d); break;
            case 5:
                ModuleOpen(d);
                d->Device.DoutValue = in.Byte();
                d->Device.ReqDigitalOut = 1;
                d->Device.ReqCnt0Preset = in.Bool();
                d->Device.ReqCnt1Preset = in.Bool();
                WriteDigitalOutput(d);
                PresetCounter0(d);
                PresetCounter1(d);
                break;
            case 6:
                StartStop(d);
                started = true;
                break;
            default: d->Device.HandleValid = 0; d->Device.ModuleReady = 0; break;
        }
    }
    ResetDeviceBlock(*d, DeviceReset::Everything);  // closes the record file of a measurement left running
    d->D2xx = nullptr;
    if (started) RemoveRecordFiles();
    g_ctl = g_dat = ByteStream();
    return 0;
}
