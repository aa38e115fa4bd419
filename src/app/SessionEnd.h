#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals a desktop session sends its programs when the user logs
// out or the system shuts down (SIGTERM, SIGHUP) into a Qt signal on the
// thread that made this object, so the program can end the way its Exit
// command does, without the question. One object per process.
class SessionEnd : public QObject
{
    Q_OBJECT

public:
    explicit SessionEnd(QObject* parent = nullptr);
    ~SessionEnd() override;

Q_SIGNALS:
    void Ending();

private:
    void OnSignal();

    QSocketNotifier* m_notifier = nullptr;
};
