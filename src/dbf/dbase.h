// The dBASE III table made from a record file: field descriptors, header bytes and row
// text. Pure functions of the record layout, so that a host tool can convert record files
// left behind with the same code.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zelk::dbf {

// One field descriptor as the table is built from it.
struct TDBF_HlavickaPolozka {
    std::string FieldName;  // at most 10 characters are written
    char FieldType = 'N';
    uint32_t FieldAddress = 0;
    uint8_t FieldLength = 0;
    uint8_t FieldDecimals = 0;
    std::array<uint8_t, 14> FieldReserved{};  // descriptor bytes 18..31
};

constexpr int kMaxFields = 25;
constexpr int kMaxChannels = 16;
constexpr int kAinWidth = 10;
constexpr uint8_t kHeaderEnd = 0x0D;
constexpr uint8_t kFileEnd = 0x1A;
constexpr int kRowCountOffset = 4;

// What a record holds and how its samples scale: the measurement snapshot and the
// constants of the analog channels.
struct RecordLayout {
    int32_t ChannelCount = 16;  // taken as 1..16
    bool Cnt0 = true;
    bool Cnt1 = true;
    bool DinDout = true;
    std::array<uint8_t, kMaxChannels> Range{};
    std::array<double, kMaxChannels> ConstA{};
    std::array<double, kMaxChannels> ConstB{};

    int Channels() const;       // n, limited to 1..16
    int FieldCount() const;     // F = 1 + n + counters + 3 for DIN/DOUT
    int HeaderLength() const;   // 32 F + 33
    int RowLength() const;      // 11 + 10 n + 5 per counter + 3 for DIN/DOUT
    int RecordBytes() const;    // R = 2 n + 2 per counter + 2 for DIN/DOUT
};

struct Date {
    int year = 2000, month = 1, day = 1;
};

// The F descriptors, in table order; returns F.
int BuildFields(const RecordLayout& layout, std::array<TDBF_HlavickaPolozka, kMaxFields>& fields);
std::array<uint8_t, 32> DescriptorBytes(const TDBF_HlavickaPolozka& field);
// The whole header: 32 bytes, F descriptors, the byte 13.
std::string HeaderBytes(const RecordLayout& layout, uint32_t rowCount, const Date& date);
// Little-endian row count, as at bytes 4..7 of the header.
std::array<uint8_t, 4> RowCountBytes(uint32_t rowCount);

// Full scale of the range the module measures a range code with (FullScaleOf, core).
double FullScale(uint32_t rangeCode);
// (raw - 32767) x FS / 32767, then (v + B) x A.
double AinValue(uint16_t raw, uint32_t rangeCode, double constA, double constB);
// Exactly 10 characters, right-aligned, 4 decimals after rounding to 10 significant
// digits, '.' always; a value that does not fit (or is not a number) is ten asterisks,
// as dBASE marks an overflowing numeric field, never a cut number.
std::string AinText(double v);
// The same ten characters written to `out`, from exact integer arithmetic on the binary value;
// the rare inputs where a rounding meets an exact tie go through AinTextGeneral.
void PutAinText(char* out, double v);
// AinText through the general number formatter: the reference the fast path must match.
std::string AinTextGeneral(double v);
// One row of RowLength() characters from one record of RecordBytes() bytes.
std::string RowText(const RecordLayout& layout, uint32_t index, const uint8_t* record);
// The same row written to `out`, RowLength() characters.
void PutRow(const RecordLayout& layout, uint32_t index, const uint8_t* record, char* out);

// PutRow for the rows of one table: a text depends only on the sample, the full scale and the
// constants, so each channel's texts are kept per sample once made (at most 640 KiB for each
// distinct channel; a long table repeats samples).
class RowFormatter {
public:
    explicit RowFormatter(const RecordLayout& layout);
    void Put(uint32_t index, const uint8_t* record, char* out);

private:
    RecordLayout layout_;
    std::array<int, kMaxChannels> table_{};
    std::vector<std::vector<char>> texts_;  // 65536 texts each; a zero byte: not yet made
};

}  // namespace zelk::dbf
