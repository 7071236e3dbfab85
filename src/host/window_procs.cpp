// DriverProc and QueryProc: the host's calls that reach the driver window and the
// driver's queries (version, and the window for hosts without a window system).
#include <cstring>
#include <string>

#include "domain/numtext.h"
#include "host/host_internal.h"
#include "window/window_api.h"

namespace zelk::host {
namespace {

constexpr const char* kTagDP = "RQ_DP  ";
constexpr const char* kTagQP = "RQ_QP  ";

// Queries for hosts without a window system; `capacity` is QueryProc's fourth argument.
void WindowQuery(TData* d, int32_t kind, const std::string& name, int32_t capacity, ZelkValue* value) {
    TForm1* w = d->Window.get();
    if (w == nullptr) return;
    const int32_t tag = TagOf(*value);
    if (name == "WindowText" && kind == ZELK_TAG_STRING && tag == ZELK_TAG_STRING) {
        char* buf = PayloadPointer(*value);
        if (buf != nullptr && capacity > 0) CopyBounded(WindowContentsText(w), buf, capacity - 1);
    } else if (name == "WindowKey" && kind == ZELK_TAG_LONGCARD && tag == ZELK_TAG_LONGCARD) {
        WindowTypeKey(w, static_cast<char>(PayloadLong(*value) & 0xFF));
    } else if (name == "WindowPage" && kind == ZELK_TAG_LONGCARD && tag == ZELK_TAG_LONGCARD) {
        const uint32_t page = PayloadLong(*value);
        if (page <= 1) WindowSelectPage(w, static_cast<int>(page));
    }
}

void DoQuery(TData* d, int32_t kind, const char* name, int32_t reserved, ZelkValue* value) {
    Log(d, kTagQP, "(0)", 2);
    if (name != nullptr && value != nullptr) {
        const std::string n(name);
        if (n == "GetVersion") {
            char* buf = PayloadPointer(*value);
            if (kind == ZELK_TAG_STRING && TagOf(*value) == ZELK_TAG_STRING && buf != nullptr) {
                const char* t = DriverInfoText();
                std::memcpy(buf, t, std::strlen(t) + 1);
            }
        } else {
            WindowQuery(d, kind, n, reserved, value);
        }
    }
    Log(d, kTagQP, "(99)", 2);
}

}  // namespace
}  // namespace zelk::host

using namespace zelk;
using namespace zelk::host;

extern "C" {

void DriverProc(void* instance, uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        Log(d, kTagDP, "(0) F=" + text::Decimal(function), 2);
        TForm1* w = d->Window.get();
        if (w == nullptr) return;
        if (function <= 5) WindowDriverProc(w, function, left, top, width, height);
        Log(d, kTagDP, "(99)", 2);
    } catch (...) {
    }
}

void QueryProc(void* instance, int32_t kind, const char* name, int32_t reserved, ZelkValue* value) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        DoQuery(d, kind, name, reserved, value);
    } catch (...) {
    }
}

}  // extern "C"
