// The driver's INI reader against the system's GetPrivateProfileStringA on a corpus of
// tricky files. Cases where wine is known to differ from Windows are left to tests/config.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "config/ini_reader.h"
#include "domain/text.h"

namespace zelk {
namespace {

// Runs in the two locales use separate wine prefixes whose process ids can coincide.
std::string RunToken() {
    static const std::string token = std::to_string(std::random_device{}());
    return token;
}


std::string Cp(const char8_t* s) { return text::Utf8ToCp1250(reinterpret_cast<const char*>(s)); }

using Lookups = std::vector<std::pair<std::string, std::string>>;

// A lookup whose names differ from the file's in the case of non-ASCII letters, with the
// names as the file writes them. Windows folds those letters, wine only ASCII: the system
// is asked with the file's own letter case and must give what the reader gives.
struct Folded {
    std::string section, key, fileSection, fileKey;
};

struct Case {
    std::string name;
    std::string bytes;
    Lookups lookups;
    bool needs1250 = false;  // holds letters whose case pairs exist in cp1250 only
    std::vector<Folded> folded = {};
};

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}
std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string Utf16File(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
}

std::vector<Case> Corpus() {
    std::vector<Case> c;
    c.push_back({"plain", "[S]\r\nk=v\r\n", {{"S", "k"}, {"S", "x"}, {"T", "k"}}});
    c.push_back({"case", "[Sekce]\r\nKlic=1\r\nKLIC2=2\r\n", {{"sekce", "klic"}, {"SEKCE", "KLIC"}, {"Sekce", "klic2"}}});
    c.push_back({"blanks around key and value", "[S]\r\n  k  =  a b  \r\n\tt\t=\tx\t\r\n",
                 {{"S", "k"}, {"S", "t"}, {"S", " k "}, {" S", "t\t"}}});
    c.push_back({"blanks before the bracket", "   [S]\r\nk=1\r\n\t[T]  \r\nk=2\r\n", {{"S", "k"}, {"T", "k"}}});
    c.push_back({"double quotes", "[S]\r\nk=\"x\"\r\nk2=\" a \"\r\nk3=\"\"\r\nk4= \"q\" \r\n",
                 {{"S", "k"}, {"S", "k2"}, {"S", "k3"}, {"S", "k4"}}});
    c.push_back({"single and mixed quotes",
                 "[S]\r\nk='x'\r\nk2='x\"\r\nk3=\"\r\nk4=a\"b\"\r\nk5=\"\"x\"\"\r\nk6='\r\nk7=''\r\nk8=\"a'\r\n",
                 {{"S", "k"}, {"S", "k2"}, {"S", "k3"}, {"S", "k4"}, {"S", "k5"}, {"S", "k6"}, {"S", "k7"}, {"S", "k8"}}});
    c.push_back({"comments", "[S]\r\n;k=1\r\n  ;k2=2\r\n#k3=3\r\nk4=1 ;c\r\nk5=;x\r\n; [T]\r\nk6=#\r\n",
                 {{"S", "k"}, {"S", "k2"}, {"S", "#k3"}, {"S", "k3"}, {"S", "k4"}, {"S", "k5"}, {"S", "k6"}, {"T", "k6"}}});
    c.push_back({"duplicate keys", "[S]\r\nk=1\r\nK=2\r\n k = 3\r\n", {{"S", "k"}}});
    c.push_back({"repeated section", "[S]\r\na=1\r\n[T]\r\nb=2\r\n[s]\r\na=9\r\nc=3\r\n[T]\r\nb=8\r\n",
                 {{"S", "a"}, {"S", "c"}, {"T", "b"}}});
    c.push_back({"lines without equals sign", "[S]\r\njunk line\r\nk=1\r\n[T]\r\njust text\r\n",
                 {{"S", "junk line"}, {"S", "k"}, {"T", "just text"}}});
    c.push_back({"LF only", "[S]\na=1\nb=2\n[T]\nc=3", {{"S", "a"}, {"S", "b"}, {"T", "c"}}});
    c.push_back({"mixed line ends", "[S]\r\na=1\nb=2\r\n\r\n\n[T]\nc=3\r\n", {{"S", "a"}, {"S", "b"}, {"T", "c"}}});
    c.push_back({"no final line end", "[S]\r\nk=last", {{"S", "k"}}});
    c.push_back({"empty values", "[S]\r\nk=\r\nk2=   \r\nk3=\t\r\n", {{"S", "k"}, {"S", "k2"}, {"S", "k3"}}});
    c.push_back({"equals sign in value", "[S]\r\nk=a=b\r\nk2 = = x\r\nk3==\r\n", {{"S", "k"}, {"S", "k2"}, {"S", "k3"}}});
    {
        std::string v2047(2047, 'a'), v2048(2048, 'b'), v3000(3000, 'c'), v10000(10000, 'd');
        v2048[2046] = 'X';
        v2048[2047] = 'Y';
        c.push_back({"long values",
                     "[S]\r\nk1=" + v2047 + "\r\nk2=" + v2048 + "\r\nk3=" + v3000 + "\r\nk4=" + v10000 + "\r\nk5=after\r\n",
                     {{"S", "k1"}, {"S", "k2"}, {"S", "k3"}, {"S", "k4"}, {"S", "k5"}}});
        std::string q2045(2045, 'q'), q2046(2046, 'r');
        c.push_back({"quoted long values", "[S]\r\nk1=\"" + q2045 + "\"\r\nk2=\"" + q2046 + "\"\r\nk3=\"" + v3000 + "\"\r\n",
                     {{"S", "k1"}, {"S", "k2"}, {"S", "k3"}}});
    }
    {
        const std::string serial = Cp(u8"Výrobní číslo"), log = Cp(u8"Logovací soubor"), level = Cp(u8"Úroveň"),
                          name = Cp(u8"Název souboru");
        c.push_back({"Czech sections and keys",
                     "[Volba modulu]\r\n" + serial + "=12000001\r\nUSB timeout=0x1F4\r\n[" + log + "]\r\n" + level +
                         "=2\r\n" + name + "=C:\\Log\\a.log\r\n",
                     {{"Volba modulu", serial}, {log, level}, {log, name}, {"VOLBA modulu", "usb TIMEOUT"}},
                     false,
                     {{"VOLBA MODULU", Cp(u8"VÝROBNÍ ČÍSLO"), "Volba modulu", serial},
                      {"volba modulu", Cp(u8" výrobní ČÍSLO"), "Volba modulu", serial},
                      {Cp(u8"LOGOVACÍ SOUBOR"), Cp(u8"ÚROVEŇ"), log, level},
                      {Cp(u8"logovací soubor "), Cp(u8"NÁZEV SOUBORU"), log, name}}});
    }
    {
        const std::string sec = Cp(u8"ťžšśźľąłşżŕăĺćčęěďđńňőřůűţ"), key = Cp(u8"žluťoučký kůň");
        c.push_back({"Czech letters with cp1250 pairs", "[" + sec + "]\r\n" + key + "=" + Cp(u8"úpěl ďábelské ódy") + "\r\n",
                     {{sec, key}},
                     true,
                     {{Cp(u8"ŤŽŠŚŹĽĄŁŞŻŔĂĹĆČĘĚĎĐŃŇŐŘŮŰŢ"), Cp(u8"ŽLUŤOUČKÝ KŮŇ"), sec, key}}});
    }
    {
        const std::string sec = Cp(u8"áéíóúýäöüç"), key = Cp(u8"ÁÉÍ");
        c.push_back({"Latin-1 shaped letters", "[" + sec + "]\r\n" + key + "=" + Cp(u8"ÓÚÝ") + "\r\n",
                     {{sec, key}},
                     false,
                     {{Cp(u8"ÁÉÍÓÚÝÄÖÜÇ"), Cp(u8"áéí"), sec, key}}});
    }
    {
        std::string file;
        Lookups l;
        for (int n = 0; n < 16; ++n) {
            std::string sec = Cp(u8"Analogový kanál ") + std::to_string(n);
            file += "[" + sec + "]\r\n" + Cp(u8"Název") + " =K" + std::to_string(n) + "\r\nVstup= " + std::to_string(15 - n) +
                    "\r\nRozsah =  500mV\r\nKonstanta A=1,25\r\n";
            l.push_back({sec, Cp(u8"Název ")});
            l.push_back({sec, "Vstup "});
            l.push_back({sec, "Rozsah "});
            l.push_back({sec, "Konstanta A"});
            l.push_back({sec, "Konstanta B"});
        }
        l.push_back({Cp(u8"Analogový kanál 16"), "Vstup "});
        l.push_back({Cp(u8"Analogový kanál 01"), "Vstup "});
        c.push_back({"analog channel sections", file, l});
    }
    c.push_back({"text after the bracket", "[S] junk ; x\r\nk=1\r\n[T]  ]\r\nk=2\r\n", {{"S", "k"}}});
    c.push_back({"CR only", "[S]\ra=1\rb=2\r[T]\rc=3\r", {{"S", "a"}, {"S", "b"}, {"T", "c"}}});
    c.push_back({"key without equals sign alone", "[S]\r\nk\r\nj=1\r\n", {{"S", "k"}, {"S", "j"}}});
    c.push_back({"other blanks", "[S]\r\nk=\xA0x\xA0\r\nk2=\x1Ay\x1A\r\n\x0Bk3\x0C=\x0Bz\x0C\r\n",
                 {{"S", "k"}, {"S", "k2"}, {"S", "k3"}}});
    c.push_back({"tabs and blank lines", "\r\n\t\r\n\t[S]\t\r\n\r\n\tk\t=\t1\t\r\n   \r\n", {{"S", "k"}}});
    c.push_back({"brackets in keys and values", "[S]\r\na[1]=x\r\nb=[T]\r\n[T]\r\nc=]\r\n",
                 {{"S", "a[1]"}, {"S", "b"}, {"T", "c"}}});
    c.push_back({"section name with inner blanks", "[Volba   modulu]\r\nk=1\r\n[Konverze souboru]\r\nTyp souboru=dbf\r\n",
                 {{"Volba   modulu", "k"}, {"Volba modulu", "k"}, {"konverze SOUBORU", "typ SOUBORU"}}});
    c.push_back({"key names with inner blanks", "[S]\r\nTyp  souboru=1\r\nPerioda [us]=25,5\r\n",
                 {{"S", "Typ  souboru"}, {"S", "Typ souboru"}, {"S", "PERIODA [US]"}}});
    {
        std::string file;
        for (int s = 0; s < 100; ++s) file += "[Sec" + std::to_string(s) + "]\r\nk=" + std::to_string(s) + "\r\n";
        c.push_back({"many sections", file, {{"Sec0", "k"}, {"SEC57", "k"}, {"sec99", "K"}, {"Sec100", "k"}}});
    }
    c.push_back({"UTF-16 LE with mark", Utf16File(u"[S]\r\nk = \"v w\" \r\n[T]\r\nk2=2\r\n"), {{"S", "k"}, {"t", "K2"}}});
    c.push_back({"UTF-16 LE with Czech", Utf16File(u"[Měření časovačem]\r\nPerioda [us]=12,5\r\nŽ=ž\r\n"),
                 {{Cp(u8"Měření časovačem"), "perioda [us]"}, {Cp(u8"Měření časovačem"), Cp(u8"Ž")}},
                 true,
                 {{Cp(u8"MĚŘENÍ ČASOVAČEM"), "PERIODA [US]", Cp(u8"Měření časovačem"), "Perioda [us]"},
                  {Cp(u8"měření časovačem"), Cp(u8"ž"), Cp(u8"Měření časovačem"), Cp(u8"Ž")}}});
    c.push_back({"value keeps inner blanks and tabs", "[S]\r\nk=a \t b\r\n", {{"S", "k"}}});
    c.push_back({"semicolon key after blanks of the section", "[S]\r\n k;=1\r\n", {{"S", "k;"}}});
    {
        const std::string timer = Cp(u8"Měření časovačem"), count = Cp(u8"Počet kanálů"), preset = Cp(u8"Přednastavení CNT0"),
                          dir = Cp(u8"Adresář");
        c.push_back({"full parameter file",
                     "[Volba modulu]\r\n" + Cp(u8"Výrobní číslo") + " = \"12100002\"\r\n\r\n[" + timer + "]\r\n" + count +
                         "=4\r\nPerioda [us]=  100.5  \r\n" + preset + "=$FFFF\r\n" + Cp(u8"Povolení DIN a DOUT") +
                         "=0\r\n" + Cp(u8"Ustálení 500mV [us]") + "=5\r\n[Konverze souboru]\r\n" + dir +
                         "=C:\\Data\r\nTyp souboru='bin'\r\n",
                     {{"Volba modulu", Cp(u8"Výrobní číslo")},
                      {timer, count},
                      {timer, "Perioda [us]"},
                      {timer, preset},
                      {timer, Cp(u8"Povolení DIN a DOUT")},
                      {timer, Cp(u8"Ustálení 500mV [us]")},
                      {"Konverze souboru", dir},
                      {"Konverze souboru", "Typ souboru"}},
                     false,
                     {{Cp(u8"MĚŘENÍ ČASOVAČEM"), Cp(u8"počet kanálů"), timer, count},
                      {timer, Cp(u8"PŘEDNASTAVENÍ CNT0"), timer, preset},
                      {"KONVERZE SOUBORU", Cp(u8"ADRESÁŘ"), "Konverze souboru", dir}}});
    }
    return c;
}

std::string SystemLookup(const std::string& path, const std::string& sec, const std::string& key, const char* def) {
    std::vector<char> buf(2048 + 16, '\x7F');
    DWORD n = GetPrivateProfileStringA(sec.c_str(), key.c_str(), def, buf.data(), 2048, path.c_str());
    return std::string(buf.data(), n);
}

TEST(IniPeer, ReaderAgreesWithGetPrivateProfileStringA) {
    const bool cp1250 = GetACP() == 1250;
    char cwd[MAX_PATH] = {0};
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    const char* def = "@default@";
    int compared = 0, skipped = 0, index = 0, systemMissedFold = 0, foldedTotal = 0;
    std::vector<Case> corpus = Corpus();
    ASSERT_GE(corpus.size(), 30u);
    for (const Case& c : corpus) {
        std::string path = std::string(cwd) + "\\ini_peer_" + std::to_string(GetCurrentProcessId()) + "_" + RunToken() + "_" +
                           std::to_string(index++) + ".ini";
        {
            std::ofstream out(path, std::ios::binary);
            out << c.bytes;
        }
        ini::IniFile ours;
        ASSERT_TRUE(ini::IniFile::Load(path, ours)) << c.name;
        std::vector<std::pair<std::string, std::string>> all;
        for (const auto& [s, k] : c.lookups) {
            all.push_back({s, k});
            all.push_back({Upper(s), Lower(k)});
            all.push_back({" " + Lower(s) + "\t", "  " + Upper(k) + " "});
        }
        for (const auto& [s, k] : all) {
            if (c.needs1250 && !cp1250) {
                ++skipped;
                continue;
            }
            std::string expected = SystemLookup(path, s, k, def);
            std::string got = ours.Get(s, k, def);
            ++compared;
            EXPECT_EQ(got, expected) << c.name << ": [" << text::Cp1250ToUtf8(s) << "] " << text::Cp1250ToUtf8(k)
                                     << " (lengths " << got.size() << ", " << expected.size() << ")";
        }
        for (const Folded& f : c.folded) {
            if (c.needs1250 && !cp1250) {
                ++skipped;
                continue;
            }
            std::string expected = SystemLookup(path, f.fileSection, f.fileKey, def);
            ASSERT_NE(expected, def) << c.name;
            ++compared;
            ++foldedTotal;
            EXPECT_EQ(ours.Get(f.section, f.key, def), expected) << c.name << ": [" << text::Cp1250ToUtf8(f.section) << "] "
                                                               << text::Cp1250ToUtf8(f.key);
            if (SystemLookup(path, f.section, f.key, def) != expected) ++systemMissedFold;
        }
        std::remove(path.c_str());
    }
    std::printf("code page %u: %d lookups compared, %d skipped (letters of cp1250 only); "
                "asked with non-ASCII letters in another case, the system itself missed %d of %d keys\n",
                GetACP(), compared, skipped, systemMissedFold, foldedTotal);
}


// Cases where wine is known to read differently from Windows: the reader must give the
// Windows answer; what the system under test answers is printed, not judged.
TEST(IniPeer, KnownDifferencesFollowWindows) {
    struct Known {
        const char* what;
        std::string bytes, section, key, windows;
    };
    const char* def = "@default@";
    const Known cases[] = {
        {"name ends at the first ]", "[A]B]\r\nk=1\r\n", "A", "k", "1"},
        {"section line without ]", "[S]\r\nk=1\r\n[T\r\nk=2\r\n", "T", "k", "2"},
        {"keys before the first section", "k=1\r\n[S]\r\n", "", "k", def},
        {"line without = before the key", "[S]\r\nk\r\nk=1\r\n", "S", "k", "1"},
        {"UTF-8 with mark", "\xEF\xBB\xBF[S]\r\nk=\xC5\xBE\r\n", "S", "k", Cp(u8"ž")},
        {"non-ASCII case", "[" + Cp(u8"Výrobní") + "]\r\nk=1\r\n", Cp(u8"VÝROBNÍ"), "k", "1"},
    };
    char cwd[MAX_PATH] = {0};
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    int index = 0;
    for (const Known& c : cases) {
        std::string path = std::string(cwd) + "\\ini_known_" + std::to_string(GetCurrentProcessId()) + "_" + RunToken() + "_" +
                           std::to_string(index++) + ".ini";
        std::ofstream(path, std::ios::binary) << c.bytes;
        ini::IniFile ours;
        ASSERT_TRUE(ini::IniFile::Load(path, ours));
        EXPECT_EQ(ours.Get(c.section, c.key, def), c.windows) << c.what;
        std::string system = SystemLookup(path, c.section, c.key, def);
        std::printf("%-32s reader \"%s\", system \"%s\"\n", c.what, text::Cp1250ToUtf8(ours.Get(c.section, c.key, def)).c_str(),
                    text::Cp1250ToUtf8(system).c_str());
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace zelk
