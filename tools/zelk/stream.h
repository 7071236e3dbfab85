// Records of a running measurement as they are stored: the record file followed while the
// driver writes it, each new whole record decoded and written as a CSV or JSON line.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "channel_labels.h"
#include "platform/file_io.h"
#include "dbf/dbase.h"

namespace zelk::tool {

class RecordFollower {
public:
    explicit RecordFollower(const dbf::RecordLayout& layout);
    // Opens the file for reading beside the driver's writing; the driver may delete it after
    // its conversion while it is open here, and what was written stays readable.
    bool Open(const std::string& path);
    bool IsOpen() const { return file_.IsOpen(); }
    // The whole records that arrived since the last call, one after another.
    const std::vector<uint8_t>& Poll();
    uint64_t RecordsRead() const { return records_; }

private:
    dbf::RecordLayout layout_;
    size_t recordBytes_;
    plat::File file_;
    std::vector<uint8_t> pending_;  // bytes of a record not yet whole
    std::vector<uint8_t> whole_;
    uint64_t records_ = 0;
};

// One line per record: INDEX, TIME (s after the start, from the period) and the table's
// columns in engineering units; CSV with a heading line (the headings of convert's CSV, with
// names and units), or JSON lines keyed by the bare field names.
class StreamWriter {
public:
    enum class Format { Csv, Jsonl };
    StreamWriter(std::ostream& out, Format format, const dbf::RecordLayout& layout, double periodUs,
                 const ChannelLabels& labels);
    void Header();
    // Writes the records; false when the output failed (a closed pipe).
    bool Records(const std::vector<uint8_t>& bytes, uint64_t firstIndex);

private:
    std::ostream& out_;
    Format format_;
    dbf::RecordLayout layout_;
    double periodUs_;
    std::vector<std::string> names_;
    ChannelLabels labels_;
    std::vector<double> values_;
    std::string line_;
};

}  // namespace zelk::tool
