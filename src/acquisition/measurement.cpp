#include "acquisition/measurement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "acquisition/acquisition.h"
#include "core/log.h"
#include "domain/numtext.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "records/conversion.h"
#include "records/record_file.h"
#include "usb/Vorna_FTD201.h"
#include "zelk2716e.h"

namespace zelk {

namespace {

// 1000 of the longest records.
constexpr size_t kUploadBufferBytes = 1000 * kMaxRecordBytes;

const char* RecordFileErrorText() { return "Chyba ukládání naměřených dat"_cp; }

bool ModuleUsable(const TData* d) { return d->Device.HandleValid.load() != 0 && d->Device.ModuleReady.load() != 0; }

void CommandFailed(TData* d, const char* tagAndMarker, const usb::LinkError& e) {
    const usb::LinkReport r = usb::Describe(e);
    SetDeviceStatus(*d, r.status, r.statusText);
    WriteLog(d, tagAndMarker + r.detail, 1);
}

// Every end of a measurement closes its record file, so that the file is complete for the
// conversion and for other programs and no handle outlives the measurement.
// The file is flushed first: the measurement's last records survive a power cut as well.
void CloseRecordFile(TData* d) {
    if (d->Device.RecordFile.IsOpen()) d->Device.RecordFile.Flush();
    d->Device.RecordFile.Close();
    d->Device.PartialBytes = 0;
}

// Flushes the record file once the sync interval has passed since the last flush. A flush
// that fails is a write that failed: the disk did not take the records.
bool SyncRecordFileWhenDue(TData* d) {
    TZarizeni& z = d->Device;
    const uint32_t now = d->Clock->NowMs();
    if (now - z.RecordFileSyncTick < d->RecordFileSyncMs) return true;
    z.RecordFileSyncTick = now;
    return z.RecordFile.Flush();
}

void RecordFileFailed(TData* d, const char* tagAndMarker) {
    CloseRecordFile(d);
    d->Device.RecordFileOk = 0;
    WriteLog(d, std::string(tagAndMarker) + RecordFileErrorText(), 1);
    SetDeviceStatus(*d, Status::Disk, StatusText(Status::Disk, RecordFileErrorText()));
    d->Device.MeasurementRunning = 0;
    SetMeasurementStatus(*d, ZELK_MEASURE_FILE_FAILED);
}

void D2xxFailed(TData* d, const char* tagAndMarker, const char* function, usb::FT_STATUS s) {
    CloseRecordFile(d);
    usb::LinkError e{usb::LinkFault::StreamCall, usb::LinkStep::Stream};
    e.function = function;
    e.ftStatus = s;
    const usb::LinkReport r = usb::Describe(e);
    WriteLog(d, tagAndMarker + r.detail, 1);
    SetDeviceStatus(*d, r.status, r.statusText);
    d->Device.MeasurementRunning = 0;
    SetMeasurementStatus(*d, ZELK_MEASURE_COMMAND_FAILED);
}

void FillSnapshot(MeasurementSnapshot& snap, const ModuleSettings& s, int32_t limit) {
    snap.RecordLimit = limit;
    snap.Settings = s;
    // The enables as the module is sent them, so that everything reading the snapshot agrees
    // with the records the module makes.
    snap.Settings.Cnt0Enable = EnableByte(s.Cnt0Enable);
    snap.Settings.Cnt1Enable = EnableByte(s.Cnt1Enable);
    snap.Settings.DinDoutEnable = EnableByte(s.DinDoutEnable);
    snap.RecordBytes = RecordBytesOf(static_cast<int32_t>(snap.Settings.TimerChannelCount), snap.Settings.Cnt0Enable,
                                     snap.Settings.Cnt1Enable, snap.Settings.DinDoutEnable);
}

// In DBF mode a measurement that has not been handed over yet goes to a conversion thread.
bool HandOverIfPending(TData* d, const char* marker) {
    if (d->Cfg.ConvFileType != 1 || d->ConversionPending.load() == 0) return false;
    d->ConversionPending = 0;
    WriteLog(d, marker, 3);
    d->Device.MeasurementRunning = 0;
    SetMeasurementStatus(*d, ZELK_MEASURE_CONVERTING);
    StartConversionThread(d);
    return true;
}

// The status of a measurement that ended normally. After a hand-over the conversion may
// already have failed and put its own status in place of "being converted": that one stays.
void EndMeasurement(TData* d, bool handedOver) {
    if (handedOver)
        EndConversionHandOver(*d);
    else
        SetMeasurementStatus(*d, ZELK_MEASURE_IDLE);
}

void StartMeasurement(TData* d) {
    TZarizeni& z = d->Device;
    WriteLog(d, "Z_SS (2)", 3);
    if (z.MeasurementRunning.load() != 0) {
        WriteLog(d, "Z_SS (99)", 2);
        return;
    }
    // One locked copy feeds both the snapshot and the block sent to the module, so that a
    // setting the host writes meanwhile cannot make the two disagree on the record layout.
    ModuleSettings s;
    std::string serial;
    {
        plat::LockGuard g(d->DataLock);
        s = z.Settings;
        s.TimerChannelCount = std::clamp<uint32_t>(s.TimerChannelCount, 1, kAnalogCount);
        FillSnapshot(d->Snapshot, s, z.RequestedRecordCount.load());
        serial = z.SerialNumber;
    }
    const usb::D2xxApi& api = *d->D2xx;
    WriteLog(d, "Z_SS (3)", 3);
    if (const usb::LinkResult r = usb::ModuleReset(api, z.Handle); !r.ok()) {
        CommandFailed(d, "Z_SS (3a) ", r.error());
        SetMeasurementStatus(*d, ZELK_MEASURE_COMMAND_FAILED);
        return;
    }
    WriteLog(d, "Z_SS (4)", 3);
    if (const usb::LinkResult r = usb::ModuleWriteLong(api, z.Handle, 0); !r.ok()) {
        CommandFailed(d, "Z_SS (4a) ", r.error());
        SetMeasurementStatus(*d, ZELK_MEASURE_COMMAND_FAILED);
        return;
    }
    WriteLog(d, "Z_SS (5)", 3);
    usb::TimerConfigBlock block{};
    if (const usb::LinkResult r = usb::ModuleReadConfig(api, z.Handle, *d->Clock, static_cast<uint32_t>(d->Cfg.UsbTimeout), block);
        !r.ok()) {
        CommandFailed(d, "Z_SS (5a) ", r.error());
        SetMeasurementStatus(*d, ZELK_MEASURE_COMMAND_FAILED);
        return;
    }
    AdjustPeriod(d);
    AdjustTimerSettings(s);
    {
        plat::LockGuard g(d->DataLock);
        d->Snapshot.Settings.TimerPeriodUs = s.TimerPeriodUs;
    }
    block = usb::EncodeTimerConfig(s);
    WriteLog(d, "Z_SS (6)", 3);
    if (const usb::LinkResult r = usb::ModuleWriteConfig(api, z.Handle, block); !r.ok()) {
        CommandFailed(d, "Z_SS (6a) ", r.error());
        SetMeasurementStatus(*d, ZELK_MEASURE_COMMAND_FAILED);
        return;
    }

    WriteLog(d, "Z_SS (7)", 3);
    std::string base;
    CloseRecordFile(d);
    const bool created = records::CreateRecordFile(d->Cfg.ConvDirectory, serial, plat::Now(), base, z.RecordFile);
    {
        plat::LockGuard g(d->DataLock);
        z.RecordFilePath = created ? base : std::string();
    }
    if (!created) {
        RecordFileFailed(d, "Z_SS (7a) ");
        return;
    }
    z.RecordFileOk = 1;
    z.RecordFileSyncTick = d->Clock->NowMs();
    WriteLog(d, "Z_SS (8)", 3);
    if (const usb::LinkResult r = usb::ModuleStart(api, z.Handle); !r.ok()) {
        CloseRecordFile(d);
        CommandFailed(d, "Z_SS (7a) ", r.error());
        return;
    }
    z.StoredRecordCount = 0;
    z.MeasurementRunning = 1;
    SetMeasurementStatus(*d, ZELK_MEASURE_RUNNING);
    z.MeasurementStartTick = d->Clock->NowMs();
    d->ConversionPending = 1;
    WriteLog(d, "Z_SS (99)", 2);
}

void StopMeasurement(TData* d) {
    TZarizeni& z = d->Device;
    WriteLog(d, "Z_SS (10)", 3);
    const usb::LinkResult reset = usb::ModuleReset(*d->D2xx, z.Handle);
    CloseRecordFile(d);
    if (!reset.ok()) {
        CommandFailed(d, "Z_SS (10a) ", reset.error());
        return;
    }
    const bool handedOver = HandOverIfPending(d, "Z_SS (11)");
    d->ConversionPending = 0;
    z.MeasurementRunning = 0;
    EndMeasurement(d, handedOver);
    WriteLog(d, "Z_SS (99)", 2);
}

usb::FT_STATUS QueueStatus(const usb::D2xxApi& api, usb::FT_HANDLE h, usb::DWORD& queued) {
    queued = 0;
    return api.GetQueueStatus ? api.GetQueueStatus(h, &queued) : usb::FT_OTHER_ERROR;
}

usb::FT_STATUS ReadBytes(const usb::D2xxApi& api, usb::FT_HANDLE h, uint8_t* buf, usb::DWORD n, usb::DWORD& got) {
    got = 0;
    return api.Read ? api.Read(h, buf, n, &got) : usb::FT_OTHER_ERROR;
}

}  // namespace

void AdjustPeriod(TData* d) {
    if (!d) return;
    WriteLog(d, "UP (0)", 2);
    if (!ModuleUsable(d)) {
        WriteLog(d, "UP (0a)", 2);
        return;
    }
    WriteLog(d, "UP (1)", 3);
    {
        plat::LockGuard g(d->DataLock);
        AdjustTimerSettings(d->Device.Settings);
    }
    WriteLog(d, "UP (99)", 2);
}

void StartStopMeasurement(TData* d) {
    if (!d) return;
    TZarizeni& z = d->Device;
    if (z.ReqStartStop.exchange(0) == 0) return;
    SetMeasurementStatus(*d, ZELK_MEASURE_IDLE);
    WriteLog(d, "Z_SS (0)", 2);
    if (!ModuleUsable(d)) {
        WriteLog(d, "Z_SS (0a)", 2);
        return;
    }
    WriteLog(d, "Z_SS (1)", 3);
    uint32_t startStop;
    {
        plat::LockGuard g(d->DataLock);
        startStop = d->Channels[ZELK_CH_MEASURE_START].LongValue;
    }
    if (startStop != 0)
        StartMeasurement(d);
    else
        StopMeasurement(d);
}

void UploadRecords(TData* d) {
    if (!d) return;
    TZarizeni& z = d->Device;
    if (z.MeasurementRunning.load() == 0) return;
    WriteLog(d, "UD (0)", 2);
    if (!ModuleUsable(d)) {
        WriteLog(d, "UD (0a)", 2);
        return;
    }
    WriteLog(d, "UD (1)", 3);
    int32_t recordBytes;
    uint32_t limit;
    {
        plat::LockGuard g(d->DataLock);
        recordBytes = d->Snapshot.RecordBytes;
        // Channel 202 is a longcard: a limit above 2^31 is a large count, not a negative one.
        limit = static_cast<uint32_t>(d->Snapshot.RecordLimit);
    }
    // Never divide by a broken layout.
    if (recordBytes < 2 || recordBytes > kMaxRecordBytes) recordBytes = kMaxRecordBytes;
    const usb::DWORD r = static_cast<usb::DWORD>(recordBytes);
    const usb::DWORD most = static_cast<usb::DWORD>(kUploadBufferBytes) / r * r;
    const usb::D2xxApi& api = *d->D2xx;

    usb::DWORD queued = 0;
    if (usb::FT_STATUS s = QueueStatus(api, z.Handle, queued); s != usb::FT_OK) {
        D2xxFailed(d, "UD (20) ", "FT_GetQueueStatus", s);
        WriteLog(d, "UD (99)", 2);
        return;
    }
    WriteLog(d, "UD (1a) P=" + text::Decimal(static_cast<uint32_t>(queued)), 3);

    // The start of a record torn by an earlier short read counts towards the next record.
    const usb::DWORD partial = std::min<usb::DWORD>(z.PartialBytes, r - 1);
    const int32_t elapsed = static_cast<int32_t>(d->Clock->NowMs() - z.MeasurementStartTick.load());
    if (queued < r - partial) {
        if (elapsed > d->Cfg.UsbTimeout) {
            WriteLog(d, "UD (10)", 3);
            const usb::LinkResult reset = usb::ModuleReset(api, z.Handle);
            CloseRecordFile(d);
            if (!reset.ok()) {
                CommandFailed(d, "UD (10a) ", reset.error());
                z.MeasurementRunning = 0;
                SetMeasurementStatus(*d, ZELK_MEASURE_COMMAND_FAILED);
                return;
            }
            z.MeasurementRunning = 0;
            SetMeasurementStatus(*d, ZELK_MEASURE_NO_DATA);
        }
        WriteLog(d, "UD (99)", 2);
        return;
    }

    // Whole records out of the kept start and the queued bytes, at most one buffer.
    // Limited in 64 bits: a queue count near 2^32 would wrap to a small total.
    const usb::DWORD total = static_cast<usb::DWORD>(std::min<uint64_t>((uint64_t{partial} + queued) / r * r, most));
    const usb::DWORD want = total - partial;
    WriteLog(d, "UD (1b) P=" + text::Decimal(static_cast<uint32_t>(want)), 3);
    std::array<uint8_t, kUploadBufferBytes> buffer;
    std::memcpy(buffer.data(), z.PartialRecord.data(), partial);
    usb::DWORD got = 0;
    const usb::FT_STATUS s = ReadBytes(api, z.Handle, buffer.data() + partial, want, got);
    WriteLog(d, "UD (1c) P=" + text::Decimal(static_cast<uint32_t>(got)), 3);
    if (got > want) got = want;
    // A read that goes on delivering less than the queue holds, so that no record completes
    // within the USB timeout, is a failed read too, whatever status it returns.
    if (s != usb::FT_OK || (partial + got < r && elapsed > d->Cfg.UsbTimeout)) {
        D2xxFailed(d, "UD (1f) ", "FT_Read", s);
        WriteLog(d, "UD (99)", 2);
        return;
    }
    // A short read tears a record: its start is kept and completed by the next pass, so
    // that no later record shifts.
    const usb::DWORD bytes = partial + got;
    uint64_t records = bytes / r;
    bool cut = false;
    const uint64_t stored = z.StoredRecordCount.load();
    if (limit != 0 && limit - std::min<uint64_t>(stored, limit) < records) {
        records = limit - std::min<uint64_t>(stored, limit);
        cut = true;
    }
    const usb::DWORD whole = static_cast<usb::DWORD>(records * r);
    const bool appending = z.RecordFileOk.load() != 0 && whole > 0;
    if (appending && !records::AppendRecordBlock(z.RecordFile, buffer.data(), whole)) {
        RecordFileFailed(d, "UD (1d) ");
        return;
    }
    z.PartialBytes = cut ? 0 : bytes - whole;
    std::memcpy(z.PartialRecord.data(), buffer.data() + whole, z.PartialBytes);
    z.StoredRecordCount = stored + records;
    WriteLog(d, "UD (1e) U=" + std::to_string(stored + records), 3);
    // The block is in the file and counted; a flush that fails means the disk did not take it.
    if (appending && !SyncRecordFileWhenDue(d)) {
        RecordFileFailed(d, "UD (1d) ");
        return;
    }
    if (records > 0) DecodeSamples(d, buffer.data());

    if (limit != 0 && stored + records >= limit) {
        WriteLog(d, "UD (2)", 3);
        const usb::LinkResult reset = usb::ModuleReset(api, z.Handle);
        CloseRecordFile(d);
        if (!reset.ok()) {
            CommandFailed(d, "UD (2a) ", reset.error());
            return;
        }
        const bool handedOver = HandOverIfPending(d, "UD (3)");
        z.MeasurementRunning = 0;
        EndMeasurement(d, handedOver);
    }
    // Only a block that brought a record counts as data for the no-data timeout.
    if (records > 0) z.MeasurementStartTick = d->Clock->NowMs();
    WriteLog(d, "UD (99)", 2);
}

}  // namespace zelk
