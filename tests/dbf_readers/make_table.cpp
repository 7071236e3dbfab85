// Writes a record file of known records and converts it into a dBASE table, for the
// independent readers to check. Usage: make_table <base path>
#include <cstdio>
#include <string>

#include "dbf/dbase_file.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string base = argv[1];
    zelk::dbf::RecordLayout layout;
    layout.ConstA.fill(1.0);
    layout.ConstB.fill(0.0);
    layout.Range = {0, 0, 0, 2, 5, 9, 1, 3, 4, 0, 0, 0, 0, 0, 0, 0};
    layout.ConstA[9] = 2.0;
    layout.ConstB[9] = 1.0;
    std::FILE* f = std::fopen((base + ".bin").c_str(), "wb");
    if (!f) return 1;
    constexpr unsigned kRows = 25;
    for (unsigned k = 0; k < kRows; ++k) {
        uint8_t rec[38];
        for (int j = 0; j < 16; ++j) {
            unsigned raw = 32767 + (k * 1311u + j * 977u) % 30000u - 15000u;
            if (j == 0) raw = 32767;
            if (j == 1) raw = 65534;
            if (j == 2) raw = 0;
            if (j == 9) raw = 32767;
            rec[2 * j] = static_cast<uint8_t>(raw);
            rec[2 * j + 1] = static_cast<uint8_t>(raw >> 8);
        }
        const unsigned c0 = k * 2731u, c1 = 65535u - k;
        rec[32] = static_cast<uint8_t>(c0), rec[33] = static_cast<uint8_t>(c0 >> 8);
        rec[34] = static_cast<uint8_t>(c1), rec[35] = static_cast<uint8_t>(c1 >> 8);
        rec[36] = static_cast<uint8_t>(k & 3);
        rec[37] = static_cast<uint8_t>(k % 3 == 0 ? 3 : 0);
        if (std::fwrite(rec, 1, sizeof rec, f) != sizeof rec) return 1;
    }
    if (std::fclose(f) != 0) return 1;
    auto r = zelk::dbf::WriteTable(base + ".bin", base + ".dbf", layout, kRows, {2026, 12, 6}, nullptr);
    return r.complete ? 0 : 1;
}
