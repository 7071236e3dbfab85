// A scripted D2XX double: a list of devices, canned replies per command code (delivered in
// chunks, one chunk per queue-status poll), injected statuses, and a record of every call.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "usb/d2xx.h"

namespace fake {

using namespace zelk::usb;

struct Device {
    std::string serial;
    std::string description;
};

struct State {
    std::vector<Device> devices;
    // Replies by command code: each is a list of chunks made visible one per queue poll.
    std::map<uint8_t, std::vector<std::vector<uint8_t>>> replies;
    // Injected statuses: function name -> status; `failAfter` lets the first calls succeed.
    std::map<std::string, FT_STATUS> fail;
    std::map<std::string, int> failAfter;
    // Per written command code, a status for FT_Write.
    std::map<uint8_t, FT_STATUS> writeFailFor;
    int writeShortBy = 0;
    int readShortBy = 0;
    DWORD forcedCount = 0xFFFFFFFFu;  // count reported by FT_LIST_NUMBER_ONLY when set
    FT_HANDLE openHandle = reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A});
    bool fillListBufferUnterminated = false;  // writes 65 non-NUL bytes into text buffers

    // Record.
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> written;
    std::vector<int> openedIndex;
    std::vector<FT_HANDLE> closed;
    std::vector<DWORD> readRequests;
    std::vector<UCHAR> latency;

    // Link state.
    std::deque<std::vector<uint8_t>> pendingChunks;
    std::vector<uint8_t> rx;
};

State& S();
void Reset();
// A table with all nine functions of this double.
const D2xxApi& Api();

// Reply bytes: the code, four zero header bytes, the data raw or as nibbles (low first).
std::vector<uint8_t> Reply(uint8_t code, const std::vector<uint8_t>& data, bool nibbles);
// A module that answers identification, configuration read and input read correctly.
void ScriptGoodModule(const std::string& ident16 = "ZELK-2716E  1.07");
// Count of calls of one function.
int Calls(const std::string& name);

}  // namespace fake
