#include "records/dbase_file.h"

#include <cstdio>
#include <vector>

namespace zelk::dbf {

namespace {
struct File {
    std::FILE* f = nullptr;
    ~File() {
        if (f) std::fclose(f);
    }
    bool Close() {
        std::FILE* g = f;
        f = nullptr;
        return g && std::fclose(g) == 0;
    }
};

// Row count to the rows really written, then the end-of-file byte after the last row.
bool FinishShortTable(std::FILE* f, uint32_t rows) {
    auto rc = RowCountBytes(rows);
    return std::fputc(kFileEnd, f) != EOF && std::fseek(f, kRowCountOffset, SEEK_SET) == 0 &&
           std::fwrite(rc.data(), 1, rc.size(), f) == rc.size() && std::fflush(f) == 0;
}
}  // namespace

TableResult WriteTable(const std::string& binPath, const std::string& dbfPath, const RecordLayout& layout,
                       uint32_t rowCount, const Date& date, const std::function<bool()>& stop) {
    TableResult r;
    std::vector<char> outBuffer(1 << 16);  // outlives `out`, whose stream uses it
    File in, out;
    in.f = std::fopen(binPath.c_str(), "rb");
    if (!in.f) {
        r.fileError = true;
        return r;
    }
    out.f = std::fopen(dbfPath.c_str(), "wb");
    if (!out.f) {
        r.fileError = true;
        return r;
    }
    std::setvbuf(out.f, outBuffer.data(), _IOFBF, outBuffer.size());

    const std::string header = HeaderBytes(layout, rowCount, date);
    bool ok = std::fwrite(header.data(), 1, header.size(), out.f) == header.size();
    const size_t recordBytes = static_cast<size_t>(layout.RecordBytes());
    uint8_t record[64];
    uint32_t k = 0;
    while (ok && k < rowCount) {
        if (stop && stop()) {
            r.stopped = true;
            break;
        }
        if (std::fread(record, 1, recordBytes, in.f) != recordBytes) {
            r.fileError = true;
            break;
        }
        const std::string row = RowText(layout, k, record);
        if (std::fwrite(row.data(), 1, row.size(), out.f) != row.size()) {
            ok = false;
            break;
        }
        ++k;
    }
    if (!ok) r.fileError = true;
    r.rows = k;
    if (ok && k == rowCount) {
        ok = std::fputc(kFileEnd, out.f) != EOF;
        r.complete = ok;
    } else if (!FinishShortTable(out.f, k)) {
        ok = false;
    }
    // A table that cannot be flushed and closed is not complete, whatever was written.
    if (!out.Close()) {
        r.complete = false;
        r.fileError = true;
    }
    if (!ok) {
        r.complete = false;
        r.fileError = r.fileError || !r.stopped;
    }
    in.Close();
    return r;
}

}  // namespace zelk::dbf
