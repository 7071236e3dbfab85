// The headless window: the model with its own 100 ms timer thread, shown to the host as
// text. The host's calls and the timer meet under one mutex.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "window/Hlavni.h"
#include "window/window_api.h"

namespace zelk {

namespace {

class HeadlessView final : public window::TFormView {
public:
    explicit HeadlessView(TForm1* form) : form_(form) {}

    ~HeadlessView() override {
        {
            std::lock_guard<std::mutex> g(mutex);
            stop_ = true;
        }
        wake_.notify_all();
        if (timer_.joinable()) timer_.join();
    }

    void StartTimer() { timer_ = std::thread([this] { TimerLoop(); }); }
    // Called with `mutex` held after the window was shown.
    void WakeTimer() {
        shown_ = true;
        wake_.notify_all();
    }

    std::mutex mutex;  // guards the model
    bool minimised = false;
    bool focused = false;
    window::TRect bounds{0, 0, window::kClientWidth, window::kClientHeight};

private:
    void TimerLoop() {
        std::unique_lock<std::mutex> g(mutex);
        while (!stop_) {
            // A hidden window refreshes nothing: its timer then only looks round once a
            // second (showing it wakes the timer at once).
            const uint32_t ms = form_->Visible ? window::kTimerIntervalMs : kHiddenWakeMs;
            wake_.wait_for(g, std::chrono::milliseconds(ms), [this] { return stop_ || shown_; });
            if (stop_) break;
            if (shown_) {
                shown_ = false;  // the first refresh follows one interval after showing
                continue;
            }
            // A refresh that fails (no memory for a text) skips one tick; the timer goes on.
            try {
                form_->Timer1Timer();
            } catch (...) {
            }
        }
    }

    TForm1* form_;
    static constexpr uint32_t kHiddenWakeMs = 1000;
    bool stop_ = false;
    bool shown_ = false;
    std::condition_variable wake_;
    std::thread timer_;
};

HeadlessView* ViewOf(TForm1* w) { return w ? static_cast<HeadlessView*>(w->View.get()) : nullptr; }

}  // namespace

TForm1* CreateDriverWindow(TData* d) {
    if (!d) return nullptr;
    try {
        auto form = std::make_unique<TForm1>(d);
        auto view = std::make_unique<HeadlessView>(form.get());
        HeadlessView* v = view.get();
        form->View = std::move(view);
        form->InitWindow();
        v->StartTimer();
        return form.release();
    } catch (...) {
        // No memory or no thread: the caller reports that the window cannot be made.
        return nullptr;
    }
}

void WindowDriverProc(TForm1* w, uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height) {
    HeadlessView* v = ViewOf(w);
    if (!v) return;
    std::lock_guard<std::mutex> g(v->mutex);
    switch (function) {
        case 0: w->Visible = false; break;
        case 1:
            w->Visible = true;
            v->WakeTimer();
            break;
        case 2: v->minimised = true; break;
        case 3: v->minimised = false; break;
        case 4: v->focused = true; break;
        case 5: v->bounds = window::TRect{left, top, width, height}; break;
        default: break;
    }
}

std::string WindowContentsText(TForm1* w) {
    HeadlessView* v = ViewOf(w);
    if (!v) return {};
    std::lock_guard<std::mutex> g(v->mutex);
    return w->ContentsText();
}

void WindowTypeKey(TForm1* w, char key) {
    HeadlessView* v = ViewOf(w);
    if (!v) return;
    std::lock_guard<std::mutex> g(v->mutex);
    if (!w->Edit1KeyPress(key)) return;
    if (key == 8) {
        if (!w->Edit1.Text.empty()) w->Edit1.Text.pop_back();
    } else {
        w->Edit1.Text.push_back(key);
    }
}

void WindowSelectPage(TForm1* w, int page) {
    HeadlessView* v = ViewOf(w);
    if (!v || (page != window::kSettingsPage && page != window::kDiagnosticsPage)) return;
    std::lock_guard<std::mutex> g(v->mutex);
    w->ActivePage = page;
}

}  // namespace zelk
