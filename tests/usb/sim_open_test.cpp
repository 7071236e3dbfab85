// Opening and closing against the simulated module: the whole exchange on the wire,
// the bench's devices and its injected faults.
#include <gtest/gtest.h>

#include <string>

#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "sim/sim.h"
#include "usb/Vorna_FTD201.h"

using namespace zelk;
using sim::D2xxCall;
using sim::ReplyFault;

namespace {

// The link's result as success and text: the failure's own text, "V pořádku" on success.
bool Ran(const usb::LinkResult& r, std::string& err) {
    err = r.ok() ? std::string(StatusText(zelk::Status::Ok)) : usb::Describe(r.error()).detail;
    return r.ok();
}

class SimOpen : public ::testing::Test {
protected:
    TData d;
    sim::Bench& bench = sim::GlobalBench();

    void SetUp() override {
        bench.Reset();
        d.D2xx = &sim::InProcessD2xx();
        d.Cfg.ModuleSerial = "12000001";
        d.Cfg.UsbTimeout = 100;
        ResetDeviceBlock(d, DeviceReset::Everything);
    }
    void TearDown() override {
        CloseModule(&d);
        bench.Reset();
    }
    StatusPair Status() { return GetDeviceStatus(d); }
    std::string ModuleType() {
        plat::LockGuard g(d.DataLock);
        return d.Device.ModuleType;
    }
};

}  // namespace

TEST_F(SimOpen, OpensConfiguresAndCloses) {
    {
        plat::LockGuard g(d.DataLock);
        for (int i = 0; i < 16; ++i) {
            d.Device.Settings.RangeCode[i] = 5;
            d.Device.Settings.PhysInput[i] = static_cast<uint8_t>(15 - i);
        }
    }
    OpenModule(&d);
    ASSERT_EQ(Status().code, 0) << Status().text;
    EXPECT_EQ(Status().text, "V pořádku"_cp);
    EXPECT_EQ(ModuleType(), "ZELK-2716E  (ZELK-2716E    verze 1.03)");
    EXPECT_EQ(d.Device.ModuleReady, 1);

    sim::ModuleState s = bench.State(0);
    EXPECT_EQ(s.open_handles, 1);
    EXPECT_EQ(s.latency_timer, 2);
    EXPECT_EQ(s.config[0], 16);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(s.config[1 + k], 0x50 + 15 - k);
    EXPECT_EQ(s.config[17], 0xD0);
    EXPECT_EQ(s.config[18], 0x07);
    EXPECT_EQ(s.long_value, 0u);
    EXPECT_EQ(bench.State(1).open_handles, 0);

    // The open handle carries the periodic commands.
    usb::InputBlock in{};
    std::string err;
    EXPECT_TRUE(Ran(usb::ModuleReadInputs(*d.D2xx, d.Device.Handle, *d.Clock, 100, in), err)) << err;

    CloseModule(&d);
    EXPECT_EQ(bench.State(0).open_handles, 0);
    EXPECT_EQ(d.Device.HandleValid, 0);
    EXPECT_EQ(ModuleType(), "---");
    EXPECT_EQ(Status().code, 0);
}

TEST_F(SimOpen, LowerIndexWinsAmongEqualSerials) {
    bench.ClearDevices();
    bench.AddDevice("12100002", "other");
    bench.AddDevice("12000001", "first");
    bench.AddDevice("12000001", "second");
    OpenModule(&d);
    ASSERT_EQ(Status().code, 0) << Status().text;
    EXPECT_EQ(ModuleType().rfind("first  (", 0), 0u);
    EXPECT_EQ(bench.State(1).open_handles, 1);
    EXPECT_EQ(bench.State(2).open_handles, 0);
}

TEST_F(SimOpen, DiscoveryOutcomes) {
    bench.SetPlugged(0, false);
    OpenModule(&d);
    EXPECT_EQ(Status().code, 5);
    EXPECT_EQ(Status().text, "Nenalezen požadovaný USB modul."_cp);

    bench.ClearDevices();
    OpenModule(&d);
    EXPECT_EQ(Status().code, 9);

    bench.Reset();
    bench.SetOpenReturnsInvalidHandle(1);
    OpenModule(&d);
    EXPECT_EQ(Status().code, 11);
    EXPECT_EQ(d.Device.HandleValid, 0);

    bench.FailD2xx(D2xxCall::ListDevices, usb::FT_IO_ERROR, 1);
    OpenModule(&d);
    EXPECT_EQ(Status().code, 10);
    EXPECT_EQ(Status().text, StatusTexts[10]);

    // Nothing left behind: a clean open follows.
    OpenModule(&d);
    EXPECT_EQ(Status().code, 0) << Status().text;
}

TEST_F(SimOpen, ReplyFaultsBecomeCommandErrors) {
    struct Case {
        uint8_t code;
        ReplyFault fault;
        uint32_t amount;
        const char* text;
    };
    const Case cases[] = {
        {0x81, ReplyFault::NoReply, 0, "Chyba povelu - Nepřišla odpověď (USB timeout = 100ms)"_cp},
        {0x81, ReplyFault::ExtraByte, 0, "Chyba povelu - Chyba čtení dat(povel 81, počet 21/22)"_cp},
        {0x84, ReplyFault::WrongEcho, 0, "Chyba povelu - Chyba čtení dat(hlavička)"_cp},
        {0x84, ReplyFault::LongReply, 300, "Chyba povelu - Chyba čtení dat(povel 84, počet 69/369)"_cp},
    };
    for (const Case& c : cases) {
        bench.Reset();
        bench.SetBandwidth(0);  // the whole reply at once: the single read takes all of it
        bench.SetCommandFault(0, c.code, c.fault, c.amount);
        OpenModule(&d);
        EXPECT_EQ(Status().code, 13);
        EXPECT_EQ(Status().text, c.text);
        EXPECT_EQ(d.Device.HandleValid, 1);
        EXPECT_EQ(d.Device.ModuleReady, 0);
        CloseModule(&d);
    }
    bench.Reset();
    bench.LimitWrite(4, 1);
    OpenModule(&d);
    EXPECT_EQ(Status().text, "Chyba povelu - Chyba zápisu dat(počet 5/4)"_cp);
}

TEST_F(SimOpen, RetryRecoversAModuleLeftOpen) {
    bench.SetCommandFault(0, 0x81, ReplyFault::NoReply, 0, 1);
    OpenModule(&d);
    ASSERT_EQ(Status().code, 13);
    ASSERT_EQ(bench.State(0).open_handles, 1);
    // The device takes one open at a time: the retry succeeds only because it closes first.
    OpenModule(&d);
    EXPECT_EQ(Status().code, 0) << Status().text;
    EXPECT_EQ(bench.State(0).open_handles, 1);
}

TEST_F(SimOpen, UnplugAndReplug) {
    OpenModule(&d);
    ASSERT_EQ(Status().code, 0);
    bench.SetPlugged(0, false);
    usb::InputBlock in{};
    std::string err;
    EXPECT_FALSE(Ran(usb::ModuleReadInputs(*d.D2xx, d.Device.Handle, *d.Clock, 100, in), err));
    CloseModule(&d);
    OpenModule(&d);
    EXPECT_EQ(Status().code, 5);
    bench.SetPlugged(0, true);
    OpenModule(&d);
    EXPECT_EQ(Status().code, 0) << Status().text;
}
