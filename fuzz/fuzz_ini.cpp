// Fuzz target: the INI reader and the parameter-file checks. The input is a whole file.
// Besides the sanitizers it checks what a caller relies on: no value longer than the
// reader's limit, name folding that is stable, and a file that passes the checks leaves
// every checked setting inside its allowed range.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "config/ini_reader.h"
#include "config/param_file.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "fuzz_check.h"
#include "fuzz_work_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace zelk;

fs::path g_dir;

// The sections and keys the parameter file reads, so that lookups hit what the input parsed.
const std::pair<const char*, const char*> kLookups[] = {
    {"Volba modulu", "Výrobní číslo"_cp},
    {"Volba modulu", "USB timeout"},
    {"Logovací soubor"_cp, "Úroveň"_cp},
    {"Logovací soubor"_cp, "Název souboru"_cp},
    {"Analogový kanál 0"_cp, "Konstanta A"},
    {"Analogový kanál 15"_cp, "Rozsah "},
    {"Měření časovačem"_cp, "Perioda [us]"},
    {"Měření časovačem"_cp, "Povolení CNT0"_cp},
    {"Konverze souboru", "Typ souboru"},
    {"Konverze souboru", "Adresář"_cp},
};

// The log file name of an accepted file becomes a directory that the checks create. Inputs
// naming a place outside the fuzzer's own folder are left to the reader alone.
bool StaysInWorkFolder(const ini::IniFile& f) {
    const auto name = f.Find("Logovací soubor"_cp, "Název souboru"_cp);
    if (!name) return true;
    return name->find("..") == std::string::npos && (name->empty() || (*name)[0] != '/');
}

void CheckNumberTexts(std::string_view bytes) {
    size_t pos = 0;
    for (int lines = 0; pos < bytes.size() && lines < 64; ++lines) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string line(bytes.substr(pos, end - pos));
        int32_t i = 12345;
        if (!ParseIntegerText(line, i)) FUZZ_CHECK(i == 12345);  // a refused text leaves the value
        double r = 0.0;
        ParseRealText(line, r);
        FUZZ_CHECK(RangeCodeOf(line) <= 5);
        pos = end + 1;
    }
}

void CheckParameterFile(std::string_view bytes) {
    const std::string path = (g_dir / "p.ini").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    TCFG cfg;
    SetConfigDefaults(cfg);
    std::string message;
    const bool ok = ReadParameterFile(path.c_str(), cfg, message);
    FUZZ_CHECK(!message.empty());
    if (!ok) {
        FUZZ_CHECK(message != StatusTexts[0]);
        return;
    }
    FUZZ_CHECK(message == StatusTexts[0]);
    FUZZ_CHECK(cfg.UsbTimeout >= 1 && cfg.UsbTimeout <= 10000);
    FUZZ_CHECK(cfg.LogLevel >= 0 && cfg.LogLevel <= 3);
    FUZZ_CHECK(cfg.LogLevel == 0 || cfg.LogFileName.size() >= 3);
    FUZZ_CHECK(cfg.ConvFileType == 0 || cfg.ConvFileType == 1);
    FUZZ_CHECK(cfg.ConvFileTypeName == (cfg.ConvFileType == 1 ? "DBF" : "BIN"));
    for (int n = 0; n < kAnalogCount; ++n) FUZZ_CHECK(cfg.ChannelRange[n] <= 5);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A private working folder: relative log folders that an input names are created here.
    g_dir = FuzzWorkFolder("zelk_fuzz_ini");
    fs::create_directories(g_dir);
    fs::current_path(g_dir);
    std::atexit([] {
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
        fs::remove_all(g_dir, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const ini::IniFile f = ini::IniFile::Parse(bytes);
    for (const auto& [section, key] : kLookups) {
        const auto v = f.Find(section, key);
        if (v) FUZZ_CHECK(v->size() <= ini::kMaxValueLength);
        FUZZ_CHECK(f.Get(section, key, "?") == (v ? *v : std::string("?")));
    }
    const std::string folded = ini::NameKey(bytes);
    FUZZ_CHECK(ini::NameKey(folded) == folded);
    for (size_t i = 0; i < size && i < 16; ++i) {
        const unsigned char c = ini::FoldCp1250(data[i]);
        FUZZ_CHECK(ini::FoldCp1250(c) == c);
    }
    ini::ToCp1250(bytes);
    CheckNumberTexts(bytes);

    if (StaysInWorkFolder(f)) CheckParameterFile(bytes);
    return 0;
}
