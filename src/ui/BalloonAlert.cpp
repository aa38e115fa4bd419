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
    ShowGathered(m_upInPass, text, kBackUpTitle,
                 std::to_string(m_upInPass.size()) + " sites are back up");
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
    ShowGathered(m_certificatesInPass, CertificateText(warning), kCertificateTitle,
                 std::to_string(m_certificatesInPass.size()) + " certificates expire soon");
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
    ShowGathered(names, kLogInText, LogInTitle(names[0]), ManyLogInsTitle(names.size()),
                 std::move(onClick));
}

void BalloonAlert::RaiseAlerts(const SiteAlert& alert)
{
    if (alert.reason == FetchOutcome::kNeedsLogIn) {
        if (alert.firstFailure)
            AskLogIn(alert);
        return;
    }
    Outrank(Rank::Down);
    m_downInPass.push_back(alert.siteName);
    ShowGathered(m_downInPass, SiteText(alert), alert.balloonTitle,
                 ManySitesTitle(m_downInPass.size()));
}

void BalloonAlert::ShowGathered(const std::vector<std::string>& lines, const std::string& oneText,
                                const std::string& oneTitle, const std::string& manyTitle,
                                std::function<void()> onClick)
{
    if (lines.size() == 1)
        m_tray.ShowClickableBalloon(oneText, oneTitle, kAlertBalloonMs, std::move(onClick));
    else
        m_tray.ShowClickableBalloon(ManySitesText(lines), manyTitle, kAlertBalloonMs,
                                    std::move(onClick));
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
