#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

class FetchWaiter;

// The one lock that makes the fetches of the whole process take turns. A
// page fetcher holds it for its one transfer; a check pass holds it only
// while transfers of its own run (several at once), starts no new one
// while another thread waits for it, and hands it on once those under way
// have ended: so a fetch of the desktop's own (a page test, the upgrade)
// waits at most for the pass's transfers in flight, never for a whole
// pass, and the pass then waits for that one fetch only. It is recursive: the thread holding it may
// take it again (a check pass started from inside a waiting fetch's event loop), each take matched
// by one release. It passes to the waiting threads in the order they asked, so one fetching in a
// loop cannot overtake a waiting one again and again. A thread that must wait does so through its
// FetchWaiter, so a user-interface thread keeps painting meanwhile.
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

    // True while some thread waits for the lock. A holder that runs many
    // transfers in turn (a check pass) starts no new one then, and hands
    // the lock on once those under way have ended.
    bool Contended();

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
