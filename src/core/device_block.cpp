#include "core/log.h"
#include "domain/numtext.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "zelk2716e.h"

namespace zelk {

void ResetSnapshot(MeasurementSnapshot& s) {
    s = MeasurementSnapshot{};
    ResetModuleSettings(s.Settings);
}

void ResetDeviceBlock(TData& d, DeviceReset what) {
    plat::LockGuard g(d.DataLock);
    ResetDeviceBlockLocked(d, what);
}

void ResetDeviceBlockLocked(TData& d, DeviceReset what) {
    TZarizeni& z = d.Device;
    const bool keepOutcome = what == DeviceReset::KeepSettingsAndOutcome;
    // A measurement that the close ends was ended by the module's failure, whatever status it
    // showed while it ran (a stop that failed at its reset leaves "running").
    if (keepOutcome && z.MeasurementRunning.load() != 0) z.MeasurementStatus = ZELK_MEASURE_COMMAND_FAILED;
    z.SerialNumber = d.Cfg.ModuleSerial;
    z.ModuleType = "---";
    z.ControllerText = "---";
    if (!keepOutcome) z.RecordFilePath.clear();
    if (what == DeviceReset::Everything) {
        ResetModuleSettings(z.Settings);
        ResetSnapshot(d.Snapshot);
    }
    z.DeviceIndex = 9999;
    z.Handle = nullptr;
    z.HandleValid = 0;
    z.ModuleReady = 0;
    z.MeasurementRunning = 0;
    z.RequestedRecordCount = 0;
    if (!keepOutcome) {
        z.StoredRecordCount = 0;
        z.MeasurementStatus = ZELK_MEASURE_IDLE;
    }
    z.RecordFileOk = 0;
    z.RecordFile.Close();
    z.PartialBytes = 0;
    z.ReqAnalogIn = 0;
    z.ReqCounterIn = 0;
    z.ReqCnt0Preset = 0;
    z.ReqCnt1Preset = 0;
    z.ReqDigitalIn = 0;
    z.ReqDigitalOut = 0;
    z.ReqStartStop = 0;
    z.DinValue = 0;
    z.DoutValue = 0;
}

// Under DataLock, so that the status and its channel change together and the end of a
// hand-over cannot come between a conversion's failure report and its channel.
void SetMeasurementStatus(TData& d, int32_t status) {
    plat::LockGuard g(d.DataLock);
    SetMeasurementStatusLocked(d, status);
}

void SetMeasurementStatusLocked(TData& d, int32_t status) {
    d.Device.MeasurementStatus = status;
    TJedenKanal& ch = d.Channels[ZELK_CH_MEASURE_STATUS];
    ch.LongValue = static_cast<uint32_t>(status);
    ch.TextValue = text::Decimal(status);
}

void EndConversionHandOver(TData& d) {
    plat::LockGuard g(d.DataLock);
    int32_t converting = ZELK_MEASURE_CONVERTING;
    if (d.Device.MeasurementStatus.compare_exchange_strong(converting, ZELK_MEASURE_IDLE))
        SetMeasurementStatusLocked(d, ZELK_MEASURE_IDLE);
}

void SetDeviceStatus(TData& d, uint8_t code, const std::string& text) {
    plat::LockGuard g(d.StatusLock);
    d.Device.DeviceStatus = code;
    d.Device.DeviceStatusText = text;
}

void SetDeviceStatus(TData& d, Status code, const std::string& text) { SetDeviceStatus(d, Code(code), text); }

void SetDeviceStatus(TData& d, Status code) { SetDeviceStatus(d, Code(code), StatusText(code)); }

StatusPair GetDeviceStatus(const TData& d) {
    plat::LockGuard g(d.StatusLock);
    return StatusPair{d.Device.DeviceStatus, d.Device.DeviceStatusText};
}

uint8_t DeviceStatusCode(const TData& d) {
    plat::LockGuard g(d.StatusLock);
    return d.Device.DeviceStatus;
}

TData::ThreadEndedFlag::operator int() const { return d.AcqThread && d.AcqThread->Finished() ? 1 : 0; }

TData::TData() : Log(NewLogState()), D2xx(&usb::ProcessD2xx()) {}

// A host that frees the instance without Done must not leave a thread running on freed
// memory: stop and join every thread before any member goes away.
// The window goes first: its refresh (the headless view's timer thread) reads the channel
// table and takes DataLock, members declared after it and so destroyed before it.
TData::~TData() {
    Window.reset();
    CallbackThread.reset();
    AcqThread.reset();
    ConvThreads.clear();
    RetiredThreads.clear();
}

}  // namespace zelk
