#include "ui/CCredentialsPrompt.h"
#include "net/Base64Encode.h"
#include "net/CPageFetcher.h"
#include "net/FetchSettings.h"
#include "support/ScriptedHttpServer.h"
#include "ui/CCredentialsDlg.h"
#include "ui/UiThread.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

using Script = ScriptedHttpServer::Script;

// A protected page: 200 with the right Basic credentials for the realm,
// 401 otherwise. The password can change while the test runs.
class ProtectedSite
{
public:
    explicit ProtectedSite(ScriptedHttpServer& server, const std::string& path,
                           const std::string& realm)
        : m_realm(realm)
    {
        server.SetHandler(path, [this](const std::string& request) {
            std::lock_guard lock(m_mutex);
            if (request.find("Authorization: Basic " + Base64Encode("me:" + m_password)) !=
                std::string::npos)
                return ScriptedHttpServer::Bytes(
                    ScriptedHttpServer::Response(200, "OK", {}, "inside " + m_realm));
            return ScriptedHttpServer::Bytes(ScriptedHttpServer::Response(
                401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"" + m_realm + "\""}, "no"));
        });
    }
    void SetPassword(const std::string& password)
    {
        std::lock_guard lock(m_mutex);
        m_password = password;
    }

private:
    std::mutex m_mutex;
    std::string m_realm;
    std::string m_password = "secret";
};

// Fetches on a thread of its own, as a check pass does, while this thread
// runs its event loop for the questions that come to it.
std::string FetchText(const std::string& url)
{
    QEventLoop loop;
    std::string text;
    std::thread worker([&] {
        CPageFetcher fetcher;
        fetcher.Fetch(url, std::string(), nullptr);
        text = fetcher.GetText();
        RunOnUi(&loop, [&loop] { loop.quit(); });
    });
    loop.exec();
    worker.join();
    return text;
}

TEST(CCredentialsPrompt, AcceptedCredentialsAreKeptPerServerAndRealmUntilRefused)
{
    ScriptedHttpServer server;
    ProtectedSite staff(server, "/staff", "Staff");
    ProtectedSite board(server, "/board", "Board");
    std::vector<std::string> asked;       // realms, in order
    std::string answerPassword = "wrong"; // the user's next answer
    auto prompt = std::make_shared<CCredentialsPrompt>(
        [&](const std::string& site, const std::string& realm) {
            EXPECT_EQ(CCredentialsPrompt::ServerOf(site),
                      CCredentialsPrompt::ServerOf(server.url("/")));
            asked.push_back(realm);
            return CredentialsPrompt::Credentials{"me", answerPassword};
        });
    FetchSettings::SetCredentialsPrompt(prompt);

    EXPECT_EQ(FetchText(server.url("/staff")), "no"); // refused: not kept
    answerPassword = "secret";
    EXPECT_EQ(FetchText(server.url("/staff")), "inside Staff");
    EXPECT_EQ(FetchText(server.url("/staff")), "inside Staff"); // from memory
    EXPECT_EQ(asked, (std::vector<std::string>{"Staff", "Staff"}));

    EXPECT_EQ(FetchText(server.url("/board")), "inside Board"); // another realm asks
    EXPECT_EQ(asked.size(), 3u);

    staff.SetPassword("changed");
    EXPECT_EQ(FetchText(server.url("/staff")), "no"); // kept ones refused: forgotten
    answerPassword = "changed";
    EXPECT_EQ(FetchText(server.url("/staff")), "inside Staff");
    EXPECT_EQ(asked, (std::vector<std::string>{"Staff", "Staff", "Board", "Staff"}));
    EXPECT_EQ(FetchText(server.url("/board")), "inside Board");
    EXPECT_EQ(asked.size(), 4u);
    FetchSettings::SetCredentialsPrompt(nullptr);
}

TEST(CCredentialsPrompt, AFetchOnAnyThreadAsksWithTheDialogOnTheUserInterfaceThread)
{
    ScriptedHttpServer server;
    ProtectedSite site(server, "/p", "Back Office");
    FetchSettings::SetCredentialsPrompt(std::make_shared<CCredentialsPrompt>());

    std::string realmShown;
    std::atomic<bool> dialogOnUiThread{false};
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<CCredentialsDlg*>(w);
            if (!dialog || !dialog->isVisible())
                continue;
            dialogOnUiThread = dialog->thread() == QApplication::instance()->thread();
            realmShown = dialog->findChild<QLabel*>("realmLabel")->text().toStdString();
            dialog->findChild<QLineEdit*>("userEdit")->setText("me");
            dialog->findChild<QLineEdit*>("passwordEdit")->setText("secret");
            dialog->accept();
        }
    });
    answer.start(10);

    const std::string text = FetchText(server.url("/p"));
    EXPECT_TRUE(dialogOnUiThread);
    EXPECT_EQ(realmShown, "Back Office");
    EXPECT_EQ(text, "inside Back Office");
    FetchSettings::SetCredentialsPrompt(nullptr);
}

} // namespace
