// The sidecar of a measurement: a parameter file beside the record file and the table, with
// the same base name, that holds the settings the measurement ran with, so that convert and
// plot read its layout, ranges, constants and period without being told.
#pragma once
#include <cstdint>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

#include "param_file.h"

namespace zelk::tool {

// FILE.bin or FILE.dbf -> FILE.ini
std::filesystem::path SidecarPath(const std::filesystem::path& dataFile);

struct RunFacts {
    double periodUsedUs = 0;  // channel 165 after the start
    std::string started;      // local time of the start, yyyy-mm-dd hh:mm:ss
    // Channel 201 at the end; none while the measurement runs (the sidecar written at the
    // start, so that the layout is beside the data even if the tool never sees the end).
    std::optional<uint64_t> records;
    int recordBytes = 0;
    std::string dataFile;  // the data file's name without its folder
};

// The run's parameter file with the period actually used, the log switched off (reading
// the sidecar must not touch a log folder) and a [Záznam] section with the facts.
bool WriteSidecar(const ParamText& run, const RunFacts& facts, const std::filesystem::path& path, std::string* error);

// What a sidecar's [Záznam] says about its data, each absent when the sidecar lacks the key
// (the count while the measurement runs or after a crash; the name in older sidecars).
struct RecordedFacts {
    std::optional<uint64_t> records;
    std::optional<std::string> dataFile;  // UTF-8
};
RecordedFacts ReadRecordedFacts(const std::string& sidecarPath);

// Warnings for a data file whose sidecar was written for another file (by the base name, so
// that the record file and the table of one run share it) or for another number of records
// (`records` absent: the count is not checked).
std::vector<std::string> SidecarMismatches(const std::string& dataFile, const std::string& sidecarPath,
                                           std::optional<uint64_t> records);

}  // namespace zelk::tool
