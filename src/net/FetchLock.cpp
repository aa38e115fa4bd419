#include "net/FetchLock.h"

#include "net/FetchWaiter.h"

FetchLock& FetchLock::Instance()
{
    // Never destroyed: a worker of a fetch may still be finishing while the
    // process ends.
    static FetchLock* lock = new FetchLock;
    return *lock;
}

bool FetchLock::IsFree()
{
    std::lock_guard lock(m_mutex);
    return m_owner == std::thread::id();
}

void FetchLock::Acquire(FetchWaiter& waiter)
{
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (m_owner == self) {
        ++m_depth;
        return;
    }
    while (m_owner != std::thread::id()) {
        const auto entry = m_waiting.insert(m_waiting.end(), &waiter);
        lock.unlock();
        waiter.Wait([this] { return IsFree(); });
        lock.lock();
        m_waiting.erase(entry);
    }
    m_owner = self;
    m_depth = 1;
}

void FetchLock::Release()
{
    std::lock_guard lock(m_mutex);
    if (m_owner != std::this_thread::get_id() || m_depth == 0)
        return;
    if (--m_depth > 0)
        return;
    m_owner = std::thread::id();
    // Every waiter tests again; one of them gets the lock, the others wait
    // on. A waiter leaves the list only under m_mutex, so none is gone here.
    for (FetchWaiter* waiter : m_waiting)
        waiter->Wake();
}
