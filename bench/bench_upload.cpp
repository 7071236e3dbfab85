// Upload throughput: UploadRecords moving records from the simulated module (no bandwidth
// cap, manual clock) into the record file, in MB/s and records/s of the driver's side.
// Usage: bench_upload [megabytes] [flush]: flush is the record file's flush interval in ms
// (default: the driver's), 0 flushes after every block, "never" not at all.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "acquisition/measurement.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "sim/sim.h"
#include "usb/Vorna_FTD201.h"

using Clock = std::chrono::steady_clock;
using namespace zelk;

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 50.0;
    const std::string flush = argc > 2 ? argv[2] : std::to_string(kRecordFileSyncMs);
    char tmpl[] = "/tmp/zelk_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = std::string(tmpl) + "/";

    sim::Bench& bench = sim::GlobalBench();
    bench.Reset();
    bench.SetBandwidth(0);
    bench.SetReplyLatencyMs(0);
    bench.SetModuleBufferBytes(size_t(1) << 20);
    bench.SetHostQueueBytes(size_t(1) << 20);

    TData d;
    SetConfigDefaults(d.Cfg);
    d.Cfg.ModuleSerial = "12000001";
    d.Cfg.ConvDirectory = dir;
    d.Cfg.ConvFileType = 0;
    ResetDeviceBlock(d, DeviceReset::Everything);
    BuildChannelTable(d);
    d.D2xx = &sim::InProcessD2xx();
    d.RecordFileSyncMs = flush == "never" ? UINT32_MAX : static_cast<uint32_t>(std::atol(flush.c_str()));
    OpenModule(&d);
    if (DeviceStatusCode(d) != 0) return 1;
    {
        plat::LockGuard g(d.DataLock);
        d.Device.Settings.SettleTime.fill(0);
        d.Device.Settings.TimerPeriodUs = 190.0;
        d.Channels[200].LongValue = 1;
    }
    bench.UseManualClock(true);
    d.Device.ReqStartStop = 1;
    StartStopMeasurement(&d);
    if (d.Device.MeasurementRunning == 0) return 1;

    // One full upload buffer (1000 records of 38 bytes) becomes due per step.
    const auto step = std::chrono::microseconds(190 * 1000);
    const long steps = static_cast<long>(megabytes * 1e6 / 38000);
    Clock::duration inUpload{}, inSim{};
    for (long i = 0; i < steps; ++i) {
        const auto a = Clock::now();
        bench.AdvanceClock(step);
        bench.State(0);  // lets the module produce what became due
        const auto b = Clock::now();
        UploadRecords(&d);
        inUpload += Clock::now() - b;
        inSim += b - a;
        d.Device.MeasurementStartTick = plat::TickCount();  // the manual clock must not time out
    }
    const double stored = d.Device.StoredRecordCount;
    const double up = std::chrono::duration<double>(inUpload).count();
    std::printf("records uploaded   %.0f (%.1f MB), %ld calls\n", stored, stored * 38 / 1e6, steps);
    std::printf("UploadRecords      %.3f s  %.1f MB/s  %.0f records/s\n", up, stored * 38 / up / 1e6, stored / up);
    std::printf("simulator          %.3f s producing the records\n", std::chrono::duration<double>(inSim).count());
    std::printf("dropped by module  %llu\n", static_cast<unsigned long long>(bench.State(0).records_dropped));
    std::printf("upload_mbs %s %.1f\n", flush.c_str(), stored * 38 / up / 1e6);  // key line for scripts/bench
    d.Device.ReqStartStop = 1;
    {
        plat::LockGuard g(d.DataLock);
        d.Channels[200].LongValue = 0;
    }
    StartStopMeasurement(&d);
    CloseModule(&d);
    std::string cmd = "rm -rf '" + dir + "'";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
