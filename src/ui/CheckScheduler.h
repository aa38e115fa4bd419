#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

// The periodic check timer. A period counts from the moment the timer was
// last started; a period that ends while the program is busy or the computer
// sleeps gives one late tick, never a burst. Periods longer than a QTimer
// holds are reached by re-arming it, measured on a clock that keeps counting
// while the computer sleeps.
class CheckScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTimerId = 1039;
    // What a stored interval of no minutes or fewer runs at.
    static constexpr int kFallbackMinutes = 30;
    // After waking, the network is given this long to come back before a
    // pass that fell due while asleep runs, so that it does not report every
    // site down.
    static constexpr int kWakeDelayMs = 30000;

    static constexpr const char* kDisabledText =
        "Kestrelle is currently disabled. Right-click the tray-icon and click Enabled.";
    static constexpr const char* kOfflineText =
        "Offline: Kestrelle checks again when the network is back.";

    explicit CheckScheduler(QObject* parent = nullptr);

    // Starts (or restarts) the period of `minutes` from now.
    void Start(int minutes);
    void Stop();
    bool IsActive() const { return m_active; }

    // The interval the timer runs at for a stored value: values of 0 or less
    // run at kFallbackMinutes.
    static int EffectiveMinutes(int minutes);
    // The next-check label.
    static std::string NextCheckText(bool enabled, std::time_t now, int minutes);

    // The computer woke: a period that ended meanwhile gives one tick soon.
    void OnResumed();

    // Test hooks: the length of a minute, the clock, the longest single arming
    // of the QTimer and the wait after waking.
    void SetMinuteForTests(std::int64_t ms) { m_minuteMs = ms; }
    void SetClockForTests(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }
    void SetLongestArmForTests(int ms) { m_longestArmMs = ms; }
    void SetWakeDelayForTests(int ms) { m_wakeDelayMs = ms; }
    const QTimer& TimerForTests() const { return m_timer; }

Q_SIGNALS:
    // A period ended: run a pass.
    void Due();

private:
    void Arm();
    void OnTimeout();

    QTimer m_timer;
    std::function<std::int64_t()> m_clock;
    std::int64_t m_minuteMs = 60000;
    std::int64_t m_periodMs = 0;
    std::int64_t m_deadlineMs = 0;
    int m_longestArmMs;
    int m_wakeDelayMs = kWakeDelayMs;
    bool m_active = false;
    bool m_wakeTickOwed = false;
};
