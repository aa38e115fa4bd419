#include "ui/PassWorker.h"

#include "ui/UiThread.h"

#include <cstdio>
#include <system_error>

PassWorker::PassWorker(std::function<void()> job) : m_job(std::move(job)) {}

PassWorker::~PassWorker()
{
    QEventLoop endWait;
    bool wait = false;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        wait = m_running && OnUiThread() && QCoreApplication::instance();
        if (wait)
            m_endWait = &endWait;
    }
    m_wake.notify_one();
    // A quit queued before the loop runs is still carried out by it.
    if (wait)
        endWait.exec();
    if (m_thread.joinable())
        m_thread.join();
}

void PassWorker::Request()
{
    std::lock_guard lock(m_mutex);
    m_requested = true;
    if (m_thread.joinable()) {
        m_wake.notify_one();
        return;
    }
    try {
        m_thread = std::thread(&PassWorker::Loop, this);
    } catch (const std::system_error& e) {
        // Asked again later, it tries again.
        m_requested = false;
        std::fprintf(stderr, "Kestrelle: cannot start a check pass: %s\n", e.what());
    }
}

void PassWorker::Loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_requested || m_stopping; });
        if (m_stopping)
            return;
        m_requested = false;
        m_running = true;
        lock.unlock();
        m_job();
        lock.lock();
        m_running = false;
        if (m_endWait) {
            QEventLoop* endWait = m_endWait;
            RunOnUi(endWait, [endWait] { endWait->quit(); });
        }
    }
}
