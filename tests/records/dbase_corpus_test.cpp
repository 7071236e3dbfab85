// The fast value text of the table against the general number formatter: every sample on
// every range code with constants that give negative, huge, tiny, infinite and NaN values,
// overflow and negative zero; then whole tables written both ways, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dbf/dbase.h"
#include "dbf/dbase_file.h"

using namespace zelk::dbf;

namespace {

std::string Fast(double v) {
    char t[kAinWidth];
    PutAinText(t, v);
    return std::string(t, kAinWidth);
}

struct Constants {
    double a, b;
};

const double kInf = std::numeric_limits<double>::infinity();

// 1/0 makes A infinite: NaN at 0 V, infinities elsewhere. -1 with B = 0 gives -0.0 at 0 V.
// 1e4 overflows the field at both ends of the 10 V range. The first kPerSample go through
// every sample of every code one by one; the tables below spread all of them over channels.
const Constants kCorpus[] = {
    {1.0, 0.0},       {-1.0, 0.0},        {-3.7, 1.1},   {1e4, 0.0},     {1e12, -5.0},
    {3e-9, 1e-7},     {kInf, 0.0},        {2.5, -0.125}, {9.99999999, 0.0}, {0.015625, 3.0},
    {1e-5, 0.0},      {1.0, 99990.0},     {-1000.0, 0.0001}, {0.1, 0.00005}, {123.456789, -7.0},
};
constexpr size_t kPerSample = 7;

TEST(DbaseCorpus, EverySampleOnEveryRangeCodeMatchesTheGeneralFormatter) {
    long compared = 0, mismatches = 0;
    for (size_t i = 0; i < kPerSample; ++i)
        for (uint32_t code = 0; code < 16; ++code) {
            const Constants& c = kCorpus[i];
            // A code with the full scale of an earlier one gives the same values (checked), so
            // the formatters are compared on each distinct value once.
            uint32_t same = 0;
            while (FullScale(same) != FullScale(code)) ++same;
            for (uint32_t raw = 0; raw < 65536; ++raw) {
                const double v = AinValue(static_cast<uint16_t>(raw), code, c.a, c.b);
                if (same < code) {
                    const double w = AinValue(static_cast<uint16_t>(raw), same, c.a, c.b);
                    if (std::memcmp(&v, &w, sizeof v) != 0 && ++mismatches <= 10)
                        ADD_FAILURE() << "code " << code << " raw " << raw << " differs from code " << same;
                    continue;
                }
                const std::string want = AinTextGeneral(v), got = Fast(v);
                ++compared;
                if (got != want && ++mismatches <= 10)
                    ADD_FAILURE() << "A=" << c.a << " B=" << c.b << " code " << code << " raw " << raw << " v="
                                  << v << ": '" << got << "' instead of '" << want << "'";
            }
        }
    EXPECT_EQ(mismatches, 0) << "of " << compared;
}

TEST(DbaseCorpus, BoundariesTiesAndRandomValuesMatchTheGeneralFormatter) {
    std::vector<double> values = {0.0,         -0.0,         1e-5,          -1e-5,         4.99999e-5,   5e-5,
                                  -5e-5,       5.00001e-5,   0.00015,       0.12345,       -0.12345,     1.00005,
                                  12345.015625, 2.5e-5,      99999.9999,    99999.99994,   99999.99995,  99999.99996,
                                  1e5,         -9999.9999,   -9999.99995,   -1e4,          9999.99995,   0.99999999995,
                                  9.999999999, 4.9999999995e-5, kInf,       -kInf,         std::nan(""), 1e300,
                                  -1e300,      std::numeric_limits<double>::denorm_min(),  3.0517578125e-05};
    // Dyadic values whose exact digits end on a tie at the tenth digit or the fourth decimal.
    for (int k = 1; k <= 24; ++k)
        for (double whole : {0.0, 1.0, 7.0, 123.0, 4095.0, 12345.0, 65535.0}) {
            values.push_back(whole + std::ldexp(1.0, -k));
            values.push_back(-(whole + std::ldexp(3.0, -k)));
        }
    std::mt19937_64 rng(20261208);
    std::uniform_real_distribution<double> exponent(-7.0, 5.5);
    std::uniform_real_distribution<double> unit(1.0, 10.0);
    for (int i = 0; i < 300000; ++i) {
        const double v = unit(rng) * std::pow(10.0, std::floor(exponent(rng)));
        values.push_back(i % 2 ? v : -v);
        // Decimal values with few digits land on ties after the first rounding.
        values.push_back(std::round(v * 1e5) / 1e5);
        // Neighbours one unit in the last place away.
        values.push_back(std::nextafter(v, kInf));
    }
    int mismatches = 0;
    for (double v : values) {
        const std::string want = AinTextGeneral(v);
        if (Fast(v) != want && ++mismatches <= 10) ADD_FAILURE() << v << ": '" << Fast(v) << "' instead of '" << want << "'";
        ASSERT_EQ(AinText(v), Fast(v));
    }
    EXPECT_EQ(mismatches, 0);
}

// A row as the table had it, from the general formatter and decimal texts.
std::string ReferenceRow(const RecordLayout& l, uint32_t index, const uint8_t* rec) {
    auto right = [](const std::string& t, size_t w) { return std::string(w - t.size(), ' ') + t; };
    std::string row = " " + right(std::to_string(index), 10);
    int pos = 0;
    auto word = [&]() {
        const uint16_t w = static_cast<uint16_t>(rec[pos] | (rec[pos + 1] << 8));
        pos += 2;
        return w;
    };
    for (int j = 0; j < l.Channels(); ++j) row += AinTextGeneral(AinValue(word(), l.Range[j], l.ConstA[j], l.ConstB[j]));
    if (l.Cnt0) row += right(std::to_string(word()), 5);
    if (l.Cnt1) row += right(std::to_string(word()), 5);
    if (l.DinDout) {
        row += (rec[pos] & 1) ? '1' : '0';
        row += (rec[pos] & 2) ? '1' : '0';
        row += (rec[pos + 1] & 1) ? '1' : '0';
    }
    return row;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(DbaseCorpus, WholeTablesMatchRowsOfTheGeneralFormatter) {
    // Channel j measures with range code j, so one table covers all 65536 samples of every
    // code; each layout has its own constants per channel.
    struct Case {
        int channels;
        bool c0, c1, dio;
    } cases[] = {{16, true, true, true}, {16, false, true, false}, {5, true, false, true}, {1, false, false, false}};
    const std::string dir = ::testing::TempDir();
    const unsigned run = std::random_device{}();
    int caseNo = 0;
    for (const Case& c : cases) {
        RecordLayout l;
        l.ChannelCount = c.channels;
        l.Cnt0 = c.c0;
        l.Cnt1 = c.c1;
        l.DinDout = c.dio;
        for (int j = 0; j < kMaxChannels; ++j) {
            l.Range[j] = static_cast<uint8_t>(j);
            const Constants& k = kCorpus[(j + caseNo * 5) % std::size(kCorpus)];
            l.ConstA[j] = k.a;
            l.ConstB[j] = k.b;
        }
        const size_t r = static_cast<size_t>(l.RecordBytes());
        std::string bin(65536 * r, '\0');
        for (uint32_t s = 0; s < 65536; ++s)
            for (size_t i = 0; i < r; i += 2) {
                const uint32_t w = (s + 977u * static_cast<uint32_t>(i)) & 0xFFFF;  // every sample per field
                bin[s * r + i] = static_cast<char>(w);
                bin[s * r + i + 1] = static_cast<char>(w >> 8);
            }
        // Named for this run too: suites of several builds may run at once.
        const std::string base = dir + "zelk_corpus_" + std::to_string(run) + "_" + std::to_string(caseNo++);
        std::ofstream(base + ".bin", std::ios::binary) << bin;
        const TableResult res = WriteTable(base + ".bin", base + ".dbf", l, 65536, {2026, 12, 8}, nullptr);
        ASSERT_TRUE(res.complete);
        std::string want = HeaderBytes(l, 65536, {2026, 12, 8});
        for (uint32_t s = 0; s < 65536; ++s)
            want += ReferenceRow(l, s, reinterpret_cast<const uint8_t*>(bin.data()) + s * r);
        want += static_cast<char>(kFileEnd);
        const std::string got = ReadFile(base + ".dbf");
        EXPECT_TRUE(got == want) << "table of " << c.channels << " channels differs at byte "
                                 << std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
        std::remove((base + ".bin").c_str());
        std::remove((base + ".dbf").c_str());
    }
}

}  // namespace
