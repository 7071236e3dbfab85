// Commands on files left on disk: convert (record file to dBASE table or CSV) and plot.
#include <charconv>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "channel_labels.h"
#include "commands.h"
#include "dataset.h"
#include "records/dbase_file.h"
#include "sidecar.h"

namespace zelk::tool {
namespace {

namespace fs = std::filesystem;

dbf::Date Today() {
    const std::tm tm = LocalTime(std::time(nullptr));
    return dbf::Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

uint32_t U16At(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8);
}

// A dBASE III table: by its name, or by a header whose date, lengths and end mark agree with
// each other and with the file's size (a record file does not describe itself).
bool IsDbaseTable(const std::string& path) {
    if (Lower(fs::path(path).extension().string()) == ".dbf") return true;
    std::ifstream in(path, std::ios::binary);
    std::string b(32, '\0');
    if (!in.read(b.data(), 32)) return false;
    const auto first = static_cast<uint8_t>(b[0]);
    const uint32_t month = static_cast<uint8_t>(b[2]), day = static_cast<uint8_t>(b[3]);
    const uint32_t rows = U16At(b, 4) | (U16At(b, 6) << 16), header = U16At(b, 8), row = U16At(b, 10);
    if ((first != 0x03 && first != 0x83) || month < 1 || month > 12 || day < 1 || day > 31) return false;
    if (header < 65 || (header - 33) % 32 != 0 || row < 2) return false;
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    const uintmax_t body = static_cast<uintmax_t>(header) + static_cast<uintmax_t>(rows) * row;
    return !ec && (size == body || size == body + 1);
}

// The layout of a data file: from --param, else from the options when --channels names the
// layout, else from the sidecar beside the file. `recordFile`: a record file needs one; a
// table does not (the driver wrote its values). The labels come from the same parameter
// file; without one, a record file's values are what the tool scales with A = 1, B = 0 (V),
// and a table's are scaled by constants nobody told the tool.
int LayoutFor(const std::string& input, const std::string& param, const LayoutOptions& lo, bool recordFile,
              dbf::RecordLayout* layout, double* periodUs, std::string* source, ChannelLabels* labels) {
    const bool required = recordFile;
    *labels = recordFile ? ChannelLabels() : ChannelLabels::Unknown();
    std::string from = param;
    std::error_code ec;
    const std::string sidecar = SidecarPath(input);
    if (from.empty() && lo.channels < 0 && fs::is_regular_file(sidecar)) from = sidecar;
    std::string error;
    if (!from.empty()) {
        if (!fs::is_regular_file(from)) return MissingFile("parameter file", from);
        TCFG cfg;
        std::string message;
        const bool isSidecar = from == sidecar && param.empty();
        if (isSidecar && fs::file_size(from, ec) == 0 && !ec) {
            Error("the sidecar " + from + " is empty (the measurement's end was never written into it): give "
                  "--param FILE or the layout --channels N [--no-cnt0] [--no-cnt1] [--no-dio] [--ranges ...]");
            return kExitFile;
        }
        if (!ReadParam(from, &cfg, &message)) {
            Error(isSidecar ? "the sidecar " + from + " cannot be read as a parameter file (" + message +
                                  "): give --param FILE or the layout --channels N ..."
                            : from + ": " + message);
            return kExitFile;
        }
        if (!BuildLayout(&cfg, lo, layout, periodUs, &error)) {
            Error(error);
            return kExitUsage;
        }
        *labels = ChannelLabels::FromConfig(cfg, from);
        *source = from;
        return kExitOk;
    }
    if (required && lo.channels < 0) {
        Error(input + " has no sidecar " + fs::path(sidecar).filename().string() +
              " with the settings of its measurement: give --param FILE (the parameter file it ran with) or the "
              "layout: --channels N [--no-cnt0] [--no-cnt1] [--no-dio] [--ranges ...] [--period US]");
        return kExitUsage;
    }
    if (!BuildLayout(nullptr, lo, layout, periodUs, &error)) {
        Error(error);
        return kExitUsage;
    }
    *source = "the command line";
    return kExitOk;
}

// Shortest text that reads back as the same double, '.' always.
std::string Exact(double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// A CSV cell: quoted when it holds a comma, a quote or a line break (a channel's name may).
std::string CsvCell(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// CSV of the record file: the table's columns with full precision, and TIME in seconds
// after INDEX when the period is known. Each heading starts with the table's field name;
// the channel's name and unit follow it ("AIN1 Teplota [°C]").
bool WriteCsv(const Dataset& data, double periodUs, const ChannelLabels& labels, std::ostream& o) {
    o << "INDEX";
    if (periodUs > 0) o << ",TIME";
    for (size_t c = 1; c < data.columns.size(); ++c) o << "," << CsvCell(labels.Heading(data.columns[c].name));
    o << "\r\n";
    for (size_t k = 0; k < data.Rows(); ++k) {
        if (Interrupted()) return false;
        o << k;
        if (periodUs > 0) o << "," << Exact(static_cast<double>(k) * periodUs * 1e-6);
        for (size_t c = 1; c < data.columns.size(); ++c) o << "," << Exact(data.columns[c].values[k]);
        o << "\r\n";
    }
    o.flush();
    return static_cast<bool>(o);
}

}  // namespace

int CmdConvert(const ConvertOptions& c) {
    const std::string format = Lower(c.format);
    if (format != "dbf" && format != "csv") {
        Error("--format is dbf or csv");
        return kExitUsage;
    }
    if (c.output == "-" && format != "csv") {
        Error("-o - (standard output) is for --format csv");
        return kExitUsage;
    }
    if (!fs::is_regular_file(c.input)) return MissingFile("record file", c.input);
    if (IsDbaseTable(c.input)) {
        Error(c.input + " is a dBASE table, not a record file: it needs no conversion (convert reads the .bin "
                        "file of a measurement); nothing written");
        return kExitFile;
    }
    dbf::RecordLayout layout;
    double period = 0;
    std::string source;
    ChannelLabels labels;
    if (int rc = LayoutFor(c.input, c.param, c.layout, true, &layout, &period, &source, &labels); rc != kExitOk)
        return rc;
    std::error_code ec;
    const uintmax_t size = fs::file_size(c.input, ec);
    if (ec) {
        Error("cannot read " + c.input + ": " + ec.message());
        return kExitFile;
    }
    const auto r = static_cast<uintmax_t>(layout.RecordBytes());
    if (size % r != 0) {
        Error(c.input + " is " + std::to_string(size) + " bytes, not a whole number of " + std::to_string(r) +
              "-byte records of the layout from " + source + " (it would end in a partial record of " +
              std::to_string(size % r) + " bytes): the layout does not match the file; nothing written");
        return kExitFile;
    }
    const auto rows = static_cast<uint32_t>(size / r);
    std::string out = c.output;
    if (out.empty()) out = fs::path(c.input).replace_extension(format == "dbf" ? ".dbf" : ".csv").string();
    if (out != "-" && fs::exists(out) && fs::equivalent(out, c.input, ec)) {
        Error("the output would replace the input");
        return kExitUsage;
    }
    bool ok;
    if (format == "dbf") {
        dbf::TableResult t = dbf::WriteTable(c.input, out, layout, rows, Today(), [] { return Interrupted(); });
        ok = t.complete;
        if (t.stopped) {
            Error("interrupted after " + std::to_string(t.rows) + " rows; " + out + " holds them");
            return kExitInterrupted;
        }
    } else {
        Dataset data;
        std::string error, note;
        if (!ReadRecordFile(c.input, layout, &data, &error, &note)) {
            Error(error);
            return kExitFile;
        }
        if (out == "-") {
            ok = WriteCsv(data, period, labels, std::cout);
        } else {
            std::ofstream o(out, std::ios::binary | std::ios::trunc);
            ok = o && WriteCsv(data, period, labels, o);
        }
        if (Interrupted()) return kExitInterrupted;
    }
    if (!ok) {
        Error("cannot write " + out);
        return kExitFile;
    }
    (out == "-" ? std::cerr : std::cout)
        << "wrote " << (out == "-" ? "standard output" : out) << ": " << rows << " rows, " << layout.Channels()
        << " analog channel" << (layout.Channels() == 1 ? "" : "s") << (layout.Cnt0 ? ", CNT0" : "")
        << (layout.Cnt1 ? ", CNT1" : "") << (layout.DinDout ? ", DIN0 DIN1 DOUT" : "") << " (" << r
        << " bytes per record; layout from " << source << ")\n";
    return kExitOk;
}

int CmdPlot(const PlotOptions& p) {
    // The picture's format follows the output's name; checked before any file is read.
    const std::string out = p.output.empty() ? fs::path(p.input).replace_extension(".svg").string() : p.output;
    const std::string kind = Lower(fs::path(out).extension().string());
    if (kind != ".svg" && kind != ".png") {
        Error("-o " + out + ": plot writes an SVG or a PNG picture; give a name ending in .svg or .png");
        return kExitUsage;
    }
    if (!fs::is_regular_file(p.input)) return MissingFile("file", p.input);
    const bool recordFile = Lower(fs::path(p.input).extension().string()) == ".bin";
    dbf::RecordLayout layout;
    double period = 0;
    std::string error, note, source;
    ChannelLabels labels;
    if (int rc = LayoutFor(p.input, p.param, p.layout, recordFile, &layout, &period, &source, &labels); rc != kExitOk)
        return rc;
    Dataset data;
    bool ok = recordFile ? ReadRecordFile(p.input, layout, &data, &error, &note)
                         : ReadTable(p.input, &data, &error, &note);
    if (!ok) {
        Error(error);
        return kExitFile;
    }
    if (!note.empty()) std::cerr << "zelk: note: " << note << "\n";
    std::vector<std::string> fields;
    std::stringstream ss(p.fields);
    for (std::string f; std::getline(ss, f, ',');) {
        if (f.empty()) continue;
        const Column* c = data.Find(f);
        if (!c || c->name == "INDEX") {
            std::string valid;
            for (const Column& col : data.columns)
                if (col.name != "INDEX") valid += (valid.empty() ? "" : ", ") + col.name;
            Error("--fields: no field " + f + " in " + p.input + "; its fields are " + valid + " (in any letter case)");
            return kExitUsage;
        }
        fields.push_back(c->name);
    }
    std::string title = p.title.empty() ? fs::path(p.input).filename().string() + " (" + std::to_string(data.Rows()) +
                                              " records)"
                                        : p.title;
    const Chart chart = RenderSvg(data, fields, period, title, labels);
    std::string bytes = chart.svg;
    if (kind == ".png" && !RenderPng(chart, &bytes, &error)) {
        Error(error);
        return kExitUsage;
    }
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    o << bytes;
    o.close();
    if (!o) {
        Error("cannot write " + out);
        return kExitFile;
    }
    std::cout << "wrote " << out << " (" << data.Rows() << " records";
    if (kind == ".png") std::cout << ", " << chart.width << " x " << chart.height << " pixels";
    std::cout << ")\n";
    return kExitOk;
}

}  // namespace zelk::tool
