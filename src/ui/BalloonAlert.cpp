#include "ui/BalloonAlert.h"

#include "monitor/CertificateNotices.h"
#include "monitor/NoticeText.h"
#include "platform/TimeText.h"
#include "settings/COptionsDlg.h"

void BalloonAlert::SiteRecovered(const SiteRecovery& recovery)
{
    if (m_shown > Rank::BackUp)
        return;
    // Read afresh, as the e-mail settings are: a change in Options counts
    // from the next site on.
    if (COptionsDlg().m_bRecoveryBalloon == 0)
        return;
    Outrank(Rank::BackUp);
    const std::string text =
        NoticeText::BackUp(recovery.siteName, recovery.outageStart, recovery.outageEnd);
    m_upInPass.push_back(text);
    if (m_upInPass.size() == 1)
        m_tray.ShowBalloonTip(text, kBackUpTitle, kAlertBalloonMs);
    else
        m_tray.ShowBalloonTip(ManySitesText(m_upInPass),
                              std::to_string(m_upInPass.size()) + " sites are back up",
                              kAlertBalloonMs);
}

void BalloonAlert::CertificateExpiring(const CertificateWarning& warning)
{
    // Not shown is not told: the day's balloon is still owed.
    if (!m_notices || m_shown > Rank::Certificate ||
        !m_notices->TakeBalloon(warning.siteKey, warning.expiry, warning.checkedAt))
        return;
    m_shown = Rank::Certificate;
    m_certificatesShown.push_back(warning);
    m_certificatesInPass.push_back(warning.siteName + ": " + warning.reason);
    if (m_certificatesInPass.size() == 1)
        m_tray.ShowBalloonTip(CertificateText(warning), kCertificateTitle, kAlertBalloonMs);
    else
        m_tray.ShowBalloonTip(ManySitesText(m_certificatesInPass),
                              std::to_string(m_certificatesInPass.size()) +
                                  " certificates expire soon",
                              kAlertBalloonMs);
}

void BalloonAlert::AskLogIn(const SiteAlert& alert)
{
    m_logInInPass.emplace_back(alert.id, alert.siteName);
    if (!m_downInPass.empty())
        return;
    Outrank(Rank::Down); // it asks something of the user
    std::vector<EntryId> ids;
    std::vector<std::string> names;
    for (const auto& [id, name] : m_logInInPass) {
        ids.push_back(id);
        names.push_back(name);
    }
    std::function<void()> onClick;
    if (m_onLogInClicked)
        onClick = [open = m_onLogInClicked, ids] {
            for (const EntryId id : ids)
                open(id);
        };
    if (names.size() == 1)
        m_tray.ShowClickableBalloon(kLogInText, LogInTitle(names[0]), kAlertBalloonMs,
                                    std::move(onClick));
    else
        m_tray.ShowClickableBalloon(ManySitesText(names), ManyLogInsTitle(names.size()),
                                    kAlertBalloonMs, std::move(onClick));
}

void BalloonAlert::Outrank(Rank rank)
{
    if (m_shown == Rank::Certificate && rank > Rank::Certificate && m_notices)
        for (const CertificateWarning& w : m_certificatesShown)
            m_notices->GiveBackBalloon(w.siteKey, w.expiry);
    m_certificatesShown.clear();
    m_shown = rank;
}

std::string BalloonAlert::CertificateText(const CertificateWarning& warning)
{
    return warning.siteName + ": " + warning.reason + ", on " + TimeText::Local(warning.expiry);
}
