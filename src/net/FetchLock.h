#pragma once

#include <list>
#include <mutex>
#include <thread>

class FetchWaiter;

// The one lock that makes the transfers of the whole process run one after
// another. It is recursive: the thread holding it may take it again (a
// check pass started from inside a waiting fetch's event loop), each take
// matched by one release. A thread that must wait does so through its
// FetchWaiter, so a user-interface thread keeps painting meanwhile.
class FetchLock
{
public:
    static FetchLock& Instance();

    void Acquire(FetchWaiter& waiter);
    void Release();

private:
    FetchLock() = default;
    bool IsFree();

    std::mutex m_mutex;
    std::thread::id m_owner;
    unsigned m_depth = 0;
    std::list<FetchWaiter*> m_waiting;
};
