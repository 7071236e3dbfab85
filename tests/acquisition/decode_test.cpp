// Sample conversion, value texts, both sample layouts and the request finishing, on an
// instance without a module.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "acquisition/acquisition.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"

namespace zelk {
namespace {

std::unique_ptr<TData> MakeInstance() {
    auto d = std::make_unique<TData>();
    SetConfigDefaults(d->Cfg);
    d->Cfg.ModuleSerial = "12000001";
    ResetDeviceBlock(*d, DeviceReset::Everything);
    BuildChannelTable(*d);
    return d;
}

void PutWord(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

TEST(SampleConversion, FullScalePerRangeCode) {
    const double expected[] = {10.0, 5.0, 2.0, 1.0, 0.5, 0.2, 10.0, 10.0};
    for (uint32_t r = 0; r < 8; ++r) {
        EXPECT_DOUBLE_EQ(FullScaleOf(r), expected[r]) << r;
        // 0 is minus full scale, 32767 is zero, 65535 is 32768/32767 of full scale.
        EXPECT_DOUBLE_EQ(ConvertSample(0, r, 1.0, 0.0), -expected[r]) << r;
        EXPECT_DOUBLE_EQ(ConvertSample(32767, r, 1.0, 0.0), 0.0) << r;
        EXPECT_DOUBLE_EQ(ConvertSample(65535, r, 1.0, 0.0), expected[r] * 32768.0 / 32767.0) << r;
    }
    EXPECT_DOUBLE_EQ(FullScaleOf(200), 10.0);
}

TEST(SampleConversion, OffsetIsAddedBeforeTheFactor) {
    EXPECT_DOUBLE_EQ(ConvertSample(32767, 3, 2.0, 1.0), 2.0);
    // (-0.2 + 1) x 3, not -0.2 x 3 + 1.
    EXPECT_DOUBLE_EQ(ConvertSample(0, 5, 3.0, 1.0), (1.0 - 0.2) * 3.0);
}

TEST(SampleConversion, ValueTextHasFourDecimalsAfterNineSignificantDigits) {
    EXPECT_EQ(SampleValueText(ConvertSample(0, 5, 1.0, 0.0), '.'), "-0.2000 V");
    EXPECT_EQ(SampleValueText(0.0, '.'), "0.0000 V");
    EXPECT_EQ(SampleValueText(-0.2, ','), "-0,2000 V");
    EXPECT_EQ(SampleValueText(123456.78951, '.'), "123456.7900 V");
    EXPECT_EQ(SampleValueText(2.5, '.'), "2.5000 V");
}

TEST(DecodeSamples, InputBlockFillsAnalogCounterAndDigitalChannels) {
    auto d = MakeInstance();
    {
        plat::LockGuard g(d->DataLock);
        d->Device.Settings.RangeCode[2] = 5;
        d->Cfg.ChannelConstA[7] = 2.0;
        d->Cfg.ChannelConstB[7] = 1.0;
        d->Channels[4].BoolValue = 1;
    }
    std::vector<uint8_t> block(37, 0);
    for (int k = 0; k < 16; ++k) PutWord(block, 2 * k, static_cast<uint16_t>(1000 * k + 7));
    PutWord(block, 2 * 2, 0);
    PutWord(block, 2 * 7, 32767);
    PutWord(block, 32, 0xBEEF);
    PutWord(block, 34, 513);
    block[36] = 0x02;

    DecodeSamples(d.get(), block.data());

    plat::LockGuard g(d->DataLock);
    for (int k = 0; k < 16; ++k) {
        if (k == 2 || k == 7) continue;
        const uint16_t s = static_cast<uint16_t>(1000 * k + 7);
        EXPECT_EQ(d->Channels[k].LongValue, s) << k;
        EXPECT_DOUBLE_EQ(d->Channels[k].RealValue, ConvertSample(s, 0, 1.0, 0.0)) << k;
        EXPECT_EQ(d->Channels[k].TextValue, SampleValueText(ConvertSample(s, 0, 1.0, 0.0), plat::DecimalSeparator())) << k;
    }
    EXPECT_EQ(d->Channels[2].TextValue, SampleValueText(-0.2, plat::DecimalSeparator()));
    EXPECT_DOUBLE_EQ(d->Channels[7].RealValue, 2.0);
    EXPECT_EQ(d->Channels[4].BoolValue, 1);  // left alone
    EXPECT_EQ(d->Channels[80].LongValue, 0xBEEFu);
    EXPECT_EQ(d->Channels[80].TextValue, "48879");
    EXPECT_EQ(d->Channels[81].LongValue, 513u);
    EXPECT_EQ(d->Channels[81].TextValue, "513");
    EXPECT_EQ(d->Device.DinValue, 2);
    EXPECT_EQ(d->Channels[50].LongValue, 0u);
    EXPECT_EQ(d->Channels[50].BoolValue, 0);
    EXPECT_EQ(d->Channels[50].TextValue, "0");
    EXPECT_EQ(d->Channels[51].LongValue, 1u);
    EXPECT_EQ(d->Channels[51].BoolValue, 1);
    EXPECT_EQ(d->Channels[51].TextValue, "1");
    EXPECT_EQ(d->Channels[58].LongValue, 2u);
    EXPECT_EQ(d->Channels[58].TextValue, "2");
    // Decoding finishes nothing.
    EXPECT_EQ(d->Channels[3].RequestCount, 0);
}

TEST(DecodeSamples, RecordWithFourChannelsAndOnlyCnt1TakesCnt1FromOffset8) {
    auto d = MakeInstance();
    {
        plat::LockGuard g(d->DataLock);
        d->Snapshot.Settings.TimerChannelCount = 4;
        d->Snapshot.Settings.Cnt0Enable = 0;
        d->Snapshot.Settings.Cnt1Enable = 1;
        d->Snapshot.Settings.DinDoutEnable = 0;
        d->Snapshot.Settings.RangeCode[1] = 5;  // the snapshot's ranges count ...
        d->Device.Settings.RangeCode[1] = 0;    // ... not the current settings
        d->Channels[80].LongValue = 77;
        d->Channels[4].LongValue = 4444;
        d->Channels[58].LongValue = 9;
    }
    d->Device.MeasurementRunning = 1;
    std::vector<uint8_t> record(10, 0);
    for (int k = 0; k < 4; ++k) PutWord(record, 2 * k, static_cast<uint16_t>(100 + k));
    PutWord(record, 2 * 1, 0);
    PutWord(record, 8, 4321);

    DecodeSamples(d.get(), record.data());

    plat::LockGuard g(d->DataLock);
    EXPECT_EQ(d->Channels[0].LongValue, 100u);
    EXPECT_EQ(d->Channels[3].LongValue, 103u);
    EXPECT_EQ(d->Channels[1].TextValue, SampleValueText(-0.2, plat::DecimalSeparator()));
    EXPECT_EQ(d->Channels[4].LongValue, 4444u);
    EXPECT_EQ(d->Channels[81].LongValue, 4321u);
    EXPECT_EQ(d->Channels[80].LongValue, 77u);
    EXPECT_EQ(d->Channels[58].LongValue, 9u);
}

TEST(DecodeSamples, RecordFieldsFollowEachOtherWithoutGaps) {
    auto d = MakeInstance();
    {
        plat::LockGuard g(d->DataLock);
        d->Snapshot.Settings.TimerChannelCount = 2;
    }
    d->Device.MeasurementRunning = 1;
    std::vector<uint8_t> record(10, 0);
    PutWord(record, 0, 11);
    PutWord(record, 2, 22);
    PutWord(record, 4, 333);
    PutWord(record, 6, 444);
    record[8] = 0x03;
    DecodeSamples(d.get(), record.data());
    plat::LockGuard g(d->DataLock);
    EXPECT_EQ(d->Channels[1].LongValue, 22u);
    EXPECT_EQ(d->Channels[80].LongValue, 333u);
    EXPECT_EQ(d->Channels[81].LongValue, 444u);
    EXPECT_EQ(d->Channels[58].LongValue, 3u);
    EXPECT_EQ(d->Channels[50].BoolValue, 1);
    EXPECT_EQ(d->Channels[51].BoolValue, 1);
}

TEST(DecodeSamples, ChannelCountBeyondSixteenStaysWithinTheAnalogChannels) {
    auto d = MakeInstance();
    {
        plat::LockGuard g(d->DataLock);
        d->Snapshot.Settings.TimerChannelCount = 40;
    }
    d->Device.MeasurementRunning = 1;
    std::vector<uint8_t> record(38, 0x11);
    DecodeSamples(d.get(), record.data());
    plat::LockGuard g(d->DataLock);
    EXPECT_EQ(d->Channels[15].LongValue, 0x1111u);
    EXPECT_EQ(d->Channels[16].LongValue, 0u);
    EXPECT_EQ(d->Channels[16].TextValue, "0");
    EXPECT_EQ(d->Channels[80].LongValue, 0x1111u);  // counters right after the 16 samples
}

TEST(DecodeSamples, InputBlockIsConvertedWithTheRangesItWasMeasuredWith) {
    auto d = MakeInstance();
    {
        plat::LockGuard g(d->DataLock);
        d->Device.Settings.RangeCode.fill(0);  // changed by the host after the send
    }
    std::array<uint8_t, 16> sent{};
    sent.fill(4);
    std::vector<uint8_t> block(37, 0);
    DecodeInputBlock(d.get(), block.data(), sent);
    plat::LockGuard g(d->DataLock);
    EXPECT_DOUBLE_EQ(d->Channels[9].RealValue, -0.5);
}

TEST(Requests, PendingBecomeProcessedThenFinishWithOneStatusPair) {
    auto d = MakeInstance();
    {
        plat::LockGuard g(d->DataLock);
        for (int ch : {3, 50, 82}) {
            d->Channels[ch].Pending = 1;
            d->Channels[ch].Processed = 1;
            d->Channels[ch].Finished = 0;
        }
        d->Channels[83].Processed = 1;  // failed command, to be finished with the error
        d->Channels[83].Finished = 0;
    }
    const std::string text = StatusText(Status::Command, "Timeout");
    SetDeviceStatus(*d, 13, text);

    MarkRequestsProcessed(d.get());
    {
        plat::LockGuard g(d->DataLock);
        EXPECT_EQ(d->Channels[3].Pending, 0);
        EXPECT_EQ(d->Channels[3].Processed, 1);
        EXPECT_EQ(d->Channels[3].Finished, 0);
    }
    CompleteRequests(d.get());
    plat::LockGuard g(d->DataLock);
    for (int ch : {3, 50, 82, 83}) {
        const TJedenKanal& c = d->Channels[ch];
        EXPECT_EQ(c.Pending, 0) << ch;
        EXPECT_EQ(c.Processed, 0) << ch;
        EXPECT_EQ(c.Finished, 1) << ch;
        EXPECT_EQ(c.RequestCount, 1) << ch;
        EXPECT_EQ(c.Status, 13) << ch;
        EXPECT_EQ(c.StatusText, text) << ch;
    }
    EXPECT_EQ(d->Channels[4].RequestCount, 0);
    EXPECT_EQ(d->Channels[4].Status, kChannelStatusUnused);
}

TEST(Requests, StatusChannelsFollowTheDeviceStatus) {
    auto d = MakeInstance();
    SetDeviceStatus(*d, 9, StatusTexts[9]);
    RefreshStatusChannels(d.get());
    {
        plat::LockGuard g(d->DataLock);
        EXPECT_EQ(d->Channels[97].BoolValue, 1);
        EXPECT_EQ(d->Channels[97].TextValue, "1");
        EXPECT_EQ(d->Channels[98].LongValue, 9u);
        EXPECT_EQ(d->Channels[98].TextValue, "9");
        EXPECT_EQ(d->Channels[99].TextValue, "Nenalezen USB modul"_cp);
        EXPECT_DOUBLE_EQ(d->Channels[99].RealValue, 9.0);
    }
    SetDeviceStatus(*d, 0, StatusTexts[0]);
    RefreshStatusChannels(d.get());
    plat::LockGuard g(d->DataLock);
    EXPECT_EQ(d->Channels[97].LongValue, 0u);
    EXPECT_EQ(d->Channels[97].TextValue, "0");
    EXPECT_EQ(d->Channels[98].LongValue, 0u);
    EXPECT_EQ(d->Channels[99].TextValue, "V pořádku"_cp);
}

TEST(Requests, NullInstanceIsIgnored) {
    MarkRequestsProcessed(nullptr);
    CompleteRequests(nullptr);
    DecodeSamples(nullptr, nullptr);
    RefreshStatusChannels(nullptr);
    ReadInputs(nullptr);
    WriteDigitalOutput(nullptr);
    PresetCounter0(nullptr);
    PresetCounter1(nullptr);
}

}  // namespace
}  // namespace zelk
