#include "records/dbase.h"

#include <cmath>
#include <cstring>

#include "config/numtext.h"
#include "core/record_layout.h"

namespace zelk::dbf {

int RecordLayout::Channels() const { return ChannelCount < 1 ? 1 : ChannelCount > kMaxChannels ? kMaxChannels : ChannelCount; }
int RecordLayout::FieldCount() const { return 1 + Channels() + (Cnt0 ? 1 : 0) + (Cnt1 ? 1 : 0) + (DinDout ? 3 : 0); }
int RecordLayout::HeaderLength() const { return 32 * FieldCount() + 33; }
int RecordLayout::RowLength() const { return 11 + 10 * Channels() + (Cnt0 ? 5 : 0) + (Cnt1 ? 5 : 0) + (DinDout ? 3 : 0); }
int RecordLayout::RecordBytes() const { return 2 * Channels() + (Cnt0 ? 2 : 0) + (Cnt1 ? 2 : 0) + (DinDout ? 2 : 0); }

static TDBF_HlavickaPolozka Field(const std::string& name, uint8_t length, uint8_t decimals) {
    TDBF_HlavickaPolozka f;
    f.FieldName = name;
    f.FieldLength = length;
    f.FieldDecimals = decimals;
    f.FieldReserved[2] = 1;
    return f;
}

int BuildFields(const RecordLayout& layout, std::array<TDBF_HlavickaPolozka, kMaxFields>& fields) {
    int k = 0;
    fields[k++] = Field("INDEX", 10, 0);
    for (int j = 0; j < layout.Channels(); ++j) fields[k++] = Field("AIN" + std::to_string(j), kAinWidth, 4);
    if (layout.Cnt0) fields[k++] = Field("CNT0", 5, 0);
    if (layout.Cnt1) fields[k++] = Field("CNT1", 5, 0);
    if (layout.DinDout) {
        fields[k++] = Field("DIN0", 1, 0);
        fields[k++] = Field("DIN1", 1, 0);
        fields[k++] = Field("DOUT", 1, 0);
    }
    return k;
}

std::array<uint8_t, 32> DescriptorBytes(const TDBF_HlavickaPolozka& field) {
    std::array<uint8_t, 32> b{};
    std::memcpy(b.data(), field.FieldName.data(), field.FieldName.size() < 10 ? field.FieldName.size() : 10);
    b[11] = static_cast<uint8_t>(field.FieldType);
    for (int i = 0; i < 4; ++i) b[12 + i] = static_cast<uint8_t>(field.FieldAddress >> (8 * i));
    b[16] = field.FieldLength;
    b[17] = field.FieldDecimals;
    std::memcpy(b.data() + 18, field.FieldReserved.data(), 14);
    return b;
}

std::array<uint8_t, 4> RowCountBytes(uint32_t rowCount) {
    return {static_cast<uint8_t>(rowCount), static_cast<uint8_t>(rowCount >> 8), static_cast<uint8_t>(rowCount >> 16),
            static_cast<uint8_t>(rowCount >> 24)};
}

std::string HeaderBytes(const RecordLayout& layout, uint32_t rowCount, const Date& date) {
    std::array<TDBF_HlavickaPolozka, kMaxFields> fields;
    const int f = BuildFields(layout, fields);
    std::string h(32, '\0');
    h[0] = 3;
    h[1] = static_cast<char>(((date.year % 100) + 100) % 100);
    h[2] = static_cast<char>(date.month);
    h[3] = static_cast<char>(date.day);
    auto rc = RowCountBytes(rowCount);
    std::memcpy(&h[kRowCountOffset], rc.data(), 4);
    const int hl = layout.HeaderLength(), rl = layout.RowLength();
    h[8] = static_cast<char>(hl & 0xFF);
    h[9] = static_cast<char>(hl >> 8);
    h[10] = static_cast<char>(rl & 0xFF);
    h[11] = static_cast<char>(rl >> 8);
    for (int i = 0; i < f; ++i) {
        auto d = DescriptorBytes(fields[i]);
        h.append(reinterpret_cast<const char*>(d.data()), d.size());
    }
    h.push_back(static_cast<char>(kHeaderEnd));
    return h;
}

double FullScale(uint32_t rangeCode) { return FullScaleOf(rangeCode); }

double AinValue(uint16_t raw, uint32_t rangeCode, double constA, double constB) {
    double v = (static_cast<double>(raw) - 32767.0) * FullScale(rangeCode) / 32767.0;
    return (v + constB) * constA;
}

static void RightAligned(std::string& row, const std::string& text, size_t width) {
    if (text.size() < width) row.append(width - text.size(), ' ');
    row += text;
}

std::string AinText(double v) {
    if (!std::isfinite(v)) return std::string(kAinWidth, '*');
    std::string t = text::FormatFixed(v, 4, 10, '.');
    // FormatFixed turns to scientific notation beyond 10 digits; neither that nor a
    // number longer than the field may stand in the table.
    if (t.size() > static_cast<size_t>(kAinWidth) || t.find('E') != std::string::npos)
        return std::string(kAinWidth, '*');
    return std::string(kAinWidth - t.size(), ' ') + t;
}

std::string RowText(const RecordLayout& layout, uint32_t index, const uint8_t* record) {
    std::string row;
    row.reserve(static_cast<size_t>(layout.RowLength()));
    row.push_back(' ');
    RightAligned(row, std::to_string(index), 10);
    const int n = layout.Channels();
    int pos = 0;
    auto word = [&]() {
        uint16_t w = static_cast<uint16_t>(record[pos] | (record[pos + 1] << 8));
        pos += 2;
        return w;
    };
    for (int j = 0; j < n; ++j) row += AinText(AinValue(word(), layout.Range[j], layout.ConstA[j], layout.ConstB[j]));
    if (layout.Cnt0) RightAligned(row, std::to_string(word()), 5);
    if (layout.Cnt1) RightAligned(row, std::to_string(word()), 5);
    if (layout.DinDout) {
        uint8_t din = record[pos], dout = record[pos + 1];
        row.push_back((din & 1) ? '1' : '0');
        row.push_back((din & 2) ? '1' : '0');
        row.push_back((dout & 1) ? '1' : '0');
    }
    return row;
}

}  // namespace zelk::dbf
