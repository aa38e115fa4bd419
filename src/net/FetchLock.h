#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

class FetchWaiter;

// The one lock that makes the transfers of the whole process run one after
// another. It is recursive: the thread holding it may take it again (a
// check pass started from inside a waiting fetch's event loop), each take
// matched by one release. It passes to the waiting threads in the order
// they asked, so one fetching in a loop cannot overtake a waiting one again
// and again. A thread that must wait does so through its FetchWaiter, so a
// user-interface thread keeps painting meanwhile.
class FetchLock
{
public:
    static FetchLock& Instance();

    // Takes the lock. Gives up, and returns false without it, once
    // `giveUp()` holds (tested after each wake of the waiter). Should the
    // waiter throw, the place in the queue is given up before the exception
    // goes on.
    bool Acquire(FetchWaiter& waiter, const std::function<bool()>& giveUp);
    void Release();

private:
    struct Ticket
    {
        std::thread::id thread;
        FetchWaiter* waiter;
        bool granted = false;
    };

    FetchLock() = default;
    void PassOnLocked();

    std::mutex m_mutex;
    std::thread::id m_owner;
    unsigned m_depth = 0;
    std::list<Ticket*> m_queue; // in order of asking
};
