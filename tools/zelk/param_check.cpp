#include "param_check.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "channel_labels.h"
#include "config/ini_reader.h"
#include "config/param_file.h"
#include "config/param_keys.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/ranges.h"

namespace zelk::tool {

namespace {

namespace fs = std::filesystem;
using ini::Line;
using param::Key;
using param::Kind;

std::string U(std::string_view cp1250) { return text::Cp1250ToUtf8(cp1250); }

const char* EncodingName(ini::Encoding e) {
    switch (e) {
        case ini::Encoding::Cp1250: return "Windows-1250";
        case ini::Encoding::Utf8: return "UTF-8 (read as Windows-1250 by the driver)";
        case ini::Encoding::Utf8Bom: return "UTF-8 with a byte order mark (read as Windows-1250 by the driver)";
        case ini::Encoding::Utf16Le: return "UTF-16 little-endian (read as Windows-1250 by the driver)";
        case ini::Encoding::Utf16Be: return "UTF-16 big-endian (read as Windows-1250 by the driver)";
    }
    return "?";
}

// The letters of cp1250 without their accents, so that "Analogovy kanal" finds
// "Analogový kanál": the base letter of each accented code point the code page holds.
char BaseLetter(uint32_t cp) {
    static const std::map<uint32_t, char> bases = [] {
        std::map<uint32_t, char> m;
        const std::pair<const char*, char> groups[] = {
            {"áäâăą", 'a'}, {"čćç", 'c'}, {"ďđ", 'd'}, {"éěëę", 'e'}, {"íî", 'i'}, {"ĺľł", 'l'},
            {"ňń", 'n'},    {"óôöő", 'o'}, {"řŕ", 'r'}, {"šśş", 's'}, {"ťţ", 't'},   {"úůüű", 'u'},
            {"ý", 'y'},     {"žźż", 'z'},
        };
        for (const auto& [letters, base] : groups) {
            const std::string cp = text::Utf8ToCp1250(letters);
            for (unsigned char c : cp) {
                const uint32_t point = cp1250::kHigh[c - 0x80];
                m[point] = base;
            }
        }
        return m;
    }();
    auto it = bases.find(cp);
    return it == bases.end() ? '\0' : it->second;
}

// Folded, without accents and blanks: the form in which near names meet.
std::string Loose(std::string_view cp1250) {
    std::string out;
    for (unsigned char c : ini::NameKey(cp1250)) {
        if (c == ' ' || c == '\t') continue;
        if (c >= 0x80) {
            const char base = BaseLetter(cp1250::kHigh[c - 0x80]);
            if (base) c = static_cast<unsigned char>(base);
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The nearest of the names, when one is near.
std::optional<std::string> NearestName(std::string_view name, const std::vector<std::string>& candidates,
                                       size_t* distance = nullptr) {
    const std::string loose = Loose(name);
    std::optional<std::string> best;
    size_t bestDistance = std::max<size_t>(2, loose.size() / 4) + 1;
    for (const std::string& c : candidates) {
        const size_t d = Distance(loose, Loose(c));
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    if (distance) *distance = bestDistance;
    return best;
}

// "; did you mean X?" with the nearest of the names, or nothing when none is near.
std::string Nearest(std::string_view name, const std::vector<std::string>& candidates) {
    size_t d = 0;
    const std::optional<std::string> best = NearestName(name, candidates, &d);
    if (!best) return "";
    return d == 0 ? "; did you mean \"" + U(*best) + "\"? (letter case, accents or blanks differ)"
                  : "; did you mean \"" + U(*best) + "\"?";
}

// The channel of an analog channel's section ("Analogový kanál 3"), or -1.
int ChannelOfSection(const std::string& folded) {
    const std::string prefix = ini::NameKey("Analogový kanál"_cp) + " ";
    if (folded.rfind(prefix, 0) != 0) return -1;
    const std::string rest = folded.substr(prefix.size());
    for (int n = 0; n < kAnalogCount; ++n)
        if (rest == std::to_string(n)) return n;
    return -1;
}

std::vector<std::string> KeyNamesOf(bool analogChannel, const std::string& sectionFolded) {
    std::vector<std::string> out;
    for (const Key& k : param::Keys())
        if (k.perAnalogChannel == analogChannel &&
            (analogChannel || ini::NameKey(k.section) == sectionFolded))
            out.push_back(k.name);
    return out;
}

const Key* FindKey(int channel, const std::string& sectionFolded, const std::string& keyFolded) {
    for (const Key& k : param::Keys()) {
        if (ini::NameKey(k.name) != keyFolded) continue;
        if (k.perAnalogChannel ? channel >= 0 : ini::NameKey(k.section) == sectionFolded) return &k;
    }
    return nullptr;
}

std::string RangeNames() {
    std::string s;
    for (const RangeInfo& r : kRanges) s += (s.empty() ? "" : ", ") + std::string(r.name);
    return s;
}

class Checker {
public:
    Checker(const TCFG& cfg, ParamCheck& out) : cfg_(cfg), out_(out) {}

    void Visit(const Line& line) {
        if (line.kind == Line::Kind::Section) return Section(line);
        if (line.kind == Line::Kind::Key) return KeyLine(line);
    }

    void Finish() {
        if (!serialSeen_)
            Add(0, true, "no key \"Výrobní číslo\" in [Volba modulu]: Init refuses the file without the module's serial number");
    }

private:
    void Add(int line, bool error, const std::string& text) {
        out_.findings.push_back({line, error, (meant_ ? "(in [" + U(sectionName_) + "] once named so) " : "") + text});
    }

    void Section(const Line& line) {
        const std::string folded = ini::NameKey(line.name);
        inSection_ = true;
        section_ = folded;
        sectionName_ = std::string(line.name);
        channel_ = ChannelOfSection(folded);
        keysSeen_.clear();
        meant_ = false;
        auto [it, added] = sectionsSeen_.try_emplace(folded, line.number);
        ignored_ = !added;
        if (!added) {
            Add(line.number, false,
                "[" + U(line.name) + "] repeats the section of line " + std::to_string(it->second) +
                    ": the driver reads the first one only and ignores this one");
            return;
        }
        known_ = channel_ >= 0 || IsToolKey(sectionName_, "");
        for (const std::string& s : param::Sections())
            if (ini::NameKey(s) == folded) known_ = true;
        if (!known_) {
            Add(line.number, false,
                "[" + U(line.name) + "] is not a section the driver reads; its keys are ignored" +
                    Nearest(line.name, param::Sections()));
            // Its keys are checked as those of the section it was meant to be, so that one run
            // shows every mistake.
            if (const auto meant = NearestName(line.name, param::Sections())) {
                meant_ = true;
                section_ = ini::NameKey(*meant);
                sectionName_ = *meant;
                channel_ = ChannelOfSection(section_);
            }
        }
    }

    void KeyLine(const Line& line) {
        const std::string key = U(line.name);
        if (!inSection_) {
            Add(line.number, false, "\"" + key + "\" stands before the first section: the driver ignores it");
            return;
        }
        if (ignored_ || (!known_ && !meant_)) return;
        const std::string folded = ini::NameKey(line.name);
        auto [it, added] = keysSeen_.try_emplace(folded, line.number);
        if (!added) {
            Add(line.number, false,
                "\"" + key + "\" repeats the key of line " + std::to_string(it->second) +
                    " in [" + U(sectionName_) + "]: the first one counts, this one is ignored");
            return;
        }
        if (IsToolKey(sectionName_, std::string(line.name))) return;
        const Key* k = FindKey(channel_, section_, folded);
        if (k == nullptr) {
            Add(line.number, false,
                "\"" + key + "\" is not a key the driver reads in [" + U(sectionName_) + "]; it is ignored" +
                    Nearest(line.name, KeyNamesOf(channel_ >= 0, section_)));
            return;
        }
        Value(line, *k);
    }

    void Value(const Line& line, const Key& k) {
        const std::string v(line.value);
        const std::string what = "\"" + U(line.name) + "=" + U(v) + "\"";
        const std::string used = U(param::ValueUsed(k.id, cfg_, channel_));
        switch (k.kind) {
            case Kind::Integer: {
                int32_t n = 0;
                if (!ParseIntegerText(v, n)) {
                    Add(line.number, k.failsInit,
                        what + ": not a whole number" +
                            (k.failsInit ? ": Init refuses it" : "; the driver keeps " + used));
                } else if (n < k.min || n > k.max) {
                    Add(line.number, k.failsInit,
                        what + ": outside " + std::to_string(k.min) + ".." + std::to_string(k.max) +
                            (k.failsInit ? ": Init refuses it" : "; the driver uses " + used));
                }
                break;
            }
            case Kind::Real: {
                double x = 0;
                if (!ParseRealText(v, x)) {
                    Add(line.number, true, what + ": not a number: Init refuses it");
                } else if (k.id == param::KeyId::TimerPeriod) {
                    double usedPeriod = 0;
                    ParseRealText(param::ValueUsed(k.id, cfg_, channel_), usedPeriod);
                    if (usedPeriod != x)
                        Add(line.number, false,
                            what + ": a measurement runs at " + used +
                                " us (at least the layout's shortest period, at most 32767.5, in 0.5 us steps)");
                }
                break;
            }
            case Kind::RangeName:
                if (RangeCodeOfName(v) == 0 && v != kRanges[0].name)
                    Add(line.number, false, what + ": not a range name (" + RangeNames() + ", exact case); the driver uses " + used);
                break;
            case Kind::FileType: {
                const std::string upper = ini::NameKey(v);
                if (upper != "bin" && upper != "dbf") Add(line.number, true, what + ": neither BIN nor DBF: Init refuses it");
                break;
            }
            case Kind::Text:
                if (k.id == param::KeyId::Serial) {
                    serialSeen_ = true;
                    if (v.rfind("120", 0) != 0 && v.rfind("121", 0) != 0)
                        Add(line.number, false,
                            what + ": the driver opens only modules whose serial numbers begin with 120 or 121");
                }
                if (k.id == param::KeyId::LogFile && cfg_.LogLevel >= 1 && v.size() < 3)
                    Add(line.number, true, what + ": shorter than 3 characters while the log is on: Init refuses it");
                break;
        }
    }

    const TCFG& cfg_;
    ParamCheck& out_;
    std::map<std::string, int> sectionsSeen_;
    std::map<std::string, int> keysSeen_;
    std::string section_, sectionName_;
    int channel_ = -1;
    bool inSection_ = false, ignored_ = false, known_ = false, serialSeen_ = false;
    bool meant_ = false;  // an unknown section whose keys are checked as those of its nearest name
};

}  // namespace

bool ParamCheck::HasErrors() const {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.error; });
}

bool IsToolKey(const std::string& sectionCp1250, const std::string& keyCp1250) {
    const std::string section = ini::NameKey(sectionCp1250);
    if (section == ini::NameKey("Záznam"_cp)) return true;  // the sidecar's facts, any key
    return !keyCp1250.empty() && ChannelOfSection(section) >= 0 && ini::NameKey(keyCp1250) == ini::NameKey(kUnitKey);
}

ParamCheck CheckParamFile(const std::string& path) {
    ParamCheck c;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (!in && !in.eof()) {
        c.findings.push_back({0, true, "cannot be read"});
        return c;
    }
    c.readable = true;
    c.encoding = EncodingName(ini::DetectEncoding(bytes));
    TCFG cfg;
    SetConfigDefaults(cfg);
    std::string message;
    const std::string full = fs::absolute(path).string();
    const bool accepted = ReadParameterFile(full.c_str(), cfg, message);
    Checker checker(cfg, c);
    ini::ForEachLine(ini::ToCp1250(bytes), [&](const Line& line) { checker.Visit(line); });
    checker.Finish();
    // The reader is the judge: a refusal the walk did not explain is still shown.
    if (!accepted && !c.HasErrors()) c.findings.push_back({0, true, "Init refuses it: " + U(message)});
    std::stable_sort(c.findings.begin(), c.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return c;
}

std::string FindingLines(const std::string& path, const ParamCheck& c) {
    std::string out;
    for (const Finding& f : c.findings)
        out += path + (f.line ? ":" + std::to_string(f.line) : "") + ": " + (f.error ? "error: " : "warning: ") +
               f.text + "\n";
    return out;
}

}  // namespace zelk::tool
