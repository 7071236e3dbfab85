#include "sidecar.h"

#include <filesystem>

#include "config/numtext.h"

namespace zelk::tool {

std::filesystem::path SidecarPath(const std::filesystem::path& dataFile) {
    return std::filesystem::path(dataFile).replace_extension(".ini");
}

bool WriteSidecar(const ParamText& run, const RunFacts& facts, const std::filesystem::path& path, std::string* error) {
    ParamText p = run;
    p.Set("Měření časovačem", "Perioda [us]", text::FormatFixed(facts.periodUsedUs, 1, 15, '.'));
    p.Set("Logovací soubor", "Úroveň", "0");
    p.Set("Záznam", "Začátek", facts.started);
    p.Set("Záznam", "Počet záznamů", text::Decimal(static_cast<int64_t>(facts.records)));
    p.Set("Záznam", "Bajtů na záznam", text::Decimal(static_cast<int32_t>(facts.recordBytes)));
    return p.Save(path, error);
}

}  // namespace zelk::tool
