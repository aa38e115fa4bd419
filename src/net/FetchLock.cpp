#include "net/FetchLock.h"

#include "net/FetchWaiter.h"

#include <algorithm>

FetchLock& FetchLock::Instance()
{
    // Never destroyed: a fetch may still be finishing while the process ends.
    static FetchLock* lock = new FetchLock;
    return *lock;
}

bool FetchLock::Acquire(FetchWaiter& waiter, const std::function<bool()>& giveUp)
{
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (m_owner == self) {
        ++m_depth;
        return true;
    }
    if (m_owner == std::thread::id() && m_queue.empty()) {
        m_owner = self;
        m_depth = 1;
        return true;
    }
    Ticket ticket{self, &waiter};
    m_queue.push_back(&ticket);
    // Settles the ticket under the mutex: true when the lock is ours.
    const auto settle = [&] {
        if (ticket.granted)
            return true;
        m_queue.remove(&ticket);
        if (m_owner == self) {
            // Handed to an outer fetch of this same thread, which waits
            // further up this stack: a nested take, like any other.
            ++m_depth;
            return true;
        }
        return false;
    };
    lock.unlock();
    try {
        waiter.Wait([&] {
            std::lock_guard guard(m_mutex);
            return ticket.granted || m_owner == self || giveUp();
        });
    } catch (...) {
        lock.lock();
        if (settle())
            PassOnLocked(); // one take is ours: give it back
        throw;
    }
    lock.lock();
    return settle();
}

void FetchLock::Release()
{
    std::lock_guard lock(m_mutex);
    if (m_owner != std::this_thread::get_id() || m_depth == 0)
        return;
    PassOnLocked();
}

bool FetchLock::Contended()
{
    std::lock_guard lock(m_mutex);
    return !m_queue.empty();
}

void FetchLock::PassOnLocked()
{
    if (--m_depth > 0)
        return;
    m_owner = std::thread::id();
    if (m_queue.empty())
        return;
    // The first in line gets it directly, so nobody can take it in between.
    // Its ticket lives until its Acquire, which needs our mutex, returns.
    Ticket* next = m_queue.front();
    m_queue.pop_front();
    next->granted = true;
    m_owner = next->thread;
    m_depth = 1;
    next->waiter->Wake();
}
