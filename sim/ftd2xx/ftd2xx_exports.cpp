// Drop-in D2XX library: the nine functions the driver uses, exported under D2XX's own
// names and calling convention, served by this library's own simulated bench.
#include "sim/sim.h"

#if defined(_WIN32)
#define ZELK_D2XX_EXPORT extern "C" __declspec(dllexport)
#else
#define ZELK_D2XX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace zelk::usb;
using zelk::sim::GlobalBench;

namespace {

zelk::sim::Bench& Bench() {
    zelk::sim::ConfigureGlobalBenchFromEnvironment();
    return GlobalBench();
}

}  // namespace

ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    return Bench().ListDevices(arg1, arg2, flags);
}
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_Open(int index, FT_HANDLE* handle) { return Bench().Open(index, handle); }
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_Close(FT_HANDLE handle) { return Bench().Close(handle); }
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_ResetDevice(FT_HANDLE handle) { return Bench().ResetDevice(handle); }
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    return Bench().SetLatencyTimer(handle, ms);
}
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_Purge(FT_HANDLE handle, ULONG mask) { return Bench().Purge(handle, mask); }
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_Write(FT_HANDLE handle, void* buffer, DWORD bytes, DWORD* written) {
    return Bench().Write(handle, buffer, bytes, written);
}
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_Read(FT_HANDLE handle, void* buffer, DWORD bytes, DWORD* read) {
    return Bench().Read(handle, buffer, bytes, read);
}
ZELK_D2XX_EXPORT FT_STATUS ZELK_D2XX_CALL FT_GetQueueStatus(FT_HANDLE handle, DWORD* queued) {
    return Bench().GetQueueStatus(handle, queued);
}
