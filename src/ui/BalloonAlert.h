#pragma once

#include "monitor/AlertSink.h"
#include "ui/CSystemTray.h"

// The alert step that shows a down site's balloon at every failed check.
class BalloonAlert : public AlertSink
{
public:
    // The time a down site's balloon asks to stay; notification servers
    // with a shorter limit keep to theirs.
    static constexpr int kAlertBalloonMs = 28800000;

    explicit BalloonAlert(CSystemTray& tray) : m_tray(tray) {}
    void RaiseAlerts(const SiteAlert& alert) override
    {
        m_tray.ShowBalloonTip(alert.balloonText, alert.balloonTitle, kAlertBalloonMs);
    }

private:
    CSystemTray& m_tray;
};
