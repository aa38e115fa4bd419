#include "monitor/NoticeText.h"

#include <gtest/gtest.h>

TEST(NoticeText, LengthInPlainEnglish)
{
    const struct
    {
        long long seconds;
        const char* text;
    } cases[] = {
        {-5, "0 seconds"},
        {1, "1 second"},
        {12 * 60 + 59, "12 minutes"},
        {3600 + 5 * 60 + 30, "1 hour 5 minutes"},
        {2 * 86400 + 3 * 3600 + 59 * 60, "2 days 3 hours"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NoticeText::Length(c.seconds), c.text) << c.seconds;
    // An outage whose start nobody knows is not given a length.
    EXPECT_EQ(NoticeText::BackUp("shop.test", 0, 1000),
              "shop.test is back up (down for an unknown time)");
}

TEST(NoticeText, CertificateDaysAndTheWarningWindow)
{
    const std::time_t now = 1800000000;
    const long long day = 86400;
    const struct
    {
        long long left; // seconds from now to the expiry
        int warnDays;
        bool warned;
        const char* reason;
    } cases[] = {
        {6 * day, 14, true, "certificate expires in 6 days"},
        {5 * day - 60, 14, true, "certificate expires in 5 days"}, // made for 5 days a minute ago
        {3600, 14, true, "certificate expires within a day"},
        {14 * day, 14, true, "certificate expires in 14 days"},
        {14 * day + 1, 14, false, "certificate expires in 14 days"},
        {6 * day, 0, false, "certificate expires in 6 days"}, // 0: never warn
        {-1, 14, true, "certificate has expired"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NoticeText::ExpiresWithin(now + c.left, now, c.warnDays), c.warned) << c.left;
        EXPECT_EQ(NoticeText::CertificateReason(now + c.left, now), c.reason) << c.left;
    }
    EXPECT_FALSE(NoticeText::ExpiresWithin(0, now, 14)); // not known
}
