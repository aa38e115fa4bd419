#pragma once

#include "monitor/AlertSink.h"
#include "net/FetchOutcome.h"
#include "ui/AlertSound.h"
#include "ui/FlashAlertThread.h"
#include "ui/TrayPresence.h"

// The alert step that sounds and flashes the tray icon while the main
// window is put away.
class FlashAlert : public AlertSink
{
public:
    FlashAlert(const TrayPresence& presence, CSystemTray& tray, AlertSound& sound)
        : m_presence(presence), m_tray(tray), m_sound(sound)
    {
    }
    void RaiseAlerts(const SiteAlert& alert) override
    {
        // A log-in wanted is no outage to sound the alarm for.
        if (!m_presence.HiddenInTray() || alert.reason == FetchOutcome::kNeedsLogIn)
            return;
        FlashAlertThread::KeepFlashing();
        FlashAlertThread::Start(FlashAlertJob{&m_tray, alert.siteName, [this] { m_sound.Play(); }});
    }

private:
    const TrayPresence& m_presence;
    CSystemTray& m_tray;
    AlertSound& m_sound;
};
