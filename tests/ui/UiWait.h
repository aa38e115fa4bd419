#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <functional>

// Runs the user-interface thread's events until `done` holds; false when it
// still does not after a generous limit, so a broken test fails instead of
// hanging. No test asserts how long anything took.
inline bool WaitUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    const QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}
