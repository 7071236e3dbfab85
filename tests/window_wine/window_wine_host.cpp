// A host that shows the driver's real window, pumps its messages, reads the controls back
// as UTF-16 and types into the channel field with window messages.
//   window_wine_host <tag>
// Writes <tag>-<page>.ready when a page is ready for a screenshot and waits for
// <tag>-<page>.done (the driver script takes the picture). Exit code: number of failures.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "platform/platform.h"
#include "window/Hlavni.h"
#include "window/window_api.h"

using namespace zelk;

namespace {

int failures = 0;
std::string tag = "default";

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

struct FindChild {
    int id;
    HWND found;
};
BOOL CALLBACK FindById(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<FindChild*>(lp);
    if (GetDlgCtrlID(h) == f->id) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND Control(HWND form, int id) {
    FindChild f{id, nullptr};
    EnumChildWindows(form, FindById, reinterpret_cast<LPARAM>(&f));
    return f.found;
}
HWND LabelOf(HWND form, int n) { return Control(form, window::kLabelIdBase + n); }

std::wstring Text(HWND h) {
    wchar_t buf[512] = {0};
    GetWindowTextW(h, buf, 512);
    return buf;
}

void CheckText(HWND h, const std::wstring& expected, const char* what) {
    std::wstring got = h ? Text(h) : L"<no control>";
    Check(got == expected, what);
    if (got != expected) {
        std::printf("     got:");
        for (wchar_t c : got) std::printf(" %04X", static_cast<unsigned>(c));
        std::printf("\n");
    }
}

// Pumps until the control shows the text; the timer refreshes every 100 ms.
bool WaitForText(HWND h, const std::wstring& expected) {
    for (int i = 0; i < 1000; ++i) {
        if (Text(h) == expected) return true;
        Pump(10);
    }
    return false;
}

void Screenshot(const char* page) {
    const std::string ready = tag + "-" + page + ".ready", done = tag + "-" + page + ".done";
    DeleteFileA(done.c_str());
    if (FILE* f = std::fopen(ready.c_str(), "w")) std::fclose(f);
    for (int i = 0; i < 3000 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Pump(20);
    Check(GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES, "screenshot taken");
    DeleteFileA(ready.c_str());
    DeleteFileA(done.c_str());
}

void TypeInto(HWND edit, const wchar_t* keys) {
    for (const wchar_t* k = keys; *k; ++k) SendMessageW(edit, WM_CHAR, *k, 0);
    Pump(20);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) tag = argv[1];
    TData d;
    SetConfigDefaults(d.Cfg);
    d.Cfg.ModuleSerial = "12000001";
    d.Cfg.LogLevel = 2;
    ResetDeviceBlock(d, DeviceReset::Everything);
    BuildChannelTable(d);
    SetDeviceStatus(d, 9, StatusTexts[9]);

    d.Window.reset(CreateDriverWindow(&d));
    Check(d.Window != nullptr, "window created");
    if (!d.Window) return 1;
    TForm1* w = d.Window.get();
    const std::wstring title = L"Ovladač ZELK-2716E (v.č. 12000001) ";
    HWND form = FindWindowW(L"TZelkForm1", title.c_str());
    Check(form != nullptr, "found by its UTF-16 title");
    if (!form) return failures;
    CheckText(form, title, "title");
    Check(!IsWindowVisible(form), "hidden after set-up");

    const LONG style = GetWindowLongW(form, GWL_STYLE);
    Check((style & WS_SYSMENU) && (style & WS_MINIMIZEBOX), "system menu and minimise button");
    Check(!(style & WS_MAXIMIZEBOX) && !(style & WS_THICKFRAME), "no maximise button, single border");
    RECT client;
    GetClientRect(form, &client);
    Check(client.right == 452 && client.bottom == 390, "client area 452 x 390");
    RECT outer;
    GetWindowRect(form, &outer);
    const int dx = (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2 - outer.left;
    const int dy = (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2 - outer.top;
    Check(dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1, "centred on the screen");
    const UINT closeState = GetMenuState(GetSystemMenu(form, FALSE), SC_CLOSE, MF_BYCOMMAND);
    Check(closeState != static_cast<UINT>(-1) && (closeState & MF_GRAYED), "Close command disabled");
    Check(SendMessageW(form, WM_GETICON, ICON_SMALL, 0) != 0 && SendMessageW(form, WM_GETICON, ICON_BIG, 0) != 0,
          "icons 16 and 32");

    // The settings page holds the configured values before the window is shown.
    CheckText(LabelOf(form, 1), L"RQ ovladač ZELK modulů", "Label1");
    CheckText(LabelOf(form, 2), L"v.1.0.0", "Label2");
    CheckText(LabelOf(form, 4), L"Výrobní číslo", "Label4");
    CheckText(LabelOf(form, 8), L"Úroveň", "Label8");
    CheckText(LabelOf(form, 11), L"12000001", "Label11 serial number");
    CheckText(LabelOf(form, 12), L"---", "Label12 module type");
    CheckText(LabelOf(form, 14), L"2", "Label14 log level");
    CheckText(LabelOf(form, 15), L"Rq_zelk2716e.log", "Label15 log file");
    CheckText(LabelOf(form, 16), L"Nenalezen USB modul", "Label16 status");
    Check(!IsWindowVisible(LabelOf(form, 6)) && !IsWindowVisible(LabelOf(form, 13)), "controller row hidden");
    HWND tab = Control(form, window::kPageControl1Id);
    wchar_t tabText[64] = {0};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = tabText;
    item.cchTextMax = 64;
    SendMessageW(tab, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    Check(std::wstring(tabText) == L"Nastavení ovladače", "first tab caption");
    SendMessageW(tab, TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item));
    Check(std::wstring(tabText) == L"Diagnostika kanálů", "second tab caption");

    WindowDriverProc(w, 1, 0, 0, 0, 0);
    Pump(200);
    Check(IsWindowVisible(form) != FALSE, "shown by function 1");
    SetDeviceStatus(d, 0, StatusTexts[0]);
    Check(WaitForText(LabelOf(form, 16), L"V pořádku"), "status line follows the device status");
    Screenshot("settings");

    // The diagnostics page, driven by keys sent to the channel field.
    WindowSelectPage(w, 1);
    Pump(200);
    HWND edit = Control(form, window::kEdit1Id);
    CheckText(edit, L"0", "field starts at 0");
    SendMessageW(edit, EM_SETSEL, 0, -1);
    TypeInto(edit, L"a.");
    CheckText(edit, L"0", "letters are not typed");
    SendMessageW(edit, EM_SETSEL, 0, -1);
    TypeInto(edit, L"16\r");
    CheckText(edit, L"16", "Enter is not typed");
    CheckText(LabelOf(form, 27), L"16", "channel 16 number");
    CheckText(LabelOf(form, 28), L"---", "channel 16 type");
    CheckText(LabelOf(form, 35), L"Kanál nedefinován", "channel 16 status");
    Check(!IsWindowVisible(LabelOf(form, 29)) && !IsWindowVisible(LabelOf(form, 37)), "channel 16 analog rows hidden");

    SendMessageW(edit, EM_SETSEL, 0, -1);
    TypeInto(edit, L"97\r");
    CheckText(LabelOf(form, 27), L"97", "channel 97 number");
    CheckText(LabelOf(form, 35), L"Kanál nepoužit", "channel 97 status");
    Check(!IsWindowVisible(LabelOf(form, 30)), "channel 97 analog rows hidden");

    SendMessageW(edit, EM_SETSEL, 0, -1);
    TypeInto(edit, L"3\r");
    const std::wstring sep(1, static_cast<wchar_t>(plat::DecimalSeparator()));
    CheckText(LabelOf(form, 29), L"Kanál 3", "channel 3 name");
    CheckText(LabelOf(form, 30), L"3", "channel 3 input");
    CheckText(LabelOf(form, 31), L"10V", "channel 3 range");
    CheckText(LabelOf(form, 37), L"1" + sep + L"0000 / 0" + sep + L"0000", "channel 3 constants");
    Check(IsWindowVisible(LabelOf(form, 36)) != FALSE, "channel 3 analog rows shown");
    Pump(300);
    Screenshot("diagnostics");

    SendMessageW(edit, EM_SETSEL, 0, -1);
    TypeInto(edit, L"999999999999\r");
    CheckText(edit, L"0", "twelve digits reset the field");
    CheckText(LabelOf(form, 27), L"0", "twelve digits show channel 0");

    // Keys typed through the host's path land at the end of the field.
    for (char k : std::string("\b\b8\b5x1\r")) WindowTypeKey(w, k);
    Pump(20);
    CheckText(edit, L"51", "keys from the host typed at the end");
    CheckText(LabelOf(form, 27), L"51", "channel 51 picked by the host's keys");
    std::string contents = WindowContentsText(w);
    Check(contents.find("\r\n[Diagnostika kanálů]\r\n"_cp) != std::string::npos &&
              contents.find("\r\nMonitorovaný kanál: 51\r\nČíslo kanálu: 51\r\n"_cp) != std::string::npos,
          "contents as text");

    // The user cannot close it; minimising works.
    SendMessageW(form, WM_CLOSE, 0, 0);
    Pump(100);
    Check(IsWindow(form) && IsWindowVisible(form), "WM_CLOSE ignored");
    SendMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump(100);
    Check(IsWindow(form) && IsWindowVisible(form), "SC_CLOSE ignored");
    SendMessageW(form, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Pump(200);
    Check(IsIconic(form) != FALSE, "minimised from the system menu");
    WindowDriverProc(w, 3, 0, 0, 0, 0);
    Pump(200);
    Check(!IsIconic(form), "restored by function 3");
    WindowDriverProc(w, 2, 0, 0, 0, 0);
    Pump(200);
    Check(IsIconic(form) != FALSE, "minimised by function 2");
    WindowDriverProc(w, 3, 0, 0, 0, 0);
    WindowDriverProc(w, 5, 10, 20, 500, 450);
    Pump(100);
    GetWindowRect(form, &outer);
    Check(outer.left == 10 && outer.top == 20 && outer.right - outer.left == 500, "moved and sized by function 5");
    WindowDriverProc(w, 0, 0, 0, 0, 0);
    Pump(100);
    Check(!IsWindowVisible(form), "hidden by function 0");

    d.Window.reset();
    Check(!IsWindow(form), "destroyed with the instance's window");
    std::printf("%d failure(s)\n", failures);
    return failures;
}
