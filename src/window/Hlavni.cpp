#include "window/Hlavni.h"

#include <cerrno>
#include <cstdlib>

#include "domain/numtext.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "platform/platform.h"

namespace zelk {

using window::TLabel;
using window::TParentKind;

namespace {

void Place(TLabel& l, TParentKind parent, int left, int top, std::string caption, int captionOf = 0) {
    l.Parent = parent;
    l.Left = left;
    l.Top = top;
    l.Caption = std::move(caption);
    l.CaptionOf = captionOf;
    l.Blue = captionOf != 0;
}

// StrToInt of the field: optional sign and decimal digits, within 32 bits signed.
bool ParseInt32(const std::string& s, int32_t& out) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL || v < -2147483648LL) return false;
    out = static_cast<int32_t>(v);
    return true;
}

}  // namespace

TForm1::TForm1(TData* driver) : Driver(driver) {
    const auto S = TParentKind::Settings;
    const auto D = TParentKind::Diagnostics;
    const auto F = TParentKind::Form;
    Place(Label[1], F, 24, 32, "RQ ovladač ZELK modulů"_cp);
    Label[1].Bold = true;
    Label[1].FontHeight = 19;
    Place(Label[2], F, 240, 64, "");

    Place(Label[3], S, 24, 32, "ZELK modul");
    Place(Label[4], S, 32, 48, "Výrobní číslo"_cp);
    Place(Label[5], S, 32, 64, "Typ");
    Place(Label[6], S, 32, 80, "Řadič"_cp);
    Place(Label[7], S, 24, 120, "Logování"_cp);
    Place(Label[8], S, 32, 136, "Úroveň"_cp);
    Place(Label[9], S, 32, 152, "Název souboru"_cp);
    Place(Label[10], S, 24, 192, "Status");
    Place(Label[11], S, 120, 48, "", 4);
    Place(Label[12], S, 120, 64, "", 5);
    Place(Label[13], S, 120, 80, "", 6);
    Place(Label[14], S, 120, 136, "", 8);
    Place(Label[15], S, 120, 152, "", 9);
    Place(Label[16], S, 72, 192, "", 10);
    // The controller line is kept for modules that report one; it is not shown.
    Label[6].Visible = false;
    Label[13].Visible = false;

    Place(Label[17], D, 24, 24, "Monitorovaný kanál"_cp);
    Place(Label[18], D, 32, 56, "Číslo kanálu"_cp);
    Place(Label[19], D, 32, 72, "Typ");
    Place(Label[20], D, 32, 88, "Název"_cp);
    Place(Label[21], D, 32, 104, "Vstup");
    Place(Label[22], D, 32, 120, "Rozsah");
    Place(Label[23], D, 32, 152, "Počet volání kanálu"_cp);
    Place(Label[24], D, 32, 168, "Časová značka"_cp);
    Place(Label[25], D, 32, 184, "Hodnota");
    Place(Label[26], D, 32, 208, "Status");
    Place(Label[27], D, 152, 56, "", 18);
    Place(Label[28], D, 152, 72, "", 19);
    Place(Label[29], D, 152, 88, "", 20);
    Place(Label[30], D, 152, 104, "", 21);
    Place(Label[31], D, 152, 120, "", 22);
    Place(Label[32], D, 152, 152, "", 23);
    Place(Label[33], D, 152, 168, "", 24);
    Place(Label[34], D, 152, 184, "", 25);
    Place(Label[35], D, 152, 208, "", 26);
    Place(Label[36], D, 32, 136, "Přepočtové konst."_cp);
    Place(Label[37], D, 152, 136, "", 36);

    TabCaption = {"Nastavení ovladače"_cp, "Diagnostika kanálů"_cp};
}

TForm1::~TForm1() = default;

void TForm1::InitWindow() {
    CloseCommandEnabled = false;
    Caption = "Ovladač ZELK-2716E (v.č. "_cp + Driver->Cfg.ModuleSerial + ") ";
    Version = "v." ZELK_VERSION;
    Label[2].Caption = Version;
    ActivePage = window::kSettingsPage;
    VypisNastaveniOvladace();
    MonitoredChannel = 0;
    Timer1Enabled = true;
}

void TForm1::VypisNastaveniOvladace() {
    const TData& d = *Driver;
    std::string type, controller;
    {
        plat::LockGuard g(d.DataLock);
        type = d.Device.ModuleType;
        controller = d.Device.ControllerText;
    }
    Label[11].Caption = d.Cfg.ModuleSerial;
    Label[12].Caption = type;
    Label[13].Caption = controller;
    Label[14].Caption = text::Decimal(d.Cfg.LogLevel);
    Label[15].Caption = d.Cfg.LogFileName;
    Label[16].Caption = GetDeviceStatus(d).text;
}

void TForm1::VypisDiagnostikaKanalu() {
    const uint32_t n = MonitoredChannel;
    const bool exists = IsDefinedChannel(n);
    const bool analog = exists && n < static_cast<uint32_t>(kAnalogCount);
    for (int i : window::kAnalogRowLabels) Label[i].Visible = analog;
    Label[27].Caption = text::Decimal(n);
    if (!exists) {
        Label[28].Caption = "---";
        Label[32].Caption = "---";
        Label[33].Caption = "---";
        Label[34].Caption = "---";
        Label[35].Caption = StatusText(Status::ChannelUndefined);
        return;
    }
    TJedenKanal c;
    {
        plat::LockGuard g(Driver->DataLock);
        c = Driver->Channels[n];
    }
    Label[28].Caption = c.Description;
    if (analog) {
        const char sep = plat::DecimalSeparator();
        Label[29].Caption = c.Name;
        Label[30].Caption = text::Decimal(static_cast<uint32_t>(c.PhysicalInput));
        Label[31].Caption = c.RangeName;
        Label[37].Caption = text::FormatFixed(Driver->Cfg.ChannelConstA[n], 4, 8, sep) + " / " +
                            text::FormatFixed(Driver->Cfg.ChannelConstB[n], 4, 8, sep);
    }
    Label[32].Caption = text::Decimal(static_cast<uint32_t>(c.RequestCount));
    Label[33].Caption = text::Decimal(c.RequestTick);
    Label[34].Caption = c.TextValue;
    Label[35].Caption = c.StatusText;
}

bool TForm1::Edit1KeyPress(char key) {
    if (key == 13) {
        int32_t v = 0;
        if (!ParseInt32(Edit1.Text, v)) {
            Edit1.Text = "0";
            v = 0;
        }
        MonitoredChannel = static_cast<uint32_t>(v);
        VypisDiagnostikaKanalu();
    }
    return (key >= '0' && key <= '9') || key == 8;
}

void TForm1::Timer1Timer() {
    if (!Timer1Enabled || !Visible) return;
    if (ActivePage == window::kSettingsPage) VypisNastaveniOvladace();
    else if (ActivePage == window::kDiagnosticsPage) VypisDiagnostikaKanalu();
}

void TForm1::FormCloseQuery(bool& canClose) { canClose = false; }

std::string TForm1::ContentsText() const {
    std::string out = Caption + "\r\n";
    out += "[" + TabCaption[ActivePage == window::kDiagnosticsPage ? 1 : 0] + "]\r\n";
    const TParentKind page = ActivePage == window::kDiagnosticsPage ? TParentKind::Diagnostics : TParentKind::Settings;
    std::array<bool, window::kLabelCount + 1> hasValue{};
    for (int i = 1; i <= window::kLabelCount; ++i)
        if (Label[i].CaptionOf != 0 && Label[i].Visible) hasValue[Label[i].CaptionOf] = true;
    auto line = [&](int i) {
        const TLabel& l = Label[i];
        if (!l.Visible || l.CaptionOf != 0) return;
        out += l.Caption;
        if (i == 17) {
            out += ": " + Edit1.Text;
        } else if (hasValue[i]) {
            for (int v = 1; v <= window::kLabelCount; ++v)
                if (Label[v].CaptionOf == i) out += ": " + Label[v].Caption;
        }
        out += "\r\n";
    };
    for (int i = 1; i <= window::kLabelCount; ++i)
        if (Label[i].Parent == TParentKind::Form) line(i);
    // In the order the rows appear on the page.
    std::array<int, window::kLabelCount + 1> order{};
    int count = 0;
    for (int i = 1; i <= window::kLabelCount; ++i)
        if (Label[i].Parent == page) order[count++] = i;
    for (int a = 1; a < count; ++a)
        for (int b = a; b > 0 && Label[order[b]].Top < Label[order[b - 1]].Top; --b) std::swap(order[b], order[b - 1]);
    for (int k = 0; k < count; ++k) line(order[k]);
    return out;
}

void DestroyWindowObject(TForm1* w) { delete w; }

}  // namespace zelk
