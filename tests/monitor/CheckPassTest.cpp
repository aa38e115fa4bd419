#include "monitor/CheckPass.h"

#include "monitor/AlertChain.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryRecorder.h"
#include "monitor/HistoryStore.h"
#include "monitor/MailAlert.h"
#include "monitor/SiteList.h"
#include "net/FetchSettings.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"
#include "settings/CRegStore.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "support/TestSites.h"
#include "support/TlsFront.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Nothing listens on port 1 of the loopback: a connection is refused at once.
const char* const kDeadUrl = "http://127.0.0.1:1/";

using testsites::Page;
using testsites::Site;

using Alert = SiteAlert;

class RecordingAlerts : public AlertSink
{
public:
    std::function<void(const SiteAlert&)> onAlert;

    void RaiseAlerts(const SiteAlert& alert) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_alerts.push_back(alert);
        }
        if (onAlert)
            onAlert(alert);
    }
    std::vector<Alert> Take()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_alerts, {});
    }
    void SiteRecovered(const SiteRecovery& recovery) override
    {
        std::lock_guard lock(m_mutex);
        recoveries.push_back(recovery);
    }
    std::vector<SiteRecovery> recoveries;

private:
    std::mutex m_mutex;
    std::vector<Alert> m_alerts;
};

class RecordingObserver : public CheckPass::Observer
{
public:
    std::function<void(const CheckPass::RowResult&)> onRow;
    std::vector<CheckPass::RowResult> rows;
    std::vector<bool> passes; // saved, per pass

    void RowChecked(const CheckPass::RowResult& r) override
    {
        rows.push_back(r);
        if (onRow)
            onRow(r);
    }
    void PassEnded(bool saved) override { passes.push_back(saved); }
};

class CheckPassTest : public ::testing::Test
{
protected:
    void TearDown() override { Clock::SetFixedForTests(0); }

    ScriptedHttpServer server;
    SiteList list;
    RecordingAlerts alerts;
    RecordingObserver observer;
    PassGate gate; // each test its own, so one test's failure cannot block the next
};

TEST(CheckPassSiteName, CutsThePathAndRemovesSchemesAndWww)
{
    const struct
    {
        const char* url;
        const char* name;
    } cases[] = {
        {"https://www.shop.test/a/b.html", "shop.test"},
        {"http://mywww.site.test", "mysite.test"},
        {"HTTP://WWW.SHOP.TEST", "SHOP.TEST"},
        {"www.shop.test/x", "shop.test"},
        {"http://shop.test:8080/status", "shop.test:8080"},
        {"shop.test", "shop.test"},
        {"Http://Www.shop.test/", "Http://Www.shop.test"}, // mixed case is not removed
        {"/local/path", "/local"},                         // a leading slash is kept
        {"file:///x/y", "file:///x"}, // slashes after a colon or a slash are copied
        {"ftp://www.a.test/x", "ftp://a.test"},
        {"http://https://www.x.test/", "x.test"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckPass::SiteName(c.url), c.name) << c.url;
}

TEST(CheckPassSiteName, BalloonTextAndTitle)
{
    EXPECT_EQ(CheckPass::BalloonText("Welcome", "https://www.shop.test/a/b.html"),
              "Kestrelle was unable to find the text \"Welcome\" on shop.test");
    EXPECT_EQ(CheckPass::BalloonTitle("https://www.shop.test/a/b.html"), "shop.test may be down");
    EXPECT_EQ(CheckPass::BalloonText("", "x.test"),
              "Kestrelle was unable to find the text \"\" on x.test");
    EXPECT_EQ(CheckPass::BalloonText("say \"hi\"", "x.test"),
              "Kestrelle was unable to find the text \"say \"hi\"\" on x.test");
}

TEST_F(CheckPassTest, FindsTheTextCaseSensitivelyAnywhereInThePage)
{
    // A page longer than one fetch piece, with the text across the cut, must
    // still be found: the test runs on the whole joined text.
    const std::string longPage = std::string(1020, 'x') + "Welcome" + std::string(3000, 'y');
    server.SetResponse("/welcome", Page("<p>welcome home</p>"));
    server.SetResponse("/Welcome", Page("<p>Welcome home</p>"));
    server.SetResponse("/long", Page(longPage));
    server.SetResponse("/crlf", Page("line one\r\nline two\r\n"));
    server.SetResponse("/404", ScriptedHttpServer::Response(404, "Not Found", {}, "Welcome"));
    const struct
    {
        std::string url, searchText, status;
    } cases[] = {
        {server.url("/welcome"), "Welcome", "ERROR"},
        {server.url("/welcome"), "welcome", "OK"},
        {server.url("/Welcome"), "Welcome", "OK"},
        {server.url("/long"), "Welcome", "OK"},
        {server.url("/long"), "Welcomey", "OK"},
        {server.url("/crlf"), "one\nline", "OK"}, // the page text holds no CR
        {server.url("/crlf"), "one\r\nline", "ERROR"},
        {server.url("/404"), "Welcome", "ERROR"}, // an error page is no healthy page
        {server.url("/welcome"), "", "OK"},
        {kDeadUrl, "", "ERROR"}, // nothing fetched: no text can make that healthy
        {kDeadUrl, "x", "ERROR"},
    };
    for (const auto& c : cases)
        list.Append(Site(c.url, c.searchText));
    CheckPass pass(list, nullptr, alerts, gate);
    pass.CheckSites();
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(list.Text(row, SiteEntry::Status), c.status) << c.url << " / " << c.searchText;
        EXPECT_EQ(list.Mark(row), c.status == "OK" ? 0 : SiteEntry::kErrorMark) << row;
        ++row;
    }
}

TEST_F(CheckPassTest, WritesStatusTimeAndThePageIntoTheRow)
{
    const std::time_t fixed = 1700000000;
    Clock::SetFixedForTests(fixed);
    server.SetResponse("/up", Page("<h1>Shop open</h1>\r\nsecond line\r\n"));
    server.SetResponse("/down", Page("<h1>Maintenance</h1>"));
    list.Append(Site(server.url("/up"), "Shop open", "ERROR"));
    list.SetMark(0, SiteEntry::kErrorMark);
    list.Append(Site(server.url("/down"), "Shop open", "OK"));
    list.Append(Site(kDeadUrl, "Shop open"));
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetParallelChecks(1); // the alerts and rows below come in row order
    pass.SetObserver(&observer);
    EXPECT_TRUE(pass.CheckSites());

    const std::string stamp = TimeText::Local(fixed);
    EXPECT_EQ(stamp.size(), 22u); // 11/14/2023 10:13:20 PM, in whatever zone the test runs
    const std::string name = "127.0.0.1:" + std::to_string(server.port());
    const struct
    {
        std::string status;
        int mark;
        std::string response;
    } expected[] = {
        {"OK", 0, "<h1>Shop open</h1>\nsecond line\n"},
        {"ERROR", SiteEntry::kErrorMark, "<h1>Maintenance</h1>"},
        {"ERROR", SiteEntry::kErrorMark, ""},
    };
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(list.Text(row, SiteEntry::Status), expected[row].status);
        EXPECT_EQ(list.Mark(row), expected[row].mark);
        EXPECT_EQ(list.Text(row, SiteEntry::LastCheck), stamp);
        EXPECT_EQ(list.Text(row, SiteEntry::LastResponse), expected[row].response);
        EXPECT_EQ(list.Text(row, SiteEntry::SearchText), "Shop open");
    }

    const auto raised = alerts.Take();
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0].id, list.IdAt(1));
    EXPECT_EQ(raised[0].url, server.url("/down"));
    EXPECT_EQ(raised[0].siteName, name);
    EXPECT_EQ(raised[0].balloonText,
              "Kestrelle was unable to find the text \"Shop open\" on " + name);
    EXPECT_EQ(raised[0].balloonTitle, name + " may be down");
    EXPECT_EQ(raised[1].id, list.IdAt(2));
    EXPECT_EQ(raised[1].balloonTitle, "127.0.0.1:1 may be down");

    ASSERT_EQ(observer.rows.size(), 3u);
    EXPECT_EQ(observer.rows[0].status, "OK");
    EXPECT_EQ(observer.rows[0].balloonText, "");
    EXPECT_EQ(observer.rows[1].siteName, name);
    EXPECT_EQ(observer.rows[1].balloonText, raised[0].balloonText);
    EXPECT_EQ(observer.passes, std::vector<bool>{true});
}

TEST_F(CheckPassTest, FirstFailureFlagMarksTheStartOfEachOutage)
{
    server.SetResponse("/", Page("healthy"));
    const std::string kUp = "healthy", kDown = "missing";
    const struct
    {
        const char* name;
        std::string startStatus;
        std::vector<std::string> searchPerPass;
        std::vector<bool> flags; // one per failed check, in order
    } cases[] = {
        {"fail, fail, fail", "-", {kDown, kDown, kDown}, {true, false, false}},
        {"error, ok, fail", "ERROR", {kUp, kDown}, {true}},
        {"fail, ok, fail", "-", {kDown, kUp, kDown}, {true, true}},
        {"new entry fails", "-", {kDown}, {true}},
        {"CHECKING left by a save", "CHECKING", {kDown}, {true}},
        {"ERROR from the last run", "ERROR", {kDown, kDown}, {false, false}},
        {"OK from the last run", "OK", {kDown}, {true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        list.Clear();
        list.Append(Site(server.url("/"), "", c.startStatus));
        CheckPass pass(list, nullptr, alerts, gate);
        for (const auto& search : c.searchPerPass) {
            list.SetText(0, SiteEntry::SearchText, search);
            pass.CheckSites();
        }
        std::vector<bool> flags;
        for (const Alert& a : alerts.Take())
            flags.push_back(a.firstFailure);
        EXPECT_EQ(flags, c.flags);
    }
}

TEST_F(CheckPassTest, ALogInWantedIsNoOutageSoTheFailureAfterItStartsOne)
{
    std::atomic<int> status{401};
    server.SetHandler("/", [&](const std::string&) {
        return ScriptedHttpServer::Bytes(ScriptedHttpServer::Response(
            status.load(), status == 401 ? "Unauthorized" : "Service Unavailable",
            {"WWW-Authenticate: Basic realm=\"r\""}, "no"));
    });
    list.Append(Site(server.url("/"), ""));
    CheckPass pass(list, nullptr, alerts, gate);
    pass.CheckSites();
    pass.CheckSites();
    status = 503;
    pass.CheckSites();
    std::vector<std::pair<std::string, bool>> seen;
    for (const Alert& a : alerts.Take())
        seen.emplace_back(a.reason, a.firstFailure);
    EXPECT_EQ(seen,
              (std::vector<std::pair<std::string, bool>>{{"needs a log-in", true},
                                                         {"needs a log-in", false},
                                                         {"HTTP 503 Service Unavailable", true}}));
}

// After a start the entry is "ERROR" with no reason in memory: the history
// tells whether it only wanted a log-in.
TEST_F(CheckPassTest, ALogInWantedBeforeAStartIsKnownFromTheHistory)
{
    const std::time_t t0 = 1796738709;
    Clock::SetFixedForTests(t0 + 600);
    for (const bool up : {false, true}) {
        TempDir dir;
        const std::string historyPath = dir.path() + "/history.sqlite";
        HistoryStore store(historyPath);
        ASSERT_TRUE(store.OpenForWriting());
        ASSERT_TRUE(store.Write({{t0, HistoryStore::SiteKey(server.url("/")), false,
                                  FetchOutcome::kNeedsLogIn, 401, 5}}));
        store.Close();
        server.SetResponse(
            "/", up ? Page("Welcome")
                    : ScriptedHttpServer::Response(503, "Service Unavailable", {}, "busy"));
        SiteList restarted;
        restarted.Append(Site(server.url("/"), "Welcome", "ERROR"));
        RecordingAlerts fresh;
        HistoryRecorder history(historyPath);
        CheckPass later(restarted, nullptr, fresh, gate);
        later.SetRecorder(&history);
        ASSERT_TRUE(later.CheckSites());
        // Down now: the outage starts here. Up: it was never down.
        const auto raised = fresh.Take();
        ASSERT_EQ(raised.size(), up ? 0u : 1u);
        if (!up) {
            EXPECT_TRUE(raised[0].firstFailure);
        }
        EXPECT_TRUE(fresh.recoveries.empty()) << up;
    }
}

TEST_F(CheckPassTest, SavesTheListAtTheEndOfEveryPass)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    server.SetResponse("/", Page("hello"));

    // An empty list still rewrites the file: it then holds no entries.
    TempDir::WriteFile(path, "old.test\r\n-\r\n-\r\nx\r\nBEGIN RESPONSE\r\nEND RESPONSE\r\n\r\n");
    DataFileSaver saver(path);
    {
        CheckPass pass(list, &saver, alerts, gate);
        pass.SetObserver(&observer);
        pass.CheckSites();
        SiteList reread;
        EXPECT_TRUE(DataFile::LoadSites(reread, path));
        EXPECT_EQ(reread.RowCount(), 0);
    }

    list.Append(Site(server.url("/"), "hello"));
    list.Append(Site(kDeadUrl, "hello"));
    {
        CheckPass pass(list, &saver, alerts, gate);
        pass.SetObserver(&observer);
        pass.CheckSites();
        SiteList reread;
        ASSERT_TRUE(DataFile::LoadSites(reread, path));
        ASSERT_EQ(reread.RowCount(), 2);
        EXPECT_EQ(reread.Text(0, SiteEntry::Status), "OK");
        EXPECT_EQ(reread.Text(0, SiteEntry::LastResponse), "hello");
        EXPECT_EQ(reread.Text(0, SiteEntry::LastCheck), list.Text(0, SiteEntry::LastCheck));
        EXPECT_EQ(reread.Text(1, SiteEntry::Status), "ERROR");
    }

    // No path: the pass saves nothing and the file stays as it is.
    const std::string before = TempDir::ReadFile(path);
    list.SetText(0, SiteEntry::SearchText, "changed");
    {
        CheckPass pass(list, nullptr, alerts, gate);
        pass.SetObserver(&observer);
        pass.CheckSites();
    }
    EXPECT_EQ(TempDir::ReadFile(path), before);

    // A save that cannot be made is told to the observer.
    {
        DataFileSaver nowhere(dir.file("no/such/folder/kestrelle.dat"));
        CheckPass pass(list, &nowhere, alerts, gate);
        pass.SetObserver(&observer);
        pass.CheckSites();
    }
    EXPECT_EQ(observer.passes, (std::vector<bool>{true, true, true, false}));
}

TEST_F(CheckPassTest, OnePassAtATimeAndRequestsMeanwhileMakeOneMore)
{
    server.SetResponse("/a", Page("a"));
    server.SetResponse("/b", Page("b"));
    list.Append(Site(server.url("/a"), "a"));
    list.Append(Site(server.url("/b"), "b"));
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetObserver(&observer);

    // The first pass is held after its first row while other threads ask,
    // and it asks itself from inside (as a nested timer tick would).
    std::mutex m;
    std::condition_variable cv;
    bool held = false, release = false;
    observer.onRow = [&](const CheckPass::RowResult&) {
        if (observer.rows.size() != 1)
            return;
        EXPECT_FALSE(pass.CheckSites());
        std::unique_lock lock(m);
        held = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    };
    std::thread first([&] { EXPECT_TRUE(pass.CheckSites()); });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return held; });
    }
    std::vector<std::thread> askers;
    for (int i = 0; i < 3; ++i)
        askers.emplace_back([&] { EXPECT_FALSE(pass.CheckSites()); });
    for (auto& t : askers)
        t.join();
    {
        std::lock_guard lock(m);
        release = true;
        cv.notify_all();
    }
    first.join();

    EXPECT_EQ(observer.passes.size(), 2u);
    EXPECT_EQ(observer.rows.size(), 4u);
    // The server counts a request once it has closed the connection, which
    // can be just after the client has its answer.
    EXPECT_TRUE(server.WaitForConnections(4, std::chrono::seconds(10)));
    EXPECT_EQ(server.RequestCount(), 4u);
}

// The review's race: the user removes and sorts rows while a pass runs, here
// from inside the alert step and the observer, which run on the pass's
// thread between two rows. Every outcome and every alert must belong to the
// site whose page was fetched.
TEST_F(CheckPassTest, OutcomesAndAlertsFollowTheirEntryWhileRowsMove)
{
    const int kSites = 6;
    for (int i = 0; i < kSites; ++i) {
        const std::string path = "/" + std::to_string(i);
        server.SetResponse(path, Page("page " + path));
        SiteEntry e = Site(server.url(path), "absent");
        e.field(SiteEntry::EmailAddress) = "owner" + std::to_string(i) + "@site.test";
        list.Append(std::move(e));
    }
    std::vector<std::unique_ptr<MailAlertJob>> mails;
    MailAlert mail([&](std::unique_ptr<MailAlertJob> job) { mails.push_back(std::move(job)); });
    AlertChain chain;
    chain.Add(alerts);
    chain.Add(mail);
    // Removes the row after the one just checked, and reverses the order.
    alerts.onAlert = [&](const SiteAlert& a) {
        const int row = list.RowOf(a.id);
        if (row + 1 < list.RowCount())
            list.Remove(row + 1);
        list.Sort([](const SiteEntry& l, const SiteEntry& r) {
            return l.field(SiteEntry::Url) > r.field(SiteEntry::Url);
        });
    };
    TempDir config;
    const std::string oldConfig = CRegStore::SetConfigFolderForTests(config.path());
    CRegStore::WriteString(CRegStore::kProductKey, "m_EnableEMail", "1");
    CRegStore::WriteString(CRegStore::kProductKey, "m_EmailAddress", "me@home.test");
    CheckPass pass(list, nullptr, chain, gate);
    pass.CheckSites();
    CRegStore::SetConfigFolderForTests(oldConfig);

    const auto raised = alerts.Take();
    ASSERT_FALSE(raised.empty());
    ASSERT_EQ(mails.size(), raised.size());
    for (std::size_t k = 0; k < raised.size(); ++k) {
        const std::string& url = raised[k].url;
        const std::string n = url.substr(url.rfind('/') + 1);
        EXPECT_EQ(mails[k]->m_strRecipient, "owner" + n + "@site.test") << url;
        EXPECT_NE(mails[k]->m_strBody.find("URL: " + url + "\r\n"), std::string::npos) << url;
    }
    for (int row = 0; row < list.RowCount(); ++row) {
        const SiteEntry e = *list.Row(row);
        const std::string& url = e.field(SiteEntry::Url);
        SCOPED_TRACE(url);
        if (e.field(SiteEntry::Status) == "-")
            continue; // skipped: rows moved past the pass's index
        EXPECT_EQ(e.field(SiteEntry::Status), "ERROR");
        EXPECT_EQ(e.field(SiteEntry::LastResponse), "page " + url.substr(url.rfind('/')));
    }
}

TEST_F(CheckPassTest, RemovedOrEditedDuringItsFetchGetsNoOutcomeAndNoAlert)
{
    server.SetResponse("/0", Page("zero"));
    server.SetResponse("/1", Page("one"));
    // Runs `change` on the server's thread while row 0's fetch waits.
    auto during = [&](std::function<void()> change) {
        server.SetHandler("/0", [change](const std::string&) {
            change();
            return ScriptedHttpServer::Bytes(Page("zero"));
        });
    };
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetParallelChecks(1); // the second row waits for the first
    const struct
    {
        const char* name;
        std::function<void()> change;
        std::string status0; // of the entry of /0 afterwards, when it is there
    } cases[] = {
        {"removed", [&] { list.Remove(0); }, ""},
        {"url edited", [&] { list.SetText(0, SiteEntry::Url, server.url("/0?x")); }, "OK"},
        {"search text edited", [&] { list.SetText(0, SiteEntry::SearchText, "zero!"); }, "OK"},
        {"address edited", [&] { list.SetText(0, SiteEntry::EmailAddress, "a@b.test"); }, "ERROR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        list.Clear();
        list.Append(Site(server.url("/0"), "absent", "OK"));
        list.Append(Site(server.url("/1"), "absent"));
        const EntryId first = list.IdAt(0);
        during(c.change);
        pass.CheckSites();
        const auto raised = alerts.Take();
        const int row = list.RowOf(first);
        if (c.status0.empty()) {
            EXPECT_EQ(row, -1);
        } else {
            ASSERT_GE(row, 0);
            EXPECT_EQ(list.Text(row, SiteEntry::Status), c.status0);
            const bool written = c.status0 == "ERROR";
            EXPECT_EQ(list.Text(row, SiteEntry::LastResponse), written ? "zero" : "-");
        }
        // The other entry alerts for itself only; after a removal it moved
        // to the index already checked and waits for the next pass.
        const std::size_t expected = c.status0.empty() ? 0 : c.status0 == "ERROR" ? 2 : 1;
        ASSERT_EQ(raised.size(), expected);
        if (expected > 0) {
            EXPECT_EQ(raised.back().url, server.url("/1"));
            EXPECT_EQ(list.Text(list.RowOf(raised.back().id), SiteEntry::LastResponse), "one");
        }
        for (int r = 0; r < list.RowCount(); ++r)
            EXPECT_NE(list.Text(r, SiteEntry::Status), "CHECKING");
    }
}

} // namespace

// The verdict and its reason for each kind of server behaviour, one pass per
// row, with time bounds short enough for a test.
TEST_F(CheckPassTest, GivesTheVerdictAndReasonASiteOwnerExpects)
{
    using Script = ScriptedHttpServer::Script;
    using ms = std::chrono::milliseconds;
    const auto R = ScriptedHttpServer::Response;
    const std::string page = Page("<p>Welcome</p>");
    const std::string base = server.url("");
    const std::string withUser = "http://kim:s3cret@" + base.substr(7);

    server.SetResponse("/ok", page);
    server.SetResponse("/307", R(307, "Temporary Redirect", {"Location: " + base + "/ok"}, ""));
    server.SetResponse("/308", R(308, "Permanent Redirect", {"Location: /ok"}, "moved"));
    server.SetResponse("/chain", R(301, "Moved", {"Location: chain2"}, ""));
    server.SetResponse("/chain2", R(302, "Found", {"Location: " + base + "/ok"}, ""));
    server.SetHandler("/http11", [&](const std::string& request) {
        return ScriptedHttpServer::Bytes(request.find("HTTP/1.0") != std::string::npos
                                             ? R(505, "HTTP Version Not Supported", {}, "")
                                             : page);
    });
    server.SetHandler("/auth", [&](const std::string& request) {
        // "kim:s3cret" in Base64.
        return ScriptedHttpServer::Bytes(
            request.find("Authorization: Basic a2ltOnMzY3JldA==") != std::string::npos
                ? page
                : R(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"shop\""}, "Welcome"));
    });
    server.SetResponse("/404", R(404, "Not Found", {}, "Welcome"));
    server.SetResponse("/500", "HTTP/1.1 500\r\nContent-Length: 7\r\n\r\nWelcome");
    server.SetResponse("/503", R(503, "Service Unavailable", {}, "Welcome"));
    Script stall; // the text, then nothing more for good
    stall.steps = {{"HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\nWelcome", ms(20000)}};
    server.SetScript("/stall", stall);
    Script silent; // the request read, never answered
    silent.steps = {{"", ms(20000)}};
    server.SetScript("/silent", silent);
    Script slow;
    slow.steps = {{"HTTP/1.1 200 OK\r\n\r\nWelcome", ms(0)}};
    slow.endless = true;
    slow.endlessChunk = "x";
    slow.endlessPause = ms(100);
    server.SetScript("/slow", slow);
    Script reset;
    reset.steps = {{"HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\nWelcome", ms(200)}};
    reset.reset = true;
    server.SetScript("/reset", reset);
    Script big; // 50 MB, the text in its last bytes
    big.steps = {
        {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(50'000'000) + "\r\n\r\n", ms(0)}};
    big.endless = true;
    big.endlessChunk = std::string(1'000'000 - 8, 'x') + "\r\nline\n";
    big.endlessCount = 49;
    big.last = std::string(1'000'000 - 7, 'y') + "Welcome";
    server.SetScript("/big", big);
    server.SetResponse("/nul", Page(std::string("a\0b Welcome\n", 12)));
    server.SetResponse(
        "/latin1", R(200, "OK", {"Content-Type: text/html"},
                     "<meta charset=\"iso-8859-1\"><p>Caf\xE9 &amp; cr&#xE8;me &eacute;t&#233;"));
    server.SetResponse("/loop", R(302, "Found", {"Location: /loop2"}, ""));
    server.SetResponse("/loop2", R(302, "Found", {"Location: /loop"}, ""));
    for (int hop = 1; hop <= 6; ++hop)
        server.SetResponse("/hop" + std::to_string(hop),
                           R(302, "Found", {"Location: /hop" + std::to_string(hop + 1)}, ""));
    server.SetResponse("/hop7", page);
    server.SetResponse("/login",
                       R(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"x\""}, ""));

    TempDir dir;
    TlsFront::Certificates certs;
    ASSERT_TRUE(TlsFront::MakeCertificates(dir.path(), certs));
    TlsFront expired(certs.expiredCert, certs.expiredKey, server.port());
    ASSERT_TRUE(expired.running());

    const struct
    {
        std::string url, searchText, status, reason;
    } cases[] = {
        {base + "/307", "Welcome", "OK", "text found"},
        {base + "/308", "Welcome", "OK", "text found"},
        {base + "/chain", "Welcome", "OK", "text found"},
        {base + "/http11", "Welcome", "OK", "text found"},
        {withUser + "/auth", "Welcome", "OK", "text found"},
        {base + "/404", "Welcome", "ERROR", "HTTP 404 Not Found"},
        {base + "/500", "Welcome", "ERROR", "HTTP 500 Internal Server Error"},
        {withUser + "/503", "Welcome", "ERROR", "HTTP 503 Service Unavailable"},
        {base + "/stall", "Welcome", "ERROR", "stalled for 1 s"},
        {base + "/big", "Welcome", "OK", "text found"},
        {base + "/nul", "Welcome", "OK", "text found"},
        {base + "/latin1", "Caf\xC3\xA9 & cr\xC3\xA8me \xC3\xA9t\xC3\xA9", "OK", "text found"},
        {base + "/ok", "Goodbye", "ERROR", "text not found"},
        {base + "/silent", "Welcome", "ERROR", "no answer within 1 s"},
        {base + "/slow", "Welcome", "ERROR", "took longer than 3 s"},
        {base + "/reset", "Welcome", "ERROR", "connection reset"},
        {base + "/loop", "Welcome", "ERROR", "redirect loop"},
        {base + "/hop1", "Welcome", "ERROR", "too many redirects"},
        {base + "/login", "", "ERROR", "needs a log-in"},
        {kDeadUrl, "", "ERROR", "connection refused"},
        {"http://kestrelle.invalid/", "", "ERROR", "host not found"},
        {expired.url("/ok"), "Welcome", "ERROR", "certificate has expired"},
    };
    FetchSettings::SetCaFileForTests(certs.caFile);
    for (const auto& c : cases) {
        // Connect 2 s, stalled below 1 byte per second for 1 s, 3 s in all;
        // the long page gets the time it needs on a loaded machine, and the
        // stall is told at once (libcurl averages the speed over seconds).
        FetchSettings::SetTimeoutsForTests(
            {std::chrono::seconds(2), c.url == base + "/stall" ? 1000 : 1, std::chrono::seconds(1),
             std::chrono::seconds(c.url == base + "/big" || c.url == base + "/stall" ? 60 : 3)});
        list.Clear();
        list.Append(Site(c.url, c.searchText));
        observer.rows.clear();
        CheckPass pass(list, nullptr, alerts, gate);
        pass.SetObserver(&observer);
        pass.CheckSites();
        ASSERT_EQ(observer.rows.size(), 1u) << c.url;
        const CheckPass::RowResult& row = observer.rows[0];
        EXPECT_EQ(list.Text(0, SiteEntry::Status), c.status) << c.url;
        EXPECT_EQ(row.reason, c.reason) << c.url;
        EXPECT_EQ(list.Row(0)->reason, c.reason) << c.url;
        // The password stays in the list, for the server, and nowhere else.
        EXPECT_EQ(list.Text(0, SiteEntry::Url), c.url);
        EXPECT_EQ(row.url.find("s3cret"), std::string::npos);
        EXPECT_EQ(row.siteName.find("s3cret"), std::string::npos);
        for (const SiteAlert& alert : alerts.Take()) {
            EXPECT_EQ(alert.reason, c.reason);
            const std::string mail = MailAlert::Body(alert.balloonText, alert.balloonTitle,
                                                     alert.url, "now", alert.reason);
            for (const std::string& shown :
                 {alert.url, alert.siteName, alert.balloonText, alert.balloonTitle, mail})
                EXPECT_EQ(shown.find("s3cret"), std::string::npos) << shown;
            if (c.url == withUser + "/503") {
                EXPECT_EQ(alert.siteName, "kim@127.0.0.1:" + std::to_string(server.port()));
                EXPECT_NE(mail.find("\r\nURL: " + alert.url + "\r\nReason: " + c.reason + "\r\n"),
                          std::string::npos);
            }
        }
    }
    FetchSettings::ResetForTests();
}

// A site found up after an outage is told with the Last Check of the
// outage's first failure: from memory while the program runs, from the
// history after a start, and as not known (0) when neither has it.
TEST_F(CheckPassTest, BackUpTellsWhenTheOutageBegan)
{
    TempDir dir;
    const std::string historyPath = dir.path() + "/history.sqlite";
    const std::time_t t0 = 1796738709;
    server.SetResponse("/", Page("<p>Maintenance</p>"));
    list.Append(Site(server.url("/"), "Welcome"));
    HistoryRecorder history(historyPath);
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetRecorder(&history);
    for (const std::time_t at : {t0, t0 + 300}) {
        Clock::SetFixedForTests(at);
        ASSERT_TRUE(pass.CheckSites());
    }
    server.SetResponse("/", Page("<p>Welcome</p>"));
    Clock::SetFixedForTests(t0 + 720);
    ASSERT_TRUE(pass.CheckSites());
    ASSERT_EQ(alerts.recoveries.size(), 1u);
    EXPECT_EQ(alerts.recoveries[0].outageStart, t0);
    EXPECT_EQ(alerts.recoveries[0].outageEnd, t0 + 720);
    EXPECT_EQ(alerts.recoveries[0].siteName, CheckPass::SiteName(server.url("/")));
    ASSERT_TRUE(pass.CheckSites()); // up again: nothing more to tell
    EXPECT_EQ(alerts.recoveries.size(), 1u);

    // A start: the entry comes from the file as "ERROR", its outage's start
    // is in the history only, or nowhere.
    const std::time_t t1 = t0 + 3600;
    HistoryStore store(historyPath);
    ASSERT_TRUE(store.OpenForWriting());
    ASSERT_TRUE(
        store.Write({{t1, HistoryStore::SiteKey(server.url("/")), false, "", 200, 5},
                     {t1 + 60, HistoryStore::SiteKey(server.url("/")), false, "", 200, 5}}));
    store.Close();
    for (HistoryRecorder* recorder : {&history, static_cast<HistoryRecorder*>(nullptr)}) {
        SiteList restarted;
        restarted.Append(Site(server.url("/"), "Welcome", "ERROR"));
        RecordingAlerts fresh;
        CheckPass later(restarted, nullptr, fresh, gate);
        later.SetRecorder(recorder);
        Clock::SetFixedForTests(t1 + 600);
        ASSERT_TRUE(later.CheckSites());
        ASSERT_EQ(fresh.recoveries.size(), 1u);
        EXPECT_EQ(fresh.recoveries[0].outageStart, recorder ? t1 : 0);
    }
}
