#pragma once

#include "monitor/AlertSink.h"
#include "ui/TrayPresence.h"

// The alert step that sounds and flashes the tray icon while the main
// window is put away.
class FlashAlert : public AlertSink
{
public:
    explicit FlashAlert(TrayPresence& presence) : m_presence(presence) {}
    void RaiseAlerts(const SiteAlert& alert) override { m_presence.FlashIfHidden(alert.siteName); }

private:
    TrayPresence& m_presence;
};
