#include "records/record_file.h"

#include <cstdio>

namespace zelk::records {

static std::string TwoDigits(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v % 100);
    return b;
}

std::string TimeStampText(const plat::LocalTime& t) {
    return std::to_string(t.year) + TwoDigits(t.month) + TwoDigits(t.day) + "_" + TwoDigits(t.hour) +
           TwoDigits(t.minute) + TwoDigits(t.second);
}

static bool EndsInSeparator(const std::string& dir) {
    char c = dir.back();
    return c == '/' || c == plat::PathSeparator();
}

std::string RecordBaseName(const std::string& dir, const std::string& serial, const plat::LocalTime& t) {
    std::string base = dir;
    // The parameter file ends the directory in a separator; a directory set by other means
    // might not, and the prefix must not be glued to the last directory name.
    if (!base.empty() && !EndsInSeparator(base)) base += plat::PathSeparator();
    return base + kRecordFilePrefix + serial + "_" + TimeStampText(t);
}

static bool NameTaken(const std::string& base) {
    return plat::FileExists(base + kRecordFileExtension) || plat::FileExists(base + kTableExtension) ||
           plat::DirectoryExists(base + kRecordFileExtension);
}

bool CreateRecordFile(const std::string& dir, const std::string& serial, const plat::LocalTime& t,
                      std::string& basePath, plat::File& file) {
    if (!dir.empty()) {
        std::string d = dir;
        while (d.size() > 1 && EndsInSeparator(d)) d.pop_back();
        if (!plat::DirectoryExists(d) && !plat::CreateDirectories(d)) return false;
    }
    const std::string plain = RecordBaseName(dir, serial, t);
    std::string base = plain;
    for (int k = 1; NameTaken(base); ++k) {
        if (k > 9999) return false;
        base = plain + "_" + std::to_string(k);
    }
    if (!file.Create(base + kRecordFileExtension)) return false;
    basePath = base;
    return true;
}

bool AppendRecordBlock(plat::File& file, const uint8_t* data, size_t bytes) {
    uint64_t sizeBefore = 0;
    if (!file.SeekToEnd(sizeBefore)) return false;
    if (bytes == 0 || file.Write(data, bytes)) return true;
    file.Resize(sizeBefore);
    return false;
}

}  // namespace zelk::records
