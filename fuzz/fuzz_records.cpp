// Fuzz target: record decoding and the dBASE table. The input gives a record layout, range
// codes and constants, and the record bytes. Samples are decoded from a buffer exactly as
// long as the layout says, so that a field read beyond the record shows as an overflow; the
// rows, the header and a whole table written from the bytes must have the sizes the layout
// gives them.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "acquisition/acquisition.h"
#include "core/Pomocny.h"
#include "byte_stream.h"
#include "fuzz_check.h"
#include "fuzz_work_folder.h"
#include "domain/channel_map.h"
#include "usb/Vorna_FTD201.h"
#include "dbf/dbase.h"
#include "dbf/dbase_file.h"

namespace {

namespace fs = std::filesystem;
using namespace zelk;

fs::path g_dir;
TData* g_d = nullptr;  // one instance for every input: decoding sets values, nothing else

double Constant(ByteStream& in) {
    switch (in.Range<int>(0, 3)) {
        case 0: return 1.0;
        case 1: return 0.0;
        case 2: return static_cast<double>(in.I32()) / 1000.0;
        default: return in.F64();  // NaN and infinities too
    }
}

void Decode(ByteStream& in) {
    TData& d = *g_d;
    const bool measuring = in.Bool();
    size_t bytes = usb::kInputBlockSize;  // an input block when no measurement runs
    {
        plat::LockGuard g(d.DataLock);
        MeasurementSnapshot& s = d.Snapshot;
        s.Settings.TimerChannelCount = in.Range<int32_t>(-2, 20);
        s.Settings.Cnt0Enable = in.I32();
        s.Settings.Cnt1Enable = in.I32();
        s.Settings.DinDoutEnable = in.I32();
        for (auto& r : s.Settings.RangeCode) r = in.Byte();
        for (auto& r : d.Device.Settings.RangeCode) r = in.Byte();
        for (int k = 0; k < kAnalogCount; ++k) {
            d.Cfg.ChannelConstA[k] = Constant(in);
            d.Cfg.ChannelConstB[k] = Constant(in);
        }
        // A running measurement's records are as long as the module makes them.
        if (measuring)
            bytes = static_cast<size_t>(
                RecordBytesOf(std::clamp<int32_t>(static_cast<int32_t>(s.Settings.TimerChannelCount), 1, kAnalogCount),
                              s.Settings.Cnt0Enable, s.Settings.Cnt1Enable, s.Settings.DinDoutEnable));
    }
    d.Device.MeasurementRunning = measuring ? 1 : 0;
    const std::string record = in.Bytes(bytes);
    auto exact = std::make_unique<uint8_t[]>(bytes);
    std::copy(record.begin(), record.end(), exact.get());
    DecodeSamples(&d, exact.get());
}

dbf::RecordLayout Layout(ByteStream& in) {
    dbf::RecordLayout l;
    l.ChannelCount = in.I32();
    l.Cnt0 = in.Bool();
    l.Cnt1 = in.Bool();
    l.DinDout = in.Bool();
    for (int k = 0; k < dbf::kMaxChannels; ++k) {
        l.Range[k] = in.Byte();
        l.ConstA[k] = Constant(in);
        l.ConstB[k] = Constant(in);
    }
    return l;
}

void Rows(ByteStream& in) {
    const dbf::RecordLayout l = Layout(in);
    dbf::Date date;
    date.year = in.Range<int>(-10000, 10000);
    date.month = in.Range<int>(0, 13);
    date.day = in.Range<int>(0, 32);
    const uint32_t rows = in.U32();
    FUZZ_CHECK(static_cast<int>(dbf::HeaderBytes(l, rows, date).size()) == l.HeaderLength());
    FUZZ_CHECK(dbf::AinText(in.F64()).size() == static_cast<size_t>(dbf::kAinWidth));
    const size_t r = static_cast<size_t>(l.RecordBytes());
    for (int i = 0; i < 8 && !in.Empty(); ++i) {
        const std::string bytes = in.Bytes(r);
        auto exact = std::make_unique<uint8_t[]>(r);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        const std::string row = dbf::RowText(l, in.U32(), exact.get());
        FUZZ_CHECK(static_cast<int>(row.size()) == l.RowLength());
    }
}

// A table from a record file made of the rest of the input, asked for any number of rows.
void Table(ByteStream& in) {
    const dbf::RecordLayout l = Layout(in);
    const uint32_t asked = in.Bool() ? in.Range<uint32_t>(0, 64) : in.U32();
    const std::string bin = (g_dir / "t.bin").string();
    const std::string dbfPath = (g_dir / "t.dbf").string();
    {
        const std::string rest = in.Bytes(in.Remaining());
        std::ofstream out(bin, std::ios::binary | std::ios::trunc);
        out.write(rest.data(), static_cast<std::streamsize>(rest.size()));
    }
    const auto stored = static_cast<uint64_t>(fs::file_size(bin)) / static_cast<uint64_t>(l.RecordBytes());
    const dbf::TableResult res = dbf::WriteTable(bin, dbfPath, l, asked, dbf::Date{}, [] { return false; });
    // A record file shorter than asked is a read failure, yet its rows are all kept.
    FUZZ_CHECK(res.rows == std::min<uint64_t>(asked, stored));
    FUZZ_CHECK(res.complete == (asked <= stored));
    FUZZ_CHECK(res.fileError == (asked > stored));
    const uint64_t size = fs::file_size(dbfPath);
    FUZZ_CHECK(size == static_cast<uint64_t>(l.HeaderLength()) + uint64_t{res.rows} * static_cast<uint64_t>(l.RowLength()) + 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_dir = FuzzWorkFolder("zelk_fuzz_records");
    fs::create_directories(g_dir);
    g_d = new TData;
    SetConfigDefaults(g_d->Cfg);
    ResetDeviceBlock(*g_d, DeviceReset::Everything);
    BuildChannelTable(*g_d);
    std::atexit([] {
        delete g_d;
        std::error_code ec;
        fs::remove_all(g_dir, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteStream in(data, size);
    switch (in.Range<int>(0, 7)) {
        case 0: Table(in); break;
        case 1:
        case 2:
        case 3: Rows(in); break;
        default: Decode(in); break;
    }
    return 0;
}
