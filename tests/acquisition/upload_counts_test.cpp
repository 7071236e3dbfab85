// The record upload against a D2XX library that reports absurd counts: the read it asks for
// always fits the upload buffer and ends on a record boundary.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "acquisition/measurement.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"

namespace zelk {
namespace {

using namespace usb;

DWORD g_queued = 0;
std::vector<DWORD> g_reads;

FT_STATUS ZELK_D2XX_CALL Queue(FT_HANDLE, DWORD* queued) {
    *queued = g_queued;
    return FT_OK;
}

// Records the size asked for and delivers nothing, so that no record completes.
FT_STATUS ZELK_D2XX_CALL ReadNothing(FT_HANDLE, void*, DWORD bytes, DWORD* read) {
    g_reads.push_back(bytes);
    *read = 0;
    return FT_OK;
}

TEST(UploadCounts, QueueCountsUpToTwoToThe32AskForAtMostOneBuffer) {
    D2xxApi api;
    api.GetQueueStatus = Queue;
    api.Read = ReadNothing;
    // 0xFFFFFFFF + 3 kept bytes once wrapped to a request of 2^32 - 3 bytes.
    for (const DWORD queued : {DWORD{38000}, DWORD{0x7FFFFFFF}, DWORD{0xFFFFFFFD}, DWORD{0xFFFFFFFF}}) {
        for (const int32_t recordBytes : {4, 14, 38}) {
            SCOPED_TRACE(testing::Message() << "queued " << queued << ", record " << recordBytes);
            TData d;
            SetConfigDefaults(d.Cfg);
            ResetDeviceBlock(d, DeviceReset::Everything);
            BuildChannelTable(d);
            d.D2xx = &api;
            {
                plat::LockGuard g(d.DataLock);
                d.Snapshot.RecordBytes = recordBytes;
            }
            d.Device.HandleValid = 1;
            d.Device.ModuleReady = 1;
            d.Device.MeasurementRunning = 1;
            d.Device.MeasurementStartTick = plat::TickCount();
            d.Device.PartialBytes = 3;
            g_queued = queued;
            g_reads.clear();
            UploadRecords(&d);
            ASSERT_EQ(g_reads.size(), 1u);
            const uint64_t upTo = uint64_t{g_reads[0]} + 3;  // kept bytes and the read, unwrapped
            EXPECT_GT(g_reads[0], 0u);
            EXPECT_LE(upTo, 38000u);
            EXPECT_EQ(upTo % static_cast<uint64_t>(recordBytes), 0u);
            EXPECT_EQ(d.Device.PartialBytes, 3u);  // the kept start waits for the rest
        }
    }
}

}  // namespace
}  // namespace zelk
