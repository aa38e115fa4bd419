#pragma once

#include <functional>
#include <memory>

// How a thread waits inside CPageFetcher::Fetch, for the fetch lock and for
// its transfer. The core's waiter (Sleeping) sleeps on a condition variable,
// uses no CPU while waiting, and loses no Wake that comes before its sleep; the
// desktop program installs a factory that gives its user-interface thread a
// waiter running a nested event loop, so windows keep painting while a page
// is fetched (other threads keep the core's waiter).
//
// One waiter serves one Fetch call on one thread. Wake may be called from
// any thread, any number of times, also before Wait starts; Wait must then
// still return once `ready` holds.
class FetchWaiter
{
public:
    using Factory = std::function<std::unique_ptr<FetchWaiter>()>;

    virtual ~FetchWaiter() = default;
    // Returns once `ready()` is true; tests it again after every Wake.
    virtual void Wait(const std::function<bool()>& ready) = 0;
    virtual void Wake() = 0;
    // True for a waiter that would do nothing but sleep: its thread then
    // runs the transfer itself instead of handing it to another thread and
    // waiting. A waiter that keeps its thread busy meanwhile (an event loop)
    // leaves it false.
    virtual bool MayTransferHere() const { return false; }

    // Process-wide; an empty factory restores the condition-variable waiter.
    static void SetFactory(Factory factory);
    static std::unique_ptr<FetchWaiter> Make();
    // The core's waiter, whatever the factory.
    static std::unique_ptr<FetchWaiter> Sleeping();
};
