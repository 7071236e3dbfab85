// Commands on files left on disk: convert (record file to dBASE table or CSV) and plot.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "channel_labels.h"
#include "commands.h"
#include "dataset.h"
#include "host_platform.h"
#include "dbf/dbase_file.h"
#include "param_check.h"
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

// Shortest text that reads back as the same double, '.' always.
std::string Exact(double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// What the command line says against what the sidecar says, one text per difference: the
// record layout always, the period only when --period gives it (a parameter file holds the
// period asked for, the sidecar the one used). Constants may differ: they only scale.
std::vector<std::string> Contradictions(const dbf::RecordLayout& given, const dbf::RecordLayout& recorded,
                                        double givenPeriodUs, double recordedPeriodUs) {
    std::vector<std::string> out;
    auto differ = [&out](const std::string& what, const std::string& a, const std::string& b) {
        if (a != b) out.push_back(what + " " + a + " (the sidecar: " + b + ")");
    };
    auto yesNo = [](bool b) { return std::string(b ? "recorded" : "not recorded"); };
    differ("analog channels", std::to_string(given.Channels()), std::to_string(recorded.Channels()));
    differ("CNT0", yesNo(given.Cnt0), yesNo(recorded.Cnt0));
    differ("CNT1", yesNo(given.Cnt1), yesNo(recorded.Cnt1));
    differ("DIN/DOUT", yesNo(given.DinDout), yesNo(recorded.DinDout));
    for (int i = 0; i < std::min(given.Channels(), recorded.Channels()); ++i)
        differ("range of AIN" + std::to_string(i), RangeName(given.Range[i]), RangeName(recorded.Range[i]));
    if (givenPeriodUs > 0 && recordedPeriodUs > 0 && std::abs(givenPeriodUs - recordedPeriodUs) > 0.05)
        differ("period", Exact(givenPeriodUs) + " us", Exact(recordedPeriodUs) + " us");
    return out;
}

// The layout of a data file. The sidecar beside the file describes it first; --param names
// another parameter file instead, and the layout options change either, or describe the
// layout alone when there is neither (--channels). What contradicts a readable sidecar is
// refused (exit 5) unless `force`. `recordFile`: a record file needs a layout; a table does
// not (the driver wrote its values). The labels come from the same parameter file; without
// one, a record file's values are what the tool scales with A = 1, B = 0 (V), and a table's
// are scaled by constants nobody told the tool.
int LayoutFor(const std::string& input, const std::string& param, const LayoutOptions& lo, bool recordFile,
              bool force, dbf::RecordLayout* layout, double* periodUs, std::string* source, ChannelLabels* labels) {
    const bool required = recordFile;
    *labels = recordFile ? ChannelLabels() : ChannelLabels::Unknown();
    std::error_code ec;
    const std::string sidecar = SystemNarrow(SidecarPath(input));
    const bool commandLine = lo.channels >= 0 || lo.noCnt0 || lo.noCnt1 || lo.noDio || !lo.ranges.empty() ||
                             lo.periodUs > 0;
    std::string error;
    // The sidecar as the measurement wrote it. When the command line describes the layout, a
    // sidecar that cannot be read is only not compared.
    std::optional<TCFG> recorded;
    if (fs::is_regular_file(sidecar)) {
        TCFG cfg;
        std::string message;
        const bool empty = fs::file_size(sidecar, ec) == 0 && !ec;
        if (!empty && ReadParam(sidecar, &cfg, &message)) {
            recorded = cfg;
        } else if (param.empty() && lo.channels < 0) {
            Error("the sidecar " + sidecar +
                  (empty ? " is empty (the measurement's end was never written into it)"
                         : " cannot be read as a parameter file (" + message + ")") +
                  ": give --param FILE or the layout --channels N [--no-cnt0] [--no-cnt1] [--no-dio] [--ranges ...]");
            return kExitFile;
        }
    }
    std::optional<TCFG> base = recorded;
    if (!param.empty()) {
        if (!fs::is_regular_file(param)) return MissingFile("parameter file", param);
        TCFG cfg;
        std::string message;
        if (!ReadParam(param, &cfg, &message)) {
            Error(param + ": " + message);
            return kExitFile;
        }
        base = cfg;
    }
    if (!base && required && lo.channels < 0) {
        Error(input + " has no sidecar " + fs::path(sidecar).filename().string() +
              " with the settings of its measurement: give --param FILE (the parameter file it ran with) or the "
              "layout: --channels N [--no-cnt0] [--no-cnt1] [--no-dio] [--ranges ...] [--period US]");
        return kExitUsage;
    }
    if (!BuildLayout(base ? &*base : nullptr, lo, layout, periodUs, &error)) {
        Error(error);
        return kExitUsage;
    }
    if (base) *labels = ChannelLabels::FromConfig(*base, !param.empty() ? param : sidecar);
    *source = !param.empty() ? param : recorded ? sidecar : "the command line";
    if (commandLine && (!param.empty() || recorded)) *source += " and the command line";
    if (!recorded) return kExitOk;

    dbf::RecordLayout own;
    double ownPeriod = 0;
    BuildLayout(&*recorded, LayoutOptions{}, &own, &ownPeriod, &error);
    if (lo.periodUs <= 0) *periodUs = ownPeriod;  // the period used, which a parameter file cannot know
    const std::vector<std::string> differences = Contradictions(*layout, own, lo.periodUs, ownPeriod);
    if (differences.empty()) return kExitOk;
    std::string list;
    for (const std::string& d : differences) list += (list.empty() ? "" : "; ") + d;
    const std::string from = param.empty() ? "the command line" : param + (commandLine ? " and the command line" : "");
    if (!force) {
        Error(from + " contradicts the sidecar " + sidecar + " that describes " + fs::path(input).filename().string() +
              ": " + list + ". Leave the layout to the sidecar, or give --force to read the file as " + from +
              " says; nothing written");
        return kExitFile;
    }
    Error("warning: --force: reading " + fs::path(input).filename().string() + " as " + from +
          " says, against the sidecar " + sidecar + ": " + list);
    return kExitOk;
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
    if (int rc = LayoutFor(c.input, c.param, c.layout, true, c.force, &layout, &period, &source, &labels); rc != kExitOk)
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
    const fs::path outPath =
        c.output.empty() ? fs::path(c.input).replace_extension(format == "dbf" ? ".dbf" : ".csv") : fs::path(c.output);
    const std::string out = c.output == "-" ? c.output : Utf8(outPath);
    if (out != "-" && fs::exists(outPath) && fs::equivalent(outPath, c.input, ec)) {
        Error("the output would replace the input");
        return kExitUsage;
    }
    if (out != "-" && fs::exists(out) && !c.force) {
        Error(out + " exists: give --force to replace it, or -o another name; nothing written");
        return kExitFile;
    }
    // Like measure --out: the folder of the output is made when it is missing.
    if (const fs::path folder = fs::path(out).parent_path(); out != "-" && !folder.empty()) {
        fs::create_directories(folder, ec);
        if (ec) {
            Error("cannot make the folder " + folder.string() + " for " + out + ": " + ec.message());
            return kExitFile;
        }
    }
    for (const std::string& w : SidecarMismatches(c.input, SystemNarrow(SidecarPath(c.input)), rows)) Error("warning: " + w);
    bool ok;
    if (format == "dbf") {
        // The driver's table writer takes names as the driver holds them.
        std::string input, table;
        if (!DriverName(c.input, &input) || !DriverName(outPath, &table)) {
            Error("the names " + Utf8(c.input) + " and " + out + " must have only letters of code page 1250");
            return kExitUsage;
        }
        // Whole or not at all, as the driver writes its tables: a crash leaves no table that lies.
        dbf::TableResult t =
            dbf::WriteTableDurably(input, table, layout, rows, Today(), [] { return Interrupted(); });
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
            std::ofstream o(outPath, std::ios::binary | std::ios::trunc);
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
    if (int rc = LayoutFor(p.input, p.param, p.layout, recordFile, p.force, &layout, &period, &source, &labels); rc != kExitOk)
        return rc;
    Dataset data;
    bool ok = recordFile ? ReadRecordFile(p.input, layout, &data, &error, &note)
                         : ReadTable(p.input, &data, &error, &note);
    if (!ok) {
        Error(error);
        return kExitFile;
    }
    if (!note.empty()) std::cerr << "zelk: note: " << note << "\n";
    const std::optional<uint64_t> rows = recordFile ? std::optional<uint64_t>(data.Rows()) : std::nullopt;
    for (const std::string& w : SidecarMismatches(p.input, SystemNarrow(SidecarPath(p.input)), rows)) Error("warning: " + w);
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

int CmdCheck(const std::string& path, bool strict) {
    if (!fs::is_regular_file(path)) return MissingFile("parameter file", path);
    const ParamCheck c = CheckParamFile(path);
    std::cout << path << ": encoding " << c.encoding << "\n" << FindingLines(path, c);
    size_t errors = 0;
    for (const Finding& f : c.findings) errors += f.error ? 1 : 0;
    std::cout << path << ": " << errors << " error" << (errors == 1 ? "" : "s") << ", " << c.findings.size() - errors
              << " warning" << (c.findings.size() - errors == 1 ? "" : "s") << "\n";
    if (errors > 0 || (strict && !c.findings.empty())) return kExitFile;
    return kExitOk;
}

}  // namespace zelk::tool
