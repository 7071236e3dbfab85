// Every platform function that takes a file or folder name gives the system the name's own
// characters: cp1250 text in, UTF-8 on POSIX, the wide-character functions on Windows. Under
// wine this also runs in the default locale, whose code page (1252) lacks ě and ř.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "domain/text.h"
#include "platform/file_io.h"
#include "platform/platform.h"

namespace zelk::plat {
namespace {

namespace fs = std::filesystem;

std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }
fs::path FromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

TEST(NativeNames, EveryFunctionThatTakesANameUsesItsOwnCharacters) {
    const fs::path root = fs::temp_directory_path() / ("zelk_names_" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(root));
    const std::u8string rootUtf8 = root.u8string();
    const std::string sep(1, PathSeparator());
    // The driver's form: cp1250 text.
    const std::string cpRoot = text::Utf8ToCp1250(std::string(rootUtf8.begin(), rootUtf8.end())) + sep;
    const std::string folder = U8(u8"Měření dat") + sep + U8(u8"žluťoučký kůň");
    const std::string cpFolder = cpRoot + text::Utf8ToCp1250(folder) + sep;
    const fs::path onDisk = root / FromUtf8(folder);

    EXPECT_FALSE(DirectoryExists(cpFolder));
    ASSERT_TRUE(CreateDirectories(cpFolder));
    EXPECT_TRUE(DirectoryExists(cpFolder));

    const std::string record = cpFolder + text::Utf8ToCp1250(U8(u8"záznam č. 1.bin"));
    File out;
    ASSERT_TRUE(out.Create(record) && out.Write("abc", 3) && out.Close());
    EXPECT_EQ(fs::file_size(onDisk / FromUtf8(U8(u8"záznam č. 1.bin"))), 3u);
    EXPECT_TRUE(FileExists(record));
    File in;
    char back[3] = {};
    EXPECT_TRUE(in.OpenRead(record) && in.ReadExactly(back, 3) && std::string(back, 3) == "abc");
    in.Close();
    // A table's temporary file renamed into place, replacing an older one.
    const std::string table = cpFolder + text::Utf8ToCp1250(U8(u8"tabulka č. 1.dbf"));
    File older;
    ASSERT_TRUE(older.Create(table) && older.Close());
    EXPECT_TRUE(ReplaceFileDurably(record, table));
    EXPECT_EQ(fs::file_size(onDisk / FromUtf8(U8(u8"tabulka č. 1.dbf"))), 3u);
    EXPECT_TRUE(DeleteFileAt(table));

    std::FILE* log = OpenFileStream(cpFolder + text::Utf8ToCp1250(U8(u8"deník.log")), "ab");
    ASSERT_NE(log, nullptr);
    std::fclose(log);

    std::set<std::u8string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) tree.insert(fs::relative(e.path(), root).u8string());
    const std::u8string s = fs::path(sep).u8string();
    EXPECT_EQ(tree, (std::set<std::u8string>{u8"Měření dat", u8"Měření dat" + s + u8"žluťoučký kůň",
                                            u8"Měření dat" + s + u8"žluťoučký kůň" + s + u8"deník.log"}));
    fs::remove_all(root);
}

}  // namespace
}  // namespace zelk::plat
