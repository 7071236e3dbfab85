// The driver window: its model driven directly, and the headless window through the
// functions the host reaches it with.
#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "window/Hlavni.h"
#include "window/window_api.h"

#ifdef _WIN32
#include <windows.h>
// The real window's timer ticks arrive through the message loop of the thread that made it.
static void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
#else
// The headless window refreshes on its own timer thread.
static void PumpMessages() {}
#endif

namespace zelk {
namespace {

class WindowModel : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfigDefaults(d.Cfg);
        d.Cfg.ModuleSerial = "12000001";
        d.Cfg.LogLevel = 3;
        d.Cfg.LogFileName = "záznam.log"_cp;
        ResetDeviceBlock(d, DeviceReset::Everything);
        BuildChannelTable(d);
        SetDeviceStatus(d, 9, StatusTexts[9]);
        form.InitWindow();
    }
    void Type(const std::string& keys) {
        for (char k : keys) {
            if (form.Edit1KeyPress(k)) form.Edit1.Text.push_back(k);
        }
    }
    bool AnalogRowsShown() const {
        bool all = true, none = true;
        for (int i : window::kAnalogRowLabels) (form.Label[i].Visible ? none : all) = false;
        EXPECT_TRUE(all || none) << "the analog rows are shown or hidden together";
        return all;
    }

    TData d;
    TForm1 form{&d};
};

TEST_F(WindowModel, SetUpFillsTheHiddenSettingsPage) {
    EXPECT_FALSE(form.Visible);
    EXPECT_FALSE(form.CloseCommandEnabled);
    EXPECT_TRUE(form.Timer1Enabled);
    EXPECT_EQ(form.Caption, "Ovladač ZELK-2716E (v.č. 12000001) "_cp);
    EXPECT_EQ(form.Label[2].Caption, "v.1.0.0");
    EXPECT_EQ(form.ActivePage, window::kSettingsPage);
    EXPECT_EQ(form.MonitoredChannel, 0u);
    EXPECT_EQ(form.Label[11].Caption, "12000001");
    EXPECT_EQ(form.Label[12].Caption, "---");
    EXPECT_EQ(form.Label[14].Caption, "3");
    EXPECT_EQ(form.Label[15].Caption, "záznam.log"_cp);
    EXPECT_EQ(form.Label[16].Caption, "Nenalezen USB modul"_cp);
    EXPECT_FALSE(form.Label[6].Visible);
    EXPECT_FALSE(form.Label[13].Visible);
    EXPECT_TRUE(form.Label[16].Blue);
    EXPECT_FALSE(form.Label[10].Blue);
}

TEST_F(WindowModel, OnlyDigitsAndBackspaceReachTheField) {
    for (char k : std::string("aZ-+ .,\t\x1b")) EXPECT_FALSE(form.Edit1KeyPress(k)) << int(k);
    for (char k = '0'; k <= '9'; ++k) EXPECT_TRUE(form.Edit1KeyPress(k));
    EXPECT_TRUE(form.Edit1KeyPress(8));
    EXPECT_EQ(form.Edit1.Text, "0");
    EXPECT_EQ(form.MonitoredChannel, 0u);
}

TEST_F(WindowModel, UndefinedChannelShowsDashesAndNoAnalogRows) {
    Type("16");
    EXPECT_FALSE(form.Edit1KeyPress(13));  // Enter is applied, not typed
    EXPECT_EQ(form.MonitoredChannel, 16u);
    EXPECT_EQ(form.Label[27].Caption, "16");
    EXPECT_EQ(form.Label[28].Caption, "---");
    EXPECT_EQ(form.Label[32].Caption, "---");
    EXPECT_EQ(form.Label[33].Caption, "---");
    EXPECT_EQ(form.Label[34].Caption, "---");
    EXPECT_EQ(form.Label[35].Caption, "Kanál nedefinován"_cp);
    EXPECT_FALSE(AnalogRowsShown());
}

TEST_F(WindowModel, StatusChannelShowsItsRecordWithoutAnalogRows) {
    {
        plat::LockGuard g(d.DataLock);
        d.Channels[97].RequestCount = 5;
        d.Channels[97].RequestTick = 4000000000u;
        d.Channels[97].TextValue = "Timeout USB linky"_cp;
    }
    Type("97");
    form.Edit1KeyPress(13);
    EXPECT_EQ(form.Label[27].Caption, "97");
    EXPECT_EQ(form.Label[28].Caption, ChannelDescription(97));
    EXPECT_EQ(form.Label[32].Caption, "5");
    EXPECT_EQ(form.Label[33].Caption, "4000000000");
    EXPECT_EQ(form.Label[34].Caption, "Timeout USB linky"_cp);
    plat::LockGuard g(d.DataLock);
    EXPECT_EQ(form.Label[35].Caption, d.Channels[97].StatusText);
    EXPECT_FALSE(AnalogRowsShown());
}

TEST_F(WindowModel, AnalogChannelShowsNameInputRangeAndConstants) {
    Type("3");
    form.Edit1KeyPress(13);
    EXPECT_TRUE(AnalogRowsShown());
    EXPECT_EQ(form.Label[29].Caption, "Kanál 3"_cp);
    EXPECT_EQ(form.Label[30].Caption, "3");
    EXPECT_EQ(form.Label[31].Caption, "10V");
    // The locale's decimal separator ("," in the Czech locale on Windows).
    auto sep = [](std::string s) {
        for (char& c : s)
            if (c == '.') c = plat::DecimalSeparator();
        return s;
    };
    EXPECT_EQ(form.Label[37].Caption, sep("1.0000 / 0.0000"));
    EXPECT_EQ(form.Label[35].Caption, "Kanál nepoužit"_cp);

    // Constants keep eight significant digits; back to an undefined index hides the rows.
    d.Cfg.ChannelConstA[3] = 123456.789;
    d.Cfg.ChannelConstB[3] = -0.00012345;
    form.VypisDiagnostikaKanalu();
    EXPECT_EQ(form.Label[37].Caption, sep("123456.7900 / -0.0001"));
    form.Edit1.Text = "203";
    form.Edit1KeyPress(13);
    EXPECT_EQ(form.Label[28].Caption, ChannelDescription(203));
    EXPECT_FALSE(AnalogRowsShown());
}

TEST_F(WindowModel, UnreadableIndexFallsBackToChannelZero) {
    for (const char* text : {"", "999999999999", "2147483648", "12a"}) {
        form.Edit1.Text = "5";
        form.Edit1KeyPress(13);
        ASSERT_EQ(form.MonitoredChannel, 5u);
        form.Edit1.Text = text;
        form.Edit1KeyPress(13);
        EXPECT_EQ(form.Edit1.Text, "0") << text;
        EXPECT_EQ(form.MonitoredChannel, 0u) << text;
        EXPECT_EQ(form.Label[27].Caption, "0") << text;
        EXPECT_EQ(form.Label[29].Caption, "Kanál 0"_cp) << text;
    }
    // A pasted negative number is kept and names no channel.
    form.Edit1.Text = "-1";
    form.Edit1KeyPress(13);
    EXPECT_EQ(form.Edit1.Text, "-1");
    EXPECT_EQ(form.Label[27].Caption, "4294967295");
    EXPECT_EQ(form.Label[35].Caption, "Kanál nedefinován"_cp);
    form.Edit1.Text = "2147483647";
    form.Edit1KeyPress(13);
    EXPECT_EQ(form.Label[27].Caption, "2147483647");
}

TEST_F(WindowModel, TimerRefreshesOnlyTheActivePageOfAVisibleWindow) {
    SetDeviceStatus(d, 0, StatusTexts[0]);
    form.Timer1Timer();
    EXPECT_EQ(form.Label[16].Caption, "Nenalezen USB modul"_cp) << "hidden: no refresh";
    form.Visible = true;
    form.Timer1Timer();
    EXPECT_EQ(form.Label[16].Caption, "V pořádku"_cp);

    form.ActivePage = window::kDiagnosticsPage;
    SetDeviceStatus(d, 12, StatusTexts[12]);
    {
        plat::LockGuard g(d.DataLock);
        d.Channels[0].RequestCount = 7;
    }
    form.Timer1Timer();
    EXPECT_EQ(form.Label[16].Caption, "V pořádku"_cp);
    EXPECT_EQ(form.Label[32].Caption, "7");
}

TEST_F(WindowModel, CloseIsRefused) {
    bool canClose = true;
    form.FormCloseQuery(canClose);
    EXPECT_FALSE(canClose);
}

TEST_F(WindowModel, ContentsListVisibleRowsOfTheActivePage) {
    std::string s = form.ContentsText();
    EXPECT_EQ(s.rfind("Ovladač ZELK-2716E (v.č. 12000001) \r\n[Nastavení ovladače]\r\n"_cp, 0), 0u) << s;
    EXPECT_NE(s.find("\r\nVýrobní číslo: 12000001\r\n"_cp), std::string::npos) << s;
    EXPECT_NE(s.find("\r\nStatus: Nenalezen USB modul\r\n"_cp), std::string::npos) << s;
    EXPECT_EQ(s.find("Řadič"_cp), std::string::npos) << s;
    EXPECT_EQ(s.find("Číslo kanálu"_cp), std::string::npos) << s;

    form.ActivePage = window::kDiagnosticsPage;
    form.Edit1.Text = "16";
    form.Edit1KeyPress(13);
    s = form.ContentsText();
    EXPECT_NE(s.find("[Diagnostika kanálů]\r\n"_cp), std::string::npos) << s;
    EXPECT_NE(s.find("Monitorovaný kanál: 16\r\nČíslo kanálu: 16\r\nTyp: ---\r\nPočet volání kanálu: ---\r\n"_cp),
              std::string::npos)
        << s;
    EXPECT_EQ(s.find("Rozsah"), std::string::npos) << s;
}

// The headless window as the host reaches it.
class HeadlessWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfigDefaults(d.Cfg);
        d.Cfg.ModuleSerial = "12100002";
        ResetDeviceBlock(d, DeviceReset::Everything);
        BuildChannelTable(d);
        SetDeviceStatus(d, 9, StatusTexts[9]);
        d.Window.reset(CreateDriverWindow(&d));
        ASSERT_NE(d.Window, nullptr);
        w = d.Window.get();
    }
    bool WaitForText(const std::string& part) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            PumpMessages();
            if (WindowContentsText(w).find(part) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    void TypeKeys(const std::string& keys) {
        for (char k : keys) WindowTypeKey(w, k);
    }

    TData d;
    TForm1* w = nullptr;
};

TEST_F(HeadlessWindow, StatusLineFollowsTheDeviceStatusWhileShown) {
    EXPECT_NE(WindowContentsText(w).find("Status: Nenalezen USB modul"_cp), std::string::npos);
    WindowDriverProc(w, 1, 0, 0, 0, 0);
    SetDeviceStatus(d, 15, StatusTexts[15]);
    EXPECT_TRUE(WaitForText("Status: Timeout USB linky\r\n"_cp)) << WindowContentsText(w);
    SetDeviceStatus(d, 0, StatusTexts[0]);
    EXPECT_TRUE(WaitForText("Status: V pořádku\r\n"_cp)) << WindowContentsText(w);
}

TEST_F(HeadlessWindow, KeysPickTheChannelOnTheDiagnosticsPage) {
    WindowSelectPage(w, 1);
    TypeKeys("x3");
    EXPECT_NE(WindowContentsText(w).find("Monitorovaný kanál: 03\r\n"_cp), std::string::npos);
    TypeKeys("\b\b9\b\r");
    std::string s = WindowContentsText(w);
    EXPECT_NE(s.find("Monitorovaný kanál: 0\r\nČíslo kanálu: 0\r\n"_cp), std::string::npos) << s;
    TypeKeys("97\r");
    s = WindowContentsText(w);
    EXPECT_NE(s.find("Číslo kanálu: 97\r\nTyp: "_cp + ChannelDescription(97)), std::string::npos) << s;
    EXPECT_EQ(s.find("Vstup"), std::string::npos) << s;

    // The diagnostics page refreshes on its own once shown.
    WindowDriverProc(w, 1, 0, 0, 0, 0);
    {
        plat::LockGuard g(d.DataLock);
        d.Channels[97].RequestCount = 42;
    }
    EXPECT_TRUE(WaitForText("Počet volání kanálu: 42\r\n"_cp)) << WindowContentsText(w);
    WindowSelectPage(w, 7);
    EXPECT_NE(WindowContentsText(w).find("[Diagnostika kanálů]"_cp), std::string::npos);
}

TEST_F(HeadlessWindow, HostFunctionsOnANullWindowDoNothing) {
    WindowDriverProc(nullptr, 1, 0, 0, 0, 0);
    WindowTypeKey(nullptr, '1');
    WindowSelectPage(nullptr, 1);
    EXPECT_EQ(WindowContentsText(nullptr), "");
    EXPECT_EQ(CreateDriverWindow(nullptr), nullptr);
    // Destroying a shown window stops its timer (sanitizer builds catch a late tick).
    WindowDriverProc(w, 1, 0, 0, 0, 0);
    d.Window.reset();
}

// Hosts may start instances on threads of their own: windows are made, typed into and
// destroyed on many threads at once (shown and hidden in the first round), and each keeps
// its own contents. Under wine, without the window gate, three runs in four crashed (or hung)
// in wine's text-shaping cache.
TEST(WindowsOnManyThreads, EachThreadMakesUsesAndDestroysItsOwn) {
    constexpr int kThreads = 16, kRounds = 12;
    std::atomic<int> made{0};
    std::vector<std::string> wrong(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                TData d;
                SetConfigDefaults(d.Cfg);
                d.Cfg.ModuleSerial = std::to_string(12000100 + t);
                ResetDeviceBlock(d, DeviceReset::Everything);
                BuildChannelTable(d);
                SetDeviceStatus(d, 9, StatusTexts[9]);
                d.Window.reset(CreateDriverWindow(&d));
                if (!d.Window) {
                    wrong[t] = "no window";
                    return;
                }
                ++made;
                TForm1* w = d.Window.get();
                if (round == 0) WindowDriverProc(w, 1, 0, 0, 0, 0);
                WindowSelectPage(w, 1);
                const std::string channel = std::to_string(t % 10);
                WindowTypeKey(w, channel[0]);
                WindowTypeKey(w, '\r');
                PumpMessages();
                const std::string s = WindowContentsText(w);
                if (s.find("Číslo kanálu: "_cp + channel + "\r\n") == std::string::npos) wrong[t] = s;
                if (round == 0) WindowDriverProc(w, 0, 0, 0, 0, 0);
                d.Window.reset();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(made.load(), kThreads * kRounds);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], "") << "thread " << t;
}

}  // namespace
}  // namespace zelk
