#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "platform/platform.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

class Log : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zelk_log_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "driver.log").string();
        d_.Cfg.LogFileName = path_;
        d_.Cfg.ModuleSerial = "12000001";
    }
    void TearDown() override {
        CloseLog(&d_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Content(const std::string& path = "") const {
        std::ifstream in(path.empty() ? path_ : path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // The parts of each line after the time stamp.
    std::vector<std::string> Texts(const std::string& path = "") const {
        std::vector<std::string> out;
        std::string all = Content(path);
        size_t pos = 0;
        while (pos < all.size()) {
            size_t end = all.find("\r\n", pos);
            EXPECT_NE(end, std::string::npos) << "line without CR LF";
            if (end == std::string::npos) break;
            std::string line = all.substr(pos, end - pos);
            size_t sep = line.find("] - 12000001 - ");
            EXPECT_EQ(line[0], '[');
            EXPECT_NE(sep, std::string::npos) << line;
            out.push_back(sep == std::string::npos ? line : line.substr(sep + 15));
            pos = end + 2;
        }
        return out;
    }

    fs::path dir_;
    std::string path_;
    TData d_;
};

TEST(LogLine, FormatWithMillisecondsOfThreeDigits) {
    plat::LocalTime t;
    t.year = 2026, t.month = 12, t.day = 6, t.hour = 23, t.minute = 2, t.second = 46;
    const std::string stamp = plat::FormatRegionalDateTime(t);
    t.millisecond = 7;
    EXPECT_EQ(BuildLogLine(t, "00000000", "RQ_I   (0) Par=C:\\Data\\driver.ini"),
              "[" + stamp + ".007] - 00000000 - RQ_I   (0) Par=C:\\Data\\driver.ini\r\n");
    t.millisecond = 0;
    EXPECT_EQ(BuildLogLine(t, "1", "x"), "[" + stamp + ".000] - 1 - x\r\n");
    t.millisecond = 123;
    EXPECT_EQ(BuildLogLine(t, "", "Ovladač inicializován"_cp), "[" + stamp + ".123] -  - " + "Ovladač inicializován"_cp + "\r\n");
}

TEST(LogLine, PosixStampIsFixed) {
    if (plat::PathSeparator() != '/') GTEST_SKIP() << "regional formats of Windows";
    plat::LocalTime t;
    t.year = 2026, t.month = 1, t.day = 6, t.hour = 3, t.minute = 2, t.second = 9, t.millisecond = 45;
    EXPECT_EQ(BuildLogLine(t, "S", "T"), "[6.1.2026 3:02:09.045] - S - T\r\n");
}

TEST_F(Log, LevelZeroCreatesNothing) {
    d_.Cfg.LogLevel = 0;
    OpenLog(&d_);
    WriteLog(&d_, "a", 0);
    CloseLog(&d_);
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_FALSE(LogIsOpen(&d_));
}

TEST_F(Log, LinesUpToTheConfiguredLevel) {
    d_.Cfg.LogLevel = 1;
    OpenLog(&d_);
    EXPECT_TRUE(LogIsOpen(&d_));
    WriteLog(&d_, "zero", 0);
    WriteLog(&d_, "one", 1);
    WriteLog(&d_, "two", 2);
    WriteLog(&d_, "big", 255);
    CloseLog(&d_);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"zero", "one"}));

    fs::remove(path_);
    d_.Cfg.LogLevel = 3;
    OpenLog(&d_);
    for (uint8_t level = 0; level <= 4; ++level) WriteLog(&d_, "L" + std::to_string(level), level);
    CloseLog(&d_);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"L0", "L1", "L2", "L3"}));
}

TEST_F(Log, AppendsToAnExistingFileWithCrLf) {
    std::ofstream(path_, std::ios::binary) << "earlier\r\n";
    d_.Cfg.LogLevel = 2;
    OpenLog(&d_);
    WriteLog(&d_, "RQ_D   (99)", 2);
    CloseLog(&d_);
    std::string all = Content();
    ASSERT_EQ(all.rfind("earlier\r\n[", 0), 0u) << all;
    EXPECT_TRUE(all.ends_with("] - 12000001 - RQ_D   (99)\r\n")) << all;
    EXPECT_EQ(all.find('\n'), all.find("\r\n") + 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2);
}

TEST_F(Log, NullInstanceAndLinesAfterClose) {
    WriteLog(nullptr, "x", 0);
    OpenLog(nullptr);
    CloseLog(nullptr);
    d_.Cfg.LogLevel = 3;
    WriteLog(&d_, "before open", 0);  // no state yet
    OpenLog(&d_);
    WriteLog(&d_, "kept", 0);
    CloseLog(&d_);
    EXPECT_FALSE(LogIsOpen(&d_));
    WriteLog(&d_, "late", 0);  // a worker that outlived Done
    CloseLog(&d_);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"kept"}));
}

TEST_F(Log, ReopenClosesTheEarlierFile) {
    d_.Cfg.LogLevel = 3;
    OpenLog(&d_);
    WriteLog(&d_, "first", 0);
    std::string second = (dir_ / "second.log").string();
    d_.Cfg.LogFileName = second;
    OpenLog(&d_);  // the first file is flushed and closed, not leaked
    WriteLog(&d_, "second", 0);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"first"}));
    CloseLog(&d_);
    path_ = second;
    EXPECT_EQ(Texts(), (std::vector<std::string>{"second"}));
}

TEST_F(Log, UnopenableFileLosesLinesSilently) {
    d_.Cfg.LogLevel = 3;
    d_.Cfg.LogFileName = (dir_ / "no" / "such" / "dir.log").string();
    OpenLog(&d_);
    EXPECT_TRUE(d_.Log);  // the lock exists all the same
    EXPECT_FALSE(LogIsOpen(&d_));
    WriteLog(&d_, "lost", 0);
    CloseLog(&d_);
    EXPECT_FALSE(fs::exists(d_.Cfg.LogFileName));
}

TEST_F(Log, ConcurrentWritersNeverInterleave) {
    d_.Cfg.LogLevel = 3;
    OpenLog(&d_);
    constexpr int kThreads = 4, kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            // Lines longer than the file buffer, so that writes are split by the library.
            std::string body(300, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) WriteLog(&d_, "T" + std::to_string(t) + " " + std::to_string(i) + " " + body, 3);
        });
    // A writer still running while the log closes must not crash or write after the close.
    std::thread late([this] {
        for (int i = 0; i < kLines; ++i) WriteLog(&d_, "late", 0);
    });
    for (auto& th : threads) th.join();
    CloseLog(&d_);
    late.join();
    std::vector<int> next(kThreads, 0);
    for (const std::string& text : Texts()) {
        if (text == "late") continue;
        ASSERT_EQ(text[0], 'T') << text;
        int t = text[1] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << text;
        EXPECT_EQ(text, "T" + std::to_string(t) + " " + std::to_string(next[t]) + " " + std::string(300, static_cast<char>('a' + t)));
        ++next[t];
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

TEST_F(Log, SizeBoundRenamesTheFileOnceAndStartsANewOne) {
    const std::string older = path_ + ".1";
    // A line is about 50 bytes: "[d.m.yyyy h:mm:ss.mmm] - 12000001 - " and a 10-byte text.
    const struct {
        const char* what;
        uint64_t limit;
        std::string before;   // the log file as OpenLog finds it
        std::string before1;  // name.1 as OpenLog finds it
        int lines;
        bool renamed;
        bool allKept;  // name.1 and the file together hold every line written
    } cases[] = {
        {"no bound", 0, "", "kept\r\n", 40, false, true},
        {"past the bound once", 400, "", "", 10, true, true},
        {"an older name.1 is replaced", 400, "", "replaced\r\n", 10, true, true},
        {"past the bound again and again", 400, "", "", 40, true, false},
        {"a file already past the bound goes at the first line", 100, std::string(120, 'x'), "", 1, true, true},
        {"a line longer than the bound goes whole into an empty file", 20, "", "", 1, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path_);
        fs::remove(older);
        if (!c.before.empty()) std::ofstream(path_, std::ios::binary) << c.before;
        if (!c.before1.empty()) std::ofstream(older, std::ios::binary) << c.before1;
        d_.Cfg.LogLevel = 3;
        d_.Cfg.LogSizeLimit = c.limit;
        OpenLog(&d_);
        std::vector<std::string> written;
        for (int i = 0; i < c.lines; ++i) {
            written.push_back("line " + std::to_string(10000 + i));
            WriteLog(&d_, written.back(), 0);
        }
        CloseLog(&d_);
        if (!c.renamed) {
            EXPECT_EQ(Texts(), written);
            EXPECT_EQ(Content(older), c.before1);
            continue;
        }
        if (!c.before.empty()) {
            EXPECT_EQ(Content(older), c.before);
            EXPECT_EQ(Texts(), written);
            continue;
        }
        // name.1 holds the lines just before those of the new file; none passes the bound.
        std::vector<std::string> kept = Texts(older);
        EXPECT_FALSE(kept.empty());
        const std::vector<std::string> current = Texts();
        kept.insert(kept.end(), current.begin(), current.end());
        ASSERT_LE(kept.size(), written.size());
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), written.end() - static_cast<long>(kept.size())));
        EXPECT_EQ(kept.size() == written.size(), c.allKept);
        EXPECT_LE(fs::file_size(path_), c.limit);
        EXPECT_LE(fs::file_size(older), c.limit);
    }
}

TEST_F(Log, RenamesUnderConcurrentWritersKeepLinesWholeAndInOrder) {
    d_.Cfg.LogLevel = 3;
    d_.Cfg.LogSizeLimit = 8192;
    OpenLog(&d_);
    constexpr int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i) WriteLog(&d_, "T" + std::to_string(t) + " " + std::to_string(1000 + i), 3);
        });
    for (auto& th : threads) th.join();
    CloseLog(&d_);
    std::vector<std::string> kept = Texts(path_ + ".1");
    const std::vector<std::string> current = Texts();
    kept.insert(kept.end(), current.begin(), current.end());
    std::vector<int> last(kThreads, 0);
    for (const std::string& text : kept) {
        const int t = text[1] - '0', i = std::stoi(text.substr(3));
        EXPECT_GT(i, last[t]) << text;
        last[t] = i;
    }
    // Older files are gone: what is kept ends with the last line of a thread.
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back().substr(3), std::to_string(999 + kLines));
}

}  // namespace
}  // namespace zelk
