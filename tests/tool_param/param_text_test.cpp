// The tool's parameter-file writer: it changes one value, keeps every other line and the
// file's encoding, and what it writes is what the driver's reader reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/ini_reader.h"
#include "domain/text.h"
#include "param_file.h"

namespace zelk::tool {
namespace {

namespace fs = std::filesystem;

class ParamTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zelk-param-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& bytes) {
        const std::string path = (dir_ / "p.ini").string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Loads the bytes, sets one value, and returns the bytes the writer gives back.
    std::string Edit(const std::string& bytes, const std::string& section, const std::string& key,
                     const std::string& value, ParamText::Encoding* encoding = nullptr) {
        std::string error;
        auto p = ParamText::Load(Write(bytes), &error);
        EXPECT_TRUE(p) << error;
        if (!p) return {};
        p->Set(section, key, value);
        if (encoding) *encoding = p->FileEncoding();
        return p->Bytes();
    }
    static std::string Read(const std::string& bytes, const std::string& sectionUtf8, const std::string& keyUtf8) {
        return ini::IniFile::Parse(bytes)
            .Get(text::Utf8ToCp1250(sectionUtf8), text::Utf8ToCp1250(keyUtf8), "(absent)");
    }

    fs::path dir_;
};

TEST_F(ParamTextTest, ChangesOneValueAndKeepsEveryOtherLine) {
    const std::string file = "; komentář\n[Měření časovačem]\nPOČET KANÁLŮ = 8 ; not a comment\nPerioda [us]=1000\n";
    struct Case {
        const char* section;
        const char* key;
        std::string expected;  // the UTF-8 text after the edit
    } cases[] = {
        // Czech upper case and blanks around the name match as the driver matches them.
        {"Měření časovačem", "Počet kanálů",
         "; komentář\n[Měření časovačem]\nPOČET KANÁLŮ =4\nPerioda [us]=1000\n"},
        // A key that is absent goes after the section's last line, with the file's line ends.
        {"Měření časovačem", "Povolení CNT0",
         "; komentář\n[Měření časovačem]\nPOČET KANÁLŮ = 8 ; not a comment\nPerioda [us]=1000\nPovolení CNT0=4\n"},
        // A section that is absent is added at the end.
        {"Konverze souboru", "Typ souboru",
         file + "\n[Konverze souboru]\nTyp souboru=4\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(Edit(file, c.section, c.key, "4"), c.expected);
        EXPECT_EQ(Read(Edit(file, c.section, c.key, "4"), c.section, c.key), "4");
    }
}

TEST_F(ParamTextTest, OnlyTheFirstOfRepeatedSectionsCountsAsForTheReader) {
    const std::string file = "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n";
    const std::string edited = Edit(file, "A", "y", "3");
    EXPECT_EQ(edited, "[A]\r\nx=1\r\ny=3\r\n[B]\r\n[a]\r\ny=2\r\n");
    EXPECT_EQ(Read(edited, "A", "y"), "3");
    // The last line without a line break gets one before a key is added after it.
    EXPECT_EQ(Edit("[A]\r\nx=1", "A", "y", "3"), "[A]\r\nx=1\r\ny=3\r\n");
}

TEST_F(ParamTextTest, KeepsTheEncodingOfTheFile) {
    const std::string utf8 = "[Volba modulu]\r\nVýrobní číslo=12000001\r\n[Konverze souboru]\r\nAdresář=\r\n";
    auto utf16 = [](const std::string& s, bool bigEndian) {
        std::u16string u;
        for (char c : text::Utf8ToCp1250(s)) u += text::Cp1250ToUtf16(std::string(1, c));
        std::string b = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t c : u) {
            const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
            b += bigEndian ? hi : lo;
            b += bigEndian ? lo : hi;
        }
        return b;
    };
    const std::string value = "C:\\Data\\Měření";
    const std::string edited = std::string(utf8).replace(utf8.find("Adresář=") + std::string("Adresář=").size(), 0, value);
    struct Case {
        std::string bytes, expected;
        ParamText::Encoding encoding;
    } cases[] = {
        {text::Utf8ToCp1250(utf8), text::Utf8ToCp1250(edited), ParamText::Encoding::Cp1250},
        {utf8, edited, ParamText::Encoding::Utf8},
        {"\xEF\xBB\xBF" + utf8, "\xEF\xBB\xBF" + edited, ParamText::Encoding::Utf8Bom},
        {utf16(utf8, false), utf16(edited, false), ParamText::Encoding::Utf16Le},
        {utf16(utf8, true), utf16(edited, true), ParamText::Encoding::Utf16Be},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.encoding));
        ParamText::Encoding encoding{};
        const std::string out = Edit(c.bytes, "Konverze souboru", "Adresář", value, &encoding);
        EXPECT_EQ(encoding, c.encoding);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(Read(out, "Konverze souboru", "Adresář"), text::Utf8ToCp1250(value));
        EXPECT_EQ(Read(out, "Volba modulu", "Výrobní číslo"), "12000001");
    }
}

}  // namespace
}  // namespace zelk::tool
