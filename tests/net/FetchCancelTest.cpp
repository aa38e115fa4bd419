#include "FetchTestSupport.h"
#include "net/CPageFetcher.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <atomic>
#include <filesystem>
#include <thread>

using Server = ScriptedHttpServer;
using namespace std::chrono_literals;

namespace {

// An answer that never ends: only a cancel can stop the fetch (the low-speed
// rule is far away at 30 s).
Server::Script Endless()
{
    Server::Script script;
    script.steps = {{"HTTP/1.0 200 OK\r\n\r\nstart\n", {}}};
    script.endless = true;
    script.endlessChunk = "more\n";
    script.endlessPause = 20ms;
    return script;
}

// The waiting thread's own loop: it cancels from inside its wait once the
// body flows, as a window's close button would.
class CancellingWaiter : public FetchWaiter
{
public:
    CancellingWaiter(CPageFetcher& fetcher, std::atomic<bool>& flowing,
                     std::chrono::steady_clock::time_point& cancelledAt)
        : m_fetcher(fetcher), m_flowing(flowing), m_cancelledAt(cancelledAt)
    {
    }
    void Wait(const std::function<bool()>& ready) override
    {
        m_inner->Wait([&] { return ready() || m_flowing.load(); });
        if (!ready()) {
            m_cancelledAt = std::chrono::steady_clock::now();
            m_fetcher.Cancel();
        }
        m_inner->Wait(ready);
    }
    void Wake() override { m_inner->Wake(); }

private:
    CPageFetcher& m_fetcher;
    std::atomic<bool>& m_flowing;
    std::chrono::steady_clock::time_point& m_cancelledAt;
    std::unique_ptr<FetchWaiter> m_inner = FetchWaiter::Sleeping();
};

} // namespace

using FetchCancel = FetcherTest;

TEST_F(FetchCancel, CancelledFetchesEndWithNoPiecesNoFileAndNoMessage)
{
    Server server;
    server.SetScript("/endless", Endless());
    server.SetResponse("/page", Server::Response(200, "OK", {}, "page\n"));
    const auto waitingThread = std::this_thread::get_id();
    for (const bool fromOwnLoop : {false, true}) {
        for (const bool download : {false, true}) {
            SCOPED_TRACE(std::string(fromOwnLoop ? "own loop" : "other thread") +
                         (download ? ", download" : ", page"));
            TempDir dir;
            const std::string path = download ? dir.file("NewUpdate.exe") : "";
            CPageFetcher fetcher;
            fetcher.Fetch(server.url("/page"), "", nullptr); // the list before
            std::atomic<bool> flowing{false};
            std::chrono::steady_clock::time_point cancelledAt;
            std::atomic<FetchWaiter*> loop{nullptr};
            FetchWaiter::SetFactory([&]() -> std::unique_ptr<FetchWaiter> {
                if (!fromOwnLoop || std::this_thread::get_id() != waitingThread)
                    return nullptr;
                auto waiter = std::make_unique<CancellingWaiter>(fetcher, flowing, cancelledAt);
                loop = waiter.get();
                return waiter;
            });
            server.ClearRequests();
            std::thread canceller;
            if (!fromOwnLoop) {
                canceller = std::thread([&] {
                    while (server.RequestCount() == 0)
                        std::this_thread::sleep_for(5ms);
                    std::this_thread::sleep_for(50ms); // into the body
                    cancelledAt = std::chrono::steady_clock::now();
                    fetcher.Cancel();
                });
            } else {
                server.SetHandler("/endless", [&](const std::string&) {
                    flowing = true;
                    loop.load()->Wake(); // an event for the waiting thread's loop
                    return Endless();
                });
            }
            fetcher.Fetch(server.url("/endless"), path, nullptr);
            const auto lines = fetcher.Pieces();
            const auto returned = std::chrono::steady_clock::now();
            if (canceller.joinable())
                canceller.join();
            // For the record (speed is no test's business): cancel to return.
            RecordProperty(std::string(fromOwnLoop ? "loop" : "thread") +
                               (download ? "_download" : "_page") + "_cancel_us",
                           static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                returned - cancelledAt)
                                                .count()));
            if (download) {
                EXPECT_FALSE(std::filesystem::exists(path));
                EXPECT_EQ(fetcher.GetText(), "page\n"); // a download leaves the list alone
            } else {
                EXPECT_TRUE(lines.empty());
            }
            FetchWaiter::SetFactory({});
            server.SetScript("/endless", Endless());
            // The lock has passed on, and the fetcher works as before.
            fetcher.Fetch(server.url("/page"), "", nullptr);
            EXPECT_EQ(fetcher.GetText(), "page\n");
        }
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FetchCancel, ACallWaitingForTheLockGivesUpItsPlace)
{
    Server server;
    Server::Script slow;
    slow.steps = {{"HTTP/1.0 200 OK\r\n\r\nslow\n", 300ms}};
    server.SetScript("/slow", slow);
    server.SetResponse("/page", Server::Response(200, "OK", {}, "page\n"));
    std::string slowText;
    std::thread holder([&] {
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/slow"), "", nullptr);
        slowText = fetcher.GetText();
    });
    while (server.RequestCount() == 0)
        std::this_thread::sleep_for(5ms);
    CPageFetcher waiting;
    std::thread canceller([&] {
        std::this_thread::sleep_for(50ms);
        waiting.Cancel();
    });
    waiting.Fetch(server.url("/page"), "", nullptr);
    canceller.join();
    holder.join();
    EXPECT_EQ(waiting.GetText(), "");
    EXPECT_EQ(slowText, "slow\n");
    EXPECT_EQ(server.RequestCount(), 1u); // the cancelled call never went out
}
