// The dBASE table bytes: layout lengths, header, descriptors, row text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "acquisition/acquisition.h"
#include "dbf/dbase.h"

using namespace zelk::dbf;

namespace {

RecordLayout Layout(int n, bool c0, bool c1, bool dio) {
    RecordLayout l;
    l.ChannelCount = n;
    l.Cnt0 = c0;
    l.Cnt1 = c1;
    l.DinDout = dio;
    l.ConstA.fill(1.0);
    l.ConstB.fill(0.0);
    return l;
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t Get16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

}  // namespace

TEST(DbaseLayout, LengthsFollowTheEnabledItems) {
    struct Case {
        int n;
        bool c0, c1, dio;
        int fields, header, row, record;
    } cases[] = {
        {16, true, true, true, 22, 737, 184, 38},
        {1, false, false, false, 2, 97, 21, 2},
        {4, false, true, false, 6, 225, 56, 10},
        {0, false, false, true, 5, 193, 24, 4},   // 0 channels counts as one
        {40, true, false, false, 18, 609, 176, 34},  // more than 16 counts as 16
    };
    for (const Case& c : cases) {
        RecordLayout l = Layout(c.n, c.c0, c.c1, c.dio);
        EXPECT_EQ(l.FieldCount(), c.fields) << c.n;
        EXPECT_EQ(l.HeaderLength(), c.header) << c.n;
        EXPECT_EQ(l.RowLength(), c.row) << c.n;
        EXPECT_EQ(l.RecordBytes(), c.record) << c.n;
        EXPECT_EQ(static_cast<int>(HeaderBytes(l, 0, {}).size()), c.header) << c.n;
    }
}

TEST(DbaseHeader, FixedBytesAndDescriptors) {
    RecordLayout l = Layout(16, true, true, true);
    const std::string h = HeaderBytes(l, 0x01020304u, Date{2026, 12, 6});
    ASSERT_EQ(h.size(), 737u);
    EXPECT_EQ(h[0], 3);
    EXPECT_EQ(h[1], 26);
    EXPECT_EQ(h[2], 12);
    EXPECT_EQ(h[3], 6);
    EXPECT_EQ(std::string(h.data() + 4, 4), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(Get16(h, 8), 737);
    EXPECT_EQ(Get16(h, 10), 184);
    EXPECT_EQ(h.substr(12, 20), std::string(20, '\0'));
    EXPECT_EQ(static_cast<uint8_t>(h.back()), 0x0D);

    const char* names[] = {"INDEX", "AIN0",  "AIN1",  "AIN2",  "AIN3",  "AIN4", "AIN5", "AIN6",
                           "AIN7",  "AIN8",  "AIN9",  "AIN10", "AIN11", "AIN12", "AIN13", "AIN14",
                           "AIN15", "CNT0",  "CNT1",  "DIN0",  "DIN1",  "DOUT"};
    const int lengths[] = {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 5, 5, 1, 1, 1};
    int rowSum = 1;
    for (int i = 0; i < 22; ++i) {
        const std::string d = h.substr(32 + 32 * i, 32);
        std::string name(11, '\0');
        std::memcpy(&name[0], names[i], std::strlen(names[i]));
        EXPECT_EQ(d.substr(0, 11), name) << i;
        EXPECT_EQ(d[11], 'N') << i;
        EXPECT_EQ(d.substr(12, 4), std::string(4, '\0')) << i;
        EXPECT_EQ(static_cast<uint8_t>(d[16]), lengths[i]) << i;
        EXPECT_EQ(d[17], (i >= 1 && i <= 16) ? 4 : 0) << i;
        for (int b = 18; b < 32; ++b) EXPECT_EQ(d[b], b == 20 ? 1 : 0) << i << " byte " << b;
        rowSum += lengths[i];
    }
    EXPECT_EQ(rowSum, 184);
}

TEST(DbaseHeader, LongNameIsCutToTenCharacters) {
    TDBF_HlavickaPolozka f;
    f.FieldName = "ABCDEFGHIJKLMN";
    auto d = DescriptorBytes(f);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.data()), 11), std::string("ABCDEFGHIJ\0", 11));
}

TEST(DbaseAin, TextOfConvertedSamples) {
    EXPECT_EQ(AinText(AinValue(32767, 0, 1.0, 0.0)), "    0.0000");
    EXPECT_EQ(AinText(AinValue(65534, 0, 1.0, 0.0)), "   10.0000");
    EXPECT_EQ(AinText(AinValue(0, 0, 1.0, 0.0)), "  -10.0000");
    EXPECT_EQ(AinText(AinValue(32767, 0, 2.0, 1.0)), "    2.0000");  // B is added before A multiplies
    EXPECT_EQ(AinText(AinValue(65534, 5, 1.0, 0.0)), "    0.2000");
    EXPECT_EQ(AinText(AinValue(65534, 4, 1.0, 0.0)), "    0.5000");
    // 6 and 7 measure with 10 V, and so do the codes whose low three bits are 0, 6 or 7.
    for (uint32_t code : {6u, 7u, 8u, 15u, 255u}) EXPECT_EQ(AinText(AinValue(65534, code, 1.0, 0.0)), "   10.0000") << code;
}

TEST(DbaseAin, ValuesThatDoNotFitAreAsterisks) {
    EXPECT_EQ(AinText(99999.9999), "99999.9999");
    EXPECT_EQ(AinText(12345.67891), "12345.6789");
    EXPECT_EQ(AinText(-9999.9999), "-9999.9999");
    EXPECT_EQ(AinText(100000.0), "**********");
    EXPECT_EQ(AinText(99999.99996), "**********");  // rounds up to six digits
    EXPECT_EQ(AinText(-10000.0), "**********");
    EXPECT_EQ(AinText(1e300), "**********");
    EXPECT_EQ(AinText(std::nan("")), "**********");
    EXPECT_EQ(AinText(-1.0 / 0.0), "**********");
    EXPECT_EQ(AinText(-0.00001), "    0.0000");
    // A large constant A turns a full-scale sample into a value wider than the field.
    EXPECT_EQ(AinText(AinValue(65534, 0, 1e5, 0.0)), "**********");
}

TEST(DbaseAin, SameValuesAsTheLiveChannels) {
    for (uint32_t code = 0; code < 16; ++code)
        for (uint16_t raw : {0, 1, 12345, 32766, 32767, 32768, 50000, 65534, 65535}) {
            EXPECT_DOUBLE_EQ(AinValue(raw, code, 1.5, -0.25), zelk::ConvertSample(raw, code, 1.5, -0.25))
                << code << " " << raw;
            EXPECT_DOUBLE_EQ(FullScale(code), zelk::FullScaleOf(code)) << code;
        }
}

TEST(DbaseRow, FullRecord) {
    RecordLayout l = Layout(16, true, true, true);
    uint8_t rec[38];
    for (int j = 0; j < 16; ++j) Put16(rec + 2 * j, 32767);
    Put16(rec, 65534);
    Put16(rec + 2, 0);
    Put16(rec + 32, 65535);
    Put16(rec + 34, 7);
    rec[36] = 2;
    rec[37] = 3;
    const std::string row = RowText(l, 999, rec);
    ASSERT_EQ(row.size(), 184u);
    EXPECT_EQ(row.substr(0, 11), "        999");
    EXPECT_EQ(row.substr(11, 10), "   10.0000");
    EXPECT_EQ(row.substr(21, 10), "  -10.0000");
    EXPECT_EQ(row.substr(31, 10), "    0.0000");
    EXPECT_EQ(row.substr(171, 5), "65535");
    EXPECT_EQ(row.substr(176, 5), "    7");
    EXPECT_EQ(row.substr(181), "011");
}

TEST(DbaseRow, PerChannelRangeAndConstants) {
    RecordLayout l = Layout(3, false, true, false);
    l.Range = {0, 4, 9};
    l.ConstA[1] = 2.0;
    l.ConstB[2] = 1.0;
    uint8_t rec[8];
    Put16(rec, 32767);
    Put16(rec + 2, 65534);  // 0.5 V x 2
    Put16(rec + 4, 0);      // code 9 measures as 1: -5 V + 1
    Put16(rec + 6, 42);
    EXPECT_EQ(RowText(l, 0, rec), "          0    0.0000    1.0000   -4.0000   42");
}

TEST(DbaseRow, DigitalBitsUseOnlyTheirOwnBit) {
    RecordLayout l = Layout(1, false, false, true);
    uint8_t rec[4] = {0xFF, 0x7F, 0, 0};
    const struct {
        uint8_t din, dout;
        const char* text;
    } cases[] = {{0, 0, "000"}, {1, 0, "100"}, {2, 3, "011"}, {0xFC, 0xFE, "000"}, {0xFF, 0xFF, "111"}};
    for (const auto& c : cases) {
        rec[2] = c.din;
        rec[3] = c.dout;
        EXPECT_EQ(RowText(l, 0, rec).substr(21), c.text);
    }
}
