#include "monitor/HistoryRecorder.h"

#include "monitor/CheckPass.h"
#include "monitor/SiteList.h"
#include "platform/Clock.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr std::time_t kNow = 1700000000;

struct NoAlerts : AlertSink
{
    void RaiseAlerts(const SiteAlert&) override {}
};

class HistoryRecorderTest : public ::testing::Test
{
protected:
    HistoryRecorderTest()
    {
        Clock::SetFixedForTests(kNow);
        server.SetResponse("/up", ScriptedHttpServer::Response(200, "OK", {}, "Open"));
        for (const char* path : {"/up", "/down"}) {
            SiteEntry e;
            e.field(SiteEntry::Url) = server.url(path);
            e.field(SiteEntry::SearchText) = "Open";
            list.Append(e);
        }
    }
    ~HistoryRecorderTest() override { Clock::SetFixedForTests(0); }

    HistoryStore::Uptime Uptime(const std::string& path)
    {
        HistoryStore store(file);
        HistoryStore::Uptime uptime;
        EXPECT_TRUE(store.OpenForReading()) << store.Error();
        EXPECT_TRUE(
            store.ReadUptime(HistoryStore::SiteKey(server.url(path)), 0, kNow + 60, uptime));
        return uptime;
    }

    ScriptedHttpServer server;
    TempDir dir;
    std::string file = dir.file("history.sqlite");
    SiteList list;
    NoAlerts alerts;
    PassGate gate;
};

} // namespace

TEST_F(HistoryRecorderTest, APassRecordsEveryOutcome)
{
    HistoryRecorder recorder(file);
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetRecorder(&recorder);
    pass.CheckSites();
    pass.CheckSites();
    EXPECT_TRUE(recorder.Available());
    // Two passes at one pinned second: the second pass's checks are kept a
    // second later rather than lost.
    EXPECT_EQ(Uptime("/up").checks, 2);
    EXPECT_EQ(Uptime("/up").ok, 2);
    EXPECT_EQ(Uptime("/down").checks, 2);
    EXPECT_EQ(Uptime("/down").ok, 0);
}

TEST_F(HistoryRecorderTest, AnUnusableHistoryNeverStopsMonitoring)
{
    TempDir::WriteFile(file, std::string(8192, 'x')); // not a database
    HistoryRecorder recorder(file);
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetRecorder(&recorder);

    testing::internal::CaptureStderr();
    pass.CheckSites();
    list.SetText(0, SiteEntry::Status, "-");
    pass.CheckSites();
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(list.Text(0, SiteEntry::Status), "OK");
    EXPECT_EQ(list.Text(1, SiteEntry::Status), "ERROR");
    EXPECT_FALSE(recorder.Available());
    EXPECT_NE(recorder.Problem(), "");
    // One line for the whole failure, however many passes it lasts.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("history is unavailable"), std::string::npos) << err;

    // Once the file is mended, the checks kept meanwhile are written too.
    std::filesystem::remove(file);
    pass.CheckSites();
    EXPECT_TRUE(recorder.Available());
    EXPECT_EQ(recorder.Problem(), "");
    EXPECT_EQ(Uptime("/up").checks, 3);
}
