// Helpers of the acquisition tests: an instance on the simulated bench, its log in a
// temporary file, and request cycles raised the way the host services raise them.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/acquisition.h"
#include "core/log.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "sim/sim.h"
#include "test_clock.h"
#include "usb/Vorna_FTD201.h"

namespace zelk::acqtest {

using test::SkipClock;
using test::WaitUntil;

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// One instance against GlobalBench(), logging at level 3 into a file of its own.
class Instance {
public:
    explicit Instance(const std::string& serial = "12000001") {
        static std::atomic<int> serialNo{0};
        logPath_ = (std::filesystem::temp_directory_path() /
                    ("zelk_acq_" + std::to_string(std::random_device{}()) + "_" + std::to_string(serialNo++) + ".log"))
                       .string();
        d = std::make_unique<TData>();
        d->Clock = &clock;
        SetConfigDefaults(d->Cfg);
        d->Cfg.ModuleSerial = serial;
        d->Cfg.LogLevel = 3;
        d->Cfg.LogFileName = logPath_;
        ResetDeviceBlock(*d, DeviceReset::Everything);
        BuildChannelTable(*d);
        d->D2xx = &sim::InProcessD2xx();
        OpenLog(d.get());
    }
    ~Instance() {
        Stop();
        d.reset();
        std::error_code ec;
        std::filesystem::remove(logPath_, ec);
    }

    void Open() { OpenModule(d.get()); }
    void Start() {
        d->AcqThread = std::make_unique<TThreadZELK>(d.get());
        d->AcqThread->Start();
    }
    // As Done does: stop the thread, then close the module and the log.
    void Stop() {
        if (stopped_) return;
        stopped_ = true;
        if (d->AcqThread) {
            d->AcqThread->Terminate();
            d->AcqThread->Join();
        }
        CloseModule(d.get());
        CloseLog(d.get());
    }

    // As InputRequest does for the channels of the first group.
    void RequestInput(const std::vector<int>& channels) {
        for (int ch : channels) {
            if (ch < 16) d->Device.ReqAnalogIn = 1;
            else if (ch == 50 || ch == 51 || ch == 58) d->Device.ReqDigitalIn = 1;
            else if (ch == 80 || ch == 81) d->Device.ReqCounterIn = 1;
            MarkRequested(ch);
        }
        d->InputBatchComplete = 1;
    }
    // As the input or output service does; output channels belong to an output batch.
    void MarkRequested(int ch) {
        plat::LockGuard g(d->DataLock);
        TJedenKanal& c = d->Channels[ch];
        c.Pending = 1;
        c.Processed = 1;
        c.Finished = 0;
        c.NotifyWanted = 0;
        c.RequestBatch = InInputClass(static_cast<uint32_t>(ch)) ? kInputBatch : kOutputBatch;
        c.InPass = 0;
    }
    bool WaitFinished(const std::vector<int>& channels) {
        return WaitUntil([&] {
            plat::LockGuard g(d->DataLock);
            for (int ch : channels)
                if (d->Channels[ch].Finished == 0) return false;
            return d->InputBatchComplete == 0 && d->OutputBatchComplete == 0;
        });
    }
    TJedenKanal Channel(int ch) const {
        plat::LockGuard g(d->DataLock);
        return d->Channels[ch];
    }

    // The log texts without time stamp and serial; read after Stop (the file is buffered).
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> out;
        std::istringstream all(ReadFile(logPath_));
        std::string line;
        const std::string mark = " - " + d->Cfg.ModuleSerial + " - ";
        while (std::getline(all, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const size_t at = line.find(mark);
            out.push_back(at == std::string::npos ? line : line.substr(at + mark.size()));
        }
        return out;
    }

    // The instance's clock, which a test moves on instead of waiting out the retry interval.
    SkipClock clock;
    std::unique_ptr<TData> d;

private:
    std::string logPath_;
    bool stopped_ = false;
};

// Index of the first log text equal to `text` at or after `from`; -1 if none.
inline int FindLog(const std::vector<std::string>& log, const std::string& text, int from = 0) {
    for (int i = from; i < static_cast<int>(log.size()); ++i)
        if (log[i] == text) return i;
    return -1;
}

// Packets of one command code the module received.
inline std::vector<sim::Packet> PacketsOf(int device, uint8_t code) {
    std::vector<sim::Packet> out;
    for (const sim::Packet& p : sim::GlobalBench().ReceivedPackets(device))
        if (p.code == code) out.push_back(p);
    return out;
}

class AcqSimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::GlobalBench().Reset(); }
    void TearDown() override { sim::GlobalBench().Reset(); }
};

}  // namespace zelk::acqtest
