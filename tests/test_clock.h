// Waiting in tests: a bounded wait for a condition, and a clock for an instance that the test
// moves forward instead of waiting out the instance's intervals (the retry's 3 s, say).
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <map>
#include <thread>

#include "platform/clock.h"

namespace zelk::test {

// Polls `cond` every millisecond until it holds or `ms` have passed; true when it held. The
// bound only keeps a broken build from hanging, it is never what a test asserts.
template <class F>
bool WaitUntil(F&& cond, uint32_t ms = 20000) {
    const uint32_t start = plat::TickCount();
    while (!cond()) {
        if (plat::TickCount() - start > ms) return cond();
        plat::SleepMs(1);
    }
    return true;
}

// The system clock plus an offset that only grows: Skip(ms) makes `ms` pass at once for the
// ticks, sleeps and timed waits of the instances that hold this clock. A sleep or a wait that
// a skip carries past its end returns within a slice of real time.
class SkipClock final : public plat::Clock {
public:
    uint32_t NowMs() const override { return plat::TickCount() + skipped_.load(); }
    void SleepMs(uint32_t ms) const override {
        const uint32_t end = NowMs() + ms;
        for (int32_t left; (left = Left(end)) > 0;) plat::SleepMs(Slice(left));
    }
    void SleepDispatching(uint32_t ms) const override {
        const uint32_t end = NowMs() + ms;
        for (int32_t left; (left = Left(end)) > 0;) plat::SleepDispatching(Slice(left));
    }
    bool WaitFor(plat::WakeUp& wake, uint32_t ms) const override {
        Note(true);
        const uint32_t end = NowMs() + ms;
        bool raised = false;
        for (int32_t left = Left(end); !raised; left = Left(end)) {
            raised = wake.Wait(left > 0 ? Slice(left) : 0);
            if (left <= 0) break;
        }
        Note(false);
        return raised;
    }

    void Skip(uint32_t ms) {
        std::lock_guard<std::mutex> g(m_);
        skipped_ += ms;
        for (auto& [id, w] : waiters_) w = Waiter{};
    }
    // True once the instance has answered the last skip: every thread that waits on this clock
    // has woken since the skip and waits again, so each has been through a whole pass of its
    // loop begun after the skip (the retry that the skip made due, say). Poll it with WaitUntil.
    bool Settled() const {
        std::lock_guard<std::mutex> g(m_);
        if (waiters_.empty()) return false;
        for (const auto& [id, w] : waiters_)
            if (!w.again) return false;
        return true;
    }

    // Threads that have waited on this clock.
    size_t Waiters() const {
        std::lock_guard<std::mutex> g(m_);
        return waiters_.size();
    }

private:
    struct Waiter {
        bool woke = false;   // a wait of this thread has ended since the last skip
        bool again = false;  // and it has begun another
    };
    static constexpr int32_t kSliceMs = 5;
    int32_t Left(uint32_t end) const { return static_cast<int32_t>(end - NowMs()); }
    static uint32_t Slice(int32_t left) { return static_cast<uint32_t>(std::min(left, kSliceMs)); }
    void Note(bool begins) const {
        std::lock_guard<std::mutex> g(m_);
        Waiter& w = waiters_[std::this_thread::get_id()];
        if (!begins) w.woke = true;
        else if (w.woke) w.again = true;
    }

    std::atomic<uint32_t> skipped_{0};
    mutable std::mutex m_;
    mutable std::map<std::thread::id, Waiter> waiters_;  // m_
};

}  // namespace zelk::test
