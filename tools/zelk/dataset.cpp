#include "dataset.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "config/param_file.h"
#include "domain/channel_map.h"

#include "domain/record_layout.h"

namespace zelk::tool {

const Column* Dataset::Find(const std::string& name) const {
    auto same = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (const Column& c : columns)
        if (same(c.name, name)) return &c;
    return nullptr;
}

bool BuildLayout(const TCFG* cfg, const LayoutOptions& o, dbf::RecordLayout* l, double* periodUs, std::string* error) {
    TCFG defaults;
    if (!cfg) {
        SetConfigDefaults(defaults);
        cfg = &defaults;
    }
    *l = LayoutOfConfig(*cfg);
    *periodUs = cfg == &defaults ? 0 : cfg->Timer.TimerPeriodUs;
    if (o.channels >= 0) l->ChannelCount = o.channels;
    if (l->ChannelCount < 1 || l->ChannelCount > 16) {
        *error = "channel count " + std::to_string(l->ChannelCount) + " is outside 1..16";
        return false;
    }
    if (o.noCnt0) l->Cnt0 = false;
    if (o.noCnt1) l->Cnt1 = false;
    if (o.noDio) l->DinDout = false;
    if (o.periodUs > 0) *periodUs = o.periodUs;
    if (!o.ranges.empty()) {
        std::stringstream ss(o.ranges);
        std::string item;
        for (int i = 0; std::getline(ss, item, ','); ++i) {
            if (i >= dbf::kMaxChannels) {
                *error = "--ranges names more than 16 channels";
                return false;
            }
            // A range name as the parameter file writes it, or a code as channels 100..115 take it.
            int32_t code = -1;
            if (RangeName(RangeCodeOf(item)) == item) code = RangeCodeOf(item);
            else if (ParseIntegerText(item, code) && (code < 0 || code > 15)) code = -1;
            if (code < 0) {
                *error = "--ranges: '" + item + "' is not a range (10V 5V 2V 1V 500mV 200mV or a code 0..15)";
                return false;
            }
            l->Range[i] = static_cast<uint8_t>(code);
        }
    }
    return true;
}

static bool ReadAll(const std::string& path, std::string* bytes, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    *bytes = ss.str();
    return true;
}

static uint32_t U16(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8);
}

bool ReadTable(const std::string& path, Dataset* data, std::string* error, std::string* note) {
    std::string b;
    if (!ReadAll(path, &b, error)) return false;
    if (b.size() < 33 || (b[0] != 3 && b[0] != static_cast<char>(0x83))) {
        *error = path + " is not a dBASE III table";
        return false;
    }
    uint32_t rows = U16(b, 4) | (U16(b, 6) << 16);
    size_t headerLen = U16(b, 8), rowLen = U16(b, 10);
    struct Field { std::string name; size_t offset, length; };
    std::vector<Field> fields;
    size_t offset = 1;  // the deletion flag
    for (size_t at = 32; at + 32 <= b.size() && b[at] != 0x0D; at += 32) {
        std::string name(b.data() + at, 11);
        name = name.substr(0, name.find('\0'));
        size_t len = static_cast<uint8_t>(b[at + 16]);
        fields.push_back({name, offset, len});
        offset += len;
    }
    if (fields.empty() || headerLen > b.size() || offset != rowLen) {
        *error = path + ": the table header is damaged";
        return false;
    }
    size_t available = (b.size() - headerLen) / rowLen;
    if (available < rows) {
        *note = "the header promises " + std::to_string(rows) + " rows, the file holds " + std::to_string(available);
        rows = static_cast<uint32_t>(available);
    }
    data->columns.clear();
    for (const Field& f : fields) data->columns.push_back({f.name, {}});
    for (uint32_t r = 0; r < rows; ++r) {
        const char* row = b.data() + headerLen + static_cast<size_t>(r) * rowLen;
        if (row[0] == '*') continue;  // a deleted row
        for (size_t i = 0; i < fields.size(); ++i) {
            std::string t(row + fields[i].offset, fields[i].length);
            char* end = nullptr;
            double v = std::strtod(t.c_str(), &end);
            data->columns[i].values.push_back(end == t.c_str() ? 0.0 : v);
        }
    }
    return true;
}

std::vector<std::string> RecordColumnNames(const dbf::RecordLayout& l) {
    std::vector<std::string> names;
    for (int j = 0; j < l.Channels(); ++j) names.push_back("AIN" + std::to_string(j));
    if (l.Cnt0) names.push_back("CNT0");
    if (l.Cnt1) names.push_back("CNT1");
    if (l.DinDout) names.insert(names.end(), {"DIN0", "DIN1", "DOUT"});
    return names;
}

void DecodeRecord(const dbf::RecordLayout& l, const uint8_t* record, double* out) {
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(record[at] | record[at + 1] << 8); };
    size_t at = 0;
    for (int j = 0; j < l.Channels(); ++j, at += 2) *out++ = dbf::AinValue(u16(at), l.Range[j], l.ConstA[j], l.ConstB[j]);
    if (l.Cnt0) *out++ = u16(at), at += 2;
    if (l.Cnt1) *out++ = u16(at), at += 2;
    if (l.DinDout) {
        *out++ = record[at] & 1;
        *out++ = (record[at] >> 1) & 1;
        *out++ = record[at + 1] & 1;
    }
}

bool ReadRecordFile(const std::string& path, const dbf::RecordLayout& l, Dataset* data, std::string* error,
                    std::string* note) {
    std::string b;
    if (!ReadAll(path, &b, error)) return false;
    const size_t r = static_cast<size_t>(l.RecordBytes());
    const size_t count = b.size() / r;
    if (b.size() % r != 0)
        *note = "the file ends in a partial record (" + std::to_string(b.size() % r) + " of " + std::to_string(r) +
                " bytes), left out";
    data->columns.clear();
    data->columns.push_back({"INDEX", {}});
    for (const std::string& name : RecordColumnNames(l)) data->columns.push_back({name, {}});
    std::vector<double> values(data->columns.size() - 1);
    for (size_t k = 0; k < count; ++k) {
        DecodeRecord(l, reinterpret_cast<const uint8_t*>(b.data()) + k * r, values.data());
        data->columns[0].values.push_back(static_cast<double>(k));
        for (size_t c = 0; c < values.size(); ++c) data->columns[c + 1].values.push_back(values[c]);
    }
    return true;
}

}  // namespace zelk::tool
