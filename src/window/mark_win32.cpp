// The driver window's mark, drawn with GDI into the logo bitmap and the icons.
#include "window/mark_win32.h"

#include <array>
#include <cmath>
#include <string>

#include "window/Hlavni.h"

namespace zelk {

namespace {

// The standard 16-colour palette of the logo.
constexpr std::array<COLORREF, 16> kPalette16{
    RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
    RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
    RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
    RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255),
};

// Our maker's mark: a navy plate with the name and a trace of a measured signal.
void DrawMark(HDC dc, int w, int h, bool withName) {
    HBRUSH navy = CreateSolidBrush(RGB(0, 0, 128));
    RECT all{0, 0, w, h};
    FillRect(dc, &all, navy);
    DeleteObject(navy);
    HPEN grid = CreatePen(PS_SOLID, 1, RGB(0, 128, 128));
    HGDIOBJ oldPen = SelectObject(dc, grid);
    for (int x = w / 6; x < w; x += w / 6) {
        MoveToEx(dc, x, h / 2, nullptr);
        LineTo(dc, x, h - 2);
    }
    HPEN trace = CreatePen(PS_SOLID, h >= 32 ? 2 : 1, RGB(255, 255, 0));
    SelectObject(dc, trace);
    const int base = withName ? h * 3 / 4 : h / 2;
    const int amp = withName ? h / 6 : h / 3;
    for (int x = 1; x < w - 1; ++x) {
        int y = base - static_cast<int>(amp * std::sin(x * 6.2831853 / (w - 2) * 2) * (x % 2 ? 1.0 : 0.95));
        if (x == 1) MoveToEx(dc, x, y, nullptr);
        else LineTo(dc, x, y);
    }
    SelectObject(dc, oldPen);
    DeleteObject(trace);
    DeleteObject(grid);
    if (withName) {
        HFONT f = CreateFontW(-22, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
        HGDIOBJ oldFont = SelectObject(dc, f);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        RECT r{0, 2, w, h / 2 + 4};
        DrawTextW(dc, L"ZELK", -1, &r, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, oldFont);
        DeleteObject(f);
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
        RECT bar{4, h - 5, w - 4, h - 3};
        FillRect(dc, &bar, red);
        DeleteObject(red);
    }
}

}  // namespace

HBITMAP MakeLogo() {
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colours[16];
    } bi{};
    bi.h.biSize = sizeof bi.h;
    bi.h.biWidth = window::kLogoWidth;
    bi.h.biHeight = window::kLogoHeight;
    bi.h.biPlanes = 1;
    bi.h.biBitCount = 4;
    bi.h.biCompression = BI_RGB;
    bi.h.biClrUsed = 16;
    for (int i = 0; i < 16; ++i)
        bi.colours[i] = RGBQUAD{GetBValue(kPalette16[i]), GetGValue(kPalette16[i]), GetRValue(kPalette16[i]), 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    DrawMark(dc, window::kLogoWidth, window::kLogoHeight, true);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bmp;
}

HICON MakeIcon(int size) {
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateCompatibleBitmap(screen, size, size);
    ReleaseDC(nullptr, screen);
    std::string zeros(static_cast<size_t>(size) * size / 8, '\0');
    HBITMAP mask = CreateBitmap(size, size, 1, 1, zeros.data());  // all opaque
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, colour);
    DrawMark(dc, size, size, false);
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO ii{};
    ii.fIcon = TRUE;
    ii.hbmColor = colour;
    ii.hbmMask = mask;
    HICON icon = CreateIconIndirect(&ii);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon;
}

}  // namespace zelk
