#include "dbf/dbase_file.h"

#include <vector>

#include "platform/file_io.h"
#include "platform/platform.h"

namespace zelk::dbf {

namespace {

constexpr size_t kChunkBytes = 1 << 16;

// Whole records of the record file, read a chunk at a time.
class RecordReader {
public:
    RecordReader(plat::File& f, size_t recordBytes)
        : f_(f), r_(recordBytes), buffer_((kChunkBytes / recordBytes + 1) * recordBytes) {}
    // The next record, or null at an error or the end of the file (then `failed` is set).
    const uint8_t* Next() {
        if (at_ == end_ && !Fill()) return nullptr;
        const uint8_t* p = buffer_.data() + at_;
        at_ += r_;
        return p;
    }

private:
    bool Fill() {
        size_t have = 0;
        while (have < buffer_.size()) {
            size_t got = 0;
            if (!f_.Read(buffer_.data() + have, buffer_.size() - have, got) || got == 0) break;
            have += got;
        }
        at_ = 0;
        end_ = have / r_ * r_;
        return end_ > 0;
    }
    plat::File& f_;
    size_t r_;
    std::vector<uint8_t> buffer_;
    size_t at_ = 0, end_ = 0;
};

// Rows gathered into large writes.
class TableWriter {
public:
    explicit TableWriter(plat::File& f) : f_(f) { buffer_.reserve(kChunkBytes + 512); }
    bool Put(const char* data, size_t n) {
        buffer_.append(data, n);
        return buffer_.size() < kChunkBytes || Flush();
    }
    bool Put(const std::string& s) { return Put(s.data(), s.size()); }
    // `n` bytes at the end of the buffer for the caller to fill, then Commit.
    char* Append(size_t n) {
        buffer_.resize(buffer_.size() + n);
        return buffer_.data() + buffer_.size() - n;
    }
    bool Commit() { return buffer_.size() < kChunkBytes || Flush(); }
    bool Flush() {
        const bool ok = f_.Write(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }

private:
    plat::File& f_;
    std::string buffer_;
};

// Row count to the rows really written, then the end-of-file byte after the last row.
bool FinishShortTable(plat::File& f, TableWriter& w, uint32_t rows) {
    const char end = static_cast<char>(kFileEnd);
    auto rc = RowCountBytes(rows);
    return w.Put(&end, 1) && w.Flush() && f.Seek(kRowCountOffset) && f.Write(rc.data(), rc.size());
}

TableResult WriteTableFile(const std::string& binPath, const std::string& dbfPath, const RecordLayout& layout,
                           uint32_t rowCount, const Date& date, const std::function<bool()>& stop,
                           uint64_t firstRecord, bool flush) {
    TableResult r;
    plat::File in, out;
    const size_t recordBytes = static_cast<size_t>(layout.RecordBytes());
    if (!in.OpenRead(binPath) || !in.Seek(firstRecord * recordBytes)) {
        r.fileError = true;
        return r;
    }
    if (!out.Create(dbfPath)) {
        r.fileError = true;
        return r;
    }
    TableWriter w(out);
    RecordReader records(in, recordBytes);

    const size_t rowBytes = static_cast<size_t>(layout.RowLength());
    RowFormatter rows(layout);
    bool ok = w.Put(HeaderBytes(layout, rowCount, date));
    uint32_t k = 0;
    while (ok && k < rowCount) {
        if (stop && stop()) {
            r.stopped = true;
            break;
        }
        const uint8_t* record = records.Next();
        if (!record) {
            r.fileError = true;
            break;
        }
        rows.Put(k, record, w.Append(rowBytes));
        ok = w.Commit();
        if (ok) ++k;
    }
    if (!ok) r.fileError = true;
    r.rows = k;
    if (ok && k == rowCount) {
        const char end = static_cast<char>(kFileEnd);
        ok = w.Put(&end, 1) && w.Flush();
        r.complete = ok;
    } else if (!FinishShortTable(out, w, k)) {
        ok = false;
    }
    if (flush && ok && !out.Flush()) {
        ok = false;
        r.fileError = true;
    }
    // A table that cannot be closed is not complete, whatever was written.
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

}  // namespace

TableResult WriteTable(const std::string& binPath, const std::string& dbfPath, const RecordLayout& layout,
                       uint32_t rowCount, const Date& date, const std::function<bool()>& stop, uint64_t firstRecord) {
    return WriteTableFile(binPath, dbfPath, layout, rowCount, date, stop, firstRecord, false);
}

std::string TemporaryTableName(const std::string& dbfPath) { return dbfPath + ".tmp"; }

TableResult WriteTableDurably(const std::string& binPath, const std::string& dbfPath, const RecordLayout& layout,
                              uint32_t rowCount, const Date& date, const std::function<bool()>& stop,
                              uint64_t firstRecord) {
    const std::string temporary = TemporaryTableName(dbfPath);
    TableResult r = WriteTableFile(binPath, temporary, layout, rowCount, date, stop, firstRecord, true);
    if (!r.fileError && !plat::ReplaceFileDurably(temporary, dbfPath)) {
        r.fileError = true;
        r.complete = false;
    }
    if (r.fileError) {
        plat::DeleteFileAt(temporary);
        r.rows = 0;
    }
    return r;
}

}  // namespace zelk::dbf
