// The check of a parameter file: what the driver will not read, or not take as written, line
// by line. It walks the file with the driver's own line reader, looks keys up in the driver's
// key table and reports the values the driver's own reader leaves in its configuration, so
// that it says what the driver does, not what a second reading guesses. The driver itself
// stays lenient: it ignores what it does not know.
#pragma once
#include <string>
#include <vector>

namespace zelk::tool {

struct Finding {
    int line = 0;        // 0: the file as a whole
    bool error = false;  // Init refuses the file
    std::string text;    // UTF-8, English
};

struct ParamCheck {
    bool readable = false;
    std::string encoding;  // as the driver's reader took the file
    std::vector<Finding> findings;
    bool HasErrors() const;
};

ParamCheck CheckParamFile(const std::string& path);

// "file:line: warning: ..." lines, one per finding.
std::string FindingLines(const std::string& path, const ParamCheck& c);

// Sections and keys that the tool reads besides the driver's: [Záznam] of a sidecar and the
// unit of an analog channel. The driver ignores them; the check knows them.
bool IsToolKey(const std::string& sectionCp1250, const std::string& keyCp1250);

}  // namespace zelk::tool
