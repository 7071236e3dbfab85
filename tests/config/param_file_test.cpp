#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "config/param_file.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "platform/platform.h"
#include "test_util.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

const std::string kModule = "[Volba modulu]\r\n" + Cp(u8"Výrobní číslo") + "=12000001\r\n";

class ParamFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zelk_param_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        SetConfigDefaults(cfg_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Write(const std::string& content, const std::string& name = "p.ini") {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // Reads `content` onto the defaults; returns the message.
    std::string Read(const std::string& content, bool expectOk) {
        SetConfigDefaults(cfg_);
        return ReadKeeping(content, expectOk);
    }
    // Reads `content` onto the configuration as it is.
    std::string ReadKeeping(const std::string& content, bool expectOk) {
        std::string message;
        EXPECT_EQ(ReadParameterFile(Write(content).c_str(), cfg_, message), expectOk) << text::Cp1250ToUtf8(message);
        return message;
    }
    std::string Dir() const { return dir_.string() + plat::PathSeparator(); }

    fs::path dir_;
    TCFG cfg_;
};

TEST_F(ParamFile, MinimalFileKeepsEveryDefault) {
    EXPECT_EQ(Read(kModule, true), "V pořádku"_cp);
    TCFG defaults;
    SetConfigDefaults(defaults);
    EXPECT_EQ(cfg_.ModuleSerial, "12000001");
    EXPECT_EQ(cfg_.UsbTimeout, 500);
    EXPECT_EQ(cfg_.LogLevel, 0);
    EXPECT_EQ(cfg_.LogFileName, "Rq_zelk2716e.log");
    for (int n = 0; n < kAnalogCount; ++n) {
        EXPECT_EQ(cfg_.ChannelName[n], defaults.ChannelName[n]);
        EXPECT_EQ(cfg_.ChannelInput[n], n);
        EXPECT_EQ(cfg_.ChannelConstA[n], 1.0);
        EXPECT_EQ(cfg_.ChannelConstB[n], 0.0);
    }
    EXPECT_EQ(cfg_.Timer.TimerPeriodUs, 1000.0);
    EXPECT_EQ(cfg_.ConvFileTypeName, "DBF");
    EXPECT_EQ(cfg_.ConvFileType, 1);
    EXPECT_EQ(cfg_.ConvDirectory, "");
    EXPECT_EQ(cfg_.Timer.SettleTime, defaults.Timer.SettleTime);
    for (int ch = 97; ch <= 99; ++ch) EXPECT_EQ(cfg_.ChannelName[ch], "Status zařízení"_cp);
    EXPECT_EQ(cfg_.ChannelName[96], "");
}

TEST_F(ParamFile, EveryKeyIsRead) {
    std::string file = kModule + "USB timeout=0x1F4\r\n" +
                       "[" + Cp(u8"Logovací soubor") + "]\r\n" + Cp(u8"Úroveň") + "=2\r\n" + Cp(u8"Název souboru") + "=" +
                       Dir() + "logs" + plat::PathSeparator() + "a.log\r\n" +
                       "[" + Cp(u8"Analogový kanál 7") + "]\r\n" + Cp(u8"Název") + "=Tlak\r\nVstup=260\r\nRozsah=500mV\r\n"
                       "Konstanta A=1,25\r\nKonstanta B=-2.5e-1\r\n" +
                       "[" + Cp(u8"Analogový kanál 2") + "]\r\nRozsah=5v\r\nVstup=$0F\r\n" +
                       "[" + Cp(u8"Měření časovačem") + "]\r\n" + Cp(u8"Počet kanálů") + "=3\r\nPerioda [us]=25,5\r\n" +
                       Cp(u8"Přednastavení CNT0") + "=65537\r\n" + Cp(u8"Povolení CNT0") + "=0\r\n" +
                       Cp(u8"Přednastavení CNT1") + "=-1\r\n" + Cp(u8"Povolení CNT1") + "=0\r\n" +
                       Cp(u8"Povolení DIN a DOUT") + "=0\r\n" + Cp(u8"Ustálení 10V [us]") + "=1\r\n" +
                       Cp(u8"Ustálení 5V [us]") + "=2\r\n" + Cp(u8"Ustálení 2V [us]") + "=3\r\n" +
                       Cp(u8"Ustálení 1V [us]") + "=4\r\n" + Cp(u8"Ustálení 500mV [us]") + "=5\r\n" +
                       Cp(u8"Ustálení 200mV [us]") + "=6\r\n" +
                       "[Konverze souboru]\r\nTyp souboru=bin\r\n" + Cp(u8"Adresář") + "=C:\\Data\r\n";
    EXPECT_EQ(Read(file, true), "V pořádku"_cp);
    EXPECT_EQ(cfg_.UsbTimeout, 500);
    EXPECT_EQ(cfg_.LogLevel, 2);
    EXPECT_TRUE(plat::DirectoryExists(Dir() + "logs"));
    EXPECT_EQ(cfg_.ChannelName[7], "Tlak");
    EXPECT_EQ(cfg_.ChannelInput[7], 4);
    EXPECT_EQ(cfg_.ChannelRange[7], 4);
    EXPECT_EQ(cfg_.ChannelConstA[7], 1.25);
    EXPECT_EQ(cfg_.ChannelConstB[7], -0.25);
    EXPECT_EQ(cfg_.ChannelRangeName[2], "5v");
    EXPECT_EQ(cfg_.ChannelRange[2], 0);
    EXPECT_EQ(cfg_.ChannelInput[2], 15);
    EXPECT_EQ(cfg_.Timer.TimerChannelCount, 3u);
    EXPECT_EQ(cfg_.TimerPeriodText, "25,5");
    EXPECT_EQ(cfg_.Timer.TimerPeriodUs, 25.5);
    EXPECT_EQ(cfg_.Timer.Cnt0Preset, 1);
    EXPECT_EQ(cfg_.Timer.Cnt1Preset, 65535);
    EXPECT_EQ(cfg_.Timer.Cnt0Enable, 0);
    EXPECT_EQ(cfg_.Timer.Cnt1Enable, 0);
    EXPECT_EQ(cfg_.Timer.DinDoutEnable, 0);
    EXPECT_EQ(cfg_.Timer.SettleTime, (std::array<int32_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(cfg_.ConvFileTypeName, "BIN");
    EXPECT_EQ(cfg_.ConvFileType, 0);
    EXPECT_EQ(cfg_.ConvDirectory, std::string("C:\\Data") + (plat::PathSeparator() == '\\' ? "\\" : "/"));
}

TEST_F(ParamFile, SerialNumberMustBePresent) {
    const std::string bad = "Chybný parametrický soubor"_cp;
    std::string message;
    EXPECT_FALSE(ReadParameterFile(nullptr, cfg_, message));
    EXPECT_EQ(message, bad);
    EXPECT_FALSE(ReadParameterFile((Dir() + "missing.ini").c_str(), cfg_, message));
    EXPECT_EQ(message, bad);
    EXPECT_FALSE(ReadParameterFile(dir_.string().c_str(), cfg_, message));  // a directory
    EXPECT_EQ(message, bad);
    EXPECT_EQ(Read("[Jiné]\r\n" + Cp(u8"Výrobní číslo") + "=1\r\n", false), bad);
    EXPECT_EQ(Read("[Volba modulu]\r\n" + Cp(u8"Výrobní číslo") + "=jkl\r\n", false), bad);
    EXPECT_EQ(Read("[Volba modulu]\r\nUSB timeout=0\r\n", false), bad);
    EXPECT_EQ(cfg_.ModuleSerial, "00000000");
    // Present but empty is a serial number.
    EXPECT_EQ(Read("[volba MODULU]\r\n" + Cp(u8"VÝROBNÍ ČÍSLO") + "=\r\n", true), "V pořádku"_cp);
    EXPECT_EQ(cfg_.ModuleSerial, "");
}

TEST_F(ParamFile, BareNameIsLookedUpBesideTheExecutable) {
    std::string name = "zelk_param_bare_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".ini";
    std::string beside = plat::ExecutableDirectory() + name;
    std::ofstream(beside, std::ios::binary) << "[Volba modulu]\n" + Cp(u8"Výrobní číslo") + "=777\n";
    // A file of the same name in the current directory must not be the one read.
    std::string current = (fs::current_path() / name).string();
    bool sameDir = fs::equivalent(fs::path(beside).parent_path(), fs::current_path());
    if (!sameDir) std::ofstream(current, std::ios::binary) << "[Volba modulu]\n" + Cp(u8"Výrobní číslo") + "=888\n";
    std::string message;
    EXPECT_TRUE(ReadParameterFile(name.c_str(), cfg_, message));
    EXPECT_EQ(cfg_.ModuleSerial, "777");
    std::remove(beside.c_str());
    if (!sameDir) std::remove(current.c_str());
}

TEST_F(ParamFile, UsbTimeoutRange) {
    const std::string prefix = "Chyba parametrického souboru - Volba modulu / USB timeout = "_cp;
    EXPECT_EQ(Read(kModule + "USB timeout=0\r\n", false), prefix + "0.");
    EXPECT_EQ(Read(kModule + "USB timeout=10001\r\n", false), prefix + "10001.");
    EXPECT_EQ(Read(kModule + "USB timeout=-5\r\n", false), prefix + "-5.");
    Read(kModule + "USB timeout=10000\r\n", true);
    EXPECT_EQ(cfg_.UsbTimeout, 10000);
    ReadKeeping(kModule + "USB timeout=1\r\n", true);
    EXPECT_EQ(cfg_.UsbTimeout, 1);
    // Not a number: the current value stays.
    ReadKeeping(kModule + "USB timeout=abc\r\n", true);
    EXPECT_EQ(cfg_.UsbTimeout, 1);
    SetConfigDefaults(cfg_);
    Read(kModule + "USB timeout=abc\r\n", true);
    EXPECT_EQ(cfg_.UsbTimeout, 500);
}

TEST_F(ParamFile, LogLevelAndName) {
    const std::string sec = "[" + Cp(u8"Logovací soubor") + "]\r\n";
    const std::string level = Cp(u8"Úroveň");
    const std::string name = Cp(u8"Název souboru");
    const std::string levelMsg = "Chyba parametrického souboru - Logovací soubor / Úroveň = "_cp;
    const std::string nameMsg = "Chyba parametrického souboru - Logovací soubor / Název souboru = "_cp;
    EXPECT_EQ(Read(kModule + sec + level + "=-1\r\n", false), levelMsg + "-1.");
    EXPECT_EQ(Read(kModule + sec + level + "=4\r\n", false), levelMsg + "4.");
    EXPECT_EQ(Read(kModule + sec + level + "=$FF\r\n", false), levelMsg + "255.");
    // Level 0: the name is not checked at all.
    Read(kModule + sec + level + "=0\r\n" + name + "=\r\n", true);
    EXPECT_EQ(cfg_.LogFileName, "");
    SetConfigDefaults(cfg_);
    EXPECT_EQ(Read(kModule + sec + level + "=1\r\n" + name + "=ab\r\n", false), nameMsg + "ab.");
    // A bare name is accepted: the log opens in the current directory.
    Read(kModule + sec + level + "=3\r\n" + name + "=abc\r\n", true);
    EXPECT_EQ(cfg_.LogFileName, "abc");
}

TEST_F(ParamFile, LogSizeBoundInMegabytes) {
    const std::string sec = "[" + Cp(u8"Logovací soubor") + "]\r\n";
    const std::string key = Cp(u8"Maximální velikost [MB]");
    const std::string message = "Chyba parametrického souboru - Logovací soubor / Maximální velikost [MB] = "_cp;
    const struct {
        const char* line;  // after "key=", or null for no key
        bool ok;
        uint64_t bytes;    // what the configuration holds afterwards
        std::string message;
    } cases[] = {
        {nullptr, true, 100ull << 20, ""},  // the default
        {"0", true, 0, ""},                 // no bound
        {"1", true, 1ull << 20, ""},
        {"$10", true, 16ull << 20, ""},
        {"2147483647", true, 2147483647ull << 20, ""},
        {"abc", true, 7, ""},  // not a number: the value the instance had
        {"-1", false, 7, message + "-1."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "no key");
        SetConfigDefaults(cfg_);
        if (c.line != nullptr) cfg_.LogSizeLimit = 7;
        const std::string got = ReadKeeping(kModule + sec + (c.line ? key + "=" + c.line + "\r\n" : ""), c.ok);
        EXPECT_EQ(got, c.ok ? "V pořádku"_cp : c.message);
        EXPECT_EQ(cfg_.LogSizeLimit, c.bytes);
    }
}

TEST_F(ParamFile, LogDirectoryThatCannotBeCreated) {
    // A plain file stands where a directory of the path would have to be.
    Write("x", "blocker");
    char sep = plat::PathSeparator();
    std::string logName = Dir() + "blocker" + sep + "sub" + sep + "a.log";
    std::string file = kModule + "[" + Cp(u8"Logovací soubor") + "]\r\n" + Cp(u8"Úroveň") + "=1\r\n" + Cp(u8"Název souboru") +
                       "=" + logName + "\r\n";
    EXPECT_EQ(Read(file, false), "Chyba parametrického souboru - Logovací soubor / Název souboru = \""_cp + Dir() +
                                     "blocker" + sep + "sub" + sep + "\" - adresář nelze vytvořit"_cp);
}

TEST_F(ParamFile, RealConstants) {
    auto channel = [](int n, const std::string& body) { return "[" + Cp(u8"Analogový kanál ") + std::to_string(n) + "]\r\n" + body; };
    const std::string prefix = "Chyba parametrického souboru - Analogový kanál "_cp;
    Read(kModule + channel(0, "Konstanta A=1,25\r\n") + channel(1, "Konstanta A=1.25\r\n"), true);
    EXPECT_EQ(cfg_.ChannelConstA[0], 1.25);
    EXPECT_EQ(cfg_.ChannelConstA[1], 1.25);
    EXPECT_EQ(Read(kModule + channel(4, "Konstanta A=\r\n"), false), prefix + "4 / Konstanta A = .");
    EXPECT_EQ(Read(kModule + channel(5, "Konstanta A=x\r\n") + channel(3, "Konstanta B= 1..2 \r\n"), false),
              prefix + "3 / Konstanta B = 1..2.");
    EXPECT_EQ(Read(kModule + channel(15, "Konstanta A=\"1,5\"\r\nKonstanta B=1e\r\n"), false), prefix + "15 / Konstanta B = 1e.");
    // A missing constant is 1.0 / 0.0 again, not the value before.
    cfg_.ChannelConstA[6] = 9.0;
    ReadKeeping(kModule, true);
    EXPECT_EQ(cfg_.ChannelConstA[6], 1.0);
}

TEST_F(ParamFile, TimerPeriodAndFileType) {
    const std::string timer = "[" + Cp(u8"Měření časovačem") + "]\r\n";
    EXPECT_EQ(Read(kModule + timer + "Perioda [us]=10 us\r\n", false),
              "Chyba parametrického souboru - Měření časovačem / Perioda [us] = 10 us."_cp);
    const std::string conv = "[Konverze souboru]\r\nTyp souboru=";
    EXPECT_EQ(Read(kModule + conv + "xls\r\n", false), "Chyba parametrického souboru - Konverze souboru / Typ souboru = xls."_cp);
    EXPECT_EQ(Read(kModule + conv + "\r\n", false), "Chyba parametrického souboru - Konverze souboru / Typ souboru = ."_cp);
    Read(kModule + conv + "dbf\r\n", true);
    EXPECT_EQ(cfg_.ConvFileTypeName, "DBF");
    EXPECT_EQ(cfg_.ConvFileType, 1);
    Read(kModule + "[Konverze souboru]\r\n" + Cp(u8"Adresář") + "=C:\\Data\\\r\n", true);
    EXPECT_EQ(cfg_.ConvDirectory, "C:\\Data\\");
}

TEST_F(ParamFile, ChecksRunInTheirOrder) {
    const std::string log = "[" + Cp(u8"Logovací soubor") + "]\r\n" + Cp(u8"Úroveň") + "=9\r\n";
    const std::string ch = "[" + Cp(u8"Analogový kanál 0") + "]\r\nKonstanta A=?\r\n";
    const std::string conv = "[Konverze souboru]\r\nTyp souboru=xls\r\n";
    EXPECT_EQ(Read(conv + ch + log + kModule + "USB timeout=0\r\n", false),
              "Chyba parametrického souboru - Volba modulu / USB timeout = 0."_cp);
    EXPECT_EQ(Read(conv + ch + log + kModule, false), "Chyba parametrického souboru - Logovací soubor / Úroveň = 9."_cp);
    EXPECT_EQ(Read(conv + ch + kModule, false), "Chyba parametrického souboru - Analogový kanál 0 / Konstanta A = ?."_cp);
    EXPECT_EQ(Read(conv + kModule, false), "Chyba parametrického souboru - Konverze souboru / Typ souboru = xls."_cp);
}

TEST_F(ParamFile, Utf8FileReadsTheSame) {
    std::string file = "\xEF\xBB\xBF[Volba modulu]\r\n" + U8(u8"Výrobní číslo=12100002\r\n[Analogový kanál 1]\r\nNázev=Průtok\r\n");
    Read(file, true);
    EXPECT_EQ(cfg_.ModuleSerial, "12100002");
    EXPECT_EQ(cfg_.ChannelName[1], "Průtok"_cp);
}

// Every field of the configuration, for comparing two readings whole.
auto Fields(const TCFG& c) {
    return std::tie(c.ModuleSerial, c.UsbTimeout, c.LogLevel, c.LogFileName, c.ChannelName, c.ChannelRangeName,
                    c.ChannelInput, c.ChannelRange, c.ChannelConstA, c.ChannelConstB, c.Timer.TimerChannelCount,
                    c.TimerPeriodText, c.Timer.TimerPeriodUs, c.Timer.Cnt0Preset, c.Timer.Cnt0Enable, c.Timer.Cnt1Preset,
                    c.Timer.Cnt1Enable, c.Timer.DinDoutEnable, c.Timer.SettleTime, c.ConvFileTypeName, c.ConvFileType,
                    c.ConvDirectory);
}

// The host tool keeps its own key Jednotka (a channel's unit) in the channel sections: the
// driver reads a file with it exactly as without it, wherever the line stands and whatever
// it holds, in every encoding.
TEST_F(ParamFile, KeysOfTheHostToolChangeNothing) {
    auto channel = [](int n, const std::string& body) {
        return "[" + Cp(u8"Analogový kanál ") + std::to_string(n) + "]\r\n" + body;
    };
    const std::string base = kModule + channel(1, Cp(u8"Název") + "=Teplota\r\nRozsah=5V\r\n@Konstanta A=100,0\r\n") +
                             channel(15, "@Konstanta B=0,5\r\n") + "[" + Cp(u8"Měření časovačem") + "]\r\n" +
                             Cp(u8"Počet kanálů") + "=2\r\n";
    struct Case {
        const char* what;
        std::string unitLine;  // put where base has '@'
    } cases[] = {
        {"a unit in cp1250", Cp(u8"Jednotka=°C\r\n")},
        {"an empty unit", "Jednotka=\r\n"},
        {"a unit that reads like a number", "Jednotka=1e3\r\n"},
        {"a unit that holds another key", "Jednotka=Konstanta A=7\r\n"},
        {"written in capitals, quoted", "JEDNOTKA = \"m/s\"\r\n"},
    };
    auto place = [&](const std::string& line) {
        std::string t = base;
        for (size_t at; (at = t.find('@')) != std::string::npos;) t.replace(at, 1, line);
        return t;
    };
    Read(place(""), true);
    const TCFG without = cfg_;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(place(c.unitLine), true), "V pořádku"_cp);
        EXPECT_TRUE(Fields(cfg_) == Fields(without));
        // The same file in UTF-8 with a byte order mark.
        Read("\xEF\xBB\xBF" + text::Cp1250ToUtf8(place(c.unitLine)), true);
        EXPECT_TRUE(Fields(cfg_) == Fields(without));
    }
}

// The log name and the record folder go to the file system: a character that cp1250 cannot
// hold (from a UTF-8 or UTF-16 file, or a cp1250 byte that stands for none) fails the file
// with the key's message instead of naming another folder. Other texts keep their '?'.
TEST_F(ParamFile, NamesMustBeCp1250Text) {
    auto utf16le = [](const std::u16string& s) {
        std::string b = "\xFF\xFE";
        for (char16_t c : s) b += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        return b;
    };
    const std::string logOn = U8(u8"[Logovací soubor]\r\nÚroveň=1\r\nNázev souboru=");
    const std::string folder = U8(u8"[Konverze souboru]\r\nAdresář=");
    const std::string nameMsg = "Chyba parametrického souboru - Logovací soubor / Název souboru = "_cp;
    const std::string dirMsg = "Chyba parametrického souboru - Konverze souboru / Adresář = "_cp;
    const std::string czech = U8(u8"měření žluťoučký kůň/data 1");
    const std::string module = U8(u8"[Volba modulu]\r\nVýrobní číslo=1\r\n");
    struct Case {
        const char* what;
        std::string bytes;
        std::string message;  // empty: the file is accepted
    } cases[] = {
        {"Czech folder, UTF-8", module + folder + czech + "\r\n", ""},
        {"Chinese folder, UTF-8", module + folder + U8(u8"data/数据\r\n"), dirMsg + "data/??."},
        {"Greek folder, UTF-8 with mark", "\xEF\xBB\xBF" + module + folder + U8(u8"Μέτρηση\r\n"), dirMsg + "???????."},
        {"character beyond 16 bits, UTF-16", utf16le(u"[Volba modulu]\r\nV\u00FDrobn\u00ED \u010D\u00EDslo=1\r\n"
                                                     u"[Konverze souboru]\r\nAdres\u00E1\u0159=d\U0001F600\r\n"),
         dirMsg + "d?."},
        {"Chinese log name, UTF-16",
         utf16le(u"[Volba modulu]\r\nV\u00FDrobn\u00ED \u010D\u00EDslo=1\r\n[Logovac\u00ED soubor]\r\n"
                 u"\u00DArove\u0148=1\r\nN\u00E1zev souboru=\u65E5\u5FD7.log\r\n"),
         nameMsg + "??.log."},
        {"log name before folder", module + logOn + U8(u8"Ω.log\r\n") + folder + U8(u8"Ω\r\n"), nameMsg + "?.log."},
        {"log off: its name is not used", module + U8(u8"[Logovací soubor]\r\nÚroveň=0\r\nNázev souboru=Ω.log\r\n"), ""},
        {"byte of no character, cp1250 file", text::Utf8ToCp1250(module + folder + "a") + "\x81" + "b\r\n",
         dirMsg + "a\x81" + "b."},
        {"a question mark written as such", text::Utf8ToCp1250(module + folder + "a?b\r\n"), ""},
        {"other texts keep their question marks", module + U8(u8"[Analogový kanál 1]\r\nNázev=Ω\r\n"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string got = Read(c.bytes, c.message.empty());
        EXPECT_EQ(got, c.message.empty() ? "V pořádku"_cp : c.message) << text::Cp1250ToUtf8(got);
    }
    Read(module + folder + czech + "\r\n", true);
    EXPECT_EQ(cfg_.ConvDirectory, text::Utf8ToCp1250(czech) + plat::PathSeparator());
}

TEST(NumberTexts, Reals) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"1.5", true, 1.5},      {"1,5", true, 1.5},     {" -2,5e1 ", true, -25.0}, {"+3", true, 3.0},
        {".5", true, 0.5},       {"5.", true, 5.0},      {"5,", true, 5.0},         {"1E-2", true, 0.01},
        {"1e+2", true, 100.0},   {"1e-400", true, 0.0},  {"0", true, 0.0},          {"", false, 0},
        {" ", false, 0},         {".", false, 0},        {"1.2.3", false, 0},       {"1,2.3", false, 0},
        {"1e", false, 0},        {"e5", false, 0},       {"1e999", false, 0},       {"nan", false, 0},
        {"inf", false, 0},       {"0x10", false, 0},     {"1 2", false, 0},         {"--1", false, 0},
        {"1.5x", false, 0},      {"12345678901234567890", true, 12345678901234567890.0},
    };
    for (const Case& c : cases) {
        double v = -7.0;
        EXPECT_EQ(ParseRealText(c.text, v), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : -7.0) << c.text;
    }
}

TEST(NumberTexts, Integers) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"500", true, 500},          {"0x1F4", true, 500},      {"0X1f4", true, 500},        {"$1F4", true, 500},
        {"-12", true, -12},          {"+7", true, 7},           {" 8 ", true, 8},            {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN}, {"2147483648", false, 0}, {"$FFFFFFFF", true, -1},  {"0x100000000", false, 0},
        {"-$10", true, -16},         {"", false, 0},            {"0x", false, 0},            {"$", false, 0},
        {"abc", false, 0},           {"1.0", false, 0},         {"12a", false, 0},           {"0x1G", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int32_t v = 4242;
        EXPECT_EQ(ParseIntegerText(c.text, v), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : 4242) << c.text;
    }
}

TEST(NumberTexts, RangeCodes) {
    EXPECT_EQ(RangeCodeOf("10V"), 0);
    EXPECT_EQ(RangeCodeOf("5V"), 1);
    EXPECT_EQ(RangeCodeOf("2V"), 2);
    EXPECT_EQ(RangeCodeOf("1V"), 3);
    EXPECT_EQ(RangeCodeOf("500mV"), 4);
    EXPECT_EQ(RangeCodeOf("200mV"), 5);
    EXPECT_EQ(RangeCodeOf("200mv"), 0);
    EXPECT_EQ(RangeCodeOf(" 5V"), 0);
    EXPECT_EQ(RangeCodeOf(""), 0);
}

}  // namespace
}  // namespace zelk
