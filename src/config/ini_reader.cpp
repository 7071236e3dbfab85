#include "config/ini_reader.h"

#include <array>
#include <cstdio>
#include <memory>

#include "config/text.h"

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
        uint32_t cp = b < 0x80 ? static_cast<uint32_t>(b) : text::detail::kHigh[b - 0x80];
        int lower = (b >= 0x80 && cp == 0) ? -1 : text::CodePointToCp1250(LowerCodePoint(cp));
        t[b] = static_cast<unsigned char>(lower < 0 ? b : lower);
    }
    return t;
}

const std::array<unsigned char, 256>& FoldTable() {
    static const std::array<unsigned char, 256> table = MakeFoldTable();
    return table;
}

void AppendCodePoint(std::string& out, uint32_t cp) {
    int c = text::CodePointToCp1250(cp);
    out.push_back(c < 0 || (cp != 0 && c == 0) ? '?' : static_cast<char>(c));
}

std::string Utf16ToCp1250(std::string_view bytes, bool bigEndian) {
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
            out.push_back('?');
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back('?');
        } else {
            AppendCodePoint(out, u);
        }
    }
    return out;
}

bool HasNonAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
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
    switch (DetectEncoding(b)) {
        case Encoding::Utf16Le: return Utf16ToCp1250(b.substr(2), false);
        case Encoding::Utf16Be: return Utf16ToCp1250(b.substr(2), true);
        case Encoding::Utf8Bom: return text::Utf8ToCp1250(b.substr(3));
        case Encoding::Utf8: return text::Utf8ToCp1250(b);
        case Encoding::Cp1250: break;
    }
    // Without a mark, or with a UTF-8 mark in front of bytes that are not UTF-8: as they are,
    // the mark dropped.
    if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return std::string(b.substr(3));
    return std::string(b);
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
    const std::string text = ToCp1250(fileBytes);
    Section* current = nullptr;  // null before the first section and inside a repeated one
    ForEachLine(text, [&](const Line& line) {
        if (line.kind == Line::Kind::Section) {
            auto [it, added] = ini.sections_.try_emplace(NameKey(line.name));
            current = added ? &it->second : nullptr;
        } else if (line.kind == Line::Kind::Key && current != nullptr) {
            current->keys.try_emplace(NameKey(line.name), line.value);
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

std::string IniFile::Get(std::string_view section, std::string_view key, std::string_view defaultValue) const {
    std::optional<std::string> v = Find(section, key);
    return v ? *v : std::string(defaultValue);
}

}  // namespace zelk::ini
