#include "net/ConditionWaiter.h"

void ConditionWaiter::Wait(const std::function<bool()>& ready)
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

void ConditionWaiter::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_wakes;
    }
    m_woken.notify_all();
}
