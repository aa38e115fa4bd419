// The pass with several checks under way at once: its bounds, its order,
// and the rules of one check that must hold whatever the order of the ends.

#include "monitor/CheckPass.h"

#include "monitor/SiteList.h"
#include "net/CPageFetcher.h"
#include "net/FetchSettings.h"
#include "platform/AsciiText.h"
#include "support/ScriptedHttpServer.h"
#include "support/TestSites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

using testsites::Page;
using testsites::Site;

class Alerts : public AlertSink
{
public:
    void RaiseAlerts(const SiteAlert& alert) override
    {
        std::lock_guard lock(mutex);
        raised.push_back(alert);
    }
    std::mutex mutex;
    std::vector<SiteAlert> raised;
};

class Rows : public CheckPass::Observer
{
public:
    void RowChecked(const CheckPass::RowResult& r) override { rows.push_back(r); }
    std::vector<CheckPass::RowResult> rows;
};

// Counts the requests the server is answering at once, in all and per host
// (the Host line's name, in lower case). A request counts from its arrival
// until just before its answer goes out, so the client had it under way at
// least that long.
class Overlap
{
public:
    ScriptedHttpServer::Handler Handler(std::chrono::milliseconds hold, std::string body)
    {
        return [this, hold, body](const std::string& request) {
            const auto at = request.find("\r\nHost: ");
            std::string host = request.substr(at + 8, request.find("\r\n", at + 2) - at - 8);
            host = AsciiText::Lower(host.substr(0, host.rfind(':')));
            {
                std::lock_guard lock(m_mutex);
                most = std::max(most, ++m_now);
                mostPerHost[host] = std::max(mostPerHost[host], ++m_perHost[host]);
                order.push_back(request.substr(4, request.find(' ', 4) - 4));
            }
            std::this_thread::sleep_for(hold);
            {
                std::lock_guard lock(m_mutex);
                --m_now;
                --m_perHost[host];
            }
            return ScriptedHttpServer::Bytes(Page(body));
        };
    }
    int most = 0;
    std::map<std::string, int> mostPerHost;
    std::vector<std::string> order; // paths, as the requests came

private:
    std::mutex m_mutex;
    int m_now = 0;
    std::map<std::string, int> m_perHost;
};

class CheckPassParallelTest : public ::testing::Test
{
protected:
    // Two host names for the one server: "127.0.0.1" and "localhost".
    std::string On(int host, const std::string& path) const
    {
        const std::string url = server.url(path);
        return host == 0 ? url
                         : "http://" + std::string(host == 1 ? "localhost" : "LocalHost") +
                               url.substr(url.rfind(':'));
    }

    ScriptedHttpServer server;
    SiteList list;
    Alerts alerts;
    Rows observer;
    PassGate gate;
};

TEST_F(CheckPassParallelTest, KeepsToTheBoundInAllAndPerHostAndOneGivesRowOrder)
{
    const struct
    {
        int parallel, most;
    } cases[] = {{8, 4}, {3, 3}, {1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parallel);
        Overlap overlap;
        server.SetDefault(overlap.Handler(150ms, "up"));
        list.Clear();
        // "localhost" and "LocalHost" are one host.
        for (int i = 0; i < 12; ++i)
            list.Append(Site(On(i % 3, "/" + std::to_string(i)), "up"));
        CheckPass pass(list, nullptr, alerts, gate);
        pass.SetParallelChecks(c.parallel);
        pass.CheckSites();
        EXPECT_EQ(overlap.most, c.most);
        EXPECT_LE(overlap.mostPerHost["127.0.0.1"], CheckPass::kChecksPerHost);
        EXPECT_LE(overlap.mostPerHost["localhost"], CheckPass::kChecksPerHost);
        for (int row = 0; row < list.RowCount(); ++row)
            EXPECT_EQ(list.Text(row, SiteEntry::Status), "OK") << row;
        if (c.parallel == 1) {
            std::vector<std::string> rows;
            for (int i = 0; i < 12; ++i)
                rows.push_back("/" + std::to_string(i));
            EXPECT_EQ(overlap.order, rows);
        }
    }
}

// Four pages under way while the user removes one entry, edits two and
// sorts the list: each outcome reaches its own entry, or none.
TEST_F(CheckPassParallelTest, OutcomesFollowTheirEntryWhileSeveralAreUnderWay)
{
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    EntryId ids[6];
    for (int i = 0; i < 6; ++i) {
        list.Append(Site(On(i % 2, "/" + std::to_string(i)), "absent"));
        ids[i] = list.IdAt(i);
    }
    server.SetDefault([&](const std::string& request) {
        const std::string path = request.substr(4, request.find(' ', 4) - 4);
        std::unique_lock lock(m);
        if (++arrived == 4) {
            list.Remove(list.RowOf(ids[1]));
            list.SetText(list.RowOf(ids[2]), SiteEntry::Url, server.url("/2?x"));
            list.SetText(list.RowOf(ids[3]), SiteEntry::SearchText, "other");
            list.Sort([](const SiteEntry& l, const SiteEntry& r) {
                return l.field(SiteEntry::Url) > r.field(SiteEntry::Url);
            });
            cv.notify_all();
        }
        cv.wait_for(lock, 10s, [&] { return arrived >= 4; });
        return ScriptedHttpServer::Bytes(Page("page " + path));
    });
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetParallelChecks(4);
    pass.SetObserver(&observer);
    pass.CheckSites();

    EXPECT_EQ(list.RowOf(ids[1]), -1);
    for (int i : {2, 3}) {
        const int row = list.RowOf(ids[i]);
        EXPECT_EQ(list.Text(row, SiteEntry::Status), "-") << i; // as before the pass
        EXPECT_EQ(list.Text(row, SiteEntry::LastResponse), "-") << i;
    }
    for (int row = 0; row < list.RowCount(); ++row) {
        const std::string url = list.Text(row, SiteEntry::Url);
        const std::string status = list.Text(row, SiteEntry::Status);
        EXPECT_TRUE(status == "-" || status == "ERROR") << url << " " << status;
        if (status == "ERROR") {
            EXPECT_EQ(list.Text(row, SiteEntry::LastResponse),
                      "page " + url.substr(url.rfind('/')));
        }
    }
    EXPECT_EQ(list.Text(list.RowOf(ids[0]), SiteEntry::LastResponse), "page /0");
    ASSERT_EQ(alerts.raised.size(), observer.rows.size());
    for (std::size_t k = 0; k < alerts.raised.size(); ++k) {
        const SiteAlert& a = alerts.raised[k];
        EXPECT_EQ(a.id, observer.rows[k].id);
        const int row = list.RowOf(a.id);
        ASSERT_GE(row, 0);
        EXPECT_EQ(list.Text(row, SiteEntry::Status), "ERROR");
        EXPECT_EQ(a.url, list.Text(row, SiteEntry::Url));
    }
}

// Stopped with four pages under way and one site waiting for its second
// look: every row gets its earlier Status back and nothing is told.
TEST_F(CheckPassParallelTest, StopEndsEveryCheckUnderWayAndEverySecondLook)
{
    CheckPass pass(list, nullptr, alerts, gate);
    // A request may still reach the server after the pass, which outlives
    // this body: what its answer touches is shared with it, the pass only
    // while the pass is there.
    struct Arrivals
    {
        std::mutex m;
        int count = 0;
        CheckPass* pass = nullptr;
    };
    const auto arrivals = std::make_shared<Arrivals>();
    arrivals->pass = &pass;
    server.SetResponse("/failing", ScriptedHttpServer::Response(503, "Down", {}, ""));
    server.SetDefault([arrivals](const std::string&) {
        std::lock_guard lock(arrivals->m);
        if (++arrivals->count == 4 && arrivals->pass)
            arrivals->pass->Stop();
        ScriptedHttpServer::Script stalled;
        stalled.steps = {{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nOpen", 30s}};
        return stalled;
    });
    list.Append(Site(On(0, "/failing"), "Open", "OK"));
    for (int i = 0; i < 4; ++i)
        list.Append(Site(On(i < 2 ? 0 : 1, "/" + std::to_string(i)), "Open", "ERROR"));
    list.Append(Site(On(1, "/later"), "Open"));
    pass.SetParallelChecks(5);
    pass.SetConfirmSeconds(60);
    pass.SetObserver(&observer);
    pass.CheckSites();
    {
        std::lock_guard lock(arrivals->m);
        arrivals->pass = nullptr;
    }

    EXPECT_TRUE(observer.rows.empty());
    EXPECT_TRUE(alerts.raised.empty());
    EXPECT_EQ(list.Text(0, SiteEntry::Status), "OK");
    for (int row = 1; row <= 4; ++row)
        EXPECT_EQ(list.Text(row, SiteEntry::Status), "ERROR") << row;
    EXPECT_EQ(list.Text(5, SiteEntry::Status), "-");
}

// A site that fails once and answers at the second look raises nothing; one
// that fails twice is ERROR with one alert. Neither holds the other sites.
TEST_F(CheckPassParallelTest, ASecondLookDecidesBeforeAnyAlert)
{
    const std::string down = ScriptedHttpServer::Response(503, "Service Unavailable", {}, "");
    server.SetSequence(
        "/flaky", {ScriptedHttpServer::Bytes(down), ScriptedHttpServer::Bytes(Page("Welcome"))});
    server.SetResponse("/down", down);
    server.SetResponse("/up", Page("Welcome"));
    list.Append(Site(server.url("/flaky"), "Welcome", "OK"));
    list.Append(Site(server.url("/down"), "Welcome", "OK"));
    list.Append(Site(server.url("/up"), "Welcome"));
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetConfirmSeconds(1);
    pass.SetParallelChecks(1);
    pass.SetObserver(&observer);
    pass.CheckSites();

    EXPECT_EQ(list.Text(0, SiteEntry::Status), "OK");
    EXPECT_EQ(list.Text(1, SiteEntry::Status), "ERROR");
    EXPECT_EQ(list.Text(2, SiteEntry::Status), "OK");
    ASSERT_EQ(alerts.raised.size(), 1u);
    EXPECT_EQ(alerts.raised[0].id, list.IdAt(1));
    EXPECT_TRUE(alerts.raised[0].firstFailure);
    // The site that was up went first, while the others waited for their look.
    ASSERT_EQ(observer.rows.size(), 3u);
    EXPECT_EQ(observer.rows[0].id, list.IdAt(2));
    const auto connections = server.Connections();
    std::vector<std::chrono::steady_clock::time_point> flaky;
    for (const auto& c : connections)
        if (c.path == "/flaky")
            flaky.push_back(c.accepted);
    ASSERT_EQ(flaky.size(), 2u);
    EXPECT_GE(flaky[1] - flaky[0], 1s);
}

// Each page is bound on its own, also with two large ones under way at once.
TEST_F(CheckPassParallelTest, EachPageUnderWayKeepsItsOwnBound)
{
    ScriptedHttpServer::Script big; // 40 MB, the text at its end
    big.steps = {{"HTTP/1.1 200 OK\r\nContent-Length: 40000000\r\n\r\n", 0ms}};
    big.endless = true;
    big.endlessChunk = std::string(999'999, 'x') + "\n";
    big.endlessCount = 39;
    big.last = std::string(1'000'000 - 7, 'y') + "Welcome";
    server.SetScript("/big", big);
    list.Append(Site(On(0, "/big"), "Welcome"));
    list.Append(Site(On(1, "/big"), "Welcome"));
    FetchSettings::SetTimeoutsForTests({2s, 1, 10s, 120s});
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetParallelChecks(2);
    pass.CheckSites();
    FetchSettings::ResetForTests();
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(list.Text(row, SiteEntry::Status), "OK") << row;
        const std::size_t kept = list.Text(row, SiteEntry::LastResponse).size();
        EXPECT_LE(kept, FetchSettings::kPageSizeCap) << row;
        EXPECT_GT(kept, FetchSettings::kPageSizeCap - 1'000'000) << row;
    }
}

// A page test of the desktop asked for during a pass goes as soon as the
// pass's transfers under way have ended, not after the whole pass.
TEST_F(CheckPassParallelTest, AFetchOfItsOwnWaitsOnlyForTheTransfersUnderWay)
{
    Overlap overlap;
    server.SetDefault(overlap.Handler(100ms, "up"));
    for (int i = 0; i < 10; ++i)
        list.Append(Site(On(0, "/" + std::to_string(i)), "up"));
    std::thread fetch([&] {
        while (list.Text(0, SiteEntry::Status) != CheckPass::kChecking)
            std::this_thread::sleep_for(2ms);
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/own"), std::string());
    });
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetParallelChecks(2);
    pass.CheckSites();
    fetch.join();
    const auto own = std::find(overlap.order.begin(), overlap.order.end(), "/own");
    ASSERT_NE(own, overlap.order.end());
    EXPECT_LE(own - overlap.order.begin(), 4);
}

} // namespace
