#include "ui/CheckScheduler.h"
#include "UiTestSupport.h"
#include "platform/TimeText.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <climits>

namespace {
// A scheduler on a clock the test moves, counting its ticks.
struct Scheduler
{
    Scheduler()
    {
        s.SetClockForTests([this] { return now; });
        QObject::connect(&s, &CheckScheduler::Due, [this] { ++ticks; });
    }
    CheckScheduler s;
    std::int64_t now = 1'000'000;
    int ticks = 0;
};
} // namespace

TEST(CheckSchedulerTest, NoMinutesOrFewerRunEveryThirtyMinutesWithOneLine)
{
    for (int minutes : {0, -5, INT_MIN}) {
        Scheduler t;
        testing::internal::CaptureStderr();
        t.s.Start(minutes);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(t.s.TimerForTests().interval(), 30 * 60000) << minutes;
        EXPECT_EQ(CheckScheduler::NextCheckText(true, 1'700'000'000, minutes),
                  "Next check at " + TimeText::Local(1'700'000'000 + 1800));
    }
}

TEST(CheckSchedulerTest, IntervalsBeyondATimersRangeAreReachedByReArming)
{
    Scheduler t;
    t.s.Start(INT_MAX); // about 4,000 years: far past 32 bits of milliseconds
    EXPECT_EQ(t.s.TimerForTests().interval(), INT_MAX);

    t.s.SetLongestArmForTests(1);
    t.s.Start(40000); // past a QTimer's 35,791 minutes
    int armings = 0;
    QObject::connect(&t.s.TimerForTests(), &QTimer::timeout, [&] { ++armings; });
    ASSERT_TRUE(uitest::RunUntil([&] { return armings >= 3; }));
    EXPECT_EQ(t.ticks, 0);
    t.now += std::int64_t(40000) * 60000;
    ASSERT_TRUE(uitest::RunUntil([&] { return t.ticks == 1; }));
}

TEST(CheckSchedulerTest, PeriodsMissedDuringSleepGiveOneTickAfterWaking)
{
    Scheduler t;
    t.s.SetWakeDelayForTests(1);
    t.s.Start(1);
    t.now += 5 * 60000 + 10; // slept through five periods
    t.s.OnResumed();
    ASSERT_TRUE(uitest::RunUntil([&] { return t.ticks == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(t.ticks, 1);
    EXPECT_EQ(t.s.TimerForTests().interval(), 60000 - 10); // the next whole period

    t.now += 30000; // woken within a period: nothing due
    t.s.OnResumed();
    QCoreApplication::processEvents();
    EXPECT_EQ(t.ticks, 1);
    EXPECT_EQ(t.s.TimerForTests().interval(), 30000 - 10);
}
