#include "param_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "config/ini_reader.h"
#include "config/param_file.h"
#include "domain/text.h"
#include "domain/record_layout.h"
#include "host_platform.h"

namespace zelk::tool {

bool ReadParam(const std::string& path, TCFG* cfg, std::string* message) {
    SetConfigDefaults(*cfg);
    std::string m;
    // A bare name would be looked up beside the executable; the user means the current folder.
    const std::string full = SystemNarrow(std::filesystem::absolute(path));
    const bool ok = ReadParameterFile(full.c_str(), *cfg, m);
    *message = text::Cp1250ToUtf8(m);
    return ok;
}

dbf::RecordLayout LayoutOfConfig(const TCFG& cfg) {
    dbf::RecordLayout l;
    l.ChannelCount = static_cast<int32_t>(cfg.Timer.TimerChannelCount);
    l.Cnt0 = IsRecorded(cfg.Timer.Cnt0Enable);
    l.Cnt1 = IsRecorded(cfg.Timer.Cnt1Enable);
    l.DinDout = IsRecorded(cfg.Timer.DinDoutEnable);
    for (int i = 0; i < dbf::kMaxChannels; ++i) {
        l.Range[i] = cfg.ChannelRange[i];
        l.ConstA[i] = cfg.ChannelConstA[i];
        l.ConstB[i] = cfg.ChannelConstB[i];
    }
    return l;
}

namespace {

using Encoding = ParamText::Encoding;

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf16ToUtf8(std::string_view b, bool bigEndian) {
    auto unit = [&](size_t i) -> uint32_t {
        auto x = static_cast<unsigned char>(b[i]), y = static_cast<unsigned char>(b[i + 1]);
        return bigEndian ? (uint32_t{x} << 8 | y) : (uint32_t{y} << 8 | x);
    };
    std::string out;
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
        uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    return out;
}

std::string Utf8ToUtf16(std::string_view s, bool bigEndian) {
    std::string out;
    auto put = [&](uint32_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
        for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

// One line of the text and the line break after it (empty for the last line).
struct Line {
    size_t begin, end, next;
};

std::vector<Line> Lines(const std::string& t) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < t.size()) {
        size_t end = t.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = t.size();
        size_t next = end;
        if (next < t.size()) next += (t[next] == '\r' && next + 1 < t.size() && t[next + 1] == '\n') ? 2 : 1;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

bool IsBlankLine(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

std::optional<ParamText> ParamText::Load(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return std::nullopt;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string b = ss.str();
    ParamText p;
    auto starts = [&](std::string_view mark) { return b.compare(0, mark.size(), mark) == 0; };
    if (starts("\xFF\xFE")) {
        p.enc_ = Encoding::Utf16Le;
        p.text_ = Utf16ToUtf8(std::string_view(b).substr(2), false);
    } else if (starts("\xFE\xFF")) {
        p.enc_ = Encoding::Utf16Be;
        p.text_ = Utf16ToUtf8(std::string_view(b).substr(2), true);
    } else if (starts("\xEF\xBB\xBF") && text::IsValidUtf8(std::string_view(b).substr(3))) {
        p.enc_ = Encoding::Utf8Bom;
        p.text_ = b.substr(3);
    } else {
        // Whatever the driver's reader converts from UTF-8 is UTF-8; the rest is cp1250.
        p.enc_ = ini::ToCp1250(b) == b ? Encoding::Cp1250 : Encoding::Utf8;
        p.text_ = b;
    }
    size_t nl = p.text_.find_first_of("\r\n");
    if (nl != std::string::npos) p.eol_ = p.text_.compare(nl, 2, "\r\n") == 0 ? "\r\n" : p.text_.substr(nl, 1);
    return p;
}

ParamText ParamText::FromUtf8(const std::string& utf8) {
    ParamText p;
    p.text_ = text::Utf8ToCp1250(utf8);
    return p;
}

void ParamText::Set(const std::string& section, const std::string& key, const std::string& value) {
    const bool cp = enc_ == Encoding::Cp1250;
    auto own = [&](const std::string& utf8) { return cp ? text::Utf8ToCp1250(utf8) : utf8; };
    auto nameKey = [&](std::string_view s) { return ini::NameKey(cp ? std::string(s) : text::Utf8ToCp1250(s)); };
    const std::string wantSection = ini::NameKey(text::Utf8ToCp1250(section));
    const std::string wantKey = ini::NameKey(text::Utf8ToCp1250(key));

    // Only the first section of a name counts, as the reader takes it.
    bool inside = false, seen = false;
    size_t insertAt = std::string::npos;  // after the last non-blank line of the section
    for (const Line& l : Lines(text_)) {
        std::string_view line(text_.data() + l.begin, l.end - l.begin);
        size_t first = line.find_first_not_of(" \t");
        if (first != std::string_view::npos && line[first] == '[') {
            if (inside) break;
            std::string_view name = line.substr(first + 1);
            name = name.substr(0, name.find(']'));
            if (!seen && nameKey(name) == wantSection) {
                inside = seen = true;
                insertAt = l.next;
            }
            continue;
        }
        if (!inside) continue;
        if (!IsBlankLine(line)) insertAt = l.next;
        if (first == std::string_view::npos || line[first] == ';') continue;
        size_t eq = line.find('=');
        if (eq != std::string_view::npos && nameKey(line.substr(0, eq)) == wantKey) {
            text_.replace(l.begin + eq + 1, l.end - l.begin - eq - 1, own(value));
            return;
        }
    }
    const std::string newLine = own(key) + "=" + own(value) + eol_;
    if (seen) {
        // The section's last line may end the file without a line break.
        if (insertAt == text_.size() && !text_.empty() && text_.back() != '\n' && text_.back() != '\r') {
            text_ += eol_;
            insertAt = text_.size();
        }
        text_.insert(insertAt, newLine);
        return;
    }
    if (!text_.empty() && text_.back() != '\n' && text_.back() != '\r') text_ += eol_;
    text_ += eol_ + "[" + own(section) + "]" + eol_ + newLine;
}

std::string ParamText::Bytes() const {
    switch (enc_) {
        case Encoding::Utf16Le: return "\xFF\xFE" + Utf8ToUtf16(text_, false);
        case Encoding::Utf16Be: return "\xFE\xFF" + Utf8ToUtf16(text_, true);
        case Encoding::Utf8Bom: return "\xEF\xBB\xBF" + text_;
        default: return text_;
    }
}

// Written beside its place and renamed over it: a crash leaves the old file or the new one,
// never an empty or half-written one.
bool ParamText::Save(const std::filesystem::path& path, std::string* error) const {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << Bytes();
    out.close();
    std::error_code ec;
    if (out) std::filesystem::rename(temporary, path, ec);
    if (!out || ec) {
        std::filesystem::remove(temporary, ec);
        const std::u8string name = path.u8string();
        *error = "cannot write " + std::string(name.begin(), name.end());
        return false;
    }
    return true;
}

}  // namespace zelk::tool
