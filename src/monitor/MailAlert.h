#pragma once

#include "monitor/AlertSink.h"
#include "monitor/MailAlertJob.h"

#include <functional>
#include <memory>
#include <string>

class SiteList;

// The e-mail step of the down-site alerts: at the first failed check of an
// outage it reads the e-mail settings as they are stored at that moment,
// builds the alert e-mail for the row and hands it to a mail thread without
// waiting. Later failures of the same outage send nothing.
class MailAlert : public AlertSink
{
public:
    // Takes the finished job. The default starts a MailAlertThread; tests
    // record the job or run it inline instead.
    using JobStarter = std::function<void(std::unique_ptr<MailAlertJob>)>;

    static constexpr const char* kSenderName = "Kestrelle";

    // The list is not owned and must outlive the object.
    explicit MailAlert(const SiteList& sites, JobStarter starter = {});

    void RaiseAlerts(int row, const std::string& balloonText, const std::string& balloonTitle,
                     bool firstFailure) override;

    // The alert text, built exactly in the order the e-mail has always had,
    // with `now` as the local time stamp.
    static std::string Body(const std::string& balloonText, const std::string& balloonTitle,
                            const std::string& url, const std::string& now);

private:
    const SiteList& m_sites;
    JobStarter m_starter;
};
