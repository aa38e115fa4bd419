#pragma once

#include "monitor/AlertSink.h"

#include <vector>

// The down-site alerts as one sink: each step (tray balloon, e-mail, sound
// and flashing) is a sink of its own, called in the order it was added. The
// desktop program adds the balloon, the e-mail and the flash steps in that
// order; the command-line checker adds only the steps it has.
class AlertChain : public AlertSink
{
public:
    // The step is not owned and must outlive the chain.
    void Add(AlertSink& step) { m_steps.push_back(&step); }

    void RaiseAlerts(const SiteAlert& alert) override
    {
        for (AlertSink* step : m_steps)
            step->RaiseAlerts(alert);
    }
    void SiteRecovered(const SiteRecovery& recovery) override
    {
        for (AlertSink* step : m_steps)
            step->SiteRecovered(recovery);
    }
    void CertificateExpiring(const CertificateWarning& warning) override
    {
        for (AlertSink* step : m_steps)
            step->CertificateExpiring(warning);
    }
    void PassStarted() override
    {
        for (AlertSink* step : m_steps)
            step->PassStarted();
    }

private:
    std::vector<AlertSink*> m_steps;
};
