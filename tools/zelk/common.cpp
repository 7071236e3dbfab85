#include "common.h"
#include "param_check.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <random>

#include "domain/status_texts.h"
#include "domain/text.h"

namespace zelk::tool {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (int i = 0; i < 100; ++i) {
        fs::path p = fs::temp_directory_path() / ("zelk-" + std::to_string(rd() % 1000000000u));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p;
            return;
        }
    }
    path_ = fs::temp_directory_path();
}

TempDir::~TempDir() {
    std::error_code ec;
    if (path_ != fs::temp_directory_path()) fs::remove_all(path_, ec);
}

int LoadDriver(const DriverOptions& o, DriverLibrary* lib) {
    std::string path = ResolveDriverPath(o.driver);
    std::string error;
    if (!lib->Load(path, &error)) {
        Error(error);
        if (o.driver.empty()) Error("(use --driver PATH to name the driver library)");
        return kExitDriver;
    }
    return kExitOk;
}

std::string MinimalParamText(const DriverOptions& o) {
    std::string t = "[Volba modulu]\r\nVýrobní číslo=" + o.serial + "\r\nUSB timeout=" + std::to_string(o.usbTimeoutMs) +
                    "\r\n\r\n[Logovací soubor]\r\n";
    if (!o.log.empty()) t += "Úroveň=3\r\nNázev souboru=" + fs::absolute(o.log).string() + "\r\n";
    else t += "Úroveň=0\r\n";
    return t;
}

int StartHost(const DriverOptions& o, Host* h, const ParamText* run) {
    if (!o.param.empty() && !fs::is_regular_file(o.param)) return MissingFile("parameter file", o.param);
    // The user's own file is checked before it costs a start: what the driver ignores or
    // takes otherwise than written is said now. Refusals are left to Init, which says them too.
    if (!o.param.empty()) {
        const ParamCheck c = CheckParamFile(o.param);
        std::cerr << FindingLines(o.param, c);
        if (o.strict && !c.findings.empty()) {
            Error("--strict: the parameter file " + o.param + " has findings; nothing started");
            return kExitFile;
        }
    }
    if (int rc = LoadDriver(o, &h->lib); rc != kExitOk) return rc;
    if (!run && !o.param.empty()) {
        // The driver looks a bare file name up beside the host's executable: pass a full path.
        h->paramPath = fs::absolute(o.param).string();
    } else {
        h->temp = std::make_unique<TempDir>();
        h->paramPath = (h->temp->Path() / "zelk.ini").string();
        std::string error;
        if (!(run ? *run : ParamText::FromUtf8(MinimalParamText(o))).Save(h->paramPath, &error)) {
            Error(error);
            return kExitFile;
        }
    }
    h->session = std::make_unique<Session>(h->lib);
    std::string message;
    if (!h->session->Start(h->paramPath, &message)) {
        Error("Init failed: " + Show(message));
        // Which key it was, in English, from the check of the file Init read.
        if (o.param.empty()) {
            const ParamCheck c = CheckParamFile(h->paramPath);
            for (const Finding& f : c.findings)
                if (f.error) Error("  " + (f.line ? "line " + std::to_string(f.line) + ": " : "") + f.text);
        }  // the user's own file: its findings were shown before the start
        return kExitDriver;
    }
    std::string text;
    h->deviceStatus = h->session->DeviceStatus(&text, o.cycleTimeoutMs);
    h->deviceText = Show(text);
    return kExitOk;
}

std::string WindowField(const std::string& windowText, const std::string& caption) {
    const std::string key = caption + ": ";
    size_t pos = 0;
    while (pos < windowText.size()) {
        size_t nl = windowText.find('\n', pos);
        std::string line = windowText.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key, 0) == 0) return line.substr(key.size());
        if (line == caption) return "";
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return "";
}

std::string Show(const std::string& cp1250) { return text::Cp1250ToUtf8(cp1250); }

std::string Utf8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

bool DriverName(const fs::path& p, std::string* cp1250) {
    std::vector<size_t> lost;
    *cp1250 = text::Utf8ToCp1250(Utf8(p), &lost);
    return lost.empty();
}

void Error(const std::string& utf8) { std::cerr << "zelk: " << utf8 << "\n"; }

std::string StatusShown(int code, const std::string& utf8Text) {
    const std::string gloss = StatusGloss(code);
    return std::to_string(code) + " " + utf8Text + (gloss.empty() ? "" : " (" + gloss + ")");
}

std::string Json(const std::string& utf8) {
    std::string o = "\"";
    for (char c : utf8) {
        switch (c) {
            case '"': o += "\\\""; break;
            case '\\': o += "\\\\"; break;
            case '\n': o += "\\n"; break;
            case '\r': o += "\\r"; break;
            case '\t': o += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                    o += buf;
                } else {
                    o += c;
                }
        }
    }
    return o + "\"";
}

std::string CsvCell(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

int MissingFile(const std::string& what, const std::string& path) {
    Error("cannot read the " + what + " " + path + ": no such file");
    return kExitFile;
}

static bool StartsCodePoint(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

size_t Columns(const std::string& utf8) {
    size_t w = 0;
    for (char c : utf8)
        if (StartsCodePoint(c)) ++w;
    return w;
}

std::string Pad(const std::string& utf8, size_t width) {
    const size_t w = Columns(utf8);
    return w >= width ? utf8 : utf8 + std::string(width - w, ' ');
}

std::string Clip(const std::string& utf8, size_t width) {
    if (Columns(utf8) <= width || width == 0) return width == 0 ? "" : utf8;
    size_t kept = 0, at = 0;
    for (; at < utf8.size(); ++at)
        if (StartsCodePoint(utf8[at]) && kept++ == width - 1) break;
    return utf8.substr(0, at) + "…";
}

std::string Table::Text() const {
    std::vector<size_t> widths;
    for (const auto& row : rows_)
        for (size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], Columns(row[i]));
        }
    std::string out;
    for (const auto& row : rows_) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) line += i + 1 < row.size() ? Pad(row[i], widths[i] + 2) : row[i];
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

}  // namespace zelk::tool
