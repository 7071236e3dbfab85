// Record files and dBASE tables read back as columns of numbers, for plot and convert.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "channel_labels.h"
#include "commands.h"
#include "param_file.h"
#include "dbf/dbase.h"

namespace zelk::tool {

struct Column {
    std::string name;  // INDEX, AIN0.., CNT0, CNT1, DIN0, DIN1, DOUT
    std::vector<double> values;
};

struct Dataset {
    std::vector<Column> columns;  // INDEX first
    size_t Rows() const { return columns.empty() ? 0 : columns[0].values.size(); }
    // The column of that name in any letter case.
    const Column* Find(const std::string& name) const;
};

// The record layout from a configuration read by the driver's reader (when given) and the
// options; the period in microseconds goes to `periodUs` (0 when neither says).
bool BuildLayout(const TCFG* cfg, const LayoutOptions& o, dbf::RecordLayout* layout, double* periodUs,
                 std::string* error);

// A dBASE table of numeric fields. Rows beyond the file's end (a table cut short) are not
// read; `note` tells when the header promises more.
bool ReadTable(const std::string& path, Dataset* data, std::string* error, std::string* note);
// The columns of a record after INDEX, as the table names them: AIN0.., CNT0, CNT1, DIN0, DIN1, DOUT.
std::vector<std::string> RecordColumnNames(const dbf::RecordLayout& l);
// One record's values in those columns: analog channels in engineering units as the table has
// them, counters and bits as numbers. `out` holds RecordColumnNames(l).size() values.
void DecodeRecord(const dbf::RecordLayout& l, const uint8_t* record, double* out);

// A record file split and scaled with the layout; a partial last record is left out.
bool ReadRecordFile(const std::string& path, const dbf::RecordLayout& layout, Dataset* data, std::string* error,
                    std::string* note);

struct Chart {
    std::string svg;
    int width = 0, height = 0;  // pixels
};

// SVG chart over time (seconds when periodUs > 0, else the record index) in stacked panels:
// one per value axis of the analog channels (their unit, or their scaling when they have
// none), one per counter, one for the digital lines. `fields` are column names as the
// data has them; empty is every column. Every trace has a colour of its own; legends carry
// the headings of `labels`.
Chart RenderSvg(const Dataset& data, const std::vector<std::string>& fields, double periodUs, const std::string& title,
                const ChannelLabels& labels);

// The PNG of an SVG chart, `width` x `height` pixels; false with a message when this build
// or this system cannot render one.
bool RenderPng(const Chart& chart, std::string* png, std::string* error);

}  // namespace zelk::tool
