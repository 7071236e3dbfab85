// The conversion thread of a finished measurement: from the record file to the dBASE table.
#pragma once
#include <string>
#include <vector>

#include "core/Pomocny.h"
#include "dbf/dbase.h"

namespace zelk {

// The table layout of a job's records.
dbf::RecordLayout LayoutOf(const ConversionJob& job);

// One table of a record file. The row count of a table has 32 bits, so a measurement of more
// records goes on in further tables: base + ".dbf", then base + "_part2.dbf", "_part3.dbf", ...
// each numbering its rows from 0.
struct TablePart {
    uint64_t FirstRecord = 0;
    uint32_t Rows = 0;
    std::string Path;
};
std::vector<TablePart> TableParts(const std::string& basePath, uint64_t records, uint32_t rowsPerTable);

// Copies the current measurement (record file, stored count, snapshot, constants,
// conversion type) into a new conversion thread, starts it and keeps it in ConvThreads,
// whose finished threads are joined and dropped on the way. Acquisition thread only.
TThreadKonverze* StartConversionThread(TData* d) EXCLUDES(d->DataLock);

// The body of a conversion thread: the table for `job`, then the record file deleted in
// DBF mode. `thread` (may be null) is polled for a terminate request.
void ConvertRecordFile(TData* d, const ConversionJob& job, TThreadKonverze* thread);

}  // namespace zelk
