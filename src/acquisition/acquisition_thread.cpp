// The acquisition thread: the only code that talks to the module while the instance runs.
#include <algorithm>
#include <exception>
#include <string>

#include "acquisition/acquisition.h"
#include "acquisition/measurement.h"
#include "core/log.h"
#include "domain/status_texts.h"
#include "core/Pomocny.h"
#include "usb/Vorna_FTD201.h"

namespace zelk {
namespace {

// Uploads keep the module's buffer from overflowing: at most this long between two.
constexpr uint32_t kUploadCadenceMs = 1;
// With nothing to do the thread still looks round this often, so that a wake-up that was
// missed could never stall a request for longer.
constexpr uint32_t kSafetyWakeMs = 250;

void Tud(TData* d, const char* marker) { WriteLog(d, marker, 3); }

bool StatusOk(const TData& d) { return DeviceStatusCode(d) == Code(Status::Ok); }

// How long the thread may wait before its next pass when nobody wakes it: the upload
// cadence while a measurement runs, the time to the next re-open while the device status is
// not 0, else the safety timeout.
uint32_t IdleWaitMs(const TData* d, uint32_t lastRetry) {
    if (d->Device.MeasurementRunning != 0) return kUploadCadenceMs;
    if (!StatusOk(*d)) {
        const uint32_t since = d->Clock->NowMs() - lastRetry;
        if (since >= kRetryIntervalMs) return 0;
        return std::min(kRetryIntervalMs - since, kSafetyWakeMs);
    }
    return kSafetyWakeMs;
}

void PassFailed(TData* d, const char* what) {
    try {
        WriteLog(d, std::string("TUD 97 ") + InternalErrorText() + what, 1);
    } catch (...) {
    }
}

}  // namespace

void TThreadZELK::Execute() {
    TData* d = Data();
    if (d == nullptr) return;
    uint32_t lastRetry = d->Clock->NowMs();
    Tud(d, "TUD 1");

    auto leave = [this] { return Terminated(); };

    // One pass of the loop; false when the thread is to leave it.
    auto pass = [&]() -> bool {
        // Upload pass: while a measurement runs, requests are finished on every pass.
        if (d->Device.MeasurementRunning != 0) {
            Tud(d, "TUD 2a");
            TakeBatchIntoPass(d, kInputBatch);
            if (StatusOk(*d)) {
                UploadRecords(d);
                Tud(d, "TUD 2a1");
            } else {
                MarkRequestsProcessed(d);
                Tud(d, "TUD 2a2");
            }
            CompletePassRequests(d);
            Tud(d, "TUD 2a3");
        }
        if (leave()) return false;

        // Input pass, once per input batch, only while no measurement runs.
        // The batch flag is taken at the start of the pass, so that a batch the host ends
        // while this pass runs is not lost; it gets a pass of its own.
        if (d->Device.MeasurementRunning == 0 && d->InputBatchComplete.exchange(0) != 0) {
            Tud(d, "TUD 2b");
            TakeBatchIntoPass(d, kInputBatch);
            if (StatusOk(*d)) {
                ReadInputs(d);
                Tud(d, "TUD 2b1");
            } else {
                MarkRequestsProcessed(d);
                Tud(d, "TUD 2b2");
            }
            if (leave()) return false;
            CompletePassRequests(d);
            Tud(d, "TUD 2b3");
        }
        if (leave()) return false;

        // Output pass, once per output batch; a failing command skips the ones after it.
        if (d->OutputBatchComplete.exchange(0) != 0) {
            Tud(d, "TUD 2c");
            TakeBatchIntoPass(d, kOutputBatch);
            bool left = false;
            for (void (*command)(TData*) : {WriteDigitalOutput, PresetCounter0, PresetCounter1, StartStopMeasurement}) {
                if (StatusOk(*d)) command(d);
                if (leave()) {
                    left = true;
                    break;
                }
            }
            if (left) return false;
            if (!StatusOk(*d)) MarkRequestsProcessed(d);
            CompletePassRequests(d);
        }
        if (leave()) return false;

        // Retry, counted from the start or the last retry, not from the failure.
        if (!StatusOk(*d) && d->Clock->NowMs() - lastRetry >= kRetryIntervalMs) {
            Tud(d, "TUD 2d");
            if (d->Device.ModuleReady != 0) CloseModule(d, DeviceReset::KeepSettingsAndOutcome);
            if (leave()) return false;
            if (d->Device.ModuleReady == 0) OpenModule(d);
            if (StatusOk(*d)) WriteLog(d, "Nalezen USB modul", 0);
            lastRetry = d->Clock->NowMs();
        }

        RefreshStatusChannels(d);
        return true;
    };

    while (true) {
        // Blocks until a batch ends, Done asks it to stop, or its own next deadline.
        d->Clock->WaitFor(d->AcqWake, IdleWaitMs(d, lastRetry));
        if (leave()) break;
        // A pass that fails unexpectedly (no memory in a 32-bit host, say) is logged and
        // the loop goes on: the module stays served and Done still finds the thread.
        try {
            if (!pass()) break;
        } catch (const std::exception& e) {
            PassFailed(d, e.what());
        } catch (...) {
            PassFailed(d, "?");
        }
    }

    Tud(d, "TUD 99");
}

}  // namespace zelk
