#include "net/CertificateExpiry.h"

#include <gtest/gtest.h>

// 12:00:00 UTC on 3 March 2027.
constexpr std::time_t kMarch3 = 1804075200;

TEST(CertificateExpiry, ReadsEveryFormLibcurlGivesAndNothingElse)
{
    const struct
    {
        const char* text;
        std::time_t expected; // 0: not read
    } cases[] = {
        {"Mar  3 12:00:00 2027 GMT", kMarch3},
        {" Mar 03 12:00:00.250 2027 GMT\r\n", kMarch3},
        {"2027-03-03 12:00:00 GMT", kMarch3},
        {"2027-03-03T12:00:00Z", kMarch3},
        {"20270303120000Z", kMarch3},
        {"270303120000Z", kMarch3},
        {"991231235959Z", 946684799}, // a two-digit year from 50 on is 19xx
        {"Feb 29 00:00:00 2028 GMT", 1835395200},
        // Not times, or impossible ones: nothing, never a guess.
        {"", 0},
        {"soon", 0},
        {"Feb 29 00:00:00 2027 GMT", 0},
        {"Mar 32 12:00:00 2027 GMT", 0},
        {"Mar  3 12:00:00 2027 CET", 0},
        {"20270303120000", 0}, // without its zone this is a local time
        {"Mar  3 12:00:00 27 GMT", 0},
    };
    for (const auto& c : cases) {
        const auto got = CertificateExpiry::Parse(c.text);
        EXPECT_EQ(got.value_or(0), c.expected) << "'" << c.text << "'";
    }
}

// A kept connection has no handshake to read: the expiry is remembered by
// server, as the address names it in any letter case.
TEST(CertificateExpiry, RemembersByServerAsConnectionsAreKept)
{
    EXPECT_EQ(CertificateExpiry::ServerOf("HTTPS://Shop.Test/a?b"), "https://shop.test:443");
    EXPECT_EQ(CertificateExpiry::ServerOf("https://shop.test:8443/"), "https://shop.test:8443");
    EXPECT_EQ(CertificateExpiry::ServerOf("http://shop.test/"), "");
}
