#include "app/CheckReport.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

CheckPass::RowResult Row(const std::string& name, const char* status, double seconds,
                         int httpStatus = 200, const std::string& reason = "")
{
    CheckPass::RowResult r;
    r.url = "http://" + name + "/";
    r.siteName = name;
    r.status = status;
    r.seconds = seconds;
    r.httpStatus = httpStatus;
    r.reason = reason;
    return r;
}

TEST(CheckReport, StatusLineAndPerformanceData)
{
    const auto up = [](const std::string& name, double s = 0.5) {
        return Row(name, CheckPass::kOk, s);
    };
    const struct
    {
        const char* name;
        std::vector<CheckPass::RowResult> rows;
        std::vector<std::string> notChecked;
        double warning, critical, timeout;
        int exitStatus;
        std::string line;
    } cases[] = {
        {"all up",
         {up("a.test"), up("b.test")},
         {},
         0,
         0,
         0,
         0,
         "KESTRELLE OK - 2 sites up | 'sites_up'=2;;;0;2 'sites_down'=0;;;0;2 "
         "'sites_not_checked'=0;;;0;2 'a.test'=0.500000s;;;0.000000; "
         "'b.test'=0.500000s;;;0.000000;"},
        {"one down",
         {up("a.test"), Row("u:pw@shop.test", CheckPass::kError, 0.1, 503)},
         {},
         0,
         0,
         0,
         2,
         "KESTRELLE CRITICAL - 1 of 2 sites down: u@shop.test (HTTP 503) | 'sites_up'=1;;;0;2 "
         "'sites_down'=1;;;0;2 'sites_not_checked'=0;;;0;2 'a.test'=0.500000s;;;0.000000; "
         "'u@shop.test'=0.100000s;;;0.000000;"},
        {"time ran out",
         {Row("x.test", CheckPass::kError, 0.002, 0, "connection refused")},
         {"http://y.test/"},
         0,
         0,
         10,
         2,
         "KESTRELLE CRITICAL - 1 of 2 sites down: x.test (connection refused); 1 of 2 sites not "
         "checked: the time limit of 10 s ran out | 'sites_up'=0;;;0;2 'sites_down'=1;;;0;2 "
         "'sites_not_checked'=1;;;0;2 'x.test'=0.002000s;;;0.000000;10.000000"},
        {"time ran out, none down",
         {up("a.test")},
         {"http://y.test/"},
         0,
         0,
         1.5,
         3,
         "KESTRELLE UNKNOWN - 1 of 2 sites not checked: the time limit of 1.5 s ran out | "
         "'sites_up'=1;;;0;2 'sites_down'=0;;;0;2 'sites_not_checked'=1;;;0;2 "
         "'a.test'=0.500000s;;;0.000000;1.500000"},
        {"slow",
         {up("a.test", 0.2), up("a.test", 1.25)},
         {},
         1,
         2,
         0,
         1,
         "KESTRELLE WARNING - 1 of 2 sites slower than 1 s: a.test (1.250 s) | "
         "'sites_up'=2;;;0;2 'sites_down'=0;;;0;2 'sites_not_checked'=0;;;0;2 "
         "'a.test'=0.200000s;1.000000;2.000000;0.000000; "
         "'a.test #2'=1.250000s;1.000000;2.000000;0.000000;"},
        {"too slow",
         {up("it's|=.test", 3)},
         {},
         1,
         2,
         0,
         2,
         "KESTRELLE CRITICAL - 1 of 1 site slower than 2 s: it's/=.test (3.000 s) | "
         "'sites_up'=1;;;0;1 'sites_down'=0;;;0;1 'sites_not_checked'=0;;;0;1 "
         "'it''s/_.test'=3.000000s;1.000000;2.000000;0.000000;"},
        {"no sites",
         {},
         {},
         0,
         0,
         0,
         0,
         "KESTRELLE OK - no sites to check | 'sites_up'=0;;;0;0 'sites_down'=0;;;0;0 "
         "'sites_not_checked'=0;;;0;0"},
    };
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckReport report(sink);
        report.SetLimits(c.warning, c.critical, c.timeout);
        report.PassStarted();
        for (const auto& r : c.rows)
            report.RowChecked(r);
        report.PassEnded(true);
        for (const auto& url : c.notChecked)
            report.NotChecked(url);
        EXPECT_EQ(report.StatusLine(), c.line);
        EXPECT_EQ(report.ExitStatus(), c.exitStatus);
    }
    std::fclose(sink);
}

TEST(CheckReport, StatusLineNamesFiveDownSitesAtMost)
{
    CheckReport report(stdout);
    for (int i = 1; i <= 7; ++i)
        report.RowChecked(Row("s" + std::to_string(i), CheckPass::kError, 0, 0, "timed out"));
    report.PassEnded(true);
    const std::string line = report.StatusLine();
    EXPECT_EQ(line.substr(0, line.find(" | ")),
              "KESTRELLE CRITICAL - 7 of 7 sites down: s1 (timed out), s2 (timed out), "
              "s3 (timed out), s4 (timed out), s5 (timed out) and 2 more");
}

// Checks end in any order; the report names them in the list's.
TEST(CheckReport, OrderPutsTheSitesInTheListsOrder)
{
    CheckReport report(stdout);
    for (int i : {3, 1, 2}) {
        auto row = Row("s" + std::to_string(i), CheckPass::kError, 0, 0, "timed out");
        row.id = EntryId(i);
        report.RowChecked(row);
    }
    report.PassEnded(true);
    report.Order([](EntryId id) { return int(id); });
    const std::string line = report.StatusLine();
    EXPECT_EQ(line.substr(0, line.find(" | ")), "KESTRELLE CRITICAL - 3 of 3 sites down: s1 (timed "
                                                "out), s2 (timed out), s3 (timed out)");
}

} // namespace
