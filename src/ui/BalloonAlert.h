#pragma once

#include "monitor/AlertSink.h"
#include "net/FetchOutcome.h"
#include "ui/CSystemTray.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

class CertificateNotices;

// The alert step that shows a down site's balloon at every failed check.
// A tray shows one balloon at a time, so a second site found down in the
// same pass would hide the first: from then on the balloon names every site
// of the pass found down so far ("3 sites may be down" over their names).
//
// A site that wants a log-in is not down: its balloon asks for the user
// name and password instead, once, when the site first wants them, and a
// click on it opens the prompt (`onLogInClicked`, on the user-interface
// thread, given the entry). Several such sites in a pass share one balloon
// whose click opens each one's prompt; a down site's balloon is weightier
// and is not replaced by one of these (the rows say "needs a log-in").
// It also shows that a site is back up (when bRecoveryBalloon is set) and
// that a site's certificate runs out soon (once a day per site, when given
// the notes of what was told), gathered per pass the same way. Within a
// pass, news never hides weightier news: a down site's balloon is not
// replaced by a site back up, nor either by a certificate's.
class BalloonAlert : public AlertSink
{
public:
    // The time a down site's balloon asks to stay; notification servers
    // with a shorter limit keep to theirs.
    static constexpr int kAlertBalloonMs = 28800000;
    static constexpr const char* kLogInText = "Click here to log in, or open its row in Kestrelle.";

    explicit BalloonAlert(CSystemTray& tray, std::function<void(EntryId)> onLogInClicked = {})
        : m_tray(tray), m_onLogInClicked(std::move(onLogInClicked))
    {
    }

    static constexpr const char* kBackUpTitle = "Site back up";
    static constexpr const char* kCertificateTitle = "Certificate expires soon";

    // Without notes (the default) no certificate balloon is shown. Not owned.
    void SetCertificateNotices(CertificateNotices* notices) { m_notices = notices; }

    void PassStarted() override
    {
        m_downInPass.clear();
        m_logInInPass.clear();
        m_upInPass.clear();
        m_certificatesInPass.clear();
        m_certificatesShown.clear();
        m_shown = Rank::None;
    }
    void SiteRecovered(const SiteRecovery& recovery) override;
    void CertificateExpiring(const CertificateWarning& warning) override;
    void RaiseAlerts(const SiteAlert& alert) override;

    // One site's balloon: the alert text, and why on a second line.
    static std::string SiteText(const SiteAlert& alert)
    {
        return alert.reason.empty() ? alert.balloonText : alert.balloonText + "\n" + alert.reason;
    }

    static std::string LogInTitle(const std::string& siteName)
    {
        return siteName + " asks for a user name and password";
    }
    static std::string ManyLogInsTitle(std::size_t count)
    {
        return std::to_string(count) + " sites ask for a user name and password";
    }

    static std::string ManySitesTitle(std::size_t count)
    {
        return std::to_string(count) + " sites may be down";
    }
    // One name a line, within the balloon's limit: names that do not fit are
    // counted on a last line instead ("and 4 more").
    static std::string ManySitesText(const std::vector<std::string>& names)
    {
        std::string text;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string line = (text.empty() ? "" : "\n") + names[i];
            const std::size_t left = names.size() - i - 1;
            const std::string more = left ? "\nand " + std::to_string(left) + " more" : "";
            // Room is kept for the "and N more" line that would follow.
            const std::string rest = "\nand " + std::to_string(names.size() - i) + " more";
            if (i > 0 &&
                text.size() + line.size() + more.size() > CSystemTray::kMaxBalloonTextBytes)
                return text + rest;
            text += line;
        }
        return text;
    }

    // "shop.test: certificate expires in 6 days, on 12/15/2026 09:00:00 AM".
    static std::string CertificateText(const CertificateWarning& warning);

private:
    enum class Rank
    {
        None,
        Certificate,
        BackUp,
        Down
    };

    void AskLogIn(const SiteAlert& alert);
    // The pass's first news of a kind has a balloon of its own; from the
    // second on, one balloon lists them all (a tray shows one at a time).
    void ShowGathered(const std::vector<std::string>& lines, const std::string& oneText,
                      const std::string& oneTitle, const std::string& manyTitle,
                      std::function<void()> onClick = {});
    // The balloon about to be shown is of `rank`. Certificate news it hides
    // before the user could read it is owed again.
    void Outrank(Rank rank);

    CSystemTray& m_tray;
    std::function<void(EntryId)> m_onLogInClicked;
    CertificateNotices* m_notices = nullptr;
    std::vector<CertificateWarning> m_certificatesShown;
    // The pass's thread only.
    std::vector<std::string> m_downInPass;
    std::vector<std::pair<EntryId, std::string>> m_logInInPass;
    std::vector<std::string> m_upInPass;
    std::vector<std::string> m_certificatesInPass;
    Rank m_shown = Rank::None; // the weightiest balloon of the pass so far
};
