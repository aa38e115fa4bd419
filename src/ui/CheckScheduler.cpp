#include "ui/CheckScheduler.h"

#include "platform/BootClock.h"
#include "platform/TimeText.h"

#include <algorithm>
#include <climits>
#include <cstdio>

CheckScheduler::CheckScheduler(QObject* parent)
    : QObject(parent), m_clock(&BootClock::Milliseconds), m_longestArmMs(INT_MAX)
{
    m_timer.setObjectName(QStringLiteral("checkTimer1039"));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CheckScheduler::OnTimeout);
}

int CheckScheduler::EffectiveMinutes(int minutes)
{
    return minutes > 0 ? minutes : kFallbackMinutes;
}

std::string CheckScheduler::NextCheckText(bool enabled, std::time_t now, int minutes)
{
    if (!enabled)
        return kDisabledText;
    const std::time_t next = now + static_cast<std::time_t>(EffectiveMinutes(minutes)) * 60;
    return "Next check at " + TimeText::Local(next);
}

void CheckScheduler::Start(int minutes)
{
    if (minutes <= 0)
        std::fprintf(stderr,
                     "Kestrelle: a check interval of %d minutes cannot run; checking every %d "
                     "minutes instead.\n",
                     minutes, kFallbackMinutes);
    m_periodMs = static_cast<std::int64_t>(EffectiveMinutes(minutes)) * m_minuteMs;
    m_deadlineMs = m_clock() + m_periodMs;
    m_active = true;
    m_wakeTickOwed = false;
    Arm();
}

void CheckScheduler::Stop()
{
    m_active = false;
    m_wakeTickOwed = false;
    m_timer.stop();
}

void CheckScheduler::Arm()
{
    const std::int64_t remaining = std::max<std::int64_t>(0, m_deadlineMs - m_clock());
    m_timer.start(static_cast<int>(std::min<std::int64_t>(remaining, m_longestArmMs)));
}

void CheckScheduler::OnTimeout()
{
    if (!m_active)
        return;
    if (m_wakeTickOwed) {
        m_wakeTickOwed = false;
        Arm();
        Q_EMIT Due();
        return;
    }
    const std::int64_t now = m_clock();
    if (now < m_deadlineMs) {
        // A long period's intermediate arming, or a timer that fired early.
        Arm();
        return;
    }
    // Periods that ended while nobody could tick give this one tick only.
    while (m_deadlineMs <= now)
        m_deadlineMs += m_periodMs;
    Arm();
    Q_EMIT Due();
}

void CheckScheduler::OnResumed()
{
    if (!m_active)
        return;
    const std::int64_t now = m_clock();
    if (now >= m_deadlineMs) {
        while (m_deadlineMs <= now)
            m_deadlineMs += m_periodMs;
        // One tick a little after waking, then the periods as before.
        m_timer.start(m_wakeDelayMs);
        m_wakeTickOwed = true;
        return;
    }
    Arm();
}
