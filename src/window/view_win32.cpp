// The Win32 window: a real top-level window on the thread that called Init, mirroring the
// model. Every text is cp1250 in the model and UTF-16 here; the window is made and filled
// with the W functions only, so Czech letters show in every system locale.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "domain/text.h"
#include "window/Hlavni.h"
#include "window/window_api.h"
#include "window/window_gate_win32.h"
#include "window/mark_win32.h"

namespace zelk {

namespace {

constexpr wchar_t kFormClass[] = L"TZelkForm1";
constexpr wchar_t kPanelClass[] = L"TZelkPanel";
constexpr UINT_PTR kTimer1Id = 1;
constexpr COLORREF kValueColour = RGB(0, 0, 255);

std::wstring Wide(const std::string& cp1250) {
    std::u16string s = text::Cp1250ToUtf16(cp1250);
    return std::wstring(s.begin(), s.end());
}

std::string Narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(1250, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(1250, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring WindowTextOf(HWND h) {
    int n = GetWindowTextLengthW(h);
    std::wstring s(n + 1, L'\0');
    n = GetWindowTextW(h, s.data(), n + 1);
    s.resize(n > 0 ? n : 0);
    return s;
}

HINSTANCE ThisModule() {
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &m);
    return m;
}

LRESULT CALLBACK FormProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK PanelProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM);

bool RegisterClasses(HINSTANCE inst) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FormProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    wc.lpfnWndProc = PanelProc;
    wc.hbrBackground = nullptr;  // painted by the panel itself
    wc.lpszClassName = kPanelClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    return true;
}

// Destroys the driver's window on the thread that made it. The window is hidden first,
// outside the window gate: hiding an active window hands the activation on, perhaps to a
// window of another thread, and under wine that waits until the other thread reads its
// events, which a thread waiting for the gate does not do.
void DestroyOwnWindow(HWND h) {
    KillTimer(h, kTimer1Id);
    SetWindowLongPtrW(h, GWLP_USERDATA, 0);
    ShowWindow(h, SW_HIDE);
    window::WindowGate gate;
    DestroyWindow(h);
}

// Gives a child of the driver's window a procedure of the system's (EnumChildWindows
// callback; `editProc` is the channel field's own procedure): a panel the default one, the
// subclassed field its own.
BOOL CALLBACK HandBackToSystem(HWND child, LPARAM editProc) {
    const auto proc = GetWindowLongPtrW(child, GWLP_WNDPROC);
    if (proc == reinterpret_cast<LONG_PTR>(PanelProc)) {
        RemovePropW(child, L"ZelkWhite");
        SetWindowLongPtrW(child, GWLP_USERDATA, 0);
        SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    } else if (proc == reinterpret_cast<LONG_PTR>(EditProc) && editProc != 0) {
        SetWindowLongPtrW(child, GWLP_WNDPROC, editProc);
    }
    return TRUE;
}

class Win32View final : public window::TFormView {
public:
    explicit Win32View(TForm1* form) : form_(form) { shownVisible_.fill(-1); }

    ~Win32View() override {
        if (hwnd_) {
            if (GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) {
                DestroyOwnWindow(hwnd_);
            } else {
                // Done from the notification thread, or a reaper: only the owner can destroy
                // the window, and nothing here may wait for it. The window and its children
                // get the system's procedures back at once, so that no code of this library
                // runs for them any more and the host may unload it right away; the window is
                // hidden without waiting, and the owner's default procedure destroys it on
                // the WM_CLOSE it reads next. Inside the gate, so that no refresh of this
                // view runs meanwhile.
                window::WindowGate gate;
                EnumChildWindows(hwnd_, HandBackToSystem, reinterpret_cast<LPARAM>(editProc_));
                SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
                SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
                ShowWindowAsync(hwnd_, SW_HIDE);
                PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            }
        }
        window::WindowGate gate;
        for (HGDIOBJ o : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(boldFont_), static_cast<HGDIOBJ>(logo_)})
            if (o) DeleteObject(o);
        if (icon16_) DestroyIcon(icon16_);
        if (icon32_) DestroyIcon(icon32_);
    }

    bool Create();
    void Sync();
    void ShowActivePage();
    void DriverProc(uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height);
    void TypeKey(char key);
    void SelectPage(int page);

    LRESULT OnFormMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnPanelMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnEditMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp);

    TForm1* form() const { return form_; }

private:
    HWND MakePanel(HWND parent, int left, int top, int width, int height, bool white);
    HWND ParentOf(window::TParentKind k) const {
        switch (k) {
            case window::TParentKind::Settings: return page_[0];
            case window::TParentKind::Diagnostics: return page_[1];
            default: return hwnd_;
        }
    }
    void ResizeToText(HWND label, const std::wstring& s, HFONT f);
    LRESULT LabelColours(HDC dc, HWND label, HBRUSH background);

    TForm1* form_;
    HWND hwnd_ = nullptr;
    HWND tab_ = nullptr;
    HWND panel1_ = nullptr;
    std::array<HWND, 2> page_{};
    std::array<HWND, window::kLabelCount + 1> label_{};
    HWND edit_ = nullptr;
    WNDPROC editProc_ = nullptr;
    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    HBITMAP logo_ = nullptr;
    HICON icon16_ = nullptr;
    HICON icon32_ = nullptr;
    int shownPage_ = -1;
    bool timerRunning_ = false;
    std::string shownTitle_;
    std::array<std::string, window::kLabelCount + 1> shownCaption_;
    std::array<int, window::kLabelCount + 1> shownVisible_;
};

Win32View* ViewOfWindow(HWND h) { return reinterpret_cast<Win32View*>(GetWindowLongPtrW(h, GWLP_USERDATA)); }

Win32View* ViewOf(TForm1* w) { return w ? static_cast<Win32View*>(w->View.get()) : nullptr; }

// The view travels in the creation parameters and is kept in the window's user data.
void AttachViewOnCreate(HWND h, UINT msg, LPARAM lp) {
    if (msg != WM_NCCREATE) return;
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
}

// The messages of the panels and the channel field are handled inside the window gate. Those
// of the form are not, but for its refresh: the form's are where activation changes, which
// must not happen inside the gate (see DestroyOwnWindow).
LRESULT CALLBACK FormProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    AttachViewOnCreate(h, msg, lp);
    Win32View* v = ViewOfWindow(h);
    return v ? v->OnFormMessage(h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
}

LRESULT CALLBACK PanelProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    window::WindowGate gate;
    AttachViewOnCreate(h, msg, lp);
    Win32View* v = ViewOfWindow(h);
    return v ? v->OnPanelMessage(h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
}

LRESULT CALLBACK EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    window::WindowGate gate;
    Win32View* v = ViewOfWindow(GetParent(h));
    return v ? v->OnEditMessage(h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
}

HWND Win32View::MakePanel(HWND parent, int left, int top, int width, int height, bool white) {
    HWND p = CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, left,
                             top, width, height, parent, nullptr, ThisModule(), this);
    if (p) SetPropW(p, L"ZelkWhite", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(white ? 1 : 0)));
    return p;
}

bool Win32View::Create() {
    HINSTANCE inst = ThisModule();
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    if (!RegisterClasses(inst)) return false;

    // Central European character set: the font mapper then picks a face with Czech letters
    // in whatever locale the host runs.
    font_ = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, EASTEUROPE_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
    boldFont_ = CreateFontW(-19, 0, 0, 0, FW_BOLD, 0, 0, 0, EASTEUROPE_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
    logo_ = MakeLogo();
    icon16_ = MakeIcon(16);
    icon32_ = MakeIcon(32);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD exStyle = 0;
    RECT r{0, 0, window::kClientWidth, window::kClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    hwnd_ = CreateWindowExW(exStyle, kFormClass, Wide(form_->Caption).c_str(), style, x, y, w, h, nullptr, nullptr,
                            inst, this);
    if (!hwnd_) return false;
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (icon16_) SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon16_));
    if (icon32_) SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon32_));

    panel1_ = MakePanel(hwnd_, window::kPanel1.Left, window::kPanel1.Top, window::kPanel1.Width,
                        window::kPanel1.Height, true);
    tab_ = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_TABSTOP,
                           window::kPageControl1.Left, window::kPageControl1.Top, window::kPageControl1.Width,
                           window::kPageControl1.Height, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(window::kPageControl1Id)), inst, nullptr);
    if (!panel1_ || !tab_) return false;
    SendMessageW(tab_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    for (int i = 0; i < 2; ++i) {
        std::wstring caption = Wide(form_->TabCaption[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(tab_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    RECT display{0, 0, window::kPageControl1.Width, window::kPageControl1.Height};
    SendMessageW(tab_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (int i = 0; i < 2; ++i) {
        page_[i] = MakePanel(tab_, display.left, display.top, window::kPageWidth, window::kPageHeight, false);
        if (!page_[i]) return false;
    }

    for (int n = 1; n <= window::kLabelCount; ++n) {
        const window::TLabel& l = form_->Label[n];
        label_[n] = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFT | SS_NOPREFIX, l.Left, l.Top, 1, 13,
                                    ParentOf(l.Parent), reinterpret_cast<HMENU>(static_cast<INT_PTR>(window::kLabelIdBase + n)),
                                    inst, nullptr);
        if (!label_[n]) return false;
        SendMessageW(label_[n], WM_SETFONT, reinterpret_cast<WPARAM>(l.Bold ? boldFont_ : font_), FALSE);
    }
    const window::TEdit& e = form_->Edit1;
    edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", Wide(e.Text).c_str(),
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, e.Left, e.Top, e.Width, 21, page_[1],
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(window::kEdit1Id)), inst, nullptr);
    if (!edit_) return false;
    SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    editProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
    return true;
}

void Win32View::ResizeToText(HWND label, const std::wstring& s, HFONT f) {
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, f);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, size.cx > 0 ? size.cx : 1, tm.tmHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Pushes what changed in the model to the controls.
void Win32View::Sync() {
    if (!form_->CloseCommandEnabled) {
        if (HMENU m = GetSystemMenu(hwnd_, FALSE)) EnableMenuItem(m, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    }
    if (form_->Caption != shownTitle_) {
        SetWindowTextW(hwnd_, Wide(form_->Caption).c_str());
        shownTitle_ = form_->Caption;
    }
    for (int n = 1; n <= window::kLabelCount; ++n) {
        const window::TLabel& l = form_->Label[n];
        if (l.Caption != shownCaption_[n]) {
            std::wstring w = Wide(l.Caption);
            SetWindowTextW(label_[n], w.c_str());
            ResizeToText(label_[n], w, l.Bold ? boldFont_ : font_);
            shownCaption_[n] = l.Caption;
        }
        if (static_cast<int>(l.Visible) != shownVisible_[n]) {
            ShowWindow(label_[n], l.Visible ? SW_SHOWNA : SW_HIDE);
            shownVisible_[n] = l.Visible;
        }
    }
    if (Narrow(WindowTextOf(edit_)) != form_->Edit1.Text) SetWindowTextW(edit_, Wide(form_->Edit1.Text).c_str());
    ShowActivePage();
    if (form_->Timer1Enabled != timerRunning_) {
        if (form_->Timer1Enabled) SetTimer(hwnd_, kTimer1Id, window::kTimerIntervalMs, nullptr);
        else KillTimer(hwnd_, kTimer1Id);
        timerRunning_ = form_->Timer1Enabled;
    }
}

void Win32View::ShowActivePage() {
    if (form_->ActivePage == shownPage_) return;
    shownPage_ = form_->ActivePage;
    if (SendMessageW(tab_, TCM_GETCURSEL, 0, 0) != shownPage_) SendMessageW(tab_, TCM_SETCURSEL, shownPage_, 0);
    ShowWindow(page_[0], shownPage_ == window::kSettingsPage ? SW_SHOWNA : SW_HIDE);
    ShowWindow(page_[1], shownPage_ == window::kDiagnosticsPage ? SW_SHOWNA : SW_HIDE);
}

LRESULT Win32View::LabelColours(HDC dc, HWND label, HBRUSH background) {
    const int n = GetDlgCtrlID(label) - window::kLabelIdBase;
    const bool blue = n >= 1 && n <= window::kLabelCount && form_->Label[n].Blue;
    SetTextColor(dc, blue ? kValueColour : GetSysColor(COLOR_WINDOWTEXT));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(background);
}

LRESULT Win32View::OnFormMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            if (wp == kTimer1Id) {
                form_->Visible = IsWindowVisible(hwnd_) != FALSE;
                // Nothing may leave a window procedure as an exception: a failed refresh
                // skips one tick.
                window::WindowGate gate;
                try {
                    form_->Timer1Timer();
                    Sync();
                } catch (...) {
                }
                return 0;
            }
            break;
        case WM_CLOSE: {
            bool canClose = true;
            form_->FormCloseQuery(canClose);
            if (!canClose) return 0;
            break;
        }
        case WM_SYSCOMMAND:
            if ((wp & 0xFFF0) == SC_CLOSE) return 0;
            break;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lp);
            if (hdr->hwndFrom == tab_ && hdr->code == TCN_SELCHANGE) {
                form_->ActivePage = static_cast<int>(SendMessageW(tab_, TCM_GETCURSEL, 0, 0));
                ShowActivePage();
                return 0;
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
            return LabelColours(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), GetSysColorBrush(COLOR_BTNFACE));
        default:
            break;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

LRESULT Win32View::OnPanelMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    const bool white = GetPropW(h, L"ZelkWhite") != nullptr;
    HBRUSH background = white ? static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)) : GetSysColorBrush(COLOR_BTNFACE);
    switch (msg) {
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(h, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, background);
            return 1;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(h, &ps);
            RECT r;
            GetClientRect(h, &r);
            DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
            if (h == panel1_ && logo_) {
                HDC mem = CreateCompatibleDC(dc);
                HGDIOBJ old = SelectObject(mem, logo_);
                BitBlt(dc, window::kImage1Left, window::kImage1Top, window::kLogoWidth, window::kLogoHeight, mem, 0, 0,
                       SRCCOPY);
                SelectObject(mem, old);
                DeleteDC(mem);
            }
            EndPaint(h, &ps);
            return 0;
        }
        case WM_CTLCOLORSTATIC:
            return LabelColours(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), background);
        case WM_COMMAND:
            if (reinterpret_cast<HWND>(lp) == edit_ && HIWORD(wp) == EN_CHANGE) {
                form_->Edit1.Text = Narrow(WindowTextOf(edit_));
                return 0;
            }
            break;
        case WM_NCDESTROY:
            RemovePropW(h, L"ZelkWhite");
            break;
        default:
            break;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

LRESULT Win32View::OnEditMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CHAR) {
        const wchar_t ch = static_cast<wchar_t>(wp);
        const char key = ch < 0x80 ? static_cast<char>(ch) : '?';
        form_->Edit1.Text = Narrow(WindowTextOf(edit_));
        const bool pass = form_->Edit1KeyPress(key);
        if (key == 13) Sync();
        if (!pass) return 0;
    }
    return CallWindowProcW(editProc_, h, msg, wp, lp);
}

void Win32View::DriverProc(uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height) {
    switch (function) {
        case 0: ShowWindow(hwnd_, SW_HIDE); break;
        case 1: ShowWindow(hwnd_, SW_SHOW); break;
        case 2: ShowWindow(hwnd_, SW_MINIMIZE); break;
        case 3: ShowWindow(hwnd_, SW_RESTORE); break;
        case 4:
            if (IsWindowVisible(hwnd_)) {
                SetForegroundWindow(hwnd_);
                SetFocus(hwnd_);
            }
            break;
        case 5: MoveWindow(hwnd_, left, top, width, height, TRUE); break;
        default: break;
    }
    form_->Visible = IsWindowVisible(hwnd_) != FALSE;
}

void Win32View::TypeKey(char key) {
    std::u16string w = text::Cp1250ToUtf16(std::string(1, key));
    if (w.empty()) return;
    // Typed at the end of the field, as the headless window does.
    const LRESULT end = GetWindowTextLengthW(edit_);
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(edit_, WM_CHAR, static_cast<WPARAM>(w[0]), 0);
}

void Win32View::SelectPage(int page) {
    if (page != window::kSettingsPage && page != window::kDiagnosticsPage) return;
    form_->ActivePage = page;
    ShowActivePage();
}

}  // namespace

TForm1* CreateDriverWindow(TData* d) {
    if (!d) return nullptr;
    try {
        window::WindowGate gate;
        auto form = std::make_unique<TForm1>(d);
        auto view = std::make_unique<Win32View>(form.get());
        Win32View* v = view.get();
        form->View = std::move(view);
        if (!v->Create()) return nullptr;
        form->InitWindow();
        v->Sync();
        return form.release();
    } catch (...) {
        return nullptr;
    }
}

void WindowDriverProc(TForm1* w, uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height) {
    if (Win32View* v = ViewOf(w)) v->DriverProc(function, left, top, width, height);
}

std::string WindowContentsText(TForm1* w) { return w ? w->ContentsText() : std::string(); }

void WindowTypeKey(TForm1* w, char key) {
    window::WindowGate gate;
    if (Win32View* v = ViewOf(w)) v->TypeKey(key);
}

void WindowSelectPage(TForm1* w, int page) {
    window::WindowGate gate;
    if (Win32View* v = ViewOf(w)) v->SelectPage(page);
}

}  // namespace zelk
