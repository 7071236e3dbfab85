// Folder and file names with Czech letters, through Init and a measurement: the files land
// under exactly the names the parameter file gives, whatever the system's code page (under
// wine this suite also runs in the default locale, whose code page lacks ě, ř and ů).
#include <set>

#include "host_test_util.h"

namespace zelk::hosttest {
namespace {

namespace fs = std::filesystem;

fs::path FromUtf8(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
std::string Utf8Of(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// Every name under `root`, relative and in UTF-8.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root)) names.insert(Utf8Of(fs::relative(e.path(), root)));
    return names;
}

class CzechNames : public BenchTest {
protected:
    void TearDown() override {
        if (inst) {
            Done(inst);
            DisposeDriver(inst);
        }
        BenchTest::TearDown();
    }
    void* inst = MakeDriver();
    const fs::path root = FromUtf8(dir.File(""));
    const std::string sep = std::string(1, plat::PathSeparator());
};

TEST_F(CzechNames, RecordFileTableAndLogLandUnderTheNamesGiven) {
    const std::string folder = U8(u8"měření žluťoučký kůň") + sep + "data 1";
    const std::string ini = WriteParamFile(dir, "12000001", Utf8Of(root) + folder + sep + U8(u8"deník.log"),
                                           U8(u8"[Konverze souboru]\r\nTyp souboru=DBF\r\nAdresář=") + Utf8Of(root) +
                                               folder + "\r\n");
    char msg[100];
    ASSERT_EQ(Init(inst, 0, ini.c_str(), 99, msg, 0, 0, 0, nullptr), 1) << msg;
    const fs::path data = root / FromUtf8(folder);
    auto hasFileEndingIn = [&](const std::string& extension) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(data, ec))
            if (e.path().extension() == extension) return true;
        return false;
    };
    auto startStop = [&](uint32_t v) {
        OutputRequest(inst, ZELK_CH_MEASURE_START, Long(v));
        OutputRequestCompleted(inst);
        return WaitUntil([&] { return OutputFinalized(inst, ZELK_CH_MEASURE_START, nullptr) == 1; });
    };
    ASSERT_TRUE(startStop(1));
    // A measurement that stored nothing is not converted.
    ASSERT_TRUE(WaitUntil([&] { return D(inst)->Device.StoredRecordCount.load() > 0; }));
    EXPECT_TRUE(hasFileEndingIn(".bin"));
    ASSERT_TRUE(startStop(0));
    ASSERT_TRUE(WaitUntil([&] { return hasFileEndingIn(".dbf") && !hasFileEndingIn(".bin"); }));
    Done(inst);

    std::set<std::string> expected = {"zelk.ini", U8(u8"měření žluťoučký kůň"), folder, folder + sep + U8(u8"deník.log")};
    std::set<std::string> tree = Tree(root);
    for (const std::string& name : tree)
        if (name.rfind(folder + sep + "Zelk2716e_12000001_", 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".dbf") == 0)
            expected.insert(name);
    EXPECT_EQ(tree, expected);
    EXPECT_GT(fs::file_size(data / FromUtf8(U8(u8"deník.log"))), 0u);
}

TEST_F(CzechNames, ANameThatCp1250CannotHoldFailsInitNamingTheKey) {
    const std::string ini = dir.File("greek.ini");
    std::ofstream(ini, std::ios::binary) << U8(u8"[Volba modulu]\r\nVýrobní číslo=12000001\r\n"
                                               u8"[Konverze souboru]\r\nAdresář=Μέτρηση\r\n");
    char msg[100];
    EXPECT_EQ(Init(inst, 0, ini.c_str(), 99, msg, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(std::string(msg), "Chyba parametrického souboru - Konverze souboru / Adresář = ???????."_cp);
}

}  // namespace
}  // namespace zelk::hosttest
