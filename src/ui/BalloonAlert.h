#pragma once

#include "monitor/AlertSink.h"
#include "ui/TrayPresence.h"

// The alert step that shows a down site's balloon at every failed check.
class BalloonAlert : public AlertSink
{
public:
    explicit BalloonAlert(TrayPresence& presence) : m_presence(presence) {}
    void RaiseAlerts(const SiteAlert& alert) override
    {
        m_presence.ShowAlertBalloon(alert.balloonText, alert.balloonTitle);
    }

private:
    TrayPresence& m_presence;
};
