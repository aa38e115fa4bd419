#pragma once

#include <QObject>

// Tells when the computer is about to sleep and when it has woken, as logind
// announces it on the system bus. Without D-Bus or logind it never tells.
class SleepWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SleepWatcher(QObject* parent = nullptr);

Q_SIGNALS:
    void Suspending();
    void Resumed();

private Q_SLOTS:
    void OnPrepareForSleep(bool sleeping);
};
