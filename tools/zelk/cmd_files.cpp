// Commands on files left on disk: convert (record file to dBASE table or CSV) and plot.
#include <charconv>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "dataset.h"
#include "host_platform.h"
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
// layout, else from the sidecar beside the file. `required`: a record file needs one.
int LayoutFor(const std::string& input, const std::string& param, const LayoutOptions& lo, bool required,
              dbf::RecordLayout* layout, double* periodUs, std::string* source) {
    std::string from = param;
    const std::string sidecar = SystemNarrow(SidecarPath(input));
    if (from.empty() && lo.channels < 0 && fs::is_regular_file(sidecar)) from = sidecar;
    std::string error;
    if (!from.empty()) {
        if (!fs::is_regular_file(from)) return MissingFile("parameter file", from);
        TCFG cfg;
        std::string message;
        if (!ReadParam(from, &cfg, &message)) {
            Error(from + ": " + message);
            return kExitFile;
        }
        if (!BuildLayout(&cfg, lo, layout, periodUs, &error)) {
            Error(error);
            return kExitUsage;
        }
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

// CSV of the record file: the table's columns with full precision, and TIME in seconds
// after INDEX when the period is known.
bool WriteCsv(const Dataset& data, double periodUs, std::ostream& o) {
    o << "INDEX";
    if (periodUs > 0) o << ",TIME";
    for (size_t c = 1; c < data.columns.size(); ++c) o << "," << data.columns[c].name;
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
    if (int rc = LayoutFor(c.input, c.param, c.layout, true, &layout, &period, &source); rc != kExitOk) return rc;
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
    const fs::path outPath =
        c.output.empty() ? fs::path(c.input).replace_extension(format == "dbf" ? ".dbf" : ".csv") : fs::path(c.output);
    const std::string out = c.output == "-" ? c.output : Utf8(outPath);
    if (out != "-" && fs::exists(outPath) && fs::equivalent(outPath, c.input, ec)) {
        Error("the output would replace the input");
        return kExitUsage;
    }
    bool ok;
    if (format == "dbf") {
        // The driver's table writer takes names as the driver holds them.
        std::string input, table;
        if (!DriverName(c.input, &input) || !DriverName(outPath, &table)) {
            Error("the names " + Utf8(c.input) + " and " + out + " must have only letters of code page 1250");
            return kExitUsage;
        }
        dbf::TableResult t = dbf::WriteTable(input, table, layout, rows, Today(), [] { return Interrupted(); });
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
            ok = WriteCsv(data, period, std::cout);
        } else {
            std::ofstream o(outPath, std::ios::binary | std::ios::trunc);
            ok = o && WriteCsv(data, period, o);
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
    if (!fs::is_regular_file(p.input)) return MissingFile("file", p.input);
    const bool recordFile = Lower(fs::path(p.input).extension().string()) == ".bin";
    dbf::RecordLayout layout;
    double period = 0;
    std::string error, note, source;
    if (int rc = LayoutFor(p.input, p.param, p.layout, recordFile, &layout, &period, &source); rc != kExitOk) return rc;
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
    for (std::string f; std::getline(ss, f, ',');)
        if (!f.empty()) {
            if (!data.Find(f)) {
                Error("no field " + f + " in " + p.input);
                return kExitUsage;
            }
            fields.push_back(f);
        }
    std::string title = p.title.empty() ? fs::path(p.input).filename().string() + " (" + std::to_string(data.Rows()) +
                                              " records)"
                                        : p.title;
    std::string out = p.output.empty() ? fs::path(p.input).replace_extension(".svg").string() : p.output;
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    o << RenderSvg(data, fields, period, title);
    o.close();
    if (!o) {
        Error("cannot write " + out);
        return kExitFile;
    }
    std::cout << "wrote " << out << " (" << data.Rows() << " records)\n";
    return kExitOk;
}

}  // namespace zelk::tool
