#pragma once

#include "monitor/AlertSink.h"
#include "net/MailAlertJob.h"

#include <functional>
#include <memory>
#include <string>

// The e-mail step of the down-site alerts: at the first failed check of an
// outage it reads the e-mail settings as they are stored at that moment,
// builds the alert e-mail from what the pass handed over and queues it for
// the mail senders (MailAlertThread) without waiting. Later failures of the
// same outage send nothing.
class COptionsDlg;

class MailAlert : public AlertSink
{
public:
    // Takes the finished job. The default queues it (MailAlertThread); tests
    // record the job or run it inline instead.
    using JobStarter = std::function<void(std::unique_ptr<MailAlertJob>)>;

    static constexpr const char* kSenderName = "Kestrelle";

    explicit MailAlert(JobStarter starter = {});

    void RaiseAlerts(const SiteAlert& alert) override;

    // The entry's own address when it has 3 characters or more, else the
    // one of the settings.
    static std::string Recipient(const std::string& entryAddress,
                                 const std::string& settingsAddress);

    // The alert text, built exactly in the order the e-mail has always had,
    // with `now` as the local time stamp, and the line "Reason: ..." after
    // the URL when a reason is given.
    static std::string Body(const std::string& balloonText, const std::string& balloonTitle,
                            const std::string& url, const std::string& now,
                            const std::string& reason = {});

    // The alert e-mail for `alert` with the settings' account.
    static MailAlertJob Message(const COptionsDlg& settings, const SiteAlert& alert);
    // The Options dialog's test message: to the sender's own address, with
    // the settings as they stand in the dialog.
    static MailAlertJob TestMessage(const COptionsDlg& settings);

private:
    JobStarter m_starter;
};
