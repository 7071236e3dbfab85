// The acquisition thread's helpers and the periodic input and output commands.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "domain/record_layout.h"

namespace zelk {

struct TData;
struct TJedenKanal;
struct StatusPair;

// The acquisition thread's interval between two attempts to reopen a lost module.
constexpr uint32_t kRetryIntervalMs = 3000;

void MarkRequestsProcessed(TData* d);
// Finishes every Processed request.
void CompleteRequests(TData* d);

constexpr uint8_t kInputBatch = 1;
constexpr uint8_t kOutputBatch = 2;
// Takes the requests of one batch kind into the pass about to run; requests raised later,
// or by the other kind of batch, wait for their own pass.
void TakeBatchIntoPass(TData* d, uint8_t batch);
// Finishes the Processed requests taken into the pass.
void CompletePassRequests(TData* d);
// One input block (no measurement) or the first record of an upload buffer (measurement).
void DecodeSamples(TData* d, const uint8_t* samples);
// The 37-byte input block, converted with the given range codes (those sent to the module
// with the configuration that produced the block).
void DecodeInputBlock(TData* d, const uint8_t* block, const std::array<uint8_t, 16>& rangeCodes);
// Channels 97, 98, 99 from the device status.
void RefreshStatusChannels(TData* d);
// The value of status channel 97 (1 while in error), 98 (the code) or 99 (the text) from the
// device status; other channels are left alone. Called with DataLock held.
void SetStatusChannelValue(uint32_t ch, TJedenKanal& c, const StatusPair& status);

void ReadInputs(TData* d);
void WriteDigitalOutput(TData* d);
void PresetCounter0(TData* d);
void PresetCounter1(TData* d);

// (s - 32767) x FS / 32767 with the full scale of the range the module measures with
// (FullScaleOf, domain/record_layout.h), then (u + B) x A.
double ConvertSample(uint16_t sample, uint32_t rangeCode, double constA, double constB);
// Four decimals after rounding to nine significant digits, then " V".
std::string SampleValueText(double v, char separator);

}  // namespace zelk
