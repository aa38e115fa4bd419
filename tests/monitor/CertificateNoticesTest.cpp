#include "monitor/CertificateNotices.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

// One site's certificate over several checks, the notes read afresh from
// the file where a restart falls: a balloon once a day, an e-mail once per
// certificate, both again at once for a renewed one.
TEST(CertificateNotices, OnceADayAndOncePerCertificateAcrossRestarts)
{
    setenv("TZ", "UTC", 1); // days end at midnight UTC, as the other time tests leave it
    tzset();
    TempDir dir;
    const std::string path = dir.path() + "/" + CertificateNotices::kFileName;
    const std::time_t day1 = 1800000000; // 09:20 UTC
    const std::time_t expiry = day1 + 6 * 86400, renewed = day1 + 10 * 86400;
    const struct
    {
        bool restart;
        std::time_t expiry;
        std::time_t now;
        bool balloon;
        bool mail;
    } steps[] = {
        {false, expiry, day1, true, true},
        {false, expiry, day1 + 1800, false, false},
        {true, expiry, day1 + 3600, false, false},      // the restart forgets nothing
        {false, expiry, day1 + 86400, true, false},     // a new day: a balloon, no second e-mail
        {true, renewed, day1 + 86400 + 60, true, true}, // renewed: both again
        {false, renewed, day1 + 86400 + 120, false, false},
    };
    auto notes = std::make_unique<CertificateNotices>(path);
    int n = 0;
    for (const auto& s : steps) {
        ++n;
        if (s.restart)
            notes = std::make_unique<CertificateNotices>(path);
        EXPECT_EQ(notes->TakeBalloon("https://shop.test/", s.expiry, s.now), s.balloon)
            << "step " << n;
        EXPECT_EQ(notes->TakeMail("https://shop.test/", s.expiry), s.mail) << "step " << n;
        // Another site has notes of its own.
        EXPECT_EQ(notes->TakeMail("https://blog.test/", s.expiry), s.mail) << "step " << n;
    }

    // A file of another kind is read as having told nothing.
    std::ofstream(path) << "something else\n";
    EXPECT_TRUE(CertificateNotices(path).TakeMail("https://shop.test/", renewed));
}
