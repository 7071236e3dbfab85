// Framing, transfer and the module commands against the scripted D2XX double.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "domain/text.h"
#include "fake_d2xx.h"
#include "usb/Vorna_FTD201.h"

using namespace zelk::usb;
using Bytes = std::vector<uint8_t>;

namespace {

const FT_HANDLE kH = reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A});
const std::string kOk = "V pořádku"_cp;

// The link's result as success and text: the failure's own text, "V pořádku" on success.
bool Ran(const LinkResult& r, std::string& err) {
    err = r.ok() ? kOk : Describe(r.error()).detail;
    return r.ok();
}

Bytes Packet(uint8_t code, const Bytes& data) {
    uint8_t buf[600];
    int n = BuildPacket(code, static_cast<uint8_t>(data.size()), data.data(), buf, sizeof buf);
    return n < 0 ? Bytes{} : Bytes(buf, buf + n);
}

class Link : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    const D2xxApi& api = fake::Api();
    std::string err = "unset";

    bool Exchange(uint8_t code, bool raw, LinkBuffer& buf, uint8_t& count, uint32_t timeout = 200) {
        count = 0;
        return Ran(ExchangeCommand(api, kH, zelk::plat::SystemClock(), timeout, code, raw, buf, count), err);
    }
};

}  // namespace

TEST(Framing, PacketsByteForByte) {
    EXPECT_EQ(Packet(0x80, {}), (Bytes{0x80, 0, 0, 0, 0}));
    EXPECT_EQ(Packet(0x92, {0x00, 0x01}), (Bytes{0x92, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Packet(0x83, {0, 0, 0, 0}), (Bytes{0x83, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Packet(0x93, {0x01, 0x34, 0x12}), (Bytes{0x93, 0x06, 0, 0, 0, 0x1, 0x0, 0x4, 0x3, 0x2, 0x1}));

    Bytes data(32);
    for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(0xF0 | i);
    Bytes p = Packet(0x85, data);
    ASSERT_EQ(p.size(), 69u);
    EXPECT_EQ(Bytes(p.begin() + 1, p.begin() + 5), (Bytes{0, 4, 0, 0}));
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(p[5 + 2 * k], data[k] & 0x0F);
        EXPECT_EQ(p[6 + 2 * k], data[k] >> 4);
    }

    // The largest count a byte holds: 510 nibbles, all four length nibbles in use.
    Bytes big = Packet(0x85, Bytes(255, 0xAB));
    ASSERT_EQ(big.size(), 515u);
    EXPECT_EQ(Bytes(big.begin() + 1, big.begin() + 5), (Bytes{0xE, 0xF, 0x1, 0x0}));
}

TEST(Framing, RefusesTooSmallBuffer) {
    uint8_t data[2] = {1, 2};
    uint8_t buf[8];
    EXPECT_EQ(BuildPacket(0x92, 2, data, buf, 8), -1);
    EXPECT_EQ(BuildPacket(0x92, 2, data, buf, 9 - 1), -1);
    EXPECT_EQ(BuildPacket(0x92, 2, nullptr, buf, 8), -1);
    EXPECT_EQ(BuildPacket(0x80, 0, nullptr, buf, 5), 5);
}

TEST(ConfigBlock, StandardConfiguration) {
    std::array<uint8_t, 16> phys{}, range{};
    for (int i = 0; i < 16; ++i) {
        phys[i] = static_cast<uint8_t>(i);
        range[i] = 5;
    }
    TimerConfigBlock b = StandardConfig(phys, range);
    Bytes expect{16};
    for (int i = 0; i < 16; ++i) expect.push_back(static_cast<uint8_t>(0x50 + i));
    Bytes tail{0xD0, 0x07, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 3, 8};
    expect.insert(expect.end(), tail.begin(), tail.end());
    EXPECT_EQ(Bytes(b.begin(), b.end()), expect);

    EXPECT_EQ(ScanEntry(9, 3), 0x13);  // only the low three bits of the range code
    EXPECT_EQ(ScanEntry(0xFF, 15), 0x7F);
    EXPECT_EQ(ScanEntry(0, 0), 0x00);
}

TEST_F(Link, CommandsWriteTheirPackets) {
    EXPECT_TRUE(Ran(ModuleWriteLong(api, kH, 0), err));
    EXPECT_EQ(err, kOk);
    EXPECT_TRUE(Ran(ModuleWriteLong(api, kH, 0x12345678), err));
    EXPECT_TRUE(Ran(ModuleWriteCounter(api, kH, 1, 0x1234), err));
    EXPECT_TRUE(Ran(ModuleWriteOutput(api, kH, 0, 3), err));
    EXPECT_TRUE(Ran(ModuleStart(api, kH), err));
    TimerConfigBlock block{};
    block[0] = 16;
    block[31] = 0x8F;
    EXPECT_TRUE(Ran(ModuleWriteConfig(api, kH, block), err));
    const auto& w = fake::S().written;
    ASSERT_EQ(w.size(), 6u);
    EXPECT_EQ(w[0], (Bytes{0x83, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(w[1], Packet(0x83, {0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(w[2], Packet(0x93, {0x01, 0x34, 0x12}));
    EXPECT_EQ(w[3], Packet(0x92, {0x00, 0x03}));
    EXPECT_EQ(w[4], (Bytes{0x91, 0, 0, 0, 0}));
    EXPECT_EQ(w[5], Packet(0x85, Bytes(block.begin(), block.end())));
}

TEST_F(Link, ResetSendsStopThenResetsTheLink) {
    EXPECT_TRUE(Ran(ModuleReset(api, kH), err));
    EXPECT_EQ(err, kOk);
    EXPECT_EQ(fake::S().written, (std::vector<Bytes>{{0x80, 0, 0, 0, 0}}));
    EXPECT_EQ(fake::S().calls, (std::vector<std::string>{"FT_Write", "FT_ResetDevice", "FT_SetLatencyTimer"}));
    EXPECT_EQ(fake::S().latency, (std::vector<UCHAR>{2}));
}

TEST_F(Link, WriteAndResetFailures) {
    fake::S().fail["FT_Write"] = FT_IO_ERROR;
    EXPECT_FALSE(Ran(ModuleStart(api, kH), err));
    EXPECT_EQ(err, " Chyba funkce FT_Write");
    EXPECT_FALSE(Ran(ModuleReset(api, kH), err));
    EXPECT_EQ(fake::Calls("FT_ResetDevice"), 0);  // no link reset after a failed stop

    fake::Reset();
    fake::S().writeShortBy = 1;
    EXPECT_FALSE(Ran(ModuleWriteOutput(api, kH, 0, 1), err));
    EXPECT_EQ(err, "Chyba zápisu dat(počet 9/8)"_cp);

    fake::Reset();
    fake::S().fail["FT_ResetDevice"] = FT_IO_ERROR;
    EXPECT_FALSE(Ran(ResetLink(api, kH), err));
    EXPECT_EQ(err, "Chyba volání funkce knihovny FTDI "_cp);
    EXPECT_EQ(fake::Calls("FT_SetLatencyTimer"), 0);

    fake::Reset();
    fake::S().fail["FT_SetLatencyTimer"] = FT_IO_ERROR;
    EXPECT_FALSE(Ran(ModuleReset(api, kH), err));
    EXPECT_EQ(err, "Chyba volání funkce knihovny FTDI "_cp);
}

TEST_F(Link, RepliesDecodedRawAndNibbles) {
    fake::ScriptGoodModule("ZELK-2716E  1.07");
    LinkBuffer buf{};
    uint8_t count = 0;
    ASSERT_TRUE(Exchange(0x81, true, buf, count));
    EXPECT_EQ(err, kOk);
    EXPECT_EQ(count, 16);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 16), "ZELK-2716E  1.07");
    // The purge comes first, then the command alone.
    EXPECT_EQ(fake::S().calls.front(), "FT_Purge");
    EXPECT_EQ(fake::S().written.back(), (Bytes{0x81, 0, 0, 0, 0}));

    ASSERT_TRUE(Exchange(0x84, false, buf, count));
    EXPECT_EQ(count, 32);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(buf[i], 0xA0 + i);

    InputBlock in{};
    ASSERT_TRUE(Ran(ModuleReadInputs(api, kH, zelk::plat::SystemClock(), 200, in), err));
    for (int i = 0; i < 37; ++i) EXPECT_EQ(in[i], static_cast<uint8_t>(i * 7));
    TimerConfigBlock cfg{};
    ASSERT_TRUE(Ran(ModuleReadConfig(api, kH, zelk::plat::SystemClock(), 200, cfg), err));
    EXPECT_EQ(cfg[31], 0xA0 + 31);
}

TEST_F(Link, NibbleDecodingKeepsEightBits) {
    // Stray high bits in the nibble bytes: high x 16 + low, in 8 bits.
    fake::S().replies[0x84] = {Bytes{0x84, 0, 0, 0, 0, 0x1F, 0x13}};
    fake::S().replies[0x84][0].resize(69, 0);
    LinkBuffer buf{};
    uint8_t count = 0;
    ASSERT_TRUE(Exchange(0x84, false, buf, count));
    EXPECT_EQ(buf[0], static_cast<uint8_t>(0x13 * 16 + 0x1F));
}

TEST_F(Link, ReplyInPiecesIsReadWhenComplete) {
    Bytes whole = fake::Reply(0x90, Bytes(37, 0x42), true);
    fake::S().replies[0x90] = {Bytes(whole.begin(), whole.begin() + 10), Bytes(whole.begin() + 10, whole.begin() + 50),
                               Bytes(whole.begin() + 50, whole.end())};
    LinkBuffer buf{};
    uint8_t count = 0;
    ASSERT_TRUE(Exchange(0x90, false, buf, count)) << err;
    EXPECT_EQ(count, 37);
    EXPECT_EQ(fake::S().readRequests, (std::vector<DWORD>{79}));
    EXPECT_EQ(fake::Calls("FT_Read"), 1);
}

TEST_F(Link, WrongLengthsFail) {
    struct Case {
        uint8_t code;
        int dataBytes;
        bool raw;
        const char* text;
    };
    const Case cases[] = {
        {0x81, 17, true, "Chyba čtení dat(povel 81, počet 21/22)"_cp},
        {0x82, 5, false, "Chyba čtení dat(povel 82, počet 13/15)"_cp},
        {0x84, 33, false, "Chyba čtení dat(povel 84, počet 69/71)"_cp},
        {0x90, 38, false, "Chyba čtení dat(povel 90, počet 79/81)"_cp},
    };
    for (const Case& c : cases) {
        fake::Reset();
        fake::S().replies[c.code] = {fake::Reply(c.code, Bytes(c.dataBytes, 1), !c.raw)};
        LinkBuffer buf{};
        uint8_t count = 0;
        EXPECT_FALSE(Exchange(c.code, c.raw, buf, count));
        EXPECT_EQ(err, c.text);
    }

    // One stray byte after a complete reply is taken by the single read and fails it.
    fake::Reset();
    Bytes r = fake::Reply(0x81, Bytes(16, 'A'), false);
    r.push_back(0x00);
    fake::S().replies[0x81] = {r};
    LinkBuffer buf{};
    uint8_t count = 0;
    EXPECT_FALSE(Exchange(0x81, true, buf, count));
    EXPECT_EQ(err, "Chyba čtení dat(povel 81, počet 21/22)"_cp);
}

TEST_F(Link, TooShortReplyTimesOutWithItsText) {
    Bytes r = fake::Reply(0x90, Bytes(37, 0), true);
    r.pop_back();  // 78 bytes
    fake::S().replies[0x90] = {r};
    LinkBuffer buf{};
    uint8_t count = 0;
    EXPECT_FALSE(Exchange(0x90, false, buf, count, 20));
    EXPECT_EQ(err, "Nepřišla odpověď (USB timeout = 20ms)"_cp);
    EXPECT_EQ(fake::Calls("FT_Read"), 0);

    fake::Reset();
    EXPECT_FALSE(Exchange(0x81, true, buf, count, 500));
    EXPECT_EQ(err, "Nepřišla odpověď (USB timeout = 500ms)"_cp);
}

TEST_F(Link, OversizedReplyNeverOverflows) {
    fake::S().replies[0x90] = {Bytes(300, 0x90)};
    LinkBuffer buf{};
    buf.fill(0xEE);
    uint8_t count = 9;
    EXPECT_FALSE(Exchange(0x90, false, buf, count));
    EXPECT_EQ(err, "Chyba čtení dat(povel 90, počet 79/300)"_cp);
    EXPECT_EQ(fake::S().readRequests, (std::vector<DWORD>{257}));
    EXPECT_EQ(buf[0], 0xEE);  // no result on failure
    EXPECT_EQ(count, 0);

    // A code whose length is not checked still refuses what the buffer cannot hold.
    fake::Reset();
    fake::S().replies[0x85] = {Bytes(258, 0x85)};
    EXPECT_FALSE(Exchange(0x85, true, buf, count));
    EXPECT_EQ(err, "Chyba čtení dat(povel 85, počet 257/258)"_cp);

    // Exactly 257 bytes fit.
    fake::Reset();
    fake::S().replies[0x85] = {Bytes(257, 0x85)};
    EXPECT_TRUE(Exchange(0x85, true, buf, count));
    EXPECT_EQ(count, 252);
}

TEST_F(Link, ChecksRunCountHeaderLength) {
    LinkBuffer buf{};
    uint8_t count = 0;
    // Short read of a reply with a wrong echo and a wrong length: the count is reported.
    Bytes r = fake::Reply(0x81, Bytes(17, 0), false);
    r[0] = 0x18;
    fake::S().replies[0x81] = {r};
    fake::S().readShortBy = 2;
    EXPECT_FALSE(Exchange(0x81, true, buf, count));
    EXPECT_EQ(err, "Chyba čtení dat(počet 22/20)"_cp);

    // Whole read, wrong echo and wrong length: the header is reported.
    fake::S().readShortBy = 0;
    EXPECT_FALSE(Exchange(0x81, true, buf, count));
    EXPECT_EQ(err, "Chyba čtení dat(hlavička)"_cp);

    // Wrong echo with the right length.
    fake::Reset();
    Bytes ok = fake::Reply(0x84, Bytes(32, 0), true);
    ok[0] = 0x85;
    fake::S().replies[0x84] = {ok};
    EXPECT_FALSE(Exchange(0x84, false, buf, count));
    EXPECT_EQ(err, "Chyba čtení dat(hlavička)"_cp);
}

TEST_F(Link, D2xxFailuresOfTheExchange) {
    struct Case {
        const char* fn;
        int after;
        const char* text;
    };
    const Case cases[] = {
        {"FT_Purge", 0, "Chyba volání funkce knihovny FTDI "_cp},
        {"FT_Write", 0, " Chyba funkce FT_Write"},
        {"FT_GetQueueStatus", 0, "Chyba funkce FT_GetQueueStatus"},
        {"FT_GetQueueStatus", 1, "Chyba funkce FT_GetQueueStatus"},  // the query before the read
        {"FT_Read", 0, "Chyba funkce FT_Read"},
    };
    for (const Case& c : cases) {
        fake::Reset();
        fake::ScriptGoodModule();
        fake::S().fail[c.fn] = FT_IO_ERROR;
        fake::S().failAfter[c.fn] = c.after;
        LinkBuffer buf{};
        uint8_t count = 0;
        EXPECT_FALSE(Exchange(0x81, true, buf, count)) << c.fn;
        EXPECT_EQ(err, c.text) << c.fn;
    }
}

TEST_F(Link, MissingFunctionsFailWithoutCalling) {
    D2xxApi none{};
    none.missing = "libftd2xx.so";
    LinkBuffer buf{};
    uint8_t count = 0;
    EXPECT_FALSE(Ran(ResetLink(none, kH), err));
    EXPECT_EQ(err, "Chyba volání funkce knihovny FTDI "_cp);
    EXPECT_FALSE(Ran(SendCommand(none, kH, 0x91, 0, buf), err));
    EXPECT_EQ(err, " Chyba funkce FT_Write");
    EXPECT_FALSE(Ran(ExchangeCommand(none, kH, zelk::plat::SystemClock(), 10, 0x81, true, buf, count), err));
    EXPECT_EQ(err, "Chyba volání funkce knihovny FTDI "_cp);

    D2xxApi noRead = fake::Api();
    noRead.Read = nullptr;
    fake::ScriptGoodModule();
    EXPECT_FALSE(Ran(ExchangeCommand(noRead, kH, zelk::plat::SystemClock(), 200, 0x81, true, buf, count), err));
    EXPECT_EQ(err, "Chyba funkce FT_Read");
}

TEST_F(Link, IdentificationKeepsEveryByte) {
    std::string ident("AB\0\xFF" "EFGHIJKL" " \x01" "9 ", 16);
    fake::ScriptGoodModule(ident);
    std::string text = "old";
    ASSERT_TRUE(Ran(ModuleIdentify(api, kH, zelk::plat::SystemClock(), 200, text), err));
    EXPECT_EQ(err, kOk);
    ASSERT_EQ(text.size(), 24u);
    EXPECT_EQ(text, ident.substr(0, 12) + "  verze " + ident.substr(12, 4));

    fake::Reset();
    text = "old";
    EXPECT_FALSE(Ran(ModuleIdentify(api, kH, zelk::plat::SystemClock(), 10, text), err));
    EXPECT_EQ(text, "old");
}
