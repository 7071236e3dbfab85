// The drop-in D2XX library, loaded at run time like the plain driver loads the vendor's,
// configured by the file that ZELK_SIM_CONFIG names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "usb/d2xx.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

namespace usb = zelk::usb;
using usb::FT_HANDLE;
using usb::FT_OK;
using usb::FT_LIST_BY_INDEX;
using usb::FT_LIST_NUMBER_ONLY;
using usb::FT_OPEN_BY_DESCRIPTION;
using usb::FT_OPEN_BY_SERIAL_NUMBER;
using usb::kD2xxTextBufferSize;

void* LoadLibraryAt(const char* path) {
#ifdef _WIN32
    return reinterpret_cast<void*>(LoadLibraryA(path));
#else
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}

void* Symbol(void* lib, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
#else
    return dlsym(lib, name);
#endif
}

void SetConfigVariable(const std::string& path) {
#ifdef _WIN32
    _putenv_s("ZELK_SIM_CONFIG", path.c_str());
#else
    setenv("ZELK_SIM_CONFIG", path.c_str(), 1);
#endif
}

template <typename Fn>
Fn Get(void* lib, const char* name) {
    return reinterpret_cast<Fn>(Symbol(lib, name));
}

TEST(Ftd2xxLibrary, ExportsTheNineFunctionsAndServesItsConfiguredBench) {
    const std::string ini = "ftd2xx_library_test.ini";
    {
        std::ofstream f(ini);
        f << "[bench]\nlatency = 1\n"
             "[device]\nserial = 12000011\n"
             "[device]\nserial = 12100012\ndescription = second\n"
             "[device]\nserial = 12000013\nplugged = no\n";
    }
    SetConfigVariable(ini);
    void* lib = LoadLibraryAt(ZELK_TEST_FTD2XX_PATH);
    ASSERT_NE(lib, nullptr) << ZELK_TEST_FTD2XX_PATH;
    for (const char* name : {"FT_ListDevices", "FT_Open", "FT_Close", "FT_ResetDevice", "FT_SetLatencyTimer",
                             "FT_Purge", "FT_Write", "FT_Read", "FT_GetQueueStatus"})
        EXPECT_NE(Symbol(lib, name), nullptr) << name;

    auto list = Get<usb::PFN_FT_ListDevices>(lib, "FT_ListDevices");
    auto open = Get<usb::PFN_FT_Open>(lib, "FT_Open");
    auto close = Get<usb::PFN_FT_Close>(lib, "FT_Close");
    auto write = Get<usb::PFN_FT_Write>(lib, "FT_Write");
    auto read = Get<usb::PFN_FT_Read>(lib, "FT_Read");
    auto queue = Get<usb::PFN_FT_GetQueueStatus>(lib, "FT_GetQueueStatus");
    ASSERT_TRUE(list && open && close && write && read && queue);

    usb::DWORD n = 0;
    ASSERT_EQ(list(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(n, 2u);
    char text[kD2xxTextBufferSize] = {};
    ASSERT_EQ(list(reinterpret_cast<void*>(uintptr_t(1)), text, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
    EXPECT_STREQ(text, "12100012");
    ASSERT_EQ(list(reinterpret_cast<void*>(uintptr_t(1)), text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_STREQ(text, "second");

    FT_HANDLE h = nullptr;
    ASSERT_EQ(open(0, &h), FT_OK);
    uint8_t packet[5] = {0x81, 0, 0, 0, 0};
    ASSERT_EQ(write(h, packet, 5, &n), FT_OK);
    EXPECT_EQ(n, 5u);
    uint8_t reply[64] = {};
    usb::DWORD got = 0;
    for (int i = 0; i < 2000 && got == 0; ++i) {
        ASSERT_EQ(queue(h, &n), FT_OK);
        if (n >= 21)
            ASSERT_EQ(read(h, reply, n, &got), FT_OK);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(got, 21u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 5, 16), "ZELK-2716E  1.03");
    EXPECT_EQ(close(h), FT_OK);
    std::remove(ini.c_str());
}

}  // namespace
