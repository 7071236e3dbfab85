// Helpers of the host interface tests: a temporary directory with a parameter file and a
// log, the simulated bench, and reading the log back.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "domain/text.h"
#include "core/Pomocny.h"
#include "host/exports.h"
#include "sim/sim.h"
#include "test_clock.h"

namespace zelk::hosttest {

inline std::string U8(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }
inline std::string Cp(const char8_t* s) { return text::Utf8ToCp1250(U8(s)); }

class TempDir {
public:
    TempDir() {
        static std::atomic<int> serial{0};
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            auto p = base / ("zelk_host_" + std::to_string(std::random_device{}()) + "_" + std::to_string(serial++));
            if (std::filesystem::create_directory(p)) {
                path_ = p;
                break;
            }
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A parameter file (cp1250) for `serial`, logging at level 3 into `logPath`; `extra` is
// appended as written (UTF-8, converted).
inline std::string WriteParamFile(const TempDir& dir, const std::string& serial, const std::string& logPath,
                                  const std::string& extraUtf8 = "", const std::string& name = "zelk.ini") {
    std::string ini = U8(u8"[Volba modulu]\r\nVýrobní číslo=") + serial + "\r\n" +
                      U8(u8"[Logovací soubor]\r\nÚroveň=3\r\nNázev souboru=") + logPath + "\r\n" + extraUtf8;
    std::string path = dir.File(name);
    std::ofstream f(path, std::ios::binary);
    f << text::Utf8ToCp1250(ini);
    return path;
}

// The log lines (without time stamp and serial) in order.
inline std::vector<std::string> LogTexts(const std::string& path) {
    std::vector<std::string> out;
    std::string all = ReadAll(path);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find("\r\n", pos);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(pos, end - pos);
        // "[date time.ms] - serial - text"
        size_t a = line.find("] - ");
        size_t b = a == std::string::npos ? a : line.find(" - ", a + 4);
        out.push_back(b == std::string::npos ? line : line.substr(b + 3));
        pos = end + 2;
    }
    return out;
}

// Index of the first line equal to `text` at or after `from`; -1 when absent.
inline int FindLine(const std::vector<std::string>& lines, const std::string& text, int from = 0) {
    for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
        if (lines[i] == text) return static_cast<int>(i);
    return -1;
}

// The first line after `after` written by a host call ("RQ_..."), skipping the
// lines the driver's own threads may have written in between; empty when absent.
inline std::string NextHostCallLine(const std::vector<std::string>& lines, int after) {
    for (size_t i = static_cast<size_t>(after) + 1; i < lines.size(); ++i)
        if (lines[i].rfind("RQ_", 0) == 0) return lines[i];
    return {};
}

inline ZelkValue Long(uint32_t v) {
    ZelkValue r{ZELK_TAG_LONGCARD, {}};
    std::memcpy(r.payload, &v, sizeof v);
    return r;
}
inline ZelkValue Real(double v) {
    ZelkValue r{ZELK_TAG_REAL, {}};
    std::memcpy(r.payload, &v, sizeof v);
    return r;
}
inline ZelkValue Bool(uint8_t b) {
    ZelkValue r{ZELK_TAG_BOOLEAN, {}};
    r.payload[0] = b;
    return r;
}
inline ZelkValue Str(char* p) {
    ZelkValue r{ZELK_TAG_STRING, {}};
    std::memcpy(r.payload, &p, sizeof p);
    return r;
}
inline uint32_t LongOf(const ZelkValue& v) {
    uint32_t x;
    std::memcpy(&x, v.payload, sizeof x);
    return x;
}
inline double RealOf(const ZelkValue& v) {
    double x;
    std::memcpy(&x, v.payload, sizeof x);
    return x;
}

// Records the notification calls of one instance.
struct CallRecorder {
    std::mutex m;
    std::vector<int32_t> kinds;
    std::vector<uint32_t> users;
    std::atomic<int> count{0};
    int32_t result = 0;

    void Add(uint32_t user, int32_t kind) {
        std::lock_guard<std::mutex> g(m);
        kinds.push_back(kind);
        users.push_back(user);
        count++;
    }
    std::vector<int32_t> Kinds() {
        std::lock_guard<std::mutex> g(m);
        return kinds;
    }
};

using test::SkipClock;
using test::WaitUntil;

inline TData* D(void* p) { return static_cast<TData*>(p); }

// The bench restored to its two default modules before each test.
class BenchTest : public ::testing::Test {
protected:
    void SetUp() override { sim::GlobalBench().Reset(); }
    void TearDown() override { sim::GlobalBench().Reset(); }
    TempDir dir;
};

}  // namespace zelk::hosttest
