#include "monitor/PassGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Holds a pass in its middle until the test lets it go.
class Latch
{
public:
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

TEST(PassGate, RequestsDuringAPassBecomeExactlyOneMorePass)
{
    for (int waiting : {0, 1, 5}) {
        SCOPED_TRACE(waiting);
        PassGate gate;
        Latch entered, release;
        std::atomic<int> passes{0};
        std::thread runner([&] {
            EXPECT_TRUE(gate.Run([&] {
                if (passes++ == 0) {
                    entered.Open();
                    release.Wait();
                }
            }));
        });
        entered.Wait();
        EXPECT_TRUE(gate.Busy());
        for (int i = 0; i < waiting; ++i)
            EXPECT_FALSE(gate.Run([] { ADD_FAILURE() << "ran on the asking thread"; }));
        release.Open();
        runner.join();
        EXPECT_EQ(passes.load(), waiting > 0 ? 2 : 1);
        EXPECT_FALSE(gate.Busy());
    }
}

TEST(PassGate, ARequestFromInsideThePassRunsAfterIt)
{
    // A timer pass that asks again while its fetch waits in a nested event
    // loop is on the same thread: it must neither deadlock nor nest.
    PassGate gate;
    int depth = 0, passes = 0;
    gate.Run([&] {
        ++passes;
        EXPECT_EQ(++depth, 1);
        if (passes == 1) {
            EXPECT_FALSE(gate.Run([] { ADD_FAILURE() << "nested pass"; }));
        }
        --depth;
    });
    EXPECT_EQ(passes, 2);
}

TEST(PassGate, AnExceptionFreesTheGateAndOwesNothing)
{
    PassGate gate;
    EXPECT_THROW(gate.Run([&] {
        EXPECT_FALSE(gate.Run([] {}));
        throw std::runtime_error("boom");
    }),
                 std::runtime_error);
    EXPECT_FALSE(gate.Busy());
    int passes = 0;
    EXPECT_TRUE(gate.Run([&] { ++passes; }));
    EXPECT_EQ(passes, 1); // the request turned away died with the failed pass
}

TEST(PassGate, NoRequestIsLostUnderContention)
{
    // Every request must be followed by a pass that starts after it; the last
    // pass must therefore have seen every request.
    PassGate gate;
    std::atomic<int> requests{0};
    std::atomic<int> seenByLastPass{0};
    std::atomic<int> running{0};
    auto pass = [&] {
        EXPECT_EQ(++running, 1);
        seenByLastPass = requests.load();
        --running;
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                ++requests;
                gate.Run(pass);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seenByLastPass.load(), requests.load());
    EXPECT_FALSE(gate.Busy());
}

} // namespace
