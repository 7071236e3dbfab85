// The driver's parameter file as the tool uses it: read only through the driver's own
// reader, and changed by one writer that keeps every line it does not change and the
// file's encoding (Windows-1250, UTF-8 with or without a byte order mark, UTF-16).
#pragma once
#include <filesystem>
#include <optional>
#include <string>

#include "core/Pomocny.h"
#include "dbf/dbase.h"

namespace zelk::tool {

// The driver's reading of a parameter file, from the defaults MakeDriver gives: false with
// the driver's message (UTF-8).
bool ReadParam(const std::string& path, TCFG* cfg, std::string* message);

// The record layout of a measurement that a configuration sets up.
dbf::RecordLayout LayoutOfConfig(const TCFG& cfg);

class ParamText {
public:
    enum class Encoding { Cp1250, Utf8, Utf8Bom, Utf16Le, Utf16Be };

    // The file as it is on disk; nullopt with a message when it cannot be read.
    static std::optional<ParamText> Load(const std::string& path, std::string* error);
    // A new file from UTF-8 text, written in Windows-1250 as the driver's files are.
    static ParamText FromUtf8(const std::string& utf8);

    // Replaces the value of the first key of that name in the first section of that name
    // (names compared as the driver compares them), or adds the key, and the section when
    // it is absent. Names and value in UTF-8.
    void Set(const std::string& section, const std::string& key, const std::string& value);

    // The bytes in the file's own encoding.
    std::string Bytes() const;
    bool Save(const std::filesystem::path& path, std::string* error) const;
    Encoding FileEncoding() const { return enc_; }

private:
    Encoding enc_ = Encoding::Cp1250;
    std::string text_;  // Windows-1250 bytes for a cp1250 file, else UTF-8
    std::string eol_ = "\r\n";
};

}  // namespace zelk::tool
