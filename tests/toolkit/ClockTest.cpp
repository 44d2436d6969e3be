#include "toolkit/Clock.h"

#include "toolkit/Application.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace toolkit;

namespace {

TEST(ClockTest, TimersFireInDueOrderAtTheirDueTimes) {
    TClock clock;
    std::string log;
    TTimer fast(clock), slow(clock), twin(clock);
    const struct {
        TTimer* timer;
        const char* name;
        int interval;
    } timers[] = {{&fast, "fast", 30}, {&slow, "slow", 50}, {&twin, "twin", 30}}; // twin: with fast
    for (const auto& t : timers) {
        t.timer->SetInterval(t.interval);
        t.timer->SetOnTimer([&log, &clock, name = t.name](TTimer&) {
            log += std::string(name) + "@" + std::to_string(clock.Now()) + " ";
        });
    }
    clock.Advance(100);
    EXPECT_EQ(log, "fast@30 twin@30 slow@50 fast@60 twin@60 fast@90 twin@90 slow@100 ");
    EXPECT_EQ(clock.Now(), 100);
    log.clear();
    clock.Advance(-5);
    clock.Advance(19);
    EXPECT_EQ(log, "");
    clock.Advance(1);
    EXPECT_EQ(log, "fast@120 twin@120 ");
}

TEST(ClockTest, ChangingATimerRestartsItsCountdown) {
    TClock clock;
    std::vector<std::int64_t> fired;
    TTimer timer(clock);
    EXPECT_FALSE(timer.Scheduled()) << "no handler, no timer";
    timer.SetInterval(400);
    timer.SetOnTimer([&](TTimer& t) {
        fired.push_back(clock.Now());
        t.SetInterval(100); // the spin arrows' acceleration
        if (fired.size() == 3)
            t.SetEnabled(false);
    });
    clock.Advance(250);
    timer.SetInterval(400); // same value: keeps counting
    clock.Advance(150);
    EXPECT_EQ(fired, (std::vector<std::int64_t>{400}));
    clock.Advance(1000);
    EXPECT_EQ(fired, (std::vector<std::int64_t>{400, 500, 600}));
    timer.SetEnabled(true);
    timer.SetInterval(0);
    clock.Advance(1000);
    EXPECT_EQ(fired.size(), 3u) << "interval 0 never fires";
}

TEST(ClockTest, HandlerErrorsAndSelfDestructionDoNotStopTheClock) {
    TClock clock;
    int reports = 0;
    Application().OnException = [&](std::exception_ptr) { ++reports; };
    auto doomed = std::make_unique<TTimer>(clock);
    doomed->SetInterval(10);
    doomed->SetOnTimer([&](TTimer&) { doomed.reset(); });
    TTimer failing(clock);
    failing.SetInterval(10);
    failing.SetOnTimer([](TTimer&) { throw std::runtime_error("repeat failed"); });
    int survivors = 0;
    TTimer survivor(clock);
    survivor.SetInterval(25);
    survivor.SetOnTimer([&](TTimer&) { ++survivors; });
    clock.Advance(50);
    Application().OnException = nullptr;
    EXPECT_EQ(doomed, nullptr);
    EXPECT_EQ(reports, 5);
    EXPECT_EQ(survivors, 2);

    auto orphan = std::make_unique<TTimer>(*std::make_unique<TClock>());
    orphan->SetInterval(1); // its clock is gone: it can never fire, nor crash
    EXPECT_FALSE(orphan->Scheduled());
}

} // namespace
