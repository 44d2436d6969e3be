#pragma once
// Time for the headless toolkit. Nothing here waits: time moves only when someone (a test, an
// automation agent, a host) advances the clock, and the timers due on the way fire in order.
// UI thread only.
#include <cstdint>
#include <functional>
#include <vector>

namespace toolkit {

class TTimer;

class TClock {
public:
    TClock() = default;
    ~TClock();
    TClock(const TClock&) = delete;
    TClock& operator=(const TClock&) = delete;

    // Milliseconds since the clock was made.
    std::int64_t Now() const noexcept { return now_; }

    // Moves time forward by `ms` (negative counts as 0). Every timer falling due on the way
    // fires at its due time, earliest first; timers due at the same moment fire in the order
    // they were scheduled. A handler's exception goes to the application's handler, as from a
    // message loop, and the clock goes on.
    void Advance(std::int64_t ms);

private:
    friend class TTimer;
    void Schedule(TTimer& timer);
    void Unschedule(TTimer& timer) noexcept;
    void Detach(TTimer& timer) noexcept;
    TTimer* NextDue(std::int64_t until) const noexcept;

    std::int64_t now_ = 0;
    std::uint64_t nextSequence_ = 0;
    std::vector<TTimer*> timers_; // every timer on this clock, scheduled or not
};

// The clock every timer uses unless given another: one per process, shared by the host and
// the plug-in through the toolkit library.
TClock& DefaultClock();

// Fires OnTimer every Interval ms while Enabled and a handler is set. Changing Interval,
// Enabled or OnTimer restarts the countdown from the clock's present time, as recreating a
// system timer does.
class TTimer {
public:
    // A timer outliving its clock stays silent.
    explicit TTimer(TClock& clock = DefaultClock());
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    unsigned Interval() const noexcept { return interval_; }
    void SetInterval(unsigned ms);
    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled);
    void SetOnTimer(std::function<void(TTimer&)> handler);
    // True while the timer counts down towards a firing.
    bool Scheduled() const noexcept { return scheduled_; }
    std::int64_t DueTime() const noexcept { return due_; }

private:
    friend class TClock;
    void Update();

    TClock* clock_;
    unsigned interval_ = 1000;
    bool enabled_ = true;
    bool scheduled_ = false;
    std::int64_t due_ = 0;
    std::uint64_t sequence_ = 0;
    std::function<void(TTimer&)> onTimer_;
};

} // namespace toolkit
