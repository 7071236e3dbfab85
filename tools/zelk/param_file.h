// The driver's parameter file as the tool writes and reads it: INI text in Windows-1250.
// Section and key names are given in UTF-8 and compared without regard to ASCII letter
// case and surrounding blanks, as the driver compares them.
#pragma once
#include <array>
#include <optional>
#include <string>

namespace zelk::tool {

class ParamFile {
public:
    // cp1250 bytes as they are on disk.
    static std::optional<ParamFile> Load(const std::string& path, std::string* error);
    static ParamFile FromText(std::string cp1250) { ParamFile p; p.text_ = std::move(cp1250); return p; }

    // The value in UTF-8, or nullopt when the section or key is absent.
    std::optional<std::string> Get(const std::string& section, const std::string& key) const;
    // Replaces the value, or adds the key (and the section) when absent.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    const std::string& Text() const { return text_; }
    bool Save(const std::string& path, std::string* error) const;

private:
    std::string text_;
};

// Settings of a measurement run for which the tool writes the parameter file.
struct RunSettings {
    std::string serial = "12000001";
    int usbTimeoutMs = 500;
    int channels = 4;
    double periodUs = 1000.0;
    bool cnt0 = true, cnt1 = true, dio = true;
    std::array<std::string, 16> ranges;  // empty = "10V"
    std::string fileType = "DBF";        // "BIN" or "DBF"
    std::string directory;               // where the record file and table go
    int logLevel = 0;
    std::string logFile;
};

// The whole file, commented, in UTF-8 (convert with Utf8ToCp1250 before writing).
std::string BuildParamText(const RunSettings& s);

// A real key the way the driver reads it: '.' or ',' as the decimal separator.
std::optional<double> ParseReal(const std::string& text);
// An integer key: decimal, or hexadecimal with 0x or $; nullopt when not a number.
std::optional<long> ParseInteger(const std::string& text);
// "10V" 0, "5V" 1, "2V" 2, "1V" 3, "500mV" 4, "200mV" 5, any other text 0.
int RangeCodeOf(const std::string& name);

}  // namespace zelk::tool
