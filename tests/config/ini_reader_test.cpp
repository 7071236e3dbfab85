#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "config/ini_reader.h"
#include "domain/text.h"
#include "test_util.h"

namespace zelk::ini {
namespace {

struct Lookup {
    const char* what;
    std::string file;
    std::string section;
    std::string key;
    std::optional<std::string> expected;  // nothing: the default is returned
};

const std::optional<std::string> kAbsent;

TEST(IniReader, LookupsFollowTheProfileReaderRules) {
    const Lookup cases[] = {
        {"plain", "[S]\r\nk=v\r\n", "S", "k", "v"},
        {"section and key without case", "[Sekce]\nKlic=1\n", "SEKCE", "kLIC", "1"},
        {"cp1250 letters fold", "[Volba modulu]\n" + Cp(u8"Výrobní číslo") + "=12\n", "VOLBA MODULU",
         Cp(u8"VÝROBNÍ ČÍSLO"), "12"},
        {"folding covers Ť Ž Ś Ź Ľ Ą Ł", "[" + Cp(u8"ťžśźľął") + "]\nk=1\n", Cp(u8"ŤŽŚŹĽĄŁ"), "K", "1"},
        {"blanks in the brackets", "[ Volba modulu ]\nk=1\n", "Volba modulu", "k", "1"},
        {"blanks around the asked names", "[S]\nk=1\n", "  S\t", " k ", "1"},
        {"blanks around key and value", "[S]\n\t k \t=  a b  \n", "S", "k", "a b"},
        {"Ctrl-Z and other blanks trimmed", "[S]\n\x1A\vk\f=\x1Av\x1A\n", "S", "k", "v"},
        {"no-break space is not a blank", "[S]\nk=\xA0v\n", "S", "k", "\xA0v"},
        {"key with trailing blank in the file", "[S]\nVstup =7\n", "S", "Vstup", "7"},
        {"asked key with trailing blank", "[S]\nVstup=7\n", "S", "Vstup ", "7"},
        {"section ends at first ]", "[A]B]\nk=1\n", "A", "k", "1"},
        {"text after ] is ignored", "[A] ; comment\nk=1\n", "A", "k", "1"},
        {"double quotes removed", "[S]\nk=\" a \"\n", "S", "k", " a "},
        {"single quotes removed", "[S]\nk='x'\n", "S", "k", "x"},
        {"mixed quotes kept", "[S]\nk='x\"\n", "S", "k", "'x\""},
        {"only one pair removed", "[S]\nk=\"\"x\"\"\n", "S", "k", "\"x\""},
        {"lone quote kept", "[S]\nk=\"\n", "S", "k", "\""},
        {"empty quotes give empty", "[S]\nk=\"\"\n", "S", "k", ""},
        {"quote inside kept", "[S]\nk=a\"b\"\n", "S", "k", "a\"b\""},
        {"comment line", "[S]\n;k=1\nk=2\n", "S", "k", "2"},
        {"indented comment", "[S]\n   ;k=1\n", "S", "k", kAbsent},
        {"hash is not a comment", "[S]\n#k=1\n", "S", "#k", "1"},
        {"no end of line comment", "[S]\nk=1 ; one\n", "S", "k", "1 ; one"},
        {"first duplicate key wins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
        {"repeated section adds nothing", "[S]\na=1\n[T]\n[s]\na=2\nb=3\n", "S", "a", "1"},
        {"repeated section's new key is not seen", "[S]\na=1\n[T]\n[s]\nb=3\n", "S", "b", kAbsent},
        {"keys before the first section ignored", "k=1\n[S]\n", "", "k", kAbsent},
        {"line without = ignored", "[S]\nk\nk=2\n", "S", "k", "2"},
        {"empty value is a value", "[S]\nk=\n", "S", "k", ""},
        {"missing key", "[S]\na=1\n", "S", "b", kAbsent},
        {"missing section", "[S]\na=1\n", "T", "a", kAbsent},
        {"LF only", "[S]\na=1\nb=2", "S", "b", "2"},
        {"CR only", "[S]\ra=1\rb=2\r", "S", "b", "2"},
        {"CR LF, no CR left in value", "[S]\r\na=1\r\n", "S", "a", "1"},
        {"equals sign in value", "[S]\nk=a=b\n", "S", "k", "a=b"},
        {"section without ] names the rest", "[S]\na=1\n[T\na=2\n", "T", "a", "2"},
        {"zero byte ends the value", std::string("[S]\nk=ab\0cd\n", 12), "S", "k", "ab"},
        {"UTF-8 with BOM is converted", "\xEF\xBB\xBF[Volba modulu]\n" + std::string(U8(u8"Výrobní číslo=č")) + "\n",
         "Volba modulu", Cp(u8"Výrobní číslo"), Cp(u8"č")},
        {"UTF-8 without BOM is converted", "[" + std::string(U8(u8"Měření")) + "]\nk=1\n", Cp(u8"MĚŘENÍ"), "k", "1"},
        {"cp1250 file read as is", "[" + Cp(u8"Měření") + "]\nk=" + Cp(u8"č") + "\n", Cp(u8"měření"), "k", Cp(u8"č")},
        {"ASCII BOM file", "\xEF\xBB\xBF[S]\nk=1\n", "S", "k", "1"},
    };
    for (const Lookup& c : cases) {
        IniFile f = IniFile::Parse(c.file);
        EXPECT_EQ(f.Find(c.section, c.key), c.expected) << c.what;
    }
}

TEST(IniReader, Utf16LittleEndianWithMarkIsConverted) {
    std::u16string text = u"[Měření časovačem]\r\nPerioda [us]=\"12,5\"\r\nž=Ž\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    IniFile f = IniFile::Parse(bytes);
    EXPECT_EQ(f.Find(Cp(u8"MĚŘENÍ ČASOVAČEM"), "perioda [US]"), "12,5");
    EXPECT_EQ(f.Find(Cp(u8"Měření časovačem"), Cp(u8"Ž")), Cp(u8"Ž"));
}

TEST(IniReader, ValuesAreCutTo2047Characters) {
    for (size_t length : {2046u, 2047u, 2048u, 70000u}) {
        std::string value(length, 'x');
        value[0] = 'a';
        IniFile f = IniFile::Parse("[S]\nk=" + value + "\nnext=1\n");
        std::string expected = value.substr(0, std::min<size_t>(length, kMaxValueLength));
        EXPECT_EQ(f.Find("S", "k"), expected) << length;
        EXPECT_EQ(f.Find("S", "next"), "1") << length;
    }
    // The quotes are removed before the cut, so 2047 quoted characters survive whole.
    std::string quoted(2047, 'q');
    EXPECT_EQ(IniFile::Parse("[S]\nk=\"" + quoted + "\"\n").Find("S", "k"), quoted);
}

TEST(IniReader, Cp1250TextThatIsNotUtf8StaysUntouched) {
    // "Úroveň" in cp1250 is not valid UTF-8; a UTF-8 looking pair must not be altered either
    // when the whole file is not valid UTF-8.
    std::string file = "[" + Cp(u8"Logovací soubor") + "]\n" + Cp(u8"Úroveň") + "=2\nx=\xC3\xA1\n";
    IniFile f = IniFile::Parse(file);
    EXPECT_EQ(f.Find(Cp(u8"LOGOVACÍ SOUBOR"), Cp(u8"úroveň")), "2");
    EXPECT_EQ(f.Find(Cp(u8"Logovací soubor"), "x"), "\xC3\xA1");
}

TEST(IniReader, FoldingMapsOnlyLetterPairs) {
    EXPECT_EQ(FoldCp1250('A'), 'a');
    EXPECT_EQ(FoldCp1250('['), '[');
    EXPECT_EQ(FoldCp1250(0xC8), 0xE8);  // Č č
    EXPECT_EQ(FoldCp1250(0x8A), 0x9A);  // Š š
    EXPECT_EQ(FoldCp1250(0xA3), 0xB3);  // Ł ł
    EXPECT_EQ(FoldCp1250(0xBC), 0xBE);  // Ľ ľ
    EXPECT_EQ(FoldCp1250(0xD7), 0xD7);  // ×
    EXPECT_EQ(FoldCp1250(0xDF), 0xDF);  // ß
    EXPECT_EQ(FoldCp1250(0x98), 0x98);  // no character
    for (int b = 0; b < 256; ++b) EXPECT_EQ(FoldCp1250(FoldCp1250(static_cast<unsigned char>(b))), FoldCp1250(static_cast<unsigned char>(b)));
}

TEST(IniReader, LoadFailsForAMissingFile) {
    IniFile f;
    EXPECT_FALSE(IniFile::Load("/nonexistent-dir-zelk/none.ini", f));
    EXPECT_FALSE(f.Find("S", "k").has_value());
}

}  // namespace
}  // namespace zelk::ini
