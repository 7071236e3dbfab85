// Conversion speed: a record file of full records (16 channels, both counters, DIN/DOUT)
// turned into a dBASE table, in MB/s of table written, beside dd writing as many bytes.
// Usage: bench_conversion [records] [directory]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dbf/dbase_file.h"

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

int main(int argc, char** argv) {
    const unsigned long records = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 500000;
    const std::string dir = argc > 2 ? argv[2] : "/tmp";
    const std::string bin = dir + "/bench_conversion.bin", table = dir + "/bench_conversion.dbf";
    std::FILE* f = std::fopen(bin.c_str(), "wb");
    if (!f) return 1;
    for (unsigned long k = 0; k < records; ++k) {
        uint8_t rec[38];
        for (int i = 0; i < 38; ++i) rec[i] = static_cast<uint8_t>(k * 7 + i * 13);
        std::fwrite(rec, 1, sizeof rec, f);
    }
    std::fclose(f);

    zelk::dbf::RecordLayout layout;
    layout.ConstA.fill(1.0);
    const auto t0 = Clock::now();
    const auto r = zelk::dbf::WriteTable(bin, table, layout, static_cast<uint32_t>(records), {2026, 1, 1}, nullptr);
    const auto t1 = Clock::now();
    if (!r.complete) return 1;
    const double bytes = layout.HeaderLength() + double(records) * layout.RowLength() + 1;
    const double conv = Seconds(t0, t1);

    // dd writing the same number of bytes to the same directory, with a final fsync as the
    // conversion does not do one: both figures are the page cache's.
    const unsigned long blocks = static_cast<unsigned long>(bytes / 65536) + 1;
    const std::string ddFile = dir + "/bench_conversion.dd";
    const std::string cmd = "dd if=/dev/zero of='" + ddFile + "' bs=65536 count=" + std::to_string(blocks) + " 2>/dev/null";
    const auto t2 = Clock::now();
    const int rc = std::system(cmd.c_str());
    const auto t3 = Clock::now();
    const double dd = Seconds(t2, t3);

    std::printf("records            %lu\n", records);
    std::printf("table bytes        %.0f\n", bytes);
    std::printf("conversion         %.3f s  %.1f MB/s of table  (%.0f rows/s)\n", conv, bytes / conv / 1e6,
                double(records) / conv);
    if (rc == 0)
        std::printf("dd, same bytes     %.3f s  %.1f MB/s\n", dd, double(blocks) * 65536 / dd / 1e6);
    else
        std::printf("dd                 not run (exit %d)\n", rc);
    // Key lines for scripts/bench.
    std::printf("conversion_mbs %.1f\n", bytes / conv / 1e6);
    if (rc == 0) std::printf("dd_mbs %.1f\n", double(blocks) * 65536 / dd / 1e6);
    std::remove(bin.c_str());
    std::remove(table.c_str());
    std::remove(ddFile.c_str());
    return 0;
}
