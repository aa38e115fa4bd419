#include "app/CheckCommandLine.h"
#include "app/CheckReport.h"

#include <gtest/gtest.h>

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
    const struct
    {
        std::vector<std::string> args;
        std::string error;
        std::string url, text;
        double timeout, warning, critical;
    } cases[] = {
        {{"-u", "http://a.test/", "-s", "Open"}, "", "http://a.test/", "Open", 0, 0, 0},
        {{"--url=http://a.test/", "--string", "x=y", "-t", "10", "-w", "0.5", "--critical=2"},
         "",
         "http://a.test/",
         "x=y",
         10,
         0.5,
         2},
        {{"-t", "0"}, "--timeout takes a number of seconds above 0, got '0'", "", "", 0, 0, 0},
        {{"-w", "1s"}, "--warning takes a number of seconds above 0, got '1s'", "", "", 0, 0, 0},
        {{"-w", "3", "-c", "2"}, "--warning must not be above --critical", "", "", 0, 0, 0},
        {{"-u", "http://a.test/"}, "--url and --string go together", "", "", 0, 0, 0},
        {{"-u", "http://a.test/", "-s", "x", "list.dat"},
         "--url checks one site from the command line: no FILE or --save with it",
         "",
         "",
         0,
         0,
         0},
        {{"-u", "http://a.test/", "-s", "x", "--save"},
         "--url checks one site from the command line: no FILE or --save with it",
         "",
         "",
         0,
         0,
         0},
        {{"--history", "a", "-t", "5"},
         "--history reads the history only: no other option or FILE with it",
         "",
         "",
         0,
         0,
         0},
        {{"--metrics", ""}, "the FILE of --metrics is empty", "", "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const auto r = CheckCommandLine::Parse(c.args);
        EXPECT_EQ(r.error, c.error);
        if (r.ok) {
            EXPECT_EQ(r.options.url, c.url);
            EXPECT_EQ(r.options.text, c.text);
            EXPECT_EQ(r.options.timeout, c.timeout);
            EXPECT_EQ(r.options.warning, c.warning);
            EXPECT_EQ(r.options.critical, c.critical);
        }
    }
}

TEST(CheckReport, LinesKeepToOneLineAndTheirColumns)
{
    CheckPass::RowResult ok;
    ok.url = "http://www.shop.test/";
    ok.siteName = "shop.test";
    ok.status = "OK";
    EXPECT_EQ(CheckReport::RowLine(ok), "OK\tshop.test\thttp://www.shop.test/");

    CheckPass::RowResult down = ok;
    down.status = "ERROR";
    down.balloonText = "Kestrelle was unable to find the text \"a\tb\rc\x1b[31m\" on shop.test";
    EXPECT_EQ(CheckReport::RowLine(down),
              "ERROR\tshop.test\thttp://www.shop.test/\t"
              "Kestrelle was unable to find the text \"a b c [31m\" on shop.test");

    EXPECT_EQ(CheckReport::SummaryLine(3, 2, 1), "Sites: 3, OK: 2, ERROR: 1");
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
