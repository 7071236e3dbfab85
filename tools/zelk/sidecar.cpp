#include "sidecar.h"

#include <charconv>
#include <filesystem>

#include "config/ini_reader.h"
#include "domain/numtext.h"
#include "domain/text.h"

namespace zelk::tool {

namespace {
const char* const kSection = "Záznam";
const char* const kRecords = "Počet záznamů";
const char* const kDataFile = "Soubor";
}  // namespace

std::filesystem::path SidecarPath(const std::filesystem::path& dataFile) {
    return std::filesystem::path(dataFile).replace_extension(".ini");
}

bool WriteSidecar(const ParamText& run, const RunFacts& facts, const std::filesystem::path& path, std::string* error) {
    ParamText p = run;
    p.Set("Měření časovačem", "Perioda [us]", text::FormatFixed(facts.periodUsedUs, 1, 15, '.'));
    p.Set("Logovací soubor", "Úroveň", "0");
    p.Set(kSection, "Začátek", facts.started);
    if (!facts.dataFile.empty()) p.Set(kSection, kDataFile, facts.dataFile);
    if (facts.records) p.Set(kSection, kRecords, text::Decimal(static_cast<int64_t>(*facts.records)));
    p.Set(kSection, "Bajtů na záznam", text::Decimal(static_cast<int32_t>(facts.recordBytes)));
    return p.Save(path, error);
}

RecordedFacts ReadRecordedFacts(const std::string& sidecarPath) {
    RecordedFacts f;
    ini::IniFile file;
    if (!ini::IniFile::Load(sidecarPath, file)) return f;
    const std::string section = text::Utf8ToCp1250(kSection);
    if (auto v = file.Find(section, text::Utf8ToCp1250(kRecords))) {
        uint64_t n = 0;
        auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
        if (ec == std::errc() && end == v->data() + v->size()) f.records = n;
    }
    if (auto v = file.Find(section, text::Utf8ToCp1250(kDataFile)); v && !v->empty())
        f.dataFile = text::Cp1250ToUtf8(*v);
    return f;
}

std::vector<std::string> SidecarMismatches(const std::string& dataFile, const std::string& sidecarPath,
                                           std::optional<uint64_t> records) {
    namespace fs = std::filesystem;
    const RecordedFacts f = ReadRecordedFacts(sidecarPath);
    std::vector<std::string> out;
    const std::string stem = fs::path(dataFile).stem().string();
    if (f.dataFile && fs::path(*f.dataFile).stem().string() != stem)
        out.push_back("the sidecar " + sidecarPath + " was written for " + *f.dataFile + ", not for " +
                      fs::path(dataFile).filename().string() +
                      ": it may come from another measurement and describe another layout or scale");
    if (records && f.records && *f.records != *records)
        out.push_back("the sidecar " + sidecarPath + " says " + std::to_string(*f.records) + " records, " +
                      fs::path(dataFile).filename().string() + " holds " + std::to_string(*records) +
                      ": the sidecar may come from another measurement, or the file was cut or added to");
    return out;
}

}  // namespace zelk::tool
