#pragma once

#include <QEventLoop>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The main window's one check-pass thread. Each request runs the job on it;
// requests made while the job runs become one more run after it, however
// many there were. The thread starts with the first request and is joined
// when the object goes, after the run under way has ended. Meanwhile the
// user-interface thread goes on serving events: a pass may be waiting for
// an answer from it (a message box, a credentials prompt).
class PassWorker
{
public:
    explicit PassWorker(std::function<void()> job);
    ~PassWorker();
    PassWorker(const PassWorker&) = delete;
    PassWorker& operator=(const PassWorker&) = delete;

    // Returns at once.
    void Request();

private:
    void Loop();

    std::function<void()> m_job;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;
    bool m_stopping = false;
    bool m_running = false;
    // Told when the run under way ends, while the object goes.
    QEventLoop* m_endWait = nullptr;
    std::thread m_thread;
};
