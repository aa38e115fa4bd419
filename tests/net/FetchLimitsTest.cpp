#include "FetchTestSupport.h"
#include "net/CPageFetcher.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <thread>

using Server = ScriptedHttpServer;
using namespace std::chrono_literals;

namespace {

FetchSettings::Timeouts Short()
{
    auto timeouts = FetchSettings::kTimeouts;
    timeouts.connect = 1s;
    timeouts.lowSpeedTime = 1s;
    timeouts.pageTotal = 400ms;
    return timeouts;
}

Server::Script Trickle(std::chrono::milliseconds pause)
{
    Server::Script script;
    script.steps = {{"HTTP/1.0 200 OK\r\n\r\nstart\n", {}}};
    script.endless = true;
    script.endlessChunk = "more\n";
    script.endlessPause = pause;
    return script;
}

} // namespace

using FetchLimits = FetcherTest;

TEST_F(FetchLimits, TimedOutTransfersFailButPagesKeepWhatArrived)
{
    Server server;
    // 5 bytes every 20 ms: about 250 bytes per second, for ever.
    server.SetScript("/trickle", Trickle(20ms));

    {
        SCOPED_TRACE("page total time");
        FetchSettings::SetTimeoutsForTests(Short());
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/trickle"), "", nullptr);
        EXPECT_EQ(fetcher.GetText().rfind("start\nmore\n", 0), 0u);
    }
    // A low-speed limit above the trickle's rate ends it after lowSpeedTime.
    auto slowRule = Short();
    slowRule.pageTotal = 60s;
    slowRule.lowSpeedBytes = 100000;
    FetchSettings::SetTimeoutsForTests(slowRule);
    {
        SCOPED_TRACE("page low-speed rule");
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/trickle"), "", nullptr);
        EXPECT_EQ(fetcher.GetText().rfind("start\nmore\n", 0), 0u);
    }
    {
        SCOPED_TRACE("download low-speed rule");
        TempDir dir;
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/trickle"), dir.file("f"), nullptr);
        EXPECT_FALSE(std::filesystem::exists(dir.file("f")));
    }
}

TEST_F(FetchLimits, FetchesFromTwoThreadsRunOneAfterAnother)
{
    Server server;
    Server::Script slow;
    slow.steps = {{"HTTP/1.0 200 OK\r\n\r\nfirst half\n", 150ms}, {"second half\n", {}}};
    server.SetScript("/slow", slow);
    std::string texts[2];
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            CPageFetcher fetcher;
            fetcher.Fetch(server.url("/slow"), "", nullptr);
            texts[i] = fetcher.GetText();
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const auto& text : texts)
        EXPECT_EQ(text, "first half\nsecond half\n");
    auto connections = server.Connections();
    ASSERT_EQ(connections.size(), 2u);
    std::sort(connections.begin(), connections.end(),
              [](const auto& a, const auto& b) { return a.accepted < b.accepted; });
    EXPECT_LE(connections[0].answered, connections[1].accepted);
}

namespace {

// Stands in for the desktop program's event-loop waiter: while its thread
// waits it runs "events", here one nested fetch on the same thread.
class NestingWaiter : public FetchWaiter
{
public:
    explicit NestingWaiter(std::function<void()> event) : m_event(std::move(event)) {}
    void Wait(const std::function<bool()>& ready) override
    {
        if (m_event) {
            auto event = std::move(m_event);
            m_event = nullptr;
            event();
        }
        m_inner->Wait(ready);
    }
    void Wake() override { m_inner->Wake(); }

private:
    std::function<void()> m_event;
    std::unique_ptr<FetchWaiter> m_inner = FetchWaiter::Sleeping();
};

} // namespace

TEST_F(FetchLimits, NestedFetchOnTheWaitingThreadIsNotBlockedByItsOwnLock)
{
    Server server;
    Server::Script slow;
    slow.steps = {{"HTTP/1.0 200 OK\r\n\r\nouter\n", 100ms}};
    server.SetScript("/outer", slow);
    server.SetResponse("/inner", "HTTP/1.0 200 OK\r\n\r\ninner\n");
    const auto waitingThread = std::this_thread::get_id();
    std::string innerText;
    int made = 0;
    FetchWaiter::SetFactory([&]() -> std::unique_ptr<FetchWaiter> {
        if (std::this_thread::get_id() != waitingThread || made++ > 0)
            return nullptr; // the core's waiter
        return std::make_unique<NestingWaiter>([&] {
            CPageFetcher inner;
            inner.Fetch(server.url("/inner"), "", nullptr);
            innerText = inner.GetText();
        });
    });

    // While the outer fetch waits for its transfer, holding the lock, the
    // same thread fetches again: that fetch must run, not deadlock.
    CPageFetcher outer;
    outer.Fetch(server.url("/outer"), "", nullptr);
    EXPECT_EQ(outer.GetText(), "outer\n");
    EXPECT_EQ(innerText, "inner\n");
}
