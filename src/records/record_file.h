// The measurement record file: a headerless sequence of the module's measurement records,
// named after the module and the start time, created empty at a start and appended to
// block by block through one handle that stays open for the whole measurement (other
// programs may read the file meanwhile; every block reaches the file before the next pass).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_io.h"
#include "platform/platform.h"

namespace zelk::records {

constexpr const char* kRecordFilePrefix = "Zelk2716e_";
constexpr const char* kRecordFileExtension = ".bin";
constexpr const char* kTableExtension = ".dbf";

// yyyymmdd_hhmmss (the year without leading zeros, the other parts two digits).
std::string TimeStampText(const plat::LocalTime& t);
// `dir` (empty, or ending in a path separator), prefix, serial number, "_", time stamp.
std::string RecordBaseName(const std::string& dir, const std::string& serial, const plat::LocalTime& t);

// Creates `dir` with its missing parents and a new empty record file, left open in `file`.
// When a file of the plain name (.bin, or the .dbf of an earlier converted measurement)
// exists already, "_1", "_2", ... is added to the base so that nothing earlier is emptied or
// replaced. `basePath` gets the path without extension. False on any failure.
bool CreateRecordFile(const std::string& dir, const std::string& serial, const plat::LocalTime& t,
                      std::string& basePath, plat::File& file);

// Appends one block at the end of the open record file. When the block cannot be written
// whole, the file is cut back to its length before the block, so that it keeps only whole
// records.
bool AppendRecordBlock(plat::File& file, const uint8_t* data, size_t bytes);

}  // namespace zelk::records
