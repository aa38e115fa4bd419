#include "net/FetchWaiter.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace {

// A wake counter means a Wake that comes before the sleep is not lost.
class SleepingWaiter : public FetchWaiter
{
public:
    void Wait(const std::function<bool()>& ready) override
    {
        for (;;) {
            std::uint64_t seen;
            {
                std::lock_guard lock(m_mutex);
                seen = m_wakes;
            }
            // `ready` runs without our mutex held: it may take other locks
            // whose holders call Wake.
            if (ready())
                return;
            std::unique_lock lock(m_mutex);
            m_woken.wait(lock, [&] { return m_wakes != seen; });
        }
    }
    void Wake() override
    {
        // Told under the lock: once the count has moved, the waiting thread
        // may return and destroy this waiter, condition variable and all.
        std::lock_guard lock(m_mutex);
        ++m_wakes;
        m_woken.notify_all();
    }
    bool MayTransferHere() const override { return true; }

private:
    std::mutex m_mutex;
    std::condition_variable m_woken;
    std::uint64_t m_wakes = 0;
};

// Never destroyed: a pass thread may still start a fetch while the process
// ends.
struct Registry
{
    std::mutex mutex;
    FetchWaiter::Factory factory;
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

void FetchWaiter::SetFactory(Factory factory)
{
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.factory = std::move(factory);
}

std::unique_ptr<FetchWaiter> FetchWaiter::Make()
{
    Registry& r = TheRegistry();
    Factory factory;
    {
        std::lock_guard lock(r.mutex);
        factory = r.factory;
    }
    if (factory) {
        if (auto waiter = factory())
            return waiter;
    }
    return Sleeping();
}

std::unique_ptr<FetchWaiter> FetchWaiter::Sleeping()
{
    return std::make_unique<SleepingWaiter>();
}
