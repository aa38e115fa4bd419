#include "FetchTestSupport.h"
#include "net/CPageFetcher.h"
#include "net/CredentialsPrompt.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <future>
#include <malloc.h>
#include <stdexcept>
#include <thread>

using Server = ScriptedHttpServer;
using namespace std::chrono_literals;

namespace {

// Stands in for the desktop program's event-loop waiter: while its thread
// waits it runs one "event", then reports what it saw when its wait ended.
class EventWaiter : public FetchWaiter
{
public:
    EventWaiter(std::function<void()> event, std::function<void()> ended)
        : m_event(std::move(event)), m_ended(std::move(ended))
    {
    }
    void Wait(const std::function<bool()>& ready) override
    {
        if (auto event = std::exchange(m_event, nullptr))
            event();
        m_inner->Wait(ready);
        if (auto ended = std::exchange(m_ended, nullptr))
            ended();
    }
    void Wake() override { m_inner->Wake(); }

private:
    std::function<void()> m_event;
    std::function<void()> m_ended;
    std::unique_ptr<FetchWaiter> m_inner = FetchWaiter::Sleeping();
};

// A waiting thread that is slow to act on a wake (a window thread busy
// painting): it says when it starts waiting, then looks again only a while
// after each wake.
class SlowToWakeWaiter : public FetchWaiter
{
public:
    explicit SlowToWakeWaiter(std::promise<void>& waiting) : m_waiting(waiting) {}
    void Wait(const std::function<bool()>& ready) override
    {
        if (!std::exchange(m_said, true))
            m_waiting.set_value();
        for (;;) {
            std::uint64_t seen;
            {
                std::lock_guard lock(m_mutex);
                seen = m_wakes;
            }
            if (ready())
                return;
            std::unique_lock lock(m_mutex);
            m_woken.wait(lock, [&] { return m_wakes != seen; });
            lock.unlock();
            std::this_thread::sleep_for(100ms);
        }
    }
    void Wake() override
    {
        std::lock_guard lock(m_mutex);
        ++m_wakes;
        m_woken.notify_all();
    }

private:
    std::promise<void>& m_waiting;
    bool m_said = false;
    std::mutex m_mutex;
    std::condition_variable m_woken;
    std::uint64_t m_wakes = 0;
};

class ThrowingWaiter : public FetchWaiter
{
public:
    void Wait(const std::function<bool()>&) override { throw std::runtime_error("event loop"); }
    void Wake() override {}
};

class RecordingProgress
{
public:
    void SetProgressText(const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        m_last = text;
    }
    std::string Last()
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    std::mutex m_mutex;
    std::string m_last;
};

class SlowPrompt : public CredentialsPrompt
{
public:
    std::optional<Credentials> Ask(const std::string&, const std::string&) override
    {
        std::this_thread::sleep_for(500ms); // longer than the page's whole time limit
        return Credentials{"user", "pass"};
    }
};

std::size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

Server::Script Slow(const std::string& text, std::chrono::milliseconds pause)
{
    Server::Script script;
    script.steps = {{"HTTP/1.0 200 OK\r\n\r\n" + text, pause}};
    return script;
}

} // namespace

using FetchFaults = FetcherTest;

TEST_F(FetchFaults, AFetchNestedOnTheSameFetcherDoesNotEndTheOuterWait)
{
    Server server;
    Server::Script outer;
    outer.steps = {{"HTTP/1.0 200 OK\r\n\r\nouter\n", 200ms}, {"tail\n", {}}};
    server.SetScript("/outer", outer);
    server.SetResponse("/inner", Server::Response(200, "OK", {}, "inner\n"));
    CPageFetcher fetcher; // one fetcher for both, as the upgrade dialog keeps one
    RecordingProgress progress;
    std::string innerText, progressWhenOuterWaitEnded;
    const auto waitingThread = std::this_thread::get_id();
    int made = 0;
    FetchWaiter::SetFactory([&]() -> std::unique_ptr<FetchWaiter> {
        if (std::this_thread::get_id() != waitingThread || made++ > 0)
            return nullptr;
        return std::make_unique<EventWaiter>(
            [&] {
                fetcher.Fetch(server.url("/inner"), "", nullptr);
                innerText = fetcher.GetText();
            },
            [&] { progressWhenOuterWaitEnded = progress.Last(); });
    });
    TempDir dir;
    fetcher.Fetch(server.url("/outer"), dir.file("f"),
                  [&](const std::string& text) { progress.SetProgressText(text); });
    EXPECT_EQ(innerText, "inner\n");
    // The outer wait ended with its own transfer, not with the inner one.
    EXPECT_EQ(progressWhenOuterWaitEnded, "Read 11 bytes");
    EXPECT_EQ(TempDir::ReadFile(dir.file("f")), "outer\ntail\n");
}

TEST_F(FetchFaults, TheCredentialsPromptsTimeIsNotThePages)
{
    Server server;
    server.SetHandler("/secret", [](const std::string& request) {
        if (request.find("Authorization: Basic dXNlcjpwYXNz\r\n") != std::string::npos)
            return Server::Bytes(Server::Response(200, "OK", {}, "welcome\n"));
        return Server::Bytes(
            Server::Response(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"r\""}, "no\n"));
    });
    auto timeouts = FetchSettings::kTimeouts;
    timeouts.pageTotal = 300ms;
    FetchSettings::SetTimeoutsForTests(timeouts);
    FetchSettings::SetCredentialsPrompt(std::make_shared<SlowPrompt>());
    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/secret"), "", nullptr);
    EXPECT_EQ(fetcher.GetText(), "welcome\n");
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(FetchFaults, DigestIsAnsweredWithDigestAndThePasswordNeverGoesAsBasic)
{
    Server server;
    server.SetHandler("/secret", [](const std::string& request) {
        if (request.find("Authorization: Digest username=\"user\"") != std::string::npos)
            return Server::Bytes(Server::Response(200, "OK", {}, "welcome\n"));
        return Server::Bytes(Server::Response(
            401, "Unauthorized",
            {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n0\", qop=\"auth\""}, "no\n"));
    });
    struct Prompt : CredentialsPrompt
    {
        std::optional<Credentials> Ask(const std::string&, const std::string&) override
        {
            return Credentials{"user", "pass"};
        }
    };
    FetchSettings::SetCredentialsPrompt(std::make_shared<Prompt>());
    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/secret"), "", nullptr);
    EXPECT_EQ(fetcher.GetText(), "welcome\n");
    for (const auto& request : server.Requests())
        EXPECT_EQ(request.find("Authorization: Basic"), std::string::npos) << request;
}

TEST_F(FetchFaults, ACappedPageTakesBoundedMemoryWhateverItsShape)
{
    Server server;
    const std::string shapes[] = {"\n", "ab\n", std::string(20, 'l') + "\n",
                                  std::string(2000, 'w') + "\n"};
    for (const auto& line : shapes) {
        Server::Script endless;
        endless.steps = {{"HTTP/1.0 200 OK\r\n\r\n", {}}};
        endless.endless = true;
        while (endless.endlessChunk.size() < 16 * 1024)
            endless.endlessChunk += line;
        server.SetScript("/endless", endless);
        // Cut during the transfer by a sleeping caller, and after it for a
        // thread that keeps running while it waits.
        for (const bool keepsRunning : {false, true}) {
            if (keepsRunning)
                FetchWaiter::SetFactory(
                    [] { return std::make_unique<EventWaiter>(nullptr, nullptr); });
            const std::size_t before = HeapInUse();
            CPageFetcher fetcher;
            fetcher.Fetch(server.url("/endless"), "", nullptr);
            const std::size_t held = HeapInUse() - std::min(before, HeapInUse());
            EXPECT_FALSE(fetcher.GetText().empty());
            // The page's cap is 32 MiB.
            EXPECT_LT(held, 40u << 20) << line.size() << "-byte lines, " << keepsRunning;
            FetchWaiter::SetFactory({});
        }
    }
}

TEST_F(FetchFaults, NoExceptionCrossesTheTransfer)
{
    Server server;
    server.SetResponse("/file", Server::Response(200, "OK", {}, std::string(3000, 'x')));
    server.SetResponse("/page", Server::Response(200, "OK", {}, "page\n"));
    const auto progress = [](const std::string& text) {
        if (text.rfind("Read ", 0) == 0)
            throw std::runtime_error("window gone");
    };
    TempDir dir;
    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/file"), dir.file("f"), progress);
    EXPECT_FALSE(std::filesystem::exists(dir.file("f")));
    fetcher.Fetch(server.url("/page"), "", nullptr);
    EXPECT_EQ(fetcher.GetText(), "page\n");
}

TEST_F(FetchFaults, AThrowingWaiterEndsTheFetchAsAFailure)
{
    Server server;
    server.SetScript("/slow", Slow("slow\n", 200ms));
    server.SetResponse("/page", Server::Response(200, "OK", {}, "page\n"));
    const auto waitingThread = std::this_thread::get_id();
    for (const bool forTheLock : {false, true}) {
        SCOPED_TRACE(forTheLock ? "waiting for the lock" : "waiting for the transfer");
        std::thread holder;
        if (forTheLock) {
            server.ClearRequests();
            holder = std::thread([&] {
                CPageFetcher other;
                other.Fetch(server.url("/slow"), "", nullptr);
            });
            while (server.RequestCount() == 0)
                std::this_thread::sleep_for(5ms);
        }
        FetchWaiter::SetFactory([&]() -> std::unique_ptr<FetchWaiter> {
            if (std::this_thread::get_id() != waitingThread)
                return nullptr;
            return std::make_unique<ThrowingWaiter>();
        });
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/slow"), "", nullptr);
        EXPECT_TRUE(fetcher.Pieces().empty());
        FetchWaiter::SetFactory({});
        if (holder.joinable())
            holder.join();
        fetcher.Fetch(server.url("/page"), "", nullptr);
        EXPECT_EQ(fetcher.GetText(), "page\n");
    }
}

TEST_F(FetchFaults, TheLockPassesOnInTheOrderOfAsking)
{
    Server server;
    std::promise<void> bWaits;
    std::shared_future<void> bWaiting = bWaits.get_future().share();
    // The first fetch ends only once the other thread waits for the lock.
    server.SetHandler("/a1", [&](const std::string&) {
        bWaiting.wait_for(10s);
        return Server::Bytes(Server::Response(200, "OK", {}, "a1\n"));
    });
    server.SetResponse("/a2", Server::Response(200, "OK", {}, "a2\n"));
    server.SetResponse("/b", Server::Response(200, "OK", {}, "b\n"));
    const auto waitingThread = std::this_thread::get_id();
    FetchWaiter::SetFactory([&]() -> std::unique_ptr<FetchWaiter> {
        if (std::this_thread::get_id() != waitingThread)
            return nullptr;
        return std::make_unique<SlowToWakeWaiter>(bWaits);
    });
    std::thread looping([&] {
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/a1"), "", nullptr);
        // Asks again at once, while the waiting thread is still slow to see
        // that the lock is free.
        fetcher.Fetch(server.url("/a2"), "", nullptr);
    });
    while (server.RequestCount() == 0)
        std::this_thread::sleep_for(2ms);
    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/b"), "", nullptr);
    looping.join();
    auto connections = server.Connections();
    std::sort(connections.begin(), connections.end(),
              [](const auto& x, const auto& y) { return x.accepted < y.accepted; });
    std::vector<std::string> order;
    for (const auto& c : connections)
        order.push_back(c.path);
    EXPECT_EQ(order, (std::vector<std::string>{"/a1", "/b", "/a2"}));
}
