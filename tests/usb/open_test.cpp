// Every outcome of opening and closing the module, against the scripted D2XX double,
// checked through the device status, the device block and the log lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "fake_d2xx.h"
#include "usb/Vorna_FTD201.h"

using namespace zelk;
using namespace zelk::usb;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

namespace {

const std::string kSerial = "12000001";

class OpenTest : public ::testing::Test {
protected:
    TData d;
    std::string logPath;

    void SetUp() override {
        fake::Reset();
        d.D2xx = &fake::Api();
        d.Cfg.ModuleSerial = kSerial;
        d.Cfg.UsbTimeout = 60;
        d.Cfg.LogLevel = 3;
        logPath = ::testing::TempDir() + "usb_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(logPath.c_str());
        d.Cfg.LogFileName = logPath;
        ResetDeviceBlock(d, DeviceReset::Everything);
        OpenLog(&d);
    }
    void TearDown() override {
        CloseLog(&d);
        std::remove(logPath.c_str());
    }

    void Plug(const std::string& serial, const std::string& description = "ZELK-2716E") {
        fake::S().devices.push_back({serial, description});
    }
    void SetSerial(const std::string& s) {
        plat::LockGuard g(d.DataLock);
        d.Device.SerialNumber = s;
    }
    std::string ModuleType() {
        plat::LockGuard g(d.DataLock);
        return d.Device.ModuleType;
    }
    // The texts of the log lines (after time stamp and serial number), closing the log.
    Lines LogTexts() {
        CloseLog(&d);
        std::ifstream f(logPath, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        const std::string all = ss.str();
        const std::string mark = "] - " + d.Cfg.ModuleSerial + " - ";
        Lines out;
        size_t pos = 0;
        for (size_t end; (end = all.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
            std::string line = all.substr(pos, end - pos);
            size_t m = line.find(mark);
            out.push_back(m == std::string::npos ? line : line.substr(m + mark.size()));
        }
        return out;
    }
    void ExpectStatus(uint8_t code, const std::string& text) {
        StatusPair s = GetDeviceStatus(d);
        EXPECT_EQ(s.code, code);
        EXPECT_EQ(s.text, text);
    }
    // The packet codes the module received, in order.
    Bytes Codes() {
        Bytes c;
        for (const auto& w : fake::S().written) c.push_back(w.empty() ? 0 : w[0]);
        return c;
    }
};

bool Contains(const Lines& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l == text) return true;
    return false;
}

}  // namespace

TEST_F(OpenTest, UnsupportedSerialMakesNoD2xxCall) {
    for (const char* serial : {"13000001", "12", "", "1 20", "12200001"}) {
        fake::Reset();
        Plug(serial);
        SetSerial(serial);
        OpenModule(&d);
        ExpectStatus(17, StatusTexts[17]);
        EXPECT_TRUE(fake::S().calls.empty()) << serial;
    }
    Lines log = LogTexts();
    EXPECT_EQ(log.front(), "OZ (0)");
    EXPECT_TRUE(Contains(log, "OZ (0a) "_cp + std::string(StatusTexts[17])));
}

TEST_F(OpenTest, BothSupportedFamiliesAreSearched) {
    SetSerial("12100002");
    OpenModule(&d);
    ExpectStatus(9, StatusTexts[9]);  // searched, nothing attached
    EXPECT_TRUE(Contains(LogTexts(), "OZ (0b) Nenalezen USB modul"));
}

TEST_F(OpenTest, DeviceCountFails) {
    Plug(kSerial);
    fake::S().fail["FT_ListDevices"] = FT_IO_ERROR;
    OpenModule(&d);
    ExpectStatus(10, StatusTexts[10]);
    EXPECT_TRUE(Contains(LogTexts(), "OZ (0c) Chyba volání funkce knihovny FTDI "_cp));
}

TEST_F(OpenTest, MissingLibraryOrFunctionIsNamed) {
    D2xxApi none{};
    none.missing = "libftd2xx.so";
    d.D2xx = &none;
    OpenModule(&d);
    ExpectStatus(10, StatusTexts[10]);

    D2xxApi partial = fake::Api();
    partial.Purge = nullptr;
    partial.missing = "FT_Purge";
    d.D2xx = &partial;
    Plug(kSerial);
    OpenModule(&d);
    ExpectStatus(10, StatusTexts[10]);
    EXPECT_TRUE(fake::S().calls.empty());
    EXPECT_EQ(d.Device.HandleValid, 0);

    Lines log = LogTexts();
    EXPECT_TRUE(Contains(log, "OZ (0c) Chyba volání funkce knihovny FTDI  - libftd2xx.so nenalezena"_cp));
    EXPECT_TRUE(Contains(log, "OZ (0c) Chyba volání funkce knihovny FTDI  - funkce FT_Purge nenalezena"_cp));
}

TEST_F(OpenTest, NoDeviceWithTheSerial) {
    Plug("12000002");
    Plug("12000001 ");
    Plug("120000011");
    OpenModule(&d);
    ExpectStatus(5, "Nenalezen požadovaný USB modul."_cp);
    EXPECT_EQ(d.Device.DeviceIndex, 9999);
    EXPECT_EQ(fake::Calls("FT_Open"), 0);
    Lines log = LogTexts();
    EXPECT_TRUE(Contains(log, "OZ (1)"));
    EXPECT_TRUE(Contains(log, "OZ (1a)"));
}

TEST_F(OpenTest, SerialDifferingInCaseDoesNotMatch) {
    d.Cfg.ModuleSerial = "120000AB";
    SetSerial("120000AB");
    Plug("120000ab");
    OpenModule(&d);
    ExpectStatus(5, "Nenalezen požadovaný USB modul."_cp);
}

TEST_F(OpenTest, UnterminatedListTextIsCutAtTheBuffer) {
    Plug(kSerial);
    fake::S().fillListBufferUnterminated = true;
    OpenModule(&d);
    ExpectStatus(5, "Nenalezen požadovaný USB modul."_cp);
}

TEST_F(OpenTest, FailuresBeforeTheHandleIsUsable) {
    struct Case {
        const char* fn;
        int after;
        uint8_t code;
        const char* line;
    };
    // Before the re-check: the count, the serial and the description of the one device.
    const Case cases[] = {
        {"FT_ListDevices", 3, 10, "OZ (2a) Chyba volání funkce knihovny FTDI "_cp},
        {"FT_Open", 0, 10, "OZ (2b) Chyba volání funkce knihovny FTDI "_cp},
    };
    for (const Case& c : cases) {
        fake::Reset();
        Plug(kSerial);
        fake::S().fail[c.fn] = FT_DEVICE_NOT_OPENED;
        fake::S().failAfter[c.fn] = c.after;
        OpenModule(&d);
        ExpectStatus(c.code, StatusTexts[c.code]);
        EXPECT_EQ(d.Device.HandleValid, 0);
        EXPECT_EQ(d.Device.ModuleReady, 0);
    }
    fake::Reset();
    Plug(kSerial);
    fake::S().openHandle = usb::InvalidHandle();
    OpenModule(&d);
    ExpectStatus(11, "Chyba otevření USB modulu"_cp);
    EXPECT_EQ(d.Device.HandleValid, 0);
    EXPECT_TRUE(fake::S().written.empty());

    Lines log = LogTexts();
    for (const Case& c : cases) EXPECT_TRUE(Contains(log, c.line)) << c.line;
    EXPECT_TRUE(Contains(log, "OZ (2c) Chyba otevření USB modulu"_cp));
}

TEST_F(OpenTest, LinkResetFails) {
    Plug(kSerial);
    fake::S().fail["FT_SetLatencyTimer"] = FT_IO_ERROR;
    OpenModule(&d);
    const std::string text = "Chyba USB modulu (restart) - Chyba volání funkce knihovny FTDI "_cp;
    ExpectStatus(12, text);
    EXPECT_EQ(d.Device.HandleValid, 1);
    EXPECT_EQ(d.Device.ModuleReady, 0);
    EXPECT_TRUE(Contains(LogTexts(), "OZ (2d) " + text));
}

TEST_F(OpenTest, CommandFailuresAfterTheOpen) {
    struct Case {
        uint8_t failingCode;  // its write fails, or (0x81, 0x84) its reply never comes
        const char* marker;
        const char* linkText;
    };
    const Case cases[] = {
        {0x80, "(3a) ", " Chyba funkce FT_Write"},
        {0x83, "(3b) ", " Chyba funkce FT_Write"},
        {0x81, "(4a) ", "Nepřišla odpověď (USB timeout = 60ms)"_cp},
        {0x84, "(5a) ", "Nepřišla odpověď (USB timeout = 60ms)"_cp},
        {0x85, "(6a) ", " Chyba funkce FT_Write"},
    };
    for (const Case& c : cases) {
        fake::Reset();
        Plug(kSerial);
        fake::ScriptGoodModule();
        if (c.failingCode == 0x81 || c.failingCode == 0x84)
            fake::S().replies.erase(c.failingCode);
        else
            fake::S().writeFailFor[c.failingCode] = FT_IO_ERROR;
        OpenModule(&d);
        ExpectStatus(13, "Chyba povelu - "_cp + std::string(c.linkText));
        EXPECT_EQ(d.Device.HandleValid, 1) << c.marker;
        EXPECT_EQ(d.Device.ModuleReady, 0) << c.marker;
        EXPECT_EQ(Codes().back(), c.failingCode) << c.marker;
    }
    Lines log = LogTexts();
    for (const Case& c : cases) EXPECT_TRUE(Contains(log, "OZ " + std::string(c.marker) + c.linkText)) << c.marker;
}

TEST_F(OpenTest, CompleteOpen) {
    Plug("12100002", "other");
    Plug(kSerial, "ZELK-2716E");
    Plug(kSerial, "second");
    fake::ScriptGoodModule("ZELK 2716E  1.07");
    {
        plat::LockGuard g(d.DataLock);
        d.Device.Settings.RangeCode[0] = 5;
        d.Device.Settings.PhysInput[0] = 9;
        d.Device.Settings.RangeCode[15] = 3;
    }
    OpenModule(&d);
    ExpectStatus(0, "V pořádku"_cp);
    EXPECT_EQ(d.Device.DeviceIndex, 1);  // the lower index of the two with the serial
    EXPECT_EQ(fake::S().openedIndex, (std::vector<int>{1}));
    EXPECT_EQ(ModuleType(), "ZELK-2716E  (ZELK 2716E    verze 1.07)");
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_EQ(d.Device.ControllerText, "0");
    }
    EXPECT_EQ(d.Device.HandleValid, 1);
    EXPECT_EQ(d.Device.ModuleReady, 1);
    EXPECT_EQ(d.Device.Handle, fake::S().openHandle);
    EXPECT_EQ(Codes(), (Bytes{0x80, 0x83, 0x81, 0x84, 0x85}));
    EXPECT_EQ(fake::S().latency, (std::vector<UCHAR>{2, 2}));

    std::array<uint8_t, 16> phys{}, range{};
    for (int i = 0; i < 16; ++i) phys[i] = static_cast<uint8_t>(i);
    phys[0] = 9;
    range[0] = 5;
    range[15] = 3;
    usb::TimerConfigBlock std = usb::StandardConfig(phys, range);
    uint8_t packet[69];
    ASSERT_EQ(usb::BuildPacket(0x85, 32, std.data(), packet, 69), 69);
    EXPECT_EQ(fake::S().written.back(), Bytes(packet, packet + 69));
    EXPECT_EQ(std[1], 0x59);

    EXPECT_EQ(LogTexts(), (Lines{"OZ (0)", "OZ (1)", "OZ (2)", "OZ (3)", "OZ (4)", "OZ (5)", "OZ (6)", "OZ (99)"}));
}

TEST_F(OpenTest, RetryClosesAHandleLeftOpen) {
    Plug(kSerial);
    fake::ScriptGoodModule();
    fake::S().replies.erase(0x81);
    OpenModule(&d);
    ASSERT_EQ(DeviceStatusCode(d), 13);
    ASSERT_EQ(d.Device.HandleValid, 1);

    fake::ScriptGoodModule();
    OpenModule(&d);
    ExpectStatus(0, "V pořádku"_cp);
    EXPECT_EQ(fake::S().closed, (std::vector<FT_HANDLE>{fake::S().openHandle}));
    EXPECT_EQ(fake::S().openedIndex, (std::vector<int>{0, 0}));
}

TEST_F(OpenTest, RetryDoesNotOpenAStaleIndex) {
    Plug(kSerial);
    fake::ScriptGoodModule();
    fake::S().replies.erase(0x81);
    OpenModule(&d);
    ASSERT_EQ(d.Device.DeviceIndex, 0);

    // The module is gone; another FTDI device now has index 0.
    fake::S().devices = {{"12100002", "other"}};
    OpenModule(&d);
    ExpectStatus(5, "Nenalezen požadovaný USB modul."_cp);
    EXPECT_EQ(fake::S().openedIndex.size(), 1u);
    EXPECT_EQ(d.Device.HandleValid, 0);
}

TEST_F(OpenTest, CloseOfANeverOpenedModule) {
    SetDeviceStatus(d, 9, StatusTexts[9]);
    {
        plat::LockGuard g(d.DataLock);
        d.Channels[3].Pending = 1;
        d.Channels[3].Finished = 0;
        d.Channels[3].RealValue = 2.5;
    }
    d.Device.ReqAnalogIn = 1;
    CloseModule(&d);
    EXPECT_EQ(fake::Calls("FT_Close"), 0);
    EXPECT_EQ(fake::S().written, (std::vector<Bytes>{{0x80, 0, 0, 0, 0}}));  // sent all the same
    ExpectStatus(9, StatusTexts[9]);                                           // unchanged
    EXPECT_EQ(d.Device.DeviceIndex, 9999);
    EXPECT_EQ(d.Device.ReqAnalogIn, 0);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_EQ(d.Channels[3].Pending, 0);
        EXPECT_EQ(d.Channels[3].Finished, 1);
        EXPECT_EQ(d.Channels[3].RealValue, 0.0);
        EXPECT_EQ(d.Device.ModuleType, "---");
    }
    EXPECT_EQ(LogTexts(), (Lines{"ZZ (0)", "ZZ (1)", "ZZ (2)", "ZZ (99)"}));
}

TEST_F(OpenTest, CloseKeepsTheSettingsInEffect) {
    Plug(kSerial);
    fake::ScriptGoodModule();
    {
        plat::LockGuard g(d.DataLock);
        d.Device.Settings.RangeCode[2] = 4;
        d.Device.Settings.PhysInput[2] = 7;
        d.Device.Settings.TimerPeriodUs = 250.0;
        d.Channels[102].LongValue = 4;
        d.Channels[102].TextValue = "4   (rozsah 500mV)";
        d.Channels[134].LongValue = 7;
        d.Channels[165].RealValue = 250.0;
        d.Channels[176].LongValue = 8;
        d.Channels[2].RealValue = 1.25;
        d.Channels[201].LongValue = 77;
    }
    OpenModule(&d);
    ASSERT_EQ(d.Device.ModuleReady, 1);
    CloseModule(&d);
    EXPECT_EQ(fake::S().closed, (std::vector<FT_HANDLE>{fake::S().openHandle}));
    EXPECT_EQ(d.Device.HandleValid, 0);
    EXPECT_EQ(d.Device.ModuleReady, 0);
    EXPECT_EQ(d.Device.Handle, nullptr);
    plat::LockGuard g(d.DataLock);
    EXPECT_EQ(d.Device.Settings.RangeCode[2], 4);
    EXPECT_EQ(d.Device.Settings.PhysInput[2], 7);
    EXPECT_EQ(d.Device.Settings.TimerPeriodUs, 250.0);
    EXPECT_EQ(d.Channels[102].LongValue, 4u);
    EXPECT_EQ(d.Channels[102].TextValue, "4   (rozsah 500mV)");
    EXPECT_EQ(d.Channels[134].LongValue, 7u);
    EXPECT_EQ(d.Channels[165].RealValue, 250.0);
    EXPECT_EQ(d.Channels[176].LongValue, 8u);
    EXPECT_EQ(d.Channels[2].RealValue, 0.0);  // inputs and status values do reset
    EXPECT_EQ(d.Channels[201].LongValue, 0u);
    EXPECT_EQ(d.Device.ModuleType, "---");
}

TEST_F(OpenTest, NullInstanceIsIgnored) {
    OpenModule(nullptr);
    CloseModule(nullptr);
    EXPECT_TRUE(fake::S().calls.empty());
}
