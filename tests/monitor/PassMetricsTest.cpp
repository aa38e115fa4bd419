#include "monitor/PassMetrics.h"

#include "net/FetchAddress.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(PassMetrics, TextHasEveryFamilyWithEscapedLabels)
{
    Clock::SetFixedForTests(1700000000);
    PassMetrics metrics;
    metrics.PassStarted();
    CheckPass::RowResult down;
    down.url = FetchAddress::Shown("http://u:pw@a\"b\\c.test/"); // as a pass gives it
    down.siteName = CheckPass::SiteName(down.url);
    down.status = CheckPass::kError;
    down.httpStatus = 503;
    down.seconds = 0.25;
    // The same address twice in the list; the later entry's page ends first.
    down.id = 7;
    metrics.RowChecked(down);
    down.id = 3;
    down.httpStatus = 500;
    metrics.RowChecked(down);
    CheckPass::RowResult secure;
    secure.url = "https://shop.test/";
    secure.status = CheckPass::kOk;
    secure.certificateExpiry = 1700500000;
    metrics.RowChecked(secure);
    const std::string text = metrics.Text(1700000005);
    Clock::SetFixedForTests(0);

    const std::string labels = "{site=\"u@a\\\"b\\\\c.test\",url=\"http://u@a\\\"b\\\\c.test/\"}";
    for (const std::string& line : std::vector<std::string>{
             "# TYPE kestrelle_site_up gauge\n",
             "kestrelle_site_up" + labels + " 0\n",
             "kestrelle_site_response_seconds" + labels + " 0.250000\n",
             "kestrelle_site_http_status" + labels + " 500\n",
             "kestrelle_site_last_check_timestamp_seconds" + labels + " 1700000000\n",
             // Only a site whose certificate was read has the line.
             "\nkestrelle_site_certificate_expiry_timestamp_seconds{site=\"shop.test\","
             "url=\"https://shop.test/\"} 1700500000\n# HELP kestrelle_pass_duration",
             "# HELP kestrelle_pass_duration_seconds ",
             "\nkestrelle_pass_duration_seconds 0.",
             "\nkestrelle_pass_timestamp_seconds 1700000005\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_NE(text.find("kestrelle_site_http_status{site=\"u@a\\\"b\\\\c.test #2\",url=\"http://"
                        "u@a\\\"b\\\\c.test/\"} 503\n"),
              std::string::npos);
    EXPECT_EQ(text.find("pw"), std::string::npos);
    EXPECT_EQ(PassMetrics::LabelValue("a\nb"), "a\\nb");
}

} // namespace
