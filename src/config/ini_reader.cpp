#include "config/ini_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "domain/text.h"

namespace zelk::ini {

namespace detail {

// Ctrl-Z, the old end-of-file mark, counts as a blank as it does for the system's reader.
static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string_view Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Texts end at a zero byte, as they do for the platform's reader.
std::string_view UpToZero(std::string_view s) {
    size_t z = s.find('\0');
    return z == std::string_view::npos ? s : s.substr(0, z);
}

}  // namespace detail

using detail::Trim;
using detail::UpToZero;

namespace {


// Simple lower-case mapping of the code points that cp1250 holds.
uint32_t LowerCodePoint(uint32_t cp) {
    if (cp >= 'A' && cp <= 'Z') return cp + 32;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
    if ((cp >= 0x100 && cp <= 0x12F) || (cp >= 0x132 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
        return (cp % 2 == 0) ? cp + 1 : cp;
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp % 2 == 1) ? cp + 1 : cp;
    if (cp == 0x178) return 0xFF;
    return cp;
}

std::array<unsigned char, 256> MakeFoldTable() {
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b) {
        uint32_t cp = b < 0x80 ? static_cast<uint32_t>(b) : cp1250::kHigh[b - 0x80];
        int lower = (b >= 0x80 && cp == 0) ? -1 : text::CodePointToCp1250(LowerCodePoint(cp));
        t[b] = static_cast<unsigned char>(lower < 0 ? b : lower);
    }
    return t;
}

const std::array<unsigned char, 256>& FoldTable() {
    static const std::array<unsigned char, 256> table = MakeFoldTable();
    return table;
}

// `lost` receives the position of every '?' that stands for a character cp1250 lacks.
void AppendCodePoint(std::string& out, uint32_t cp, std::vector<size_t>& lost) {
    int c = text::CodePointToCp1250(cp);
    const bool none = c < 0 || (cp != 0 && c == 0);
    if (none) lost.push_back(out.size());
    out.push_back(none ? '?' : static_cast<char>(c));
}

std::string Utf16ToCp1250(std::string_view bytes, bool bigEndian, std::vector<size_t>& lost) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](size_t i) -> uint32_t {
        auto a = static_cast<unsigned char>(bytes[i]);
        auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (uint32_t{a} << 8 | b) : (uint32_t{b} << 8 | a);
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) i += 2;  // a pair outside the BMP: one '?'
            lost.push_back(out.size());
            out.push_back('?');
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            lost.push_back(out.size());
            out.push_back('?');
        } else {
            AppendCodePoint(out, u, lost);
        }
    }
    return out;
}

bool HasNonAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

// Bytes read as cp1250: those that stand for no character are lost ones.
std::string AsCp1250(std::string_view b, std::vector<size_t>& lost) {
    for (size_t i = 0; i < b.size(); ++i)
        if (!cp1250::IsCharacter(static_cast<unsigned char>(b[i]))) lost.push_back(i);
    return std::string(b);
}

// The file as cp1250, with the positions of the characters it could not hold (ascending).
std::string ToCp1250(std::string_view b, std::vector<size_t>& lost) {
    switch (DetectEncoding(b)) {
        case Encoding::Utf16Le: return Utf16ToCp1250(b.substr(2), false, lost);
        case Encoding::Utf16Be: return Utf16ToCp1250(b.substr(2), true, lost);
        case Encoding::Utf8Bom: return text::Utf8ToCp1250(b.substr(3), &lost);
        case Encoding::Utf8: return text::Utf8ToCp1250(b, &lost);
        case Encoding::Cp1250: break;
    }
    // Without a mark, or with a UTF-8 mark in front of bytes that are not UTF-8: as they are,
    // the mark dropped.
    if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return AsCp1250(b.substr(3), lost);
    return AsCp1250(b, lost);
}

}  // namespace

Encoding DetectEncoding(std::string_view b) {
    if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFF && static_cast<unsigned char>(b[1]) == 0xFE)
        return Encoding::Utf16Le;
    if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFE && static_cast<unsigned char>(b[1]) == 0xFF)
        return Encoding::Utf16Be;
    // A mark in front of bytes that are not UTF-8 after all: they are read as cp1250.
    if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF")
        return text::IsValidUtf8(b.substr(3)) ? Encoding::Utf8Bom : Encoding::Cp1250;
    if (HasNonAscii(b) && text::IsValidUtf8(b)) return Encoding::Utf8;
    return Encoding::Cp1250;
}

std::string ToCp1250(std::string_view b) {
    std::vector<size_t> lost;
    return ToCp1250(b, lost);
}

unsigned char FoldCp1250(unsigned char c) { return FoldTable()[c]; }

std::string NameKey(std::string_view name) {
    std::string_view t = Trim(UpToZero(name));
    std::string out(t);
    for (char& c : out) c = static_cast<char>(FoldCp1250(static_cast<unsigned char>(c)));
    return out;
}

IniFile IniFile::Parse(std::string_view fileBytes) {
    IniFile ini;
    std::vector<size_t> lost;
    const std::string text = ToCp1250(fileBytes, lost);
    const std::string_view all(text);
    auto losesCharacters = [&](std::string_view v) {
        const size_t from = static_cast<size_t>(v.data() - all.data());
        auto it = std::lower_bound(lost.begin(), lost.end(), from);
        return it != lost.end() && *it < from + v.size();
    };
    Section* current = nullptr;  // null before the first section and inside a repeated one
    ForEachLine(text, [&](const Line& line) {
        if (line.kind == Line::Kind::Section) {
            auto [it, added] = ini.sections_.try_emplace(NameKey(line.name));
            current = added ? &it->second : nullptr;
        } else if (line.kind == Line::Kind::Key && current != nullptr) {
            auto [it, added] = current->keys.try_emplace(NameKey(line.name), line.value);
            if (added && losesCharacters(line.value)) current->lossy.insert(it->first);
        }
    });
    return ini;
}

bool IniFile::Load(const std::string& path, IniFile& out) {
    out = IniFile{};
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        if (bytes.size() + n > kMaxFileBytes) return false;
        bytes.append(buf, n);
    }
    if (std::ferror(f.get())) return false;
    out = Parse(bytes);
    return true;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
    auto s = sections_.find(NameKey(section));
    if (s == sections_.end()) return std::nullopt;
    auto k = s->second.keys.find(NameKey(key));
    if (k == s->second.keys.end()) return std::nullopt;
    return k->second;
}

bool IniFile::LostCharacters(std::string_view section, std::string_view key) const {
    auto s = sections_.find(NameKey(section));
    return s != sections_.end() && s->second.lossy.count(NameKey(key)) != 0;
}

std::string IniFile::Get(std::string_view section, std::string_view key, std::string_view defaultValue) const {
    std::optional<std::string> v = Find(section, key);
    return v ? *v : std::string(defaultValue);
}

}  // namespace zelk::ini
