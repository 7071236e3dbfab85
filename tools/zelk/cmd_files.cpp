// Commands on files left on disk: convert (record file to dBASE table or CSV) and plot.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "dataset.h"
#include "records/dbase_file.h"

namespace zelk::tool {
namespace {

namespace fs = std::filesystem;

bool LoadParam(const std::string& path, std::optional<ParamFile>* out) {
    if (path.empty()) return true;
    std::string error;
    *out = ParamFile::Load(path, &error);
    if (!*out) Error(error);
    return out->has_value();
}

dbf::Date Today() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return dbf::Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string Trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a);
}

// The CSV carries the table's own field texts, cut out of the rows the driver's code makes.
bool WriteCsv(const std::string& bin, const std::string& out, const dbf::RecordLayout& l, uint32_t rows) {
    std::ifstream in(bin, std::ios::binary);
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    if (!in || !o) return false;
    std::array<dbf::TDBF_HlavickaPolozka, dbf::kMaxFields> fields;
    int f = dbf::BuildFields(l, fields);
    for (int i = 0; i < f; ++i) o << (i ? "," : "") << fields[i].FieldName;
    o << "\r\n";
    std::vector<uint8_t> record(static_cast<size_t>(l.RecordBytes()));
    for (uint32_t k = 0; k < rows; ++k) {
        if (Interrupted()) return false;
        if (!in.read(reinterpret_cast<char*>(record.data()), static_cast<std::streamsize>(record.size()))) return false;
        std::string row = dbf::RowText(l, k, record.data());
        size_t at = 1;
        for (int i = 0; i < f; ++i) {
            o << (i ? "," : "") << Trimmed(row.substr(at, fields[i].FieldLength));
            at += fields[i].FieldLength;
        }
        o << "\r\n";
    }
    o.close();
    return static_cast<bool>(o);
}

}  // namespace

int CmdConvert(const ConvertOptions& c) {
    std::optional<ParamFile> param;
    if (!LoadParam(c.param, &param)) return kExitFile;
    dbf::RecordLayout layout;
    double period = 0;
    std::string error;
    if (!BuildLayout(param ? &*param : nullptr, c.layout, &layout, &period, &error)) {
        Error(error);
        return kExitUsage;
    }
    if (c.format != "dbf" && c.format != "csv") {
        Error("--format is dbf or csv");
        return kExitUsage;
    }
    std::error_code ec;
    auto size = fs::file_size(c.input, ec);
    if (ec) {
        Error("cannot read " + c.input + ": " + ec.message());
        return kExitFile;
    }
    const auto r = static_cast<uintmax_t>(layout.RecordBytes());
    const auto rows = static_cast<uint32_t>(size / r);
    if (size % r != 0)
        std::cerr << "zelk: note: " << c.input << " ends in a partial record (" << size % r << " of " << r
                  << " bytes); it is left out. Check --channels and the enables if this is unexpected.\n";
    std::string out = c.output;
    if (out.empty()) out = fs::path(c.input).replace_extension(c.format == "dbf" ? ".dbf" : ".csv").string();
    if (fs::exists(out) && fs::equivalent(out, c.input, ec)) {
        Error("the output would replace the input");
        return kExitUsage;
    }
    bool ok;
    if (c.format == "dbf") {
        dbf::TableResult t = dbf::WriteTable(c.input, out, layout, rows, Today(), [] { return Interrupted(); });
        ok = t.complete;
        if (t.stopped) {
            Error("interrupted after " + std::to_string(t.rows) + " rows; " + out + " holds them");
            return kExitInterrupted;
        }
    } else {
        ok = WriteCsv(c.input, out, layout, rows);
        if (Interrupted()) return kExitInterrupted;
    }
    if (!ok) {
        Error("cannot write " + out);
        return kExitFile;
    }
    std::cout << "wrote " << out << ": " << rows << " rows, " << layout.Channels() << " analog channel"
              << (layout.Channels() == 1 ? "" : "s") << (layout.Cnt0 ? ", CNT0" : "") << (layout.Cnt1 ? ", CNT1" : "")
              << (layout.DinDout ? ", DIN0 DIN1 DOUT" : "") << " (" << r << " bytes per record)\n";
    return kExitOk;
}

int CmdPlot(const PlotOptions& p) {
    std::optional<ParamFile> param;
    if (!LoadParam(p.param, &param)) return kExitFile;
    dbf::RecordLayout layout;
    double period = 0;
    std::string error, note;
    if (!BuildLayout(param ? &*param : nullptr, p.layout, &layout, &period, &error)) {
        Error(error);
        return kExitUsage;
    }
    Dataset data;
    std::string ext = fs::path(p.input).extension().string();
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    bool ok = ext == ".bin" ? ReadRecordFile(p.input, layout, &data, &error, &note)
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
