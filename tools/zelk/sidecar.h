// The sidecar of a measurement: a parameter file beside the record file and the table, with
// the same base name, that holds the settings the measurement ran with, so that convert and
// plot read its layout, ranges, constants and period without being told.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "param_file.h"

namespace zelk::tool {

// FILE.bin or FILE.dbf -> FILE.ini
std::filesystem::path SidecarPath(const std::filesystem::path& dataFile);

struct RunFacts {
    double periodUsedUs = 0;  // channel 165 after the start
    std::string started;      // local time of the start, yyyy-mm-dd hh:mm:ss
    uint64_t records = 0;     // channel 201 at the end
    int recordBytes = 0;
};

// The run's parameter file with the period actually used, the log switched off (reading
// the sidecar must not touch a log folder) and a [Záznam] section with the facts.
bool WriteSidecar(const ParamText& run, const RunFacts& facts, const std::filesystem::path& path, std::string* error);

}  // namespace zelk::tool
