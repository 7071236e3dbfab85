#include "config/param_file.h"

#include <new>
#include <optional>
#include <string_view>

#include "config/ini_reader.h"
#include "config/param_keys.h"
#include "platform/path_parts.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "config/TCFG.h"
#include "platform/platform.h"
#include "zelk2716e.h"

namespace zelk {

namespace {

using param::KeyId;
using param::NameOf;
using param::SectionOf;
using param::WhereOf;
constexpr int kMegabyteShift = 20;  // 1 MB = 1 048 576 bytes
const char* const kPrefix = "Chyba parametrického souboru - "_cp;
// Read in place of a missing serial number; a file holding this very text fails too.
const char* const kNoSerial = "jkl";

// Names and sections come from the key table, which the tool's check of a parameter file reads too.
void ReadText(const ini::IniFile& f, KeyId id, std::string& field, int channel = 0) {
    if (auto v = f.Find(SectionOf(id, channel), NameOf(id))) field = *v;
}

// A value that is not a whole number keeps the field as it was.
template <typename T>
void ReadInteger(const ini::IniFile& f, KeyId id, T& field, int channel = 0) {
    int32_t v = 0;
    if (auto text = f.Find(SectionOf(id, channel), NameOf(id)); text && ParseIntegerText(*text, v))
        field = static_cast<T>(v);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool Read(const char* path, TCFG& cfg, std::string& message) {
    message = StatusText(Status::ParameterFile);
    if (path == nullptr) return false;

    // 1. A bare file name is looked for beside the host's executable.
    std::string fullPath = path;
    if (!plat::HasDirectoryPart(fullPath)) fullPath = plat::ExecutableDirectory() + fullPath;
    ini::IniFile f;
    if (!ini::IniFile::Load(fullPath, f)) return false;

    // 2. The serial number must be there.
    std::string serial = f.Get(SectionOf(KeyId::Serial), NameOf(KeyId::Serial), kNoSerial);
    if (serial == kNoSerial) return false;
    cfg.ModuleSerial = serial;

    // 3. Every key, with the current value as its default.
    ReadInteger(f, KeyId::UsbTimeout, cfg.UsbTimeout);
    ReadInteger(f, KeyId::LogLevel, cfg.LogLevel);
    ReadText(f, KeyId::LogFile, cfg.LogFileName);
    // A missing key or one that is not a whole number keeps the bound as it was.
    std::optional<int32_t> logSizeMb;
    int32_t sizeValue = 0;
    if (auto text = f.Find(SectionOf(KeyId::LogSize), NameOf(KeyId::LogSize)); text && ParseIntegerText(*text, sizeValue))
        logSizeMb = sizeValue;
    std::string constA[kAnalogCount], constB[kAnalogCount];
    for (int n = 0; n < kAnalogCount; ++n) {
        ReadText(f, KeyId::ChannelName, cfg.ChannelName[n], n);
        ReadInteger(f, KeyId::ChannelInput, cfg.ChannelInput[n], n);
        ReadText(f, KeyId::ChannelRange, cfg.ChannelRangeName[n], n);
        constA[n] = f.Get(SectionOf(KeyId::ChannelConstA, n), NameOf(KeyId::ChannelConstA), "1.0");
        constB[n] = f.Get(SectionOf(KeyId::ChannelConstB, n), NameOf(KeyId::ChannelConstB), "0.0");
    }
    TimerSettings& t = cfg.Timer;
    ReadInteger(f, KeyId::TimerChannels, t.TimerChannelCount);
    ReadText(f, KeyId::TimerPeriod, cfg.TimerPeriodText);
    ReadInteger(f, KeyId::Cnt0Preset, t.Cnt0Preset);
    ReadInteger(f, KeyId::Cnt0Enable, t.Cnt0Enable);
    ReadInteger(f, KeyId::Cnt1Preset, t.Cnt1Preset);
    ReadInteger(f, KeyId::Cnt1Enable, t.Cnt1Enable);
    ReadInteger(f, KeyId::DinDoutEnable, t.DinDoutEnable);
    for (int i = 0; i < kSettleCount; ++i)
        ReadInteger(f, static_cast<KeyId>(static_cast<int>(KeyId::Settle10V) + i), t.SettleTime[i]);
    ReadText(f, KeyId::FileType, cfg.ConvFileTypeName);
    ReadText(f, KeyId::Directory, cfg.ConvDirectory);

    // 4.-8. Module and log settings.
    if (cfg.UsbTimeout < 1 || cfg.UsbTimeout > 10000) {
        message = kPrefix + WhereOf(KeyId::UsbTimeout) + " = " + std::to_string(cfg.UsbTimeout) + ".";
        return false;
    }
    if (cfg.LogLevel < 0 || cfg.LogLevel > 3) {
        message = kPrefix + WhereOf(KeyId::LogLevel) + " = " + std::to_string(cfg.LogLevel) + ".";
        return false;
    }
    if (logSizeMb) {
        if (*logSizeMb < 0) {
            message = kPrefix + WhereOf(KeyId::LogSize) + " = " + std::to_string(*logSizeMb) + ".";
            return false;
        }
        cfg.LogSizeLimit = static_cast<uint64_t>(*logSizeMb) << kMegabyteShift;
    }
    const std::string nameMessage = kPrefix + WhereOf(KeyId::LogFile) + " = ";
    if (cfg.LogLevel >= 1) {
        // A name must be one the file system can be given: every character in cp1250.
        if (cfg.LogFileName.size() < 3 || f.LostCharacters(SectionOf(KeyId::LogFile), NameOf(KeyId::LogFile))) {
            message = nameMessage + cfg.LogFileName + ".";
            return false;
        }
        // A name without a directory part is opened in the current directory: nothing to create.
        size_t dirLength = plat::DirectoryPartLength(cfg.LogFileName);
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
        if (!ParseRealText(constA[n], cfg.ChannelConstA[n])) {
            message = kPrefix + WhereOf(KeyId::ChannelConstA, n) + " = " + constA[n] + ".";
            return false;
        }
        if (!ParseRealText(constB[n], cfg.ChannelConstB[n])) {
            message = kPrefix + WhereOf(KeyId::ChannelConstB, n) + " = " + constB[n] + ".";
            return false;
        }
    }
    for (int n = 0; n < kAnalogCount; ++n) cfg.ChannelRange[n] = RangeCodeOf(cfg.ChannelRangeName[n]);

    // 11. Timer period.
    if (!ParseRealText(cfg.TimerPeriodText, cfg.Timer.TimerPeriodUs)) {
        message = kPrefix + WhereOf(KeyId::TimerPeriod) + " = " + cfg.TimerPeriodText + ".";
        return false;
    }

    // 12. Conversion.
    std::string type = cfg.ConvFileTypeName;
    for (char& c : type)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (type != "BIN" && type != "DBF") {
        message = kPrefix + WhereOf(KeyId::FileType) + " = " + cfg.ConvFileTypeName + ".";
        return false;
    }
    cfg.ConvFileTypeName = type;
    cfg.ConvFileType = type == "DBF" ? 1 : 0;

    // 13.-14. The record folder.
    if (f.LostCharacters(SectionOf(KeyId::Directory), NameOf(KeyId::Directory))) {
        message = kPrefix + WhereOf(KeyId::Directory) + " = " + cfg.ConvDirectory + ".";
        return false;
    }
    cfg.ConvDirectory = plat::WithTrailingSeparator(cfg.ConvDirectory);

    // 15.-16.
    for (int ch = ZELK_CH_DEVICE_FAULT; ch <= ZELK_CH_DEVICE_TEXT; ++ch) cfg.ChannelName[ch] = "Status zařízení"_cp;
    message = StatusText(Status::Ok);
    return true;
}

}  // namespace

bool ReadParameterFile(const char* path, TCFG& cfg, std::string& message) {
    try {
        return Read(path, cfg, message);
    } catch (...) {
        // Out of memory on an absurd file: the file is not usable.
        try {
            message = StatusText(Status::ParameterFile);
        } catch (...) {
        }
        return false;
    }
}

}  // namespace zelk
