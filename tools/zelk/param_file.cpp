#include "param_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "cp1250.h"

namespace zelk::tool {
namespace {

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::string Fold(const std::string& s) {
    std::string r = Trim(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

struct Line {
    size_t begin, end;  // of the line without its line break
};

std::vector<Line> SplitLines(const std::string& t) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < t.size()) {
        size_t nl = t.find('\n', pos);
        size_t end = nl == std::string::npos ? t.size() : nl;
        size_t e = end;
        if (e > pos && t[e - 1] == '\r') --e;
        lines.push_back({pos, e});
        pos = nl == std::string::npos ? t.size() : nl + 1;
    }
    return lines;
}

bool IsSection(const std::string& line, std::string* name) {
    std::string s = Trim(line);
    if (s.size() < 2 || s.front() != '[') return false;
    size_t close = s.find(']');
    if (close == std::string::npos) return false;
    *name = s.substr(1, close - 1);
    return true;
}

}  // namespace

std::optional<ParamFile> ParamFile::Load(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return std::nullopt;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    return FromText(ss.str());
}

std::optional<std::string> ParamFile::Get(const std::string& section, const std::string& key) const {
    const std::string sec = Fold(Utf8ToCp1250(section)), k = Fold(Utf8ToCp1250(key));
    bool inside = false;
    for (const Line& l : SplitLines(text_)) {
        std::string line = text_.substr(l.begin, l.end - l.begin);
        std::string name;
        if (IsSection(line, &name)) {
            inside = Fold(name) == sec;
            continue;
        }
        if (!inside) continue;
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (Fold(line.substr(0, eq)) == k) return Cp1250ToUtf8(Trim(line.substr(eq + 1)));
    }
    return std::nullopt;
}

void ParamFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    const std::string sec = Fold(Utf8ToCp1250(section)), k = Fold(Utf8ToCp1250(key));
    const std::string newLine = Utf8ToCp1250(key) + "=" + Utf8ToCp1250(value);
    std::vector<Line> lines = SplitLines(text_);
    bool inside = false;
    size_t lastInSection = std::string::npos;  // end of the section's last line
    for (const Line& l : lines) {
        std::string line = text_.substr(l.begin, l.end - l.begin);
        std::string name;
        if (IsSection(line, &name)) {
            if (inside) break;
            inside = Fold(name) == sec;
            if (inside) lastInSection = l.end;
            continue;
        }
        if (!inside) continue;
        if (!Trim(line).empty()) lastInSection = l.end;
        size_t eq = line.find('=');
        std::string t = Trim(line);
        if (eq != std::string::npos && !t.empty() && t[0] != ';' && Fold(line.substr(0, eq)) == k) {
            text_.replace(l.begin, l.end - l.begin, newLine);
            return;
        }
    }
    if (lastInSection != std::string::npos) {
        text_.insert(lastInSection, "\r\n" + newLine);
        return;
    }
    if (!text_.empty() && text_.back() != '\n') text_ += "\r\n";
    text_ += "\r\n[" + Utf8ToCp1250(section) + "]\r\n" + newLine + "\r\n";
}

bool ParamFile::Save(const std::string& path, std::string* error) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text_;
    out.close();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

std::optional<double> ParseReal(const std::string& text) {
    std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    for (char& c : t)
        if (c == ',') c = '.';
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (*end != 0) return std::nullopt;
    return v;
}

std::optional<long> ParseInteger(const std::string& text) {
    std::string t = Trim(text);
    int base = 10;
    if (t.rfind("0x", 0) == 0 || t.rfind("0X", 0) == 0) { t = t.substr(2); base = 16; }
    else if (!t.empty() && t[0] == '$') { t = t.substr(1); base = 16; }
    if (t.empty()) return std::nullopt;
    char* end = nullptr;
    long v = std::strtol(t.c_str(), &end, base);
    if (*end != 0) return std::nullopt;
    return v;
}

int RangeCodeOf(const std::string& name) {
    static const char* const names[6] = {"10V", "5V", "2V", "1V", "500mV", "200mV"};
    for (int i = 0; i < 6; ++i)
        if (name == names[i]) return i;
    return 0;
}

std::string BuildParamText(const RunSettings& s) {
    std::ostringstream o;
    char period[64];
    std::snprintf(period, sizeof period, "%.1f", s.periodUs);
    o << "; Parametrický soubor pro zelk measure / parameter file written by zelk measure\r\n"
      << "[Volba modulu]\r\nVýrobní číslo=" << s.serial << "\r\nUSB timeout=" << s.usbTimeoutMs << "\r\n\r\n"
      << "[Logovací soubor]\r\nÚroveň=" << s.logLevel << "\r\n";
    if (!s.logFile.empty()) o << "Název souboru=" << s.logFile << "\r\n";
    o << "\r\n";
    for (int i = 0; i < 16; ++i) {
        o << "[Analogový kanál " << i << "]\r\nNázev=AIN" << i << "\r\nVstup=" << i << "\r\nRozsah="
          << (s.ranges[i].empty() ? "10V" : s.ranges[i]) << "\r\nKonstanta A=1.0\r\nKonstanta B=0.0\r\n\r\n";
    }
    o << "[Měření časovačem]\r\nPočet kanálů=" << s.channels << "\r\nPerioda [us]=" << period
      << "\r\nPovolení CNT0=" << (s.cnt0 ? 1 : 0) << "\r\nPovolení CNT1=" << (s.cnt1 ? 1 : 0)
      << "\r\nPovolení DIN a DOUT=" << (s.dio ? 1 : 0) << "\r\n\r\n"
      << "[Konverze souboru]\r\nTyp souboru=" << s.fileType << "\r\nAdresář=" << s.directory << "\r\n";
    return o.str();
}

}  // namespace zelk::tool
