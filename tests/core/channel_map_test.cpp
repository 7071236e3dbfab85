#include <gtest/gtest.h>

#include <cmath>

#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "domain/record_layout.h"

namespace zelk {
namespace {

TEST(ChannelMap, DescriptionsAreTheFixedCp1250Texts) {
    EXPECT_EQ(ChannelDescription(16), "Kanál nedefinován"_cp);
    EXPECT_EQ(ChannelDescription(3), "real input - analogový kanál 3"_cp);
    EXPECT_EQ(ChannelDescription(58), "longcard input - digitální vstup"_cp);
    EXPECT_EQ(ChannelDescription(50), "boolean input - digitální vstup 0"_cp);
    EXPECT_EQ(ChannelDescription(51), "boolean input - digitální vstup 1"_cp);
    EXPECT_EQ(ChannelDescription(171), "longcard output - doba ustálení vstupu [us] - rozsah 10V"_cp);
    EXPECT_EQ(ChannelDescription(176), "longcard output - doba ustálení vstupu [us] - rozsah 200mV"_cp);
    EXPECT_EQ(ChannelDescription(147), "longcard output - fyzický vstup analogového kanálu 15"_cp);
    // cp1250 bytes, not UTF-8: 'á' is 0xE1.
    EXPECT_EQ(static_cast<unsigned char>(ChannelDescription(16)[3]), 0xE1);
}

TEST(ChannelMap, DefinedSetHas77ChannelsAndClassesOverlapOnlyAt200And202) {
    int defined = 0;
    for (uint32_t ch = 0; ch < 204; ++ch) {
        defined += IsDefinedChannel(ch) ? 1 : 0;
        if (InInputClass(ch) && InOutputClass(ch)) {
            EXPECT_TRUE(ch == 200 || ch == 202) << ch;
        }
        if (InInputClass(ch) || InOutputClass(ch)) {
            EXPECT_TRUE(IsDefinedChannel(ch)) << ch;
        }
    }
    EXPECT_EQ(defined, 77);
    EXPECT_FALSE(IsDefinedChannel(204));
    EXPECT_TRUE(InOutputClass(165));
    EXPECT_FALSE(InInputClass(165));
    EXPECT_EQ(std::string(RangeName(9)), "10V");
    EXPECT_EQ(std::string(RangeName(5)), "200mV");
}

// Names, codes and full scales agree both ways; the measured low three bits pick the
// scale, and codes without a row of their own are 10V.
TEST(RangeTable, NamesCodesAndFullScalesAgree) {
    for (uint32_t i = 0; i < kRangeCount; ++i) {
        const RangeInfo& r = kRanges[i];
        EXPECT_EQ(r.code, i);
        EXPECT_EQ(RangeCodeOfName(r.name), r.code) << r.name;
        EXPECT_STREQ(RangeName(r.code), r.name);
        EXPECT_DOUBLE_EQ(FullScaleOf(r.code), r.fullScale);
        EXPECT_DOUBLE_EQ(FullScaleOf(r.code + 8), r.fullScale);
    }
    for (uint32_t code : {6u, 7u, 14u, 15u}) EXPECT_DOUBLE_EQ(FullScaleOf(code), 10.0) << code;
    for (uint32_t code : {6u, 8u, 13u, 0xFFFFFFFFu}) EXPECT_STREQ(RangeName(code), "10V") << code;
    EXPECT_EQ(RangeCodeOfName("500MV"), 0);
}

// A channel takes a write rule exactly when the host may write it, and only a written
// setting is kept across a close.
TEST(ChannelDescriptors, WriteRulesBelongToOutputsAndKeptValuesToSettings) {
    int kept = 0;
    for (uint32_t ch = 0; ch <= ZELK_CHANNEL_COUNT; ++ch) {
        const ChannelDescriptor& c = DescriptorOf(ch);
        EXPECT_EQ(c.write != WriteRule::None, c.outputClass) << ch;
        if (c.keepsOnClose) {
            EXPECT_TRUE(c.outputClass && !c.inputClass) << ch;
            ++kept;
        }
        EXPECT_EQ(c.defined, c.kind != ValueKind::None) << ch;
    }
    EXPECT_EQ(kept, 16 + 16 + 13);
    EXPECT_FALSE(DescriptorOf(0xFFFFFFFFu).defined);
}

TEST(ChannelDescriptors, StoredValuesMaskAndClampAsTheDriverDoes) {
    struct Case {
        uint32_t ch, written, stored;
    };
    const Case cases[] = {
        {ZELK_CH_DOUT_BOOL, 0, 0},           {ZELK_CH_DOUT_BOOL, 255, 1},
        {ZELK_CH_DOUT, 7, 3},                {ZELK_CH_RANGE0 + 3, 0x1F, 15},
        {ZELK_CH_INPUT_LAST, 16, 0},         {ZELK_CH_TIMER_CHANNELS, 0, 1},
        {ZELK_CH_TIMER_CHANNELS, 16, 16},    {ZELK_CH_TIMER_CHANNELS, 17, 16},
        {ZELK_CH_TIMER_CNT1_PRESET, 65536, 65535}, {ZELK_CH_TIMER_CNT0_PRESET, 65535, 65535},
        {ZELK_CH_TIMER_DIO_ENABLE, 2, 1},    {ZELK_CH_TIMER_CNT1_ENABLE, 0, 0},
        {ZELK_CH_SETTLE_LAST, 128, 127},     {ZELK_CH_SETTLE0, 127, 127},
        {ZELK_CH_CNT1_PRESET, 0xFFFFFFFFu, 0xFFFFFFFFu}, {ZELK_CH_MEASURE_RECORDS, 0x80000000u, 0x80000000u},
    };
    for (const Case& c : cases) EXPECT_EQ(StoredLongcard(c.ch, c.written), c.stored) << c.ch << " " << c.written;

    EXPECT_EQ(StoredPeriod(std::nan("")), 25.0);
    EXPECT_EQ(StoredPeriod(24.999), 25.0);
    EXPECT_EQ(StoredPeriod(-HUGE_VAL), 25.0);
    EXPECT_EQ(StoredPeriod(HUGE_VAL), 32767.5);
    EXPECT_EQ(StoredPeriod(32767.6), 32767.5);
    EXPECT_EQ(StoredPeriod(100.25), 100.25);
}

TEST(ChannelMap, BuiltTableAndFinishStateReset) {
    TData d;
    SetConfigDefaults(d.Cfg);
    BuildChannelTable(d);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_EQ(d.Channels[16].Status, 100);
        EXPECT_EQ(d.Channels[16].StatusText, "Kanál nedefinován"_cp);
        EXPECT_EQ(d.Channels[3].Status, 99);
        EXPECT_EQ(d.Channels[3].StatusText, "Kanál nepoužit"_cp);
        EXPECT_EQ(d.Channels[3].Name, "Kanál 3"_cp);
        EXPECT_EQ(d.Channels[3].TextValue, "0");

        d.Channels[201].LongValue = 7;
        d.Channels[203].LongValue = 256;
        d.Channels[203].TextValue = "256";
        d.Channels[5].Pending = 1;
        d.Channels[5].Finished = 0;
        d.Channels[5].NotifyWanted = 1;
        d.Channels[6].Status = 0;
    }
    SetDeviceStatus(d, 13, "Chyba povelu");
    ResetFinishState(d);
    plat::LockGuard g(d.DataLock);
    EXPECT_EQ(d.Channels[201].LongValue, 0u);
    EXPECT_EQ(d.Channels[203].LongValue, 256u);
    EXPECT_EQ(d.Channels[203].TextValue, "256");
    EXPECT_EQ(d.Channels[5].Finished, 1);
    EXPECT_EQ(d.Channels[5].Pending, 0);
    EXPECT_EQ(d.Channels[5].NotifyWanted, 1);
    // The request that the reset ended carries the device status, not a stale good one.
    EXPECT_EQ(d.Channels[5].Status, 13);
    EXPECT_EQ(d.Channels[5].RequestCount, 1);
    // A channel that was idle keeps its status.
    EXPECT_EQ(d.Channels[6].Status, 0);
    EXPECT_EQ(d.Channels[6].RequestCount, 0);
}

}  // namespace
}  // namespace zelk
