#include "platform/Clock.h"
#include "platform/TimeText.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

// 8 December 2026, 14:05:09 UTC, a Tuesday.
constexpr std::time_t kTuesdayAfternoon = 1796738709;

TEST(TimeText, UtcIsEnglishWithAmPmWhateverTheProcessLocale)
{
    // Qt switches the C library to the user's locale; stamps must not follow.
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(TimeText::Utc(kTuesdayAfternoon, "%a, %d %b %Y"), "Tue, 08 Dec 2026");
    EXPECT_EQ(TimeText::Utc(kTuesdayAfternoon, "%H:%M:%S %p"), "14:05:09 PM");
    EXPECT_EQ(TimeText::Utc(kTuesdayAfternoon, TimeText::kStampFormat), "12/08/2026 02:05:09 PM");
    if (german)
        std::setlocale(LC_ALL, "C");
}

TEST(TimeText, LocalFollowsTheTimeZone)
{
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(TimeText::Local(kTuesdayAfternoon), "12/08/2026 02:05:09 PM");
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    EXPECT_EQ(TimeText::Local(kTuesdayAfternoon), "12/08/2026 11:05:09 PM");
    setenv("TZ", "UTC", 1);
    tzset();
}

TEST(Clock, FixedInstantForTests)
{
    Clock::SetFixedForTests(kTuesdayAfternoon);
    EXPECT_EQ(Clock::Now(), kTuesdayAfternoon);
    Clock::SetFixedForTests(0);
    EXPECT_GT(Clock::Now(), kTuesdayAfternoon - 1000000000);
}

} // namespace
