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
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

using Kind = OfflineHold::Kind;

class FixedProbe : public NetworkProbe
{
public:
    explicit FixedProbe(bool offline) : offline(offline) {}
    bool Offline() override { return ++asked, offline; }
    bool offline;
    int asked = 0;
};

// What became of each settled outcome, in the order it happened.
struct Log
{
    std::mutex mutex;
    std::vector<std::string> events;
    void Settle(OfflineHold& hold, Kind kind, const std::string& name)
    {
        const auto add = [this](std::string e) {
            std::lock_guard lock(mutex);
            events.push_back(std::move(e));
        };
        hold.Settle(
            kind, [add, name] { add("write " + name); }, [add, name] { add("restore " + name); });
    }
};

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
        {"shop.test", Reach::Reached, Kind::Reached},
        {"http://shop.test/", Reach::Untried, Kind::Neutral},
        // This computer's own sites need no network, whatever came of them.
        {"http://LOCALHOST./", Reach::Unreached, Kind::Neutral},
        {"http://app.localhost/", Reach::Reached, Kind::Neutral},
        {"http://127.1.2.3/", Reach::Unreached, Kind::Neutral},
        {"http://[::1]:81/", Reach::Unreached, Kind::Neutral},
        {"http://127.example.test/", Reach::Unreached, Kind::Unreached},
    };
    for (const auto& c : cases) {
        FetchOutcome outcome;
        outcome.reach = c.reach;
        EXPECT_EQ(OfflineHold::KindOf(outcome, c.url), c.kind) << c.url;
    }
}

TEST(OfflineHold, HoldsUnreachedOutcomesUntilASiteIsReachedOrThePassEnds)
{
    const struct
    {
        std::vector<Kind> kinds;
        bool probeOffline;
        std::vector<std::string> events;
        bool offline;
        int probeAsked;
    } cases[] = {
        {{Kind::Unreached, Kind::Unreached}, true, {"restore 0", "restore 1"}, true, 1},
        {{Kind::Unreached, Kind::Unreached}, false, {"write 0", "write 1"}, false, 1},
        // One reached releases the held; later ones go at once.
        {{Kind::Unreached, Kind::Reached, Kind::Unreached},
         true,
         {"write 0", "write 1", "write 2"},
         false,
         0},
        // A local site is written at once and proves nothing.
        {{Kind::Unreached, Kind::Neutral}, true, {"write 1", "restore 0"}, true, 1},
        {{Kind::Neutral}, true, {"write 0"}, false, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        OfflineHold hold;
        Log log;
        FixedProbe probe(c.probeOffline);
        hold.Begin();
        for (size_t i = 0; i < c.kinds.size(); ++i)
            log.Settle(hold, c.kinds[i], std::to_string(i));
        EXPECT_EQ(hold.End(probe), c.offline) << "case " << n;
        EXPECT_EQ(log.events, c.events) << "case " << n;
        EXPECT_EQ(probe.asked, c.probeAsked) << "case " << n++;
    }
}

// The test below runs in a network namespace of its own, with no route
// anywhere: this program re-runs itself under `unshare -n`, where nothing
// it sends can leave the computer, whatever address it names.
namespace {

constexpr const char* kInEmptyNetwork = "KESTRELLE_IN_EMPTY_NETWORK";

struct Recorder : AlertSink, CheckPass::Observer
{
    void RaiseAlerts(const SiteAlert& alert) override { alerts.push_back(alert.siteName); }
    void RowChecked(const CheckPass::RowResult& r) override { rows.push_back(r.siteName); }
    void PassOffline() override { offline = true; }
    std::vector<std::string> alerts, rows; // on the pass's one thread
    bool offline = false;
};

SiteEntry Site(const std::string& url, const std::string& status)
{
    SiteEntry e;
    e.fields = {url, status, "-", "", "-", ""};
    return e;
}

} // namespace

TEST(OfflinePass, InANetworkNamespaceWithoutNetwork)
{
    if (geteuid() != 0 || std::system("unshare -n true >/dev/null 2>&1") != 0 ||
        std::system("command -v ip >/dev/null") != 0)
        GTEST_SKIP() << "needs root, unshare -n (util-linux) and ip (iproute2)";
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    TempDir dir;
    const std::string out = dir.file("out.txt");
    const int status = std::system((std::string(kInEmptyNetwork) + "=1 unshare -n '" + self +
                                    "' --gtest_filter=InEmptyNetwork.* >'" + out + "' 2>&1")
                                       .c_str());
    EXPECT_EQ(status, 0) << TempDir::ReadFile(out);
    EXPECT_NE(TempDir::ReadFile(out).find("[  PASSED  ] 1 test"), std::string::npos)
        << TempDir::ReadFile(out);
}

TEST(InEmptyNetwork, NothingChangesUntilOneSiteAnswers)
{
    if (!std::getenv(kInEmptyNetwork))
        GTEST_SKIP() << "runs inside an empty network namespace only (see OfflinePass)";
    ASSERT_TRUE(RouteProbe().Offline()) << "not in an empty network namespace";
    // Documentation addresses, so that no name needs a resolver.
    SiteList list;
    list.Append(Site("http://192.0.2.1/", "OK"));
    list.Append(Site("http://[2001:db8::1]/", "ERROR"));
    TempDir dir;
    const std::string file = dir.file("kestrelle.dat");
    Recorder told;
    {
        DataFileSaver saver(file);
        PassGate gate;
        CheckPass pass(list, &saver, told, gate);
        pass.SetObserver(&told);
        pass.CheckSites();
    }
    EXPECT_TRUE(told.offline);
    EXPECT_TRUE(told.rows.empty());
    EXPECT_TRUE(told.alerts.empty());
    EXPECT_EQ(list.Text(0, SiteEntry::Status), "OK");
    EXPECT_EQ(list.Text(1, SiteEntry::Status), "ERROR");
    EXPECT_EQ(list.Text(1, SiteEntry::LastCheck), "-");
    EXPECT_FALSE(std::filesystem::exists(file)) << "nothing to write";

    // A site on an address of its own, which in this namespace lives on the
    // loopback device: the probe still sees no route, but the answer wins.
    ASSERT_EQ(std::system("ip link set lo up && ip addr add 10.200.0.1/32 dev lo"), 0);
    ScriptedHttpServer server("10.200.0.1");
    list.Append(Site(server.url("/up"), "-"));
    list.Append(Site("http://192.0.2.2/", "OK"));
    std::string firstWhileAnswering;
    server.SetHandler("/up", [&](const std::string&) {
        firstWhileAnswering = list.Text(0, SiteEntry::Status);
        return ScriptedHttpServer::Bytes(ScriptedHttpServer::Response(200, "OK", {}, "up"));
    });
    told.offline = false;
    PassGate gate;
    CheckPass pass(list, nullptr, told, gate);
    pass.SetObserver(&told);
    pass.SetParallelChecks(1); // one at a time: the outcomes come in the list's order
    pass.CheckSites();
    EXPECT_EQ(firstWhileAnswering, CheckPass::kChecking) << "held while nothing had answered";
    EXPECT_FALSE(told.offline);
    const std::string answering = "10.200.0.1:" + std::to_string(server.port());
    EXPECT_EQ(told.rows,
              (std::vector<std::string>{"192.0.2.1", "[2001:db8::1]", answering, "192.0.2.2"}));
    EXPECT_EQ(told.alerts, (std::vector<std::string>{"192.0.2.1", "[2001:db8::1]", "192.0.2.2"}));
    const char* const statuses[] = {"ERROR", "ERROR", "OK", "ERROR"};
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(list.Text(row, SiteEntry::Status), statuses[row]) << row;
}
