// kestrelle-check --save keeping the history, and --history reading it.

#include "ChildProcess.h"

#include "app/CheckCommandLine.h"
#include "monitor/DataFile.h"
#include "monitor/SiteList.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const std::string kChecker = KESTRELLE_CHECK_EXE;

class HistoryCheck : public ::testing::Test
{
protected:
    HistoryCheck()
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_oldDataHome = old ? old : "";
        m_hadDataHome = old != nullptr;
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
        server.SetResponse("/up", ScriptedHttpServer::Response(200, "OK", {}, "Open"));
        SiteList list;
        for (const char* path : {"/up", "/down"}) {
            SiteEntry e;
            e.field(SiteEntry::Url) = server.url(path);
            e.field(SiteEntry::SearchText) = "Open";
            list.Append(e);
        }
        EXPECT_TRUE(DataFile::SaveSites(list, listFile));
    }
    ~HistoryCheck() override
    {
        if (m_hadDataHome)
            setenv("XDG_DATA_HOME", m_oldDataHome.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }

    ScriptedHttpServer server;
    TempDir m_data;
    TempDir m_lists;
    std::string listFile = m_lists.file("sites.dat");
    std::string m_oldDataHome;
    bool m_hadDataHome = false;
};

} // namespace

TEST(HistoryCommandLine, OptionsAndTheirMistakes)
{
    const struct
    {
        std::vector<std::string> args;
        const char* error; // "" when accepted
        std::string history;
        int since;
        bool csv;
    } cases[] = {
        {{"--history", "shop.test"}, "", "shop.test", 30, false},
        {{"--history", "shop.test", "--since", "7", "--csv"}, "", "shop.test", 7, true},
        {{"--history"}, "--history needs a value", "", 30, false},
        {{"--history", ""}, "the SITE of --history is empty", "", 30, false},
        {{"--history", "a", "--since", "0"}, "--since takes a number of days", "", 30, false},
        {{"--history", "a", "--since", "7d"}, "--since takes a number of days", "", 30, false},
        {{"--csv"}, "--since and --csv belong to --history", "", 30, false},
        {{"--history", "a", "--save"}, "--history reads the history only", "", 30, false},
        {{"--history", "a", "list.dat"}, "--history reads the history only", "", 30, false},
    };
    for (const auto& c : cases) {
        const auto parsed = CheckCommandLine::Parse(c.args);
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(parsed.ok, *c.error == '\0') << parsed.error;
        EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << parsed.error;
        if (parsed.ok) {
            EXPECT_EQ(parsed.options.history, c.history);
            EXPECT_EQ(parsed.options.sinceDays, c.since);
            EXPECT_EQ(parsed.options.csv, c.csv);
        }
    }
}

TEST_F(HistoryCheck, SavedPassesAreRecordedAndReportedAsTextAndCsv)
{
    // Without --save nothing is kept.
    EXPECT_EQ(ChildProcess::Run(kChecker, {listFile}).exitStatus, 2);
    auto none = ChildProcess::Run(kChecker, {"--history", server.url("/down")});
    EXPECT_EQ(none.exitStatus, 3);
    EXPECT_NE(none.err.find("no checks have been recorded yet"), std::string::npos) << none.err;

    for (int pass = 0; pass < 2; ++pass)
        EXPECT_EQ(ChildProcess::Run(kChecker, {"--save", listFile}).exitStatus, 2);

    const auto text = ChildProcess::Run(kChecker, {"--history", server.url("/down")});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_NE(text.out.find("Uptime, last 24 hours:      0.00% of 2 checks\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Outages in the last 30 days: 1\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("still down"), std::string::npos) << text.out;

    const auto csv =
        ChildProcess::Run(kChecker, {"--history", server.url("/up"), "--csv", "--since", "7"});
    EXPECT_EQ(csv.exitStatus, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("kind,site,start,end,seconds,checks,uptime_percent,reason\r\n", 0), 0u);
    EXPECT_NE(csv.out.find(",86400,2,100.00,\r\n"), std::string::npos) << csv.out;
    EXPECT_EQ(csv.out.find("outage,"), std::string::npos) << csv.out;

    // A name that fits two recorded sites is refused, naming them.
    const auto ambiguous =
        ChildProcess::Run(kChecker, {"--history", "127.0.0.1:" + std::to_string(server.port())});
    EXPECT_EQ(ambiguous.exitStatus, 3);
    EXPECT_NE(ambiguous.err.find("names several sites"), std::string::npos) << ambiguous.err;
}
