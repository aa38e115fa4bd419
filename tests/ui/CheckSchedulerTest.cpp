#include "ui/CheckScheduler.h"

#include "platform/TimeText.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <climits>

namespace {
// Runs the event loop until the scheduler's next tick (or a generous
// safety limit, which fails the test rather than hanging it).
bool WaitForTick(CheckScheduler& scheduler)
{
    QEventLoop loop;
    bool ticked = false;
    QObject::connect(&scheduler, &CheckScheduler::Due, &loop, [&] {
        ticked = true;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return ticked;
}

struct FakeClock
{
    std::int64_t now = 1'000'000;
    std::function<std::int64_t()> Source()
    {
        return [this] { return now; };
    }
};
} // namespace

TEST(CheckSchedulerTest, TicksEveryPeriodAndStopsWhenStopped)
{
    CheckScheduler scheduler;
    scheduler.SetMinuteForTests(5);
    int ticks = 0;
    QObject::connect(&scheduler, &CheckScheduler::Due, [&] { ++ticks; });
    scheduler.Start(2);
    ASSERT_TRUE(WaitForTick(scheduler));
    ASSERT_TRUE(WaitForTick(scheduler));
    EXPECT_TRUE(scheduler.IsActive());
    scheduler.Stop();
    EXPECT_FALSE(scheduler.IsActive());
    EXPECT_FALSE(scheduler.TimerForTests().isActive());
    const int seen = ticks;
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, seen);
}

TEST(CheckSchedulerTest, NoMinutesOrFewerRunEveryThirtyMinutesWithOneLine)
{
    for (int minutes : {0, -5, INT_MIN}) {
        CheckScheduler scheduler;
        testing::internal::CaptureStderr();
        scheduler.Start(minutes);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(scheduler.TimerForTests().interval(), 30 * 60000) << minutes;
        EXPECT_EQ(CheckScheduler::EffectiveMinutes(minutes), 30);
    }
}

TEST(CheckSchedulerTest, IntervalsBeyondATimersRangeAreReachedByReArming)
{
    FakeClock clock;
    CheckScheduler scheduler;
    scheduler.SetClockForTests(clock.Source());
    scheduler.Start(INT_MAX); // about 4,000 years: more than 32 bits of milliseconds
    EXPECT_EQ(scheduler.TimerForTests().interval(), INT_MAX);

    scheduler.SetLongestArmForTests(1);
    scheduler.Start(40000); // past a QTimer's 35,791 minutes
    int ticks = 0;
    QObject::connect(&scheduler, &CheckScheduler::Due, [&] { ++ticks; });
    // Armed pieces end without a tick while the period has not passed.
    for (int i = 0; i < 3; ++i) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(scheduler.TimerForTests().isActive());
    clock.now += std::int64_t(40000) * 60000;
    ASSERT_TRUE(WaitForTick(scheduler));
    EXPECT_EQ(ticks, 1);
}

TEST(CheckSchedulerTest, PeriodsMissedDuringSleepGiveOneTickAfterWaking)
{
    FakeClock clock;
    CheckScheduler scheduler;
    scheduler.SetClockForTests(clock.Source());
    scheduler.SetWakeDelayForTests(1);
    int ticks = 0;
    QObject::connect(&scheduler, &CheckScheduler::Due, [&] { ++ticks; });
    scheduler.Start(1);
    clock.now += 5 * 60000 + 10; // slept through five periods
    scheduler.OnResumed();
    ASSERT_TRUE(WaitForTick(scheduler));
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, 1);
    // The next tick is due at the next whole period from the start.
    EXPECT_EQ(scheduler.TimerForTests().interval(), 60000 - 10);

    // Woken before the period ended: no tick, the timer aims at the deadline.
    clock.now += 30000;
    scheduler.OnResumed();
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(scheduler.TimerForTests().interval(), 30000 - 10);
}

TEST(CheckSchedulerTest, LabelNamesTheNextCheckOrTheDisabledState)
{
    const std::time_t now = 1'700'000'000;
    EXPECT_EQ(CheckScheduler::NextCheckText(true, now, 1),
              "Next check at " + TimeText::Local(now + 60));
    EXPECT_EQ(CheckScheduler::NextCheckText(true, now, 0),
              "Next check at " + TimeText::Local(now + 30 * 60));
    EXPECT_EQ(CheckScheduler::NextCheckText(false, now, 1),
              "Kestrelle is currently disabled. Right-click the tray-icon and click Enabled.");
}
