// Writes a dBASE table from a record file, one record read and one row written at a time.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "dbf/dbase.h"

namespace zelk::dbf {

struct TableResult {
    uint32_t rows = 0;      // rows in the table (the header says so too)
    bool complete = false;  // every requested row written and the file closed without error
    bool fileError = false; // a file could not be opened, read, written or closed
    bool stopped = false;   // `stop` asked to end early
};

// Converts `rowCount` records of `binPath`, from record number `firstRecord` on, into
// `dbfPath` (replaced). `stop` is asked before every record. A table that ends early (stop
// request, short record file) still gets its row count patched and the end-of-file byte, so
// that it stays readable.
TableResult WriteTable(const std::string& binPath, const std::string& dbfPath, const RecordLayout& layout,
                       uint32_t rowCount, const Date& date, const std::function<bool()>& stop,
                       uint64_t firstRecord = 0);

// The name a table is written under until it is whole: no reader takes it for a table.
std::string TemporaryTableName(const std::string& dbfPath);

// WriteTable for data that must survive a crash or a power cut: the table is written under
// its temporary name, flushed to stable storage and only then renamed into place, so that
// `dbfPath` holds a whole table (or, after a stop request, a valid shorter one) or nothing
// new. After a file error the temporary file is removed and an older `dbfPath` is untouched.
TableResult WriteTableDurably(const std::string& binPath, const std::string& dbfPath, const RecordLayout& layout,
                              uint32_t rowCount, const Date& date, const std::function<bool()>& stop,
                              uint64_t firstRecord = 0);

}  // namespace zelk::dbf
