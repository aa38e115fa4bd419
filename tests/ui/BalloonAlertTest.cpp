#include "ui/BalloonAlert.h"
#include "RecordingTrayHost.h"
#include "monitor/AlertChain.h"
#include "monitor/CertificateNotices.h"
#include "monitor/CheckPass.h"
#include "monitor/MailAlert.h"
#include "monitor/SiteList.h"
#include "net/FetchSettings.h"
#include "platform/Clock.h"
#include "settings/CRegStore.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"
#include "ui/CSystemTray.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Real passes over loopback sites into the desktop's balloon step, the
// e-mail step beside it keeping its jobs here.
class BalloonAlertTest : public testing::Test
{
protected:
    BalloonAlertTest() : m_store(CRegStore::SetConfigFolderForTests(m_dir.path()))
    {
        tray.Create(CSystemTray::kTipLoading, CSystemTray::kIconNormal);
        balloon.SetCertificateNotices(&notes);
        mail.SetCertificateNotices(&notes);
        alerts.Add(balloon);
        alerts.Add(mail);
    }
    ~BalloonAlertTest() override
    {
        Clock::SetFixedForTests(0);
        FetchSettings::SetCaFileForTests("");
        CRegStore::SetConfigFolderForTests(m_store);
    }

    void Add(const std::string& url, const std::string& text)
    {
        SiteEntry e;
        e.field(SiteEntry::Url) = url;
        e.field(SiteEntry::Status) = "-";
        e.field(SiteEntry::SearchText) = text;
        list.Append(std::move(e));
    }
    QStringList Balloons()
    {
        QCoreApplication::processEvents();
        return std::exchange(record->calls, {}).filter("balloon ");
    }

    TempDir m_dir;
    std::string m_store;
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    CSystemTray tray{std::make_unique<RecordingTrayHost>(record)};
    CertificateNotices notes{m_dir.path() + "/" + CertificateNotices::kFileName};
    BalloonAlert balloon{tray};
    std::vector<std::unique_ptr<MailAlertJob>> jobs;
    MailAlert mail{[this](std::unique_ptr<MailAlertJob> job) { jobs.push_back(std::move(job)); }};
    AlertChain alerts;
    SiteList list;
    PassGate gate;
    CheckPass pass{list, nullptr, alerts, gate};
};

} // namespace

TEST_F(BalloonAlertTest, BackUpBalloonNamesTheOutagesLength)
{
    ScriptedHttpServer site;
    Add(site.url("/"), "Welcome");
    const std::string name = CheckPass::SiteName(site.url("/"));
    const std::time_t t0 = 1796738709;
    const auto check = [&](std::time_t at, const char* page) {
        Clock::SetFixedForTests(at);
        site.SetResponse("/", ScriptedHttpServer::Response(200, "OK", {}, page));
        EXPECT_TRUE(pass.CheckSites());
        return Balloons();
    };
    check(t0, "Maintenance");
    check(t0 + 300, "Maintenance");
    EXPECT_EQ(check(t0 + 12 * 60 + 40, "Welcome"),
              QStringList{QString::fromStdString("balloon Site back up|" + name +
                                                 " is back up (down for 12 minutes)|28800000")});
    EXPECT_TRUE(check(t0 + 900, "Welcome").isEmpty());

    // Turned off in Options: the outage's balloons only.
    CRegStore::WriteString(CRegStore::kProductKey, "bRecoveryBalloon", "0");
    check(t0 + 1000, "Maintenance");
    EXPECT_TRUE(check(t0 + 1100, "Welcome").isEmpty());
    EXPECT_TRUE(jobs.empty()); // e-mail is off
}

// A certificate from the test authority that runs out in 5 days: the site
// stays OK and says so, the user is told once (a balloon, an e-mail), and a
// renewed certificate is news again.
TEST_F(BalloonAlertTest, CertificateAboutToExpireIsToldOnceAndAgainWhenRenewed)
{
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"m_EnableEMail", "1"},
                                                          {"m_EmailServer", "127.0.0.1"},
                                                          {"m_EmailAddress", "me@home.test"}})
        CRegStore::WriteString(CRegStore::kProductKey, name, value);
    TempDir certDir;
    TlsFront::Certificates certs;
    ASSERT_TRUE(TlsFront::MakeCertificates(certDir.path(), certs));
    const std::string cert = certDir.path() + "/site.pem", key = certDir.path() + "/site.key";
    ASSERT_TRUE(TlsFront::MakeSigned(certDir.path(), 5, cert, key));
    FetchSettings::SetCaFileForTests(certs.caFile);
    ScriptedHttpServer backend;
    backend.SetResponse("/", ScriptedHttpServer::Response(200, "OK", {}, "Welcome"));
    TlsFront front(cert, key, backend.port());
    ASSERT_TRUE(front.running());
    Add(front.url("/"), "Welcome");
    const std::string name = CheckPass::SiteName(front.url("/"));
    pass.SetCertificateWarnDays(14);

    const struct
    {
        int renewDays; // 0: the certificate stays
        const char* reason;
        int balloons;
        size_t jobs;
    } passes[] = {
        {0, "certificate expires in 5 days", 1, 1},
        {0, "certificate expires in 5 days", 0, 1},
        {10, "certificate expires in 10 days", 1, 2},
        {0, "certificate expires in 10 days", 0, 2},
    };
    int n = 0;
    for (const auto& p : passes) {
        ++n;
        if (p.renewDays) {
            ASSERT_TRUE(TlsFront::MakeSigned(certDir.path(), p.renewDays, cert, key));
        }
        ASSERT_TRUE(pass.CheckSites());
        EXPECT_EQ(list.Text(0, SiteEntry::Status), "OK") << "pass " << n;
        EXPECT_EQ(list.Reason(0), p.reason) << "pass " << n;
        const QStringList balloons = Balloons();
        EXPECT_EQ(balloons.size(), p.balloons) << "pass " << n;
        if (p.balloons) {
            EXPECT_TRUE(balloons[0].startsWith(QString::fromStdString(
                "balloon Certificate expires soon|" + name + ": " + p.reason + ", on ")))
                << balloons[0].toStdString();
        }
        ASSERT_EQ(jobs.size(), p.jobs) << "pass " << n;
    }
    EXPECT_EQ(jobs[1]->m_strSubject, name + ": certificate expires in 10 days");
    EXPECT_EQ(jobs[1]->m_strRecipient, "me@home.test");
}

// A tray shows one balloon: certificate news that a down site's balloon
// hides in the same pass is owed again, and is shown at the next pass.
// Log-ins wanted in one pass share a balloon that opens every prompt; a
// down site's balloon is not replaced by one.
TEST_F(BalloonAlertTest, LogInsShareABalloonAndNeverHideADownSite)
{
    std::vector<EntryId> opened;
    BalloonAlert asking(tray, [&](EntryId id) { opened.push_back(id); });
    const auto logIn = [](EntryId id, const std::string& name) {
        SiteAlert a;
        a.id = id;
        a.siteName = name;
        a.reason = FetchOutcome::kNeedsLogIn;
        a.firstFailure = true;
        return a;
    };
    SiteAlert down;
    down.siteName = "blog.test";
    down.balloonTitle = "blog.test may be down";
    down.balloonText = "Kestrelle was unable to find the text \"x\" on blog.test";
    down.firstFailure = true;

    asking.PassStarted();
    asking.RaiseAlerts(logIn(1, "a.test"));
    asking.RaiseAlerts(logIn(2, "b.test"));
    EXPECT_EQ(Balloons().last(),
              "balloon 2 sites ask for a user name and password|a.test\nb.test|28800000");
    tray.OnBalloonClicked();
    EXPECT_EQ(opened, (std::vector<EntryId>{1, 2}));

    asking.RaiseAlerts(down);
    asking.RaiseAlerts(logIn(3, "c.test"));
    EXPECT_EQ(Balloons().filter("ask").size(), 0);
}

TEST_F(BalloonAlertTest, CertificateNewsHiddenByADownSiteIsShownNextPass)
{
    CertificateWarning soon;
    soon.siteName = "shop.test";
    soon.siteKey = "https://shop.test/";
    soon.expiry = 1800000000;
    soon.checkedAt = soon.expiry - 6 * 86400;
    soon.reason = "certificate expires in 6 days";
    SiteAlert down;
    down.siteName = "blog.test";
    down.balloonTitle = "blog.test may be down";
    const struct
    {
        bool downToo;
        int certificateBalloons; // in the next pass without a down site
    } cases[] = {{false, 0}, {true, 1}};
    for (const auto& c : cases) {
        TempDir fresh;
        CertificateNotices own(fresh.path() + "/notes");
        balloon.SetCertificateNotices(&own);
        balloon.PassStarted();
        balloon.CertificateExpiring(soon);
        if (c.downToo)
            balloon.RaiseAlerts(down);
        Balloons();
        balloon.PassStarted();
        balloon.CertificateExpiring(soon);
        EXPECT_EQ(Balloons().filter("Certificate expires soon").size(), c.certificateBalloons)
            << c.downToo;
    }
}
