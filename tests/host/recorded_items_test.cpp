// What the module records decides the record file: an enable of 256 reaches the module as
// its low byte 0, so the item is left out of every record, as the module leaves it out.
#include <filesystem>

#include "domain/record_layout.h"
#include "host_test_util.h"

namespace zelk::hosttest {
namespace {

uint16_t Word(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

TEST_F(BenchTest, AnEnableOf256LeavesTheItemOutOfEveryRecord) {
    sim::GlobalBench().SetSignalMode(0, sim::SignalMode::Sequence);
    const std::string data = dir.File("data");
    const std::string param = WriteParamFile(
        dir, "12000001", dir.File("driver.log"),
        U8(u8"[Měření časovačem]\r\nPočet kanálů=4\r\nPerioda [us]=500\r\nPovolení CNT0=256\r\nPovolení CNT1=1\r\n"
           u8"Povolení DIN a DOUT=513\r\n[Konverze souboru]\r\nTyp souboru=BIN\r\nAdresář=") +
            data + "\r\n");
    void* inst = MakeDriver();
    char msg[100] = {};
    ASSERT_EQ(Init(inst, 0, param.c_str(), 99, msg, 0, 0, 0, nullptr), 1) << msg;
    constexpr uint32_t kRecords = 400;
    OutputRequest(inst, 202, Long(kRecords));
    OutputRequest(inst, 200, Long(1));
    OutputRequestCompleted(inst);
    ASSERT_TRUE(WaitUntil([&] { return D(inst)->Device.StoredRecordCount.load() >= kRecords; }));
    ASSERT_TRUE(WaitUntil([&] { return D(inst)->Device.MeasurementRunning.load() == 0; }));
    InputRequest(inst, 201);
    InputRequestCompleted(inst);
    ASSERT_TRUE(WaitUntil([&] { return InputFinalized(inst, 201, nullptr) == 1; }));
    ZelkValue count = Long(0);
    GetInput(inst, 201, &count);
    Done(inst);
    DisposeDriver(inst);

    const sim::ModuleState st = sim::GlobalBench().State(0);
    EXPECT_EQ(st.config[19], 0);  // CNT0: the low byte of 256
    EXPECT_EQ(st.config[22], 1);
    EXPECT_EQ(st.config[25], 1);  // DIN/DOUT: the low byte of 513
    constexpr size_t kR = 2 * 4 + 2 + 2;  // four samples, CNT1, DIN and DOUT
    ASSERT_EQ(LongOf(count), kRecords);
    std::string bin;
    for (const auto& e : std::filesystem::directory_iterator(data)) bin = ReadAll(e.path().string());
    ASSERT_EQ(bin.size(), kRecords * kR);
    for (uint32_t r = 0; r < kRecords; ++r) {
        const size_t at = r * kR;
        for (uint32_t j = 0; j < 4; ++j) ASSERT_EQ(Word(bin, at + 2 * j), static_cast<uint16_t>(16 * r + j)) << r;
        ASSERT_EQ(Word(bin, at + 8), static_cast<uint16_t>(r >> 16)) << r;  // CNT1
        ASSERT_EQ(static_cast<uint8_t>(bin[at + 10]), r % 4) << r;          // DIN
    }
}

TEST(RecordedItems, OnlyTheLowByteOfAnEnableCounts) {
    EXPECT_FALSE(IsRecorded(256));
    EXPECT_FALSE(IsRecorded(0x7FFFFF00));
    EXPECT_TRUE(IsRecorded(257));
    EXPECT_TRUE(IsRecorded(-1));
    EXPECT_EQ(RecordBytesOf(4, 256, 1, 513), 12);
    EXPECT_EQ(RecordBytesOf(16, 1, 1, 1), 38);
}

// The count of stored records is kept whole; the longcard channel shows its low 32 bits.
TEST(StoredCount, ChannelShowsTheLow32BitsOfTheCount) {
    void* inst = MakeDriver();
    SetDeviceStatus(*D(inst), 0, "V pořádku"_cp);
    D(inst)->Device.StoredRecordCount = (uint64_t{1} << 32) + 17;
    InputRequest(inst, 201);
    ZelkValue v = Long(0);
    GetInput(inst, 201, &v);
    EXPECT_EQ(LongOf(v), 17u);
    EXPECT_EQ(D(inst)->Device.StoredRecordCount.load(), (uint64_t{1} << 32) + 17);
    DisposeDriver(inst);
}

}  // namespace
}  // namespace zelk::hosttest
