#include "dbf/dbase.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "domain/numtext.h"
#include "domain/record_layout.h"

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

namespace {

constexpr uint64_t kPow10[] = {1,          10,          100,          1000,          10000,          100000,
                               1000000,    10000000,    100000000,    1000000000,    10000000000ull, 100000000000ull,
                               1000000000000ull, 10000000000000ull, 100000000000000ull, 1000000000000000ull};
constexpr uint64_t kPow5[] = {1,         5,          25,          125,          625,          3125,
                              15625,     78125,      390625,      1953125,      9765625,      48828125,
                              244140625, 1220703125, 6103515625ull, 30517578125ull};

struct U128 {
    uint64_t hi, lo;
};

U128 Multiply(uint64_t a, uint64_t b) {
    const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xFFFFFFFFu)};
}

// x / 2^t rounded down (the quotient fits 64 bits; 1 <= t < 128), and in `cmp` how the
// bits shifted out compare with half of 2^t: -1 below, 0 exactly half, 1 above.
uint64_t ShiftDown(U128 x, int t, int& cmp) {
    uint64_t q, remHi, remLo, halfHi, halfLo;
    if (t >= 64) {
        const int u = t - 64;
        q = x.hi >> u;
        remHi = u == 0 ? 0 : x.hi & ((uint64_t(1) << u) - 1);
        remLo = x.lo;
        halfHi = u == 0 ? 0 : uint64_t(1) << (u - 1);
        halfLo = u == 0 ? uint64_t(1) << 63 : 0;
    } else {
        q = (x.lo >> t) | (x.hi << (64 - t));
        remHi = 0;
        remLo = x.lo & ((uint64_t(1) << t) - 1);
        halfHi = 0;
        halfLo = uint64_t(1) << (t - 1);
    }
    cmp = remHi != halfHi ? (remHi < halfHi ? -1 : 1) : remLo != halfLo ? (remLo < halfLo ? -1 : 1) : 0;
    return q;
}

// |v| in ten-thousandths after the two roundings of the value text (ten significant digits,
// then four decimals), from the exact binary value, for 1e-5 <= |v| < 1e5. False when either
// rounding meets an exact tie: there the general formatter's choices decide.
bool TenThousandths(double v, uint64_t& n) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    const int s = 1075 - biased;  // |v| = m / 2^s, 36 <= s <= 70 in this range
    // floor(log10 |v|) from the binary exponent, corrected below by the exact digit count.
    int k = ((biased - 1023) * 78913) >> 18;
    uint64_t d = 0;
    for (int tries = 0;; ++tries) {
        if (tries > 3 || k < -6 || k > 5) return false;
        const int p = 9 - k;  // decimals of ten significant digits
        int cmp;
        const uint64_t q = ShiftDown(Multiply(m, kPow5[p]), s - p, cmp);  // |v| x 10^p
        if (q >= kPow10[10]) {
            ++k;
        } else if (q < kPow10[9]) {
            --k;
        } else {
            if (cmp == 0) return false;
            d = q + (cmp > 0 ? 1 : 0);
            break;
        }
    }
    const uint64_t unit = kPow10[5 - k], half = unit / 2;  // d has 9 - k decimals, 4 stay
    const uint64_t rest = d % unit;
    if (rest == half) return false;
    n = d / unit + (rest > half ? 1 : 0);
    return true;
}

void Asterisks(char* out) { std::memset(out, '*', kAinWidth); }

void RightAligned(char* out, uint64_t value, int width) {
    char* p = out + width;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && p > out);
    while (p > out) *--p = ' ';
}

}  // namespace

std::string AinTextGeneral(double v) {
    if (!std::isfinite(v)) return std::string(kAinWidth, '*');
    std::string t = text::FormatFixed(v, 4, 10, '.');
    // FormatFixed turns to scientific notation beyond 10 digits; neither that nor a
    // number longer than the field may stand in the table.
    if (t.size() > static_cast<size_t>(kAinWidth) || t.find('E') != std::string::npos)
        return std::string(kAinWidth, '*');
    return std::string(kAinWidth - t.size(), ' ') + t;
}

void PutAinText(char* out, double v) {
    const bool negative = std::signbit(v);
    const double a = std::fabs(v);
    // Ten characters hold 99999.9999 and -9999.9999; rounding never brings a larger value
    // back below those bounds. NaN fails the comparison too.
    if (!(a < (negative ? 1e4 : 1e5))) return Asterisks(out);
    uint64_t n = 0;
    if (a >= 1e-5 && !TenThousandths(a, n)) {
        const std::string t = AinTextGeneral(v);
        std::memcpy(out, t.data(), kAinWidth);
        return;
    }
    // A value that rounds to zero is written without a sign.
    const bool sign = negative && n != 0;
    if (n >= (sign ? kPow10[8] : kPow10[9])) return Asterisks(out);
    char* p = out + kAinWidth;
    for (int i = 0; i < 4; ++i) {
        *--p = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    *--p = '.';
    do {
        *--p = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    if (sign) *--p = '-';
    while (p > out) *--p = ' ';
}

std::string AinText(double v) {
    std::string t(kAinWidth, ' ');
    PutAinText(t.data(), v);
    return t;
}

namespace {

// The row around the analog texts, which `ain(channel, sample, out)` writes.
template <class Ain>
void PutRowWith(const RecordLayout& layout, uint32_t index, const uint8_t* record, char* out, Ain&& ain) {
    *out++ = ' ';
    RightAligned(out, index, 10);
    out += 10;
    const int n = layout.Channels();
    int pos = 0;
    auto word = [&]() {
        uint16_t w = static_cast<uint16_t>(record[pos] | (record[pos + 1] << 8));
        pos += 2;
        return w;
    };
    for (int j = 0; j < n; ++j, out += kAinWidth) ain(j, word(), out);
    if (layout.Cnt0) {
        RightAligned(out, word(), 5);
        out += 5;
    }
    if (layout.Cnt1) {
        RightAligned(out, word(), 5);
        out += 5;
    }
    if (layout.DinDout) {
        uint8_t din = record[pos], dout = record[pos + 1];
        *out++ = (din & 1) ? '1' : '0';
        *out++ = (din & 2) ? '1' : '0';
        *out++ = (dout & 1) ? '1' : '0';
    }
}

}  // namespace

void PutRow(const RecordLayout& layout, uint32_t index, const uint8_t* record, char* out) {
    PutRowWith(layout, index, record, out, [&](int j, uint16_t raw, char* at) {
        PutAinText(at, AinValue(raw, layout.Range[j], layout.ConstA[j], layout.ConstB[j]));
    });
}

RowFormatter::RowFormatter(const RecordLayout& layout) : layout_(layout) {
    // Channels with the same full scale and the same constants (bit for bit) share one table.
    struct Key {
        double fs, a, b;
    };
    std::vector<Key> keys;
    for (int j = 0; j < layout_.Channels(); ++j) {
        const Key k{FullScale(layout_.Range[j]), layout_.ConstA[j], layout_.ConstB[j]};
        size_t i = 0;
        while (i < keys.size() && std::memcmp(&keys[i], &k, sizeof k) != 0) ++i;
        if (i == keys.size()) {
            keys.push_back(k);
            texts_.emplace_back();
        }
        table_[j] = static_cast<int>(i);
    }
}

void RowFormatter::Put(uint32_t index, const uint8_t* record, char* out) {
    PutRowWith(layout_, index, record, out, [&](int j, uint16_t raw, char* at) {
        std::vector<char>& texts = texts_[table_[j]];
        if (texts.empty()) texts.assign(size_t(65536) * kAinWidth, '\0');
        char* t = texts.data() + size_t(raw) * kAinWidth;
        // Every text starts with a blank, a digit, '-' or '*': a zero byte marks one not yet made.
        if (t[0] == '\0') PutAinText(t, AinValue(raw, layout_.Range[j], layout_.ConstA[j], layout_.ConstB[j]));
        std::memcpy(at, t, kAinWidth);
    });
}

std::string RowText(const RecordLayout& layout, uint32_t index, const uint8_t* record) {
    std::string row(static_cast<size_t>(layout.RowLength()), ' ');
    PutRow(layout, index, record, row.data());
    return row;
}

}  // namespace zelk::dbf
