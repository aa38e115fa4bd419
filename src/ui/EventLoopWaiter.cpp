#include "ui/EventLoopWaiter.h"

#include "ui/UiThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

EventLoopWaiter::EventLoopWaiter() : m_context(std::make_unique<QObject>()) {}

EventLoopWaiter::~EventLoopWaiter() = default;

void EventLoopWaiter::Wait(const std::function<bool()>& ready)
{
    while (!ready()) {
        // A wake that came since the last test means: test again first.
        if (m_woken.exchange(false))
            continue;
        QEventLoop loop;
        m_loop = &loop;
        // A wake posted between the test above and here is delivered by
        // this loop, so it cannot be missed.
        loop.exec();
        m_loop = nullptr;
        m_woken.store(false);
    }
}

void EventLoopWaiter::Wake()
{
    m_woken.store(true);
    RunOnUi(m_context.get(), [this] {
        if (m_loop)
            m_loop->quit();
    });
}

void EventLoopWaiter::Install()
{
    FetchWaiter::SetFactory([]() -> std::unique_ptr<FetchWaiter> {
        const QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread())
            return nullptr; // the core's sleeping waiter
        return std::make_unique<EventLoopWaiter>();
    });
}
