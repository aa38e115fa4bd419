#include "app/CheckCommandLine.h"
#include "app/CheckReport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(CheckCommandLine, ParsesFlagsAndOneFile)
{
    const struct
    {
        std::vector<std::string> args;
        bool ok, save, help;
        std::string file, error;
    } cases[] = {
        {{}, true, false, false, "", ""},
        {{"--save"}, true, true, false, "", ""},
        {{"list.dat"}, true, false, false, "list.dat", ""},
        {{"list.dat", "--save"}, true, true, false, "list.dat", ""},
        {{"--save", "--save", "a"}, true, true, false, "a", ""},
        {{"--help"}, true, false, true, "", ""},
        {{"-h", "x"}, true, false, true, "x", ""},
        {{"--", "--save"}, true, false, false, "--save", ""},
        {{"-"}, true, false, false, "-", ""},
        {{"--sav"}, false, false, false, "", "unknown option '--sav'"},
        {{"-x"}, false, false, false, "", "unknown option '-x'"},
        {{"-s"}, false, false, false, "", "--string needs a value"},
        {{"--save=1"}, false, false, false, "", "--save takes no value"},
        {{"a", "b"}, false, false, false, "", "only one FILE can be checked, got 'a' and 'b'"},
        {{""}, false, false, false, "", "the FILE name is empty"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args)
            joined += "[" + a + "]";
        SCOPED_TRACE(joined);
        const auto r = CheckCommandLine::Parse(c.args);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.error, c.error);
        if (r.ok) {
            EXPECT_EQ(r.options.save, c.save);
            EXPECT_EQ(r.options.help, c.help);
            EXPECT_EQ(r.options.file, c.file);
        }
    }
}

TEST(CheckCommandLine, MailOnlyWhenAskedFor)
{
    const struct
    {
        std::vector<std::string> args;
        bool mail, save;
    } cases[] = {
        {{"list.dat"}, false, false},          {{"--save", "list.dat"}, false, true},
        {{"--mail", "list.dat"}, true, false}, {{"list.dat", "--mail", "--save"}, true, true},
        {{"--", "--mail"}, false, false},
    };
    for (const auto& c : cases) {
        const auto r = CheckCommandLine::Parse(c.args);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.options.mail, c.mail) << c.args.size();
        EXPECT_EQ(r.options.save, c.save) << c.args.size();
    }
}

TEST(CheckCommandLine, UsageNamesEveryFlagAndTheExitStatuses)
{
    const std::string usage = CheckCommandLine::Usage();
    EXPECT_EQ(usage.rfind("Usage: kestrelle-check [--save] [--mail] [FILE]\n", 0), 0u);
    EXPECT_NE(usage.find("  --save    "), std::string::npos);
    EXPECT_NE(usage.find("  --mail    "), std::string::npos);
    EXPECT_NE(usage.find("  -u, --url URL\n"), std::string::npos);
    EXPECT_NE(usage.find("Exit status: 0 OK,"), std::string::npos);
    EXPECT_EQ(usage.back(), '\n');
}

TEST(CheckCommandLine, PluginOptionsTakeTheirValues)
{
    auto r = CheckCommandLine::Parse({"--url=http://a.test/", "-s", "x=y", "-t", "10", "-w", "0.5",
                                      "--critical=2", "--metrics", "m.prom", "--parallel", "5",
                                      "--confirm=5"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.url, "http://a.test/");
    EXPECT_EQ(r.options.text, "x=y");
    EXPECT_EQ(r.options.timeout, 10);
    EXPECT_EQ(r.options.warning, 0.5);
    EXPECT_EQ(r.options.critical, 2);
    EXPECT_EQ(r.options.metrics, "m.prom");
    EXPECT_EQ(r.options.parallel, 5);
    EXPECT_EQ(r.options.confirm, 5);
    EXPECT_EQ(CheckCommandLine::Parse({}).options.parallel, 16);
    for (const auto& [arg, warn, crit] : {std::tuple{"14", 14, 0}, std::tuple{"30,7", 30, 7}}) {
        r = CheckCommandLine::Parse({"--certificate", arg});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.options.certificateWarning, warn);
        EXPECT_EQ(r.options.certificateCritical, crit);
    }

    const std::string oneSite =
        "--url checks one site from the command line: no FILE or --save with it";
    const struct
    {
        std::vector<std::string> args;
        std::string error;
    } wrong[] = {
        {{"-t", "0"}, "--timeout takes a number of seconds above 0, got '0'"},
        {{"--parallel", "0"}, "--parallel takes a whole number from 1 to 64, got '0'"},
        {{"--confirm=-1"}, "--confirm takes a whole number from 0 to 3600, got '-1'"},
        {{"-w", "1s"}, "--warning takes a number of seconds above 0, got '1s'"},
        {{"-w", "3", "-c", "2"}, "--warning must not be above --critical"},
        {{"-u", "http://a.test/"}, "--url and --string go together"},
        {{"-u", "http://a.test/", "-s", "x", "list.dat"}, oneSite},
        {{"-u", "http://a.test/", "-s", "x", "--save"}, oneSite},
        {{"--history", "a", "-t", "5"},
         "--history reads the history only: no other option or FILE with it"},
        {{"--metrics", ""}, "the FILE of --metrics is empty"},
        {{"-C", "0"}, "--certificate takes WARN[,CRIT], whole days from 1 to 36500, got '0'"},
        {{"-C", "7,14"}, "--certificate's CRIT must not be above its WARN"},
    };
    for (const auto& c : wrong) {
        r = CheckCommandLine::Parse(c.args);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.error);
    }
}

TEST(CheckReport, LinesKeepToOneLineAndTheirColumns)
{
    CheckPass::RowResult ok;
    ok.url = "http://www.shop.test/";
    ok.siteName = "shop.test";
    ok.status = "OK";
    ok.reason = "text found";
    ok.seconds = 0.25;
    // The reason and the time come after the fields of old, in the same
    // columns for OK and ERROR lines.
    EXPECT_EQ(CheckReport::RowLine(ok),
              "OK\tshop.test\thttp://www.shop.test/\t\ttext found\t0.250");

    CheckPass::RowResult down = ok;
    down.status = "ERROR";
    down.balloonText = "Kestrelle was unable to find the text \"a\tb\rc\x1b[31m\" on shop.test";
    down.reason = "connection refused";
    down.seconds = 1.5;
    EXPECT_EQ(CheckReport::RowLine(down),
              "ERROR\tshop.test\thttp://www.shop.test/\t"
              "Kestrelle was unable to find the text \"a b c [31m\" on shop.test"
              "\tconnection refused\t1.500");

    EXPECT_EQ(CheckReport::SummaryLine(3, 2, 1), "Sites: 3, OK: 2, ERROR: 1");
}

TEST(CheckReport, CertificateDaysGiveWarningAndCritical)
{
    const std::time_t now = 1800000000;
    const auto row = [now](const char* status, double daysLeft) {
        CheckPass::RowResult r;
        r.url = "https://shop.test/";
        r.siteName = "shop.test";
        r.status = status;
        r.checkedAt = now;
        r.certificateExpiry = daysLeft ? now + std::time_t(daysLeft * 86400) : 0;
        return r;
    };
    const struct
    {
        CheckPass::RowResult row;
        int status;
        const char* statusLine; // a part of it; empty: none expected
    } cases[] = {
        {row("OK", 20), 0, "1 site up"},
        {row("OK", 0), 0, "1 site up"}, // http: nothing to judge
        {row("OK", 10), 1,
         "1 of 1 site with a certificate expiring within 14 days: "
         "shop.test (certificate expires in 10 days)"},
        {row("OK", 6), 2,
         "KESTRELLE CRITICAL - 1 of 1 site with a certificate expiring "
         "within 7 days: shop.test (certificate expires in 6 days)"},
        {row("ERROR", 6), 2, "1 of 1 site down"},
    };
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    for (const auto& c : cases) {
        CheckReport report(sink);
        report.SetCertificateLimits(14, 7);
        report.RowChecked(c.row);
        report.PassEnded(true);
        EXPECT_EQ(report.ExitStatus(), c.status);
        EXPECT_NE(report.StatusLine().find(c.statusLine), std::string::npos) << report.StatusLine();
    }
    std::fclose(sink);
}

TEST(CheckReport, ExitStatusRanksDownSitesOverAFailedSave)
{
    CheckPass::RowResult ok, down;
    ok.status = "OK";
    down.status = "ERROR";
    const struct
    {
        std::vector<CheckPass::RowResult> rows;
        int passesEnded; // 0: the pass stopped before its end
        bool saved;
        int status;
    } cases[] = {
        {{}, 1, true, 0},    {{ok, ok}, 1, true, 0}, {{ok, down}, 1, true, 2},
        {{ok}, 1, false, 3}, {{down}, 1, false, 2},  {{ok}, 0, true, 3},
    };
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    for (const auto& c : cases) {
        CheckReport report(sink);
        for (const auto& r : c.rows)
            report.RowChecked(r);
        if (c.passesEnded)
            report.PassEnded(c.saved);
        EXPECT_EQ(report.ExitStatus(), c.status);
    }
    std::fclose(sink);
}

} // namespace
