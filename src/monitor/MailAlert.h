#pragma once

#include "monitor/AlertSink.h"
#include "net/MailAlertJob.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// The e-mail step of the down-site alerts: at the first failed check of an
// outage it reads the e-mail settings as they are stored at that moment,
// builds the alert e-mail from what the pass handed over and queues it for
// the mail senders (MailAlertThread) without waiting. Later failures of the
// same outage send nothing. The same way, with the same account and rules,
// go the notice that a site is back up (when bRecoveryEmail is set too) and
// the warning that a site's certificate runs out soon (once per
// certificate, when given the notes of what was told).
class CertificateNotices;
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
    void SiteRecovered(const SiteRecovery& recovery) override;
    void CertificateExpiring(const CertificateWarning& warning) override;

    // Off: no back-up notice at all (the checker without --save, which would
    // send one at every run while the file says "ERROR").
    void SetRecoveryMail(bool on) { m_recoveryMail = on; }
    // Without notes (the default) no certificate e-mail is sent. Not owned.
    void SetCertificateNotices(CertificateNotices* notices) { m_notices = notices; }

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
    // "SITE is back up", with the outage's start, end and length.
    static MailAlertJob RecoveryMessage(const COptionsDlg& settings, const SiteRecovery& recovery);
    // "SITE: certificate expires in 6 days", with the end's date and time.
    static MailAlertJob CertificateMessage(const COptionsDlg& settings,
                                           const CertificateWarning& warning);

private:
    // Reads the settings afresh and, with e-mail on, starts the e-mail
    // `compose` builds (none when it gives nothing); nothing it throws
    // reaches the pass, `what` names the e-mail in the message instead.
    void Start(const char* what,
               const std::function<std::optional<MailAlertJob>(const COptionsDlg&)>& compose);

    JobStarter m_starter;
    bool m_recoveryMail = true;
    CertificateNotices* m_notices = nullptr;
};
