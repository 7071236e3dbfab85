// The driver's own INI reader. It reads a file the way GetPrivateProfileStringA does:
// section and key names compared without letter case (ASCII and the Windows-1250 letters)
// and without surrounding blanks, values trimmed and freed of one matching outer pair of
// quotes, ';' comments at the start of a line only, the first of duplicate keys and of
// duplicate sections wins, values cut to 2047 characters. Files saved as UTF-8 or UTF-16
// are converted to Windows-1250 first. The same code runs on every platform.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zelk::ini {

// The longest value a lookup returns (a 2048-byte buffer with its terminating zero).
constexpr size_t kMaxValueLength = 2047;
// Larger files are not read at all (they cannot be a parameter file).
constexpr size_t kMaxFileBytes = 64u * 1024u * 1024u;

// The file's bytes as Windows-1250: a UTF-16 file with a byte order mark and a UTF-8 file
// (with a byte order mark, or valid UTF-8 holding non-ASCII bytes) are converted;
// characters without a cp1250 counterpart become '?'. Anything else is returned as is.
std::string ToCp1250(std::string_view fileBytes);

// How a file's bytes are taken (see ToCp1250).
enum class Encoding { Cp1250, Utf8, Utf8Bom, Utf16Le, Utf16Be };
Encoding DetectEncoding(std::string_view fileBytes);

// One line of a file as the reader takes it: a section header, a key, or a line it passes by
// (blank, comment, no '=', a key before the first section). `name` is trimmed; `value` is what
// a lookup returns for a key. Numbers count from 1; CR LF, LF and CR each end a line.
struct Line {
    enum class Kind { Section, Key, Other };
    int number = 0;
    Kind kind = Kind::Other;
    std::string_view name;
    std::string_view value;
};
// Walks the lines of a file already converted to cp1250 (ToCp1250).
template <class F>
void ForEachLine(std::string_view cp1250Text, F&& visit);

// Case folding of a cp1250 byte (to lower case, as Unicode maps the letter).
unsigned char FoldCp1250(unsigned char c);
// Folded and trimmed form of a section or key name, as lookups compare it.
std::string NameKey(std::string_view name);

class IniFile {
public:
    // Parses the bytes of a file (any of the encodings above).
    static IniFile Parse(std::string_view fileBytes);
    // Reads and parses a file; false if it cannot be read (then `out` is left empty).
    static bool Load(const std::string& path, IniFile& out);

    // The value of a key, as GetPrivateProfileStringA returns it; nothing if the section
    // or the key is absent.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string Get(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // True when the key's value held characters that Windows-1250 lacks (each read as '?'),
    // or, in a Windows-1250 file, bytes that stand for no character.
    bool LostCharacters(std::string_view section, std::string_view key) const;

private:
    struct Section {
        std::unordered_map<std::string, std::string> keys;  // folded key -> value
        std::unordered_set<std::string> lossy;              // folded keys of LostCharacters
    };
    std::unordered_map<std::string, Section> sections_;  // folded section name -> keys
};

namespace detail {
std::string_view Trim(std::string_view s);
std::string_view UpToZero(std::string_view s);
}  // namespace detail

template <class F>
void ForEachLine(std::string_view all, F&& visit) {
    using detail::Trim;
    size_t pos = 0;
    int number = 0;
    while (pos < all.size()) {
        size_t end = all.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = all.size();
        Line out;
        out.number = ++number;
        std::string_view line = Trim(all.substr(pos, end - pos));
        pos = end;
        if (pos < all.size()) {
            if (all[pos] == '\r' && pos + 1 < all.size() && all[pos + 1] == '\n') pos += 2;
            else pos += 1;
        }
        if (!line.empty() && line[0] == '[') {
            // The name ends at the first ']'; a line without one names the rest of the line.
            std::string_view name = line.substr(1);
            size_t close = name.find(']');
            if (close != std::string_view::npos) name = name.substr(0, close);
            out.kind = Line::Kind::Section;
            out.name = Trim(detail::UpToZero(name));
        } else if (!line.empty() && line[0] != ';' && line.find('=') != std::string_view::npos) {
            const size_t eq = line.find('=');
            std::string_view value = Trim(detail::UpToZero(Trim(line.substr(eq + 1))));
            if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
                value = value.substr(1, value.size() - 2);
            if (value.size() > kMaxValueLength) value = value.substr(0, kMaxValueLength);
            out.kind = Line::Kind::Key;
            out.name = Trim(detail::UpToZero(line.substr(0, eq)));
            out.value = value;
        }
        visit(static_cast<const Line&>(out));
    }
}

}  // namespace zelk::ini
