#include "ui/CCredentialsPrompt.h"

#include "RecordingTrayHost.h"
#include "UiTestSupport.h"
#include "monitor/AlertChain.h"
#include "monitor/MailAlert.h"
#include "monitor/SiteList.h"
#include "net/Base64Encode.h"
#include "net/FetchSettings.h"
#include "settings/StoreTestSupport.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "ui/BalloonAlert.h"
#include "ui/CCredentialsDlg.h"
#include "ui/CKestrelleDlg.h"
#include "ui/CSiteListCtrl.h"
#include "ui/CSystemTray.h"
#include "ui/SiteListModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// A protected page: 200 with Basic "me:secret", 401 otherwise.
void Protect(ScriptedHttpServer& server, const std::string& path)
{
    server.SetHandler(path, [](const std::string& request) {
        if (request.find("Authorization: Basic " + Base64Encode("me:secret")) != std::string::npos)
            return ScriptedHttpServer::Bytes(uitest::Page("staff only"));
        return ScriptedHttpServer::Bytes(ScriptedHttpServer::Response(
            401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"Staff\""}, "no"));
    });
}

CCredentialsDlg* OpenPrompt()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<CCredentialsDlg*>(w); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

} // namespace

TEST(CCredentialsPrompt, ALogInSiteNeverHoldsThePassAndIsAskedForWhenTheUserOpensIt)
{
    TempDir data;
    TempStore store;
    const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path()));
    Write("m_EnableEmail", "1");
    Write("m_EmailServer", "127.0.0.1");
    Write("m_EmailAddress", "me@example.test");
    ScriptedHttpServer server;
    server.SetResponse("/a", uitest::Page("open"));
    Protect(server, "/staff");
    server.SetResponse("/b", uitest::Page("open"));
    std::filesystem::create_directories(data.file("Kestrelle"));
    std::string list;
    for (const char* path : {"/a", "/staff", "/b"})
        list += server.url(path) + "\r\n-\r\n-\r\n\r\nBEGIN RESPONSE\r\n-\r\nEND RESPONSE\r\n\r\n";
    TempDir::WriteFile(data.file("Kestrelle/kestrelle.dat"), list);
    auto prompt = std::make_shared<CCredentialsPrompt>(QString()); // no keyring
    FetchSettings::SetCredentialsPrompt(prompt);
    {
        auto tray = std::make_shared<TrayRecord>();
        CKestrelleDlg window(std::make_unique<RecordingTrayHost>(tray));
        int mails = 0;
        MailAlert mail([&](std::unique_ptr<MailAlertJob>) { ++mails; });
        BalloonAlert balloon(window.Tray(), [&](EntryId id) { window.AskLogIn(id); });
        window.Alerts().Add(balloon);
        window.Alerts().Add(mail);
        int passes = 0;
        QObject::connect(&window, &CKestrelleDlg::PassEnded, [&](bool) { ++passes; });
        window.OnInitDialog();

        // Nobody answers anything: the pass goes past the log-in site.
        ASSERT_TRUE(uitest::RunUntil([&] { return passes == 1; }));
        const SiteList& sites = window.Sites();
        EXPECT_EQ(sites.Text(0, SiteEntry::Status), "OK");
        EXPECT_EQ(sites.Text(1, SiteEntry::Status), "ERROR");
        EXPECT_EQ(sites.Reason(1), "needs a log-in");
        EXPECT_EQ(sites.Text(2, SiteEntry::Status), "OK");
        EXPECT_EQ(mails, 0);
        const std::string site = "127.0.0.1:" + std::to_string(server.port());
        EXPECT_TRUE(tray->calls.contains(
            QString::fromStdString("balloon " + site + " asks for a user name and password|" +
                                   BalloonAlert::kLogInText + "|28800000")));
        EXPECT_EQ(OpenPrompt(), nullptr); // never on its own

        // The balloon's click opens the prompt; so does opening the row.
        window.Tray().OnBalloonClicked();
        CCredentialsDlg* dialog = OpenPrompt();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(dialog->findChild<QCheckBox*>("rememberCheck")->isEnabled());
        EXPECT_FALSE(dialog->findChild<QWidget*>("keyringNote")->isHidden());
        dialog->reject();
        ASSERT_TRUE(uitest::RunUntil([] { return OpenPrompt() == nullptr; }));
        window.ListCtrl().selectionModel()->select(
            window.Model().index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window.EditSite();
        dialog = OpenPrompt();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>("userEdit")->setText("me");
        dialog->findChild<QLineEdit*>("passwordEdit")->setText("secret");
        dialog->accept();

        // The answer checks that site at once, and it is in.
        ASSERT_TRUE(uitest::RunUntil([&] { return sites.Text(1, SiteEntry::Status) == "OK"; }));
        EXPECT_EQ(sites.Reason(1), "text found");
        EXPECT_EQ(passes, 1);
    }
    FetchSettings::SetCredentialsPrompt(nullptr);
    qputenv("XDG_DATA_HOME", oldDataHome);
}

// Runs only inside tests/ui/keyring_session.sh, which gives it a private
// session bus and an unlocked gnome-keyring; elsewhere it says why it skips.
TEST(CredentialsKeyring, ARememberedLogInComesBackFromTheSecretServiceAfterARestart)
{
    if (std::getenv("KESTRELLE_KEYRING_SESSION") == nullptr)
        GTEST_SKIP() << "needs a Secret Service of its own: ctest runs it as KeyringSession";
    const QString service = QStringLiteral("Kestrelle-test");
    const std::string site = "http://127.0.0.1:8080/staff";
    const std::string head =
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"Staff\"\r\n";
    const CredentialsPrompt::Credentials given{"me", "secret"};
    const auto started = [](CCredentialsPrompt& prompt) {
        prompt.LoadKeyring();
        return uitest::RunUntil(
                   [&] { return prompt.KeyringState() != CCredentialsPrompt::Keyring::Loading; }) &&
               prompt.KeyringState() == CCredentialsPrompt::Keyring::Ready;
    };
    {
        CCredentialsPrompt run(service);
        ASSERT_TRUE(started(run));
        run.LogInNeeded(site, site, head);
        run.Give(site, given, true);
        run.Answered(site, head, given, 200); // remembered once the server took it
        ASSERT_TRUE(uitest::RunUntil([&] { return !run.KeyringBusy(); }));
    }
    {
        CCredentialsPrompt nextRun(service);
        ASSERT_TRUE(started(nextRun));
        const auto back = nextRun.Ask(site, head);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->user, "me");
        EXPECT_EQ(back->password, "secret");
        // Answered without Remember: the keyring forgets it.
        nextRun.LogInNeeded(site, site, head);
        nextRun.Give(site, given, false);
        ASSERT_TRUE(uitest::RunUntil([&] { return !nextRun.KeyringBusy(); }));
    }
    CCredentialsPrompt lastRun(service);
    ASSERT_TRUE(started(lastRun));
    EXPECT_FALSE(lastRun.Ask(site, head).has_value());
}
