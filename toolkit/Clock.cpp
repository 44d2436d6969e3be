#include "toolkit/Clock.h"

#include "toolkit/Application.h"

#include <algorithm>

namespace toolkit {

TClock& DefaultClock() {
    static TClock clock;
    return clock;
}

TClock::~TClock() {
    for (TTimer* timer : timers_) {
        timer->scheduled_ = false;
        timer->clock_ = nullptr;
    }
}

void TClock::Schedule(TTimer& timer) {
    timer.due_ = now_ + timer.interval_;
    timer.sequence_ = nextSequence_++;
    timer.scheduled_ = true;
}

void TClock::Unschedule(TTimer& timer) noexcept {
    timer.scheduled_ = false;
}

void TClock::Detach(TTimer& timer) noexcept {
    timers_.erase(std::remove(timers_.begin(), timers_.end(), &timer), timers_.end());
}

TTimer* TClock::NextDue(std::int64_t until) const noexcept {
    TTimer* next = nullptr;
    for (TTimer* timer : timers_) {
        if (!timer->scheduled_ || timer->due_ > until)
            continue;
        if (!next || timer->due_ < next->due_ ||
            (timer->due_ == next->due_ && timer->sequence_ < next->sequence_))
            next = timer;
    }
    return next;
}

void TClock::Advance(std::int64_t ms) {
    std::int64_t target = now_ + std::max<std::int64_t>(ms, 0);
    while (TTimer* timer = NextDue(target)) {
        now_ = std::max(now_, timer->due_);
        // Rescheduled before it fires, so a handler that changes the timer has the last word.
        Schedule(*timer);
        // A copy: the handler may destroy the timer and with it the stored handler.
        std::function<void(TTimer&)> handler = timer->onTimer_;
        Application().Dispatch([&] { handler(*timer); });
    }
    now_ = std::max(now_, target);
}

TTimer::TTimer(TClock& clock) : clock_(&clock) {
    clock.timers_.push_back(this);
}

TTimer::~TTimer() {
    if (clock_)
        clock_->Detach(*this);
}

void TTimer::SetInterval(unsigned ms) {
    if (interval_ == ms)
        return;
    interval_ = ms;
    Update();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    Update();
}

void TTimer::SetOnTimer(std::function<void(TTimer&)> handler) {
    onTimer_ = std::move(handler);
    Update();
}

void TTimer::Update() {
    if (!clock_)
        return;
    if (enabled_ && interval_ > 0 && onTimer_)
        clock_->Schedule(*this);
    else
        clock_->Unschedule(*this);
}

} // namespace toolkit
