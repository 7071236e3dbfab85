// The in-process D2XX table: the nine functions with D2XX's calling convention, served by
// the global bench.
#include "sim/sim.h"

namespace zelk::sim {

using namespace zelk::usb;

namespace {

FT_STATUS ZELK_D2XX_CALL ListDevicesFn(void* a1, void* a2, DWORD flags) { return GlobalBench().ListDevices(a1, a2, flags); }
FT_STATUS ZELK_D2XX_CALL OpenFn(int index, FT_HANDLE* h) { return GlobalBench().Open(index, h); }
FT_STATUS ZELK_D2XX_CALL CloseFn(FT_HANDLE h) { return GlobalBench().Close(h); }
FT_STATUS ZELK_D2XX_CALL ResetDeviceFn(FT_HANDLE h) { return GlobalBench().ResetDevice(h); }
FT_STATUS ZELK_D2XX_CALL SetLatencyTimerFn(FT_HANDLE h, UCHAR ms) { return GlobalBench().SetLatencyTimer(h, ms); }
FT_STATUS ZELK_D2XX_CALL PurgeFn(FT_HANDLE h, ULONG mask) { return GlobalBench().Purge(h, mask); }
FT_STATUS ZELK_D2XX_CALL WriteFn(FT_HANDLE h, void* b, DWORD n, DWORD* w) { return GlobalBench().Write(h, b, n, w); }
FT_STATUS ZELK_D2XX_CALL ReadFn(FT_HANDLE h, void* b, DWORD n, DWORD* r) { return GlobalBench().Read(h, b, n, r); }
FT_STATUS ZELK_D2XX_CALL GetQueueStatusFn(FT_HANDLE h, DWORD* q) { return GlobalBench().GetQueueStatus(h, q); }

}  // namespace

const D2xxApi& InProcessD2xx() {
    static const D2xxApi api = [] {
        D2xxApi a;
        a.ListDevices = ListDevicesFn;
        a.Open = OpenFn;
        a.Close = CloseFn;
        a.ResetDevice = ResetDeviceFn;
        a.SetLatencyTimer = SetLatencyTimerFn;
        a.Purge = PurgeFn;
        a.Write = WriteFn;
        a.Read = ReadFn;
        a.GetQueueStatus = GetQueueStatusFn;
        return a;
    }();
    return api;
}

}  // namespace zelk::sim
