#pragma once

#include "net/FetchWaiter.h"

#include <QObject>

#include <atomic>
#include <memory>

class QEventLoop;

// How the user-interface thread waits for a fetch: in a nested event loop,
// so its windows keep painting and answering while a dialog's page arrives.
// Other threads keep the core's waiter, which sleeps.
class EventLoopWaiter : public FetchWaiter
{
public:
    EventLoopWaiter();
    ~EventLoopWaiter() override;

    void Wait(const std::function<bool()>& ready) override;
    void Wake() override;

    // Installs the factory that gives the user-interface thread this waiter.
    static void Install();

private:
    // Lives on the user-interface thread: a wake from any thread reaches the
    // nested loop through it, and is dropped with it once the wait is over.
    std::unique_ptr<QObject> m_context;
    QEventLoop* m_loop = nullptr;
    std::atomic<bool> m_woken{false};
};
