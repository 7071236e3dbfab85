// The peer of the conversion: shapelib writing the same 22-field table (INDEX, AIN0..AIN15 with
// 4 decimals, CNT0, CNT1, DIN0, DIN1, DOUT) from the same records bench_conversion makes, in MB/s
// of table. Usage: bench_shapelib [records] [directory]
#include <shapefil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dbf/dbase.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const unsigned long records = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 500000;
    const std::string dir = argc > 2 ? argv[2] : "/tmp";
    const std::string path = dir + "/bench_shapelib.dbf";
    zelk::dbf::RecordLayout layout;
    layout.ConstA.fill(1.0);

    const auto t0 = Clock::now();
    DBFHandle h = DBFCreate(path.c_str());
    if (!h) return 1;
    DBFAddField(h, "INDEX", FTInteger, 10, 0);
    for (int j = 0; j < 16; ++j) DBFAddField(h, ("AIN" + std::to_string(j)).c_str(), FTDouble, 10, 4);
    DBFAddField(h, "CNT0", FTInteger, 5, 0);
    DBFAddField(h, "CNT1", FTInteger, 5, 0);
    DBFAddField(h, "DIN0", FTInteger, 1, 0);
    DBFAddField(h, "DIN1", FTInteger, 1, 0);
    DBFAddField(h, "DOUT", FTInteger, 1, 0);
    for (unsigned long k = 0; k < records; ++k) {
        // The record bench_conversion writes for row k.
        uint8_t rec[38];
        for (int i = 0; i < 38; ++i) rec[i] = static_cast<uint8_t>(k * 7 + i * 13);
        const int row = static_cast<int>(k);
        DBFWriteIntegerAttribute(h, row, 0, row);
        for (int j = 0; j < 16; ++j) {
            const uint16_t raw = static_cast<uint16_t>(rec[2 * j] | (rec[2 * j + 1] << 8));
            DBFWriteDoubleAttribute(h, row, 1 + j, zelk::dbf::AinValue(raw, layout.Range[j], 1.0, 0.0));
        }
        DBFWriteIntegerAttribute(h, row, 17, rec[32] | (rec[33] << 8));
        DBFWriteIntegerAttribute(h, row, 18, rec[34] | (rec[35] << 8));
        DBFWriteIntegerAttribute(h, row, 19, rec[36] & 1);
        DBFWriteIntegerAttribute(h, row, 20, (rec[36] >> 1) & 1);
        DBFWriteIntegerAttribute(h, row, 21, rec[37] & 1);
    }
    DBFClose(h);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    const double bytes = layout.HeaderLength() + double(records) * layout.RowLength() + 1;
    std::printf("shapelib %.3f %.1f\n", s, bytes / s / 1e6);
    std::remove(path.c_str());
    return 0;
}
