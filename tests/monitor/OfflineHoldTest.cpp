#include "monitor/OfflineHold.h"

#include "monitor/CheckPass.h"
#include "monitor/DataFileSaver.h"
#include "monitor/NetworkProbe.h"
#include "monitor/RouteProbe.h"
#include "monitor/SiteList.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Kind = OfflineHold::Kind;

FetchOutcome Reaching(FetchOutcome::Reach reach)
{
    FetchOutcome outcome;
    outcome.reach = reach;
    return outcome;
}

class FixedProbe : public NetworkProbe
{
public:
    explicit FixedProbe(bool offline) : m_offline(offline) {}
    bool Offline() override
    {
        ++asked;
        return m_offline;
    }
    int asked = 0;

private:
    bool m_offline;
};

// What became of each settled outcome, in the order it happened.
struct Log
{
    std::mutex mutex;
    std::vector<std::string> events;
    void Add(const std::string& e)
    {
        std::lock_guard lock(mutex);
        events.push_back(e);
    }
};

void Settle(OfflineHold& hold, Log& log, Kind kind, const std::string& name)
{
    hold.Settle(
        kind, [&log, name] { log.Add("write " + name); },
        [&log, name] { log.Add("restore " + name); });
}

} // namespace

TEST(OfflineHold, TellsUnreachedSitesFromReachedAndLocalOnes)
{
    using Reach = FetchOutcome::Reach;
    const struct
    {
        const char* url;
        Reach reach;
        Kind kind;
    } cases[] = {
        {"http://shop.test/", Reach::Unreached, Kind::Unreached},
        {"https://[2001:db8::1]/x", Reach::Unreached, Kind::Unreached},
        {"shop.test", Reach::Reached, Kind::Reached},
        {"http://shop.test/", Reach::Untried, Kind::Neutral},
        // This computer's own sites need no network, whatever came of them.
        {"http://localhost:8080/", Reach::Unreached, Kind::Neutral},
        {"http://LOCALHOST./", Reach::Unreached, Kind::Neutral},
        {"http://app.localhost/", Reach::Reached, Kind::Neutral},
        {"http://127.1.2.3/", Reach::Unreached, Kind::Neutral},
        {"http://[::1]:81/", Reach::Unreached, Kind::Neutral},
        {"http://127.example.test/", Reach::Unreached, Kind::Unreached},
        {"ftp://shop.test/", Reach::Unreached, Kind::Neutral}, // no fetch was made
    };
    for (const auto& c : cases)
        EXPECT_EQ(OfflineHold::KindOf(Reaching(c.reach), c.url), c.kind) << c.url;
}

TEST(OfflineHold, HoldsUnreachedOutcomesUntilASiteIsReachedOrThePassEnds)
{
    const struct
    {
        const char* what;
        std::vector<Kind> kinds;
        bool probeOffline;
        std::vector<std::string> events;
        bool offline;
        int probeAsked;
    } cases[] = {
        {"nothing reached, no network",
         {Kind::Unreached, Kind::Unreached},
         true,
         {"restore 0", "restore 1"},
         true,
         1},
        {"nothing reached, but a network",
         {Kind::Unreached, Kind::Unreached},
         false,
         {"write 0", "write 1"},
         false,
         1},
        {"one reached releases the held, later ones go at once",
         {Kind::Unreached, Kind::Reached, Kind::Unreached},
         true,
         {"write 0", "write 1", "write 2"},
         false,
         0},
        {"a local site is written at once and proves nothing",
         {Kind::Unreached, Kind::Neutral},
         true,
         {"write 1", "restore 0"},
         true,
         1},
        {"only local sites: nothing to ask", {Kind::Neutral}, true, {"write 0"}, false, 0},
    };
    for (const auto& c : cases) {
        OfflineHold hold;
        Log log;
        FixedProbe probe(c.probeOffline);
        hold.Begin();
        for (size_t i = 0; i < c.kinds.size(); ++i)
            Settle(hold, log, c.kinds[i], std::to_string(i));
        EXPECT_EQ(hold.End(probe), c.offline) << c.what;
        EXPECT_EQ(log.events, c.events) << c.what;
        EXPECT_EQ(probe.asked, c.probeAsked) << c.what;
    }
}

TEST(OfflineHold, OutcomesFromSeveralThreadsAreEachWrittenOnce)
{
    OfflineHold hold;
    Log log;
    FixedProbe probe(true);
    hold.Begin();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                Settle(hold, log, t == 2 && i == 25 ? Kind::Reached : Kind::Unreached,
                       std::to_string(t * 100 + i));
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_FALSE(hold.End(probe));
    std::vector<std::string> events = log.events;
    std::sort(events.begin(), events.end());
    EXPECT_EQ(std::unique(events.begin(), events.end()), events.end());
    EXPECT_EQ(events.size(), 200u);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("write ", 0) == 0; }),
              200);
}

// The passes below run in a network namespace of their own, with no route
// anywhere: the test re-runs this program under `unshare -n`, where nothing
// it sends can leave the computer, whatever address it names.
namespace {

constexpr const char* kInEmptyNetwork = "KESTRELLE_IN_EMPTY_NETWORK";

class RecordingAlerts : public AlertSink
{
public:
    void RaiseAlerts(const SiteAlert& alert) override
    {
        std::lock_guard lock(mutex);
        names.push_back(alert.siteName);
    }
    std::mutex mutex;
    std::vector<std::string> names;
};

class RecordingObserver : public CheckPass::Observer
{
public:
    void RowChecked(const CheckPass::RowResult& r) override { rows.push_back(r.siteName); }
    void PassOffline() override { offline = true; }
    std::vector<std::string> rows;
    bool offline = false;
};

SiteEntry Site(const std::string& url, const std::string& status)
{
    SiteEntry e;
    e.fields = {url, status, "-", "", "-", ""};
    e.mark = status == "ERROR" ? SiteEntry::kErrorMark : 0;
    return e;
}

// Only inside the namespace, and only once it is seen to be empty.
bool InEmptyNetwork()
{
    if (!std::getenv(kInEmptyNetwork))
        return false;
    std::ifstream devices("/proc/net/dev");
    std::string line;
    int interfaces = 0;
    while (std::getline(devices, line))
        if (line.find(':') != std::string::npos && ++interfaces && line.find("lo:") == line.npos)
            ADD_FAILURE() << "an interface besides lo: " << line;
    EXPECT_EQ(interfaces, 1);
    EXPECT_TRUE(RouteProbe().Offline());
    return interfaces == 1 && RouteProbe().Offline();
}

} // namespace

TEST(OfflinePass, InANetworkNamespaceWithoutNetwork)
{
    if (std::getenv(kInEmptyNetwork))
        GTEST_SKIP() << "this is the namespace's run";
    if (geteuid() != 0)
        GTEST_SKIP() << "unshare -n needs root";
    if (std::system("unshare -n true >/dev/null 2>&1") != 0 ||
        std::system("command -v ip >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare -n or ip (util-linux, iproute2) is not available";
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    TempDir dir;
    const std::string out = dir.file("out.txt");
    const int status = std::system((std::string(kInEmptyNetwork) + "=1 unshare -n '" + self +
                                    "' --gtest_filter='InEmptyNetwork.*' >'" + out + "' 2>&1")
                                       .c_str());
    const std::string report = TempDir::ReadFile(out);
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("[  PASSED  ] 2 tests"), std::string::npos) << report;
}

TEST(InEmptyNetwork, APassChangesNothingAndAlertsNobody)
{
    if (!InEmptyNetwork())
        GTEST_SKIP() << "runs inside an empty network namespace only (see OfflinePass)";
    // Documentation addresses, so that no name needs a resolver.
    SiteList list;
    list.Append(Site("http://192.0.2.1/", "OK"));
    list.Append(Site("http://[2001:db8::1]/", "ERROR"));
    list.Append(Site("http://192.0.2.2/", "-"));
    TempDir dir;
    const std::string file = dir.file("kestrelle.dat");
    DataFileSaver saver(file);
    RecordingAlerts alerts;
    RecordingObserver observer;
    PassGate gate;
    CheckPass pass(list, &saver, alerts, gate);
    pass.SetObserver(&observer);
    pass.CheckSites();

    EXPECT_TRUE(observer.offline);
    EXPECT_TRUE(observer.rows.empty());
    EXPECT_TRUE(alerts.names.empty());
    const char* const before[] = {"OK", "ERROR", "-"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list.Text(row, SiteEntry::Status), before[row]) << row;
        EXPECT_EQ(list.Text(row, SiteEntry::LastCheck), "-") << row;
    }
    EXPECT_EQ(list.Mark(1), SiteEntry::kErrorMark);
    EXPECT_FALSE(std::filesystem::exists(file)) << "nothing to write";
}

TEST(InEmptyNetwork, OneAnswerReleasesTheHeldFailures)
{
    if (!InEmptyNetwork())
        GTEST_SKIP() << "runs inside an empty network namespace only (see OfflinePass)";
    // A site that answers on an address of its own, which in this namespace
    // lives on the loopback device; the probe still sees no route.
    ASSERT_EQ(std::system("ip link set lo up && ip addr add 10.200.0.1/32 dev lo"), 0);
    ScriptedHttpServer server("10.200.0.1");
    SiteList list;
    list.Append(Site("http://192.0.2.1/", "OK"));
    list.Append(Site(server.url("/up"), "-"));
    list.Append(Site("http://192.0.2.2/", "OK"));
    std::string firstWhileAnswering;
    server.SetHandler("/up", [&](const std::string&) {
        firstWhileAnswering = list.Text(0, SiteEntry::Status);
        return ScriptedHttpServer::Bytes(
            ScriptedHttpServer::Response(200, "OK", {"Content-Type: text/html"}, "fine"));
    });
    RecordingAlerts alerts;
    RecordingObserver observer;
    PassGate gate;
    CheckPass pass(list, nullptr, alerts, gate);
    pass.SetObserver(&observer);
    pass.CheckSites();

    EXPECT_EQ(firstWhileAnswering, CheckPass::kChecking) << "held while nothing had answered";
    EXPECT_FALSE(observer.offline);
    EXPECT_EQ(observer.rows,
              (std::vector<std::string>{"192.0.2.1", "10.200.0.1:" + std::to_string(server.port()),
                                        "192.0.2.2"}));
    EXPECT_EQ(alerts.names, (std::vector<std::string>{"192.0.2.1", "192.0.2.2"}));
    EXPECT_EQ(list.Text(0, SiteEntry::Status), CheckPass::kError);
    EXPECT_EQ(list.Text(1, SiteEntry::Status), CheckPass::kOk);
    EXPECT_EQ(list.Text(2, SiteEntry::Status), CheckPass::kError);
}
