// The driver window TForm1: a platform-neutral model of its controls (captions, places,
// visibility, colours, texts) and of its behaviour (set-up, the two page refreshes, the
// channel field's keys, the timer, the refused close). A view (Win32 or headless) owns
// the real window and mirrors the model; the model never touches the window system.
//
// Guarding: the model is used by one thread at a time. The Win32 view runs it on the
// host's thread only; the headless view serialises its timer thread and the host's calls
// with its own mutex. Driver data is read under TData::DataLock (copied, then formatted).
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace zelk {

struct TData;

namespace window {

enum class TParentKind : uint8_t { Form, Settings, Diagnostics };

// A static text. Places are in pixels of the parent's client area.
struct TLabel {
    TParentKind Parent = TParentKind::Form;
    int Left = 0;
    int Top = 0;
    std::string Caption;  // cp1250
    bool Visible = true;
    bool Blue = false;      // value labels are blue, captions use the default colour
    bool Bold = false;
    int FontHeight = 11;
    int CaptionOf = 0;      // for a value label: the number of its caption label
};

struct TEdit {
    int Left = 152;
    int Top = 16;
    int Width = 121;
    std::string Text = "0";
};

constexpr int kLabelCount = 37;       // Label1..Label37; index 0 is unused
constexpr int kClientWidth = 452;
constexpr int kClientHeight = 390;
constexpr int kTimerIntervalMs = 100;

// Fixed geometry of the frame (left, top, width, height).
struct TRect {
    int Left, Top, Width, Height;
};
constexpr TRect kPanel1{312, 24, 109, 67};
constexpr int kImage1Left = 8, kImage1Top = 8, kLogoWidth = 93, kLogoHeight = 52;
constexpr TRect kPageControl1{0, 120, 453, 270};
constexpr int kPageWidth = 445, kPageHeight = 241;

constexpr int kSettingsPage = 0;
constexpr int kDiagnosticsPage = 1;

// The labels of the analog rows of the diagnostics page.
constexpr std::array<int, 8> kAnalogRowLabels{20, 21, 22, 29, 30, 31, 36, 37};

// Control identifiers of the real window (a host or a test finds the controls by them).
constexpr int kLabelIdBase = 1000;  // Label n has the identifier 1000 + n
constexpr int kEdit1Id = 1100;
constexpr int kPageControl1Id = 1101;

// The platform part of a window; destroyed before the model's controls.
class TFormView {
public:
    virtual ~TFormView() = default;
};

}  // namespace window

class TForm1 {
public:
    explicit TForm1(TData* driver);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    TData* const Driver;
    uint32_t MonitoredChannel = 0;

    std::string Caption;  // the window title, cp1250
    bool Visible = false;  // kept current by the view
    bool CloseCommandEnabled = true;
    std::string Version;  // Label2's text
    std::array<window::TLabel, window::kLabelCount + 1> Label;
    window::TEdit Edit1;
    int ActivePage = window::kSettingsPage;  // PageControl1's active page
    std::array<std::string, 2> TabCaption;
    bool Timer1Enabled = false;

    void InitWindow();
    void VypisNastaveniOvladace();
    void VypisDiagnostikaKanalu();
    // Handles a key typed into Edit1; false when the key is to be discarded.
    bool Edit1KeyPress(char key);
    void Timer1Timer();
    void FormCloseQuery(bool& canClose);

    // Title, active page, and every visible label as "caption: value" (cp1250, CR LF lines).
    std::string ContentsText() const;

    // Declared last, so destroyed first: the view stops its timer before the model goes.
    std::unique_ptr<window::TFormView> View;
};

}  // namespace zelk
