#include "config/param_file.h"

#include <new>
#include <optional>
#include <string_view>

#include "config/ini_reader.h"
#include "config/path_parts.h"
#include "config/status_texts.h"
#include "config/text.h"
#include "core/Pomocny.h"
#include "platform/platform.h"
#include "zelk2716e.h"

namespace zelk {

namespace {

const char* const kSecModule = "Volba modulu"_cp;
const char* const kSecLog = "Logovací soubor"_cp;
const char* const kSecTimer = "Měření časovačem"_cp;
const char* const kSecConv = "Konverze souboru"_cp;
const char* const kKeyConstA = "Konstanta A";
const char* const kKeyConstB = "Konstanta B";
const char* const kKeyLogSize = "Maximální velikost [MB]"_cp;
constexpr int kMegabyteShift = 20;  // 1 MB = 1 048 576 bytes
const char* const kPrefix = "Chyba parametrického souboru - "_cp;
// Read in place of a missing serial number; a file holding this very text fails too.
const char* const kNoSerial = "jkl";

void ReadText(const ini::IniFile& f, const char* sec, const char* key, std::string& field) {
    if (auto v = f.Find(sec, key)) field = *v;
}

// A value that is not a whole number keeps the field as it was.
template <typename T>
void ReadInteger(const ini::IniFile& f, const std::string& sec, const char* key, T& field) {
    int32_t v = 0;
    if (auto text = f.Find(sec, key); text && ParseIntegerText(*text, v)) field = static_cast<T>(v);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool Read(const char* path, TCFG& cfg, std::string& message) {
    message = StatusTexts[4];
    if (path == nullptr) return false;

    // 1. A bare file name is looked for beside the host's executable.
    std::string fullPath = path;
    if (!plat::HasDirectoryPart(fullPath)) fullPath = plat::ExecutableDirectory() + fullPath;
    ini::IniFile f;
    if (!ini::IniFile::Load(fullPath, f)) return false;

    // 2. The serial number must be there.
    std::string serial = f.Get(kSecModule, "Výrobní číslo"_cp, kNoSerial);
    if (serial == kNoSerial) return false;
    cfg.ModuleSerial = serial;

    // 3. Every key, with the current value as its default.
    ReadInteger(f, kSecModule, "USB timeout", cfg.UsbTimeout);
    ReadInteger(f, kSecLog, "Úroveň"_cp, cfg.LogLevel);
    ReadText(f, kSecLog, "Název souboru"_cp, cfg.LogFileName);
    // A missing key or one that is not a whole number keeps the bound as it was.
    std::optional<int32_t> logSizeMb;
    int32_t sizeValue = 0;
    if (auto text = f.Find(kSecLog, kKeyLogSize); text && ParseIntegerText(*text, sizeValue)) logSizeMb = sizeValue;
    std::string constA[kAnalogCount], constB[kAnalogCount];
    for (int n = 0; n < kAnalogCount; ++n) {
        const std::string sec = "Analogový kanál "_cp + std::to_string(n);
        ReadText(f, sec.c_str(), "Název "_cp, cfg.ChannelName[n]);
        ReadInteger(f, sec, "Vstup ", cfg.ChannelInput[n]);
        ReadText(f, sec.c_str(), "Rozsah ", cfg.ChannelRangeName[n]);
        constA[n] = f.Get(sec, kKeyConstA, "1.0");
        constB[n] = f.Get(sec, kKeyConstB, "0.0");
    }
    ReadInteger(f, kSecTimer, "Počet kanálů"_cp, cfg.TimerChannels);
    ReadText(f, kSecTimer, "Perioda [us]", cfg.TimerPeriodText);
    ReadInteger(f, kSecTimer, "Přednastavení CNT0"_cp, cfg.TimerCnt0Preset);
    ReadInteger(f, kSecTimer, "Povolení CNT0"_cp, cfg.TimerCnt0Enable);
    ReadInteger(f, kSecTimer, "Přednastavení CNT1"_cp, cfg.TimerCnt1Preset);
    ReadInteger(f, kSecTimer, "Povolení CNT1"_cp, cfg.TimerCnt1Enable);
    ReadInteger(f, kSecTimer, "Povolení DIN a DOUT"_cp, cfg.TimerDioEnable);
    static const char* const kSettleKeys[kSettleCount] = {
        "Ustálení 10V [us]"_cp, "Ustálení 5V [us]"_cp,    "Ustálení 2V [us]"_cp,
        "Ustálení 1V [us]"_cp,  "Ustálení 500mV [us]"_cp, "Ustálení 200mV [us]"_cp,
    };
    for (int i = 0; i < kSettleCount; ++i) ReadInteger(f, kSecTimer, kSettleKeys[i], cfg.TimerSettle[i]);
    ReadText(f, kSecConv, "Typ souboru", cfg.ConvFileTypeName);
    ReadText(f, kSecConv, "Adresář"_cp, cfg.ConvDirectory);

    // 4.-8. Module and log settings.
    if (cfg.UsbTimeout < 1 || cfg.UsbTimeout > 10000) {
        message = kPrefix + std::string("Volba modulu / USB timeout = ") + std::to_string(cfg.UsbTimeout) + ".";
        return false;
    }
    if (cfg.LogLevel < 0 || cfg.LogLevel > 3) {
        message = kPrefix + std::string("Logovací soubor / Úroveň = "_cp) + std::to_string(cfg.LogLevel) + ".";
        return false;
    }
    if (logSizeMb) {
        if (*logSizeMb < 0) {
            message = kPrefix + std::string(kSecLog) + " / " + kKeyLogSize + " = " + std::to_string(*logSizeMb) + ".";
            return false;
        }
        cfg.LogSizeLimit = static_cast<uint64_t>(*logSizeMb) << kMegabyteShift;
    }
    const std::string nameMessage = kPrefix + std::string("Logovací soubor / Název souboru = "_cp);
    if (cfg.LogLevel >= 1) {
        if (cfg.LogFileName.size() < 3) {
            message = nameMessage + cfg.LogFileName + ".";
            return false;
        }
        // A name without a directory part is opened in the current directory: nothing to create.
        size_t dirLength = cfgpath::DirectoryPartLength(cfg.LogFileName);
        if (dirLength > 0) {
            std::string dir = cfg.LogFileName.substr(0, dirLength);
            if (!plat::DirectoryExists(dir) && !plat::CreateDirectories(dir)) {
                message = nameMessage + Quoted(dir) + " - adresář nelze vytvořit"_cp;
                return false;
            }
        }
    }

    // 9.-10. Analog channels: constants in channel order, then the range codes.
    for (int n = 0; n < kAnalogCount; ++n) {
        const std::string channel = kPrefix + std::string("Analogový kanál "_cp) + std::to_string(n) + " / ";
        if (!ParseRealText(constA[n], cfg.ChannelConstA[n])) {
            message = channel + kKeyConstA + " = " + constA[n] + ".";
            return false;
        }
        if (!ParseRealText(constB[n], cfg.ChannelConstB[n])) {
            message = channel + kKeyConstB + " = " + constB[n] + ".";
            return false;
        }
    }
    for (int n = 0; n < kAnalogCount; ++n) cfg.ChannelRange[n] = RangeCodeOf(cfg.ChannelRangeName[n]);

    // 11. Timer period.
    if (!ParseRealText(cfg.TimerPeriodText, cfg.TimerPeriod)) {
        message = kPrefix + std::string("Měření časovačem / Perioda [us] = "_cp) + cfg.TimerPeriodText + ".";
        return false;
    }

    // 12.-13. Conversion.
    std::string type = cfg.ConvFileTypeName;
    for (char& c : type)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (type != "BIN" && type != "DBF") {
        message = kPrefix + std::string("Konverze souboru / Typ souboru = ") + cfg.ConvFileTypeName + ".";
        return false;
    }
    cfg.ConvFileTypeName = type;
    cfg.ConvFileType = type == "DBF" ? 1 : 0;
    cfg.ConvDirectory = cfgpath::WithTrailingSeparator(cfg.ConvDirectory);

    // 14.-15.
    for (int ch = ZELK_CH_DEVICE_FAULT; ch <= ZELK_CH_DEVICE_TEXT; ++ch) cfg.ChannelName[ch] = "Status zařízení"_cp;
    message = StatusTexts[0];
    return true;
}

}  // namespace

bool ReadParameterFile(const char* path, TCFG& cfg, std::string& message) {
    try {
        return Read(path, cfg, message);
    } catch (...) {
        // Out of memory on an absurd file: the file is not usable.
        try {
            message = StatusTexts[4];
        } catch (...) {
        }
        return false;
    }
}

}  // namespace zelk
