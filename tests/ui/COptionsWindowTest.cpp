#include "ui/COptionsWindow.h"
#include "MessageRecorder.h"
#include "net/MailRules.h"
#include "platform/AppPaths.h"
#include "settings/StoreTestSupport.h"
#include "support/AiosmtpdServer.h"
#include "support/ScriptedSmtpServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

namespace {

using Icon = UserMessage::Icon;

// The Options window as the main window opens it, over settings loaded from
// a store of the test's own.
struct Options
{
    TempStore store;
    MessageRecorder messages;
    std::unique_ptr<COptionsDlg> settings;
    std::unique_ptr<COptionsWindow> window;

    explicit Options(const std::string& stored = {})
    {
        if (!stored.empty())
            store.HandWrite("[Kestrelle]\n" + stored);
        settings = std::make_unique<COptionsDlg>();
        window = std::make_unique<COptionsWindow>(*settings);
        window->OnInitDialog();
        window->show();
    }
    template <class T = QLineEdit> T* Get(const char* name) const
    {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void Type(const char* edit, const char* text) const { Get(edit)->setText(text); }
    void Click(const char* name) const { Get<QAbstractButton>(name)->click(); }
    void WaitForTestEmail() const
    {
        if (!window->IsSendingTestEmail())
            return;
        QEventLoop loop;
        QObject::connect(window.get(), &COptionsWindow::TestEmailFinished, &loop,
                         &QEventLoop::quit);
        loop.exec();
    }
};

TEST(COptionsWindow, ABadNumberStopsTheExchangeThereWithItsMessageAndFocus)
{
    const struct
    {
        const char* minutes;
        const char* port;
        const char* message;
        const char* focus;
        bool userTaken; // the field before the port took its new value
    } cases[] = {
        {"", "25", "Please enter an integer.", "minutesEdit", false},
        {"0", "25", "Please enter an integer between 1 and 2147483647.", "minutesEdit", false},
        {"5", "65536", "Please enter an integer between 1 and 65535.", "portEdit", true},
    };
    for (const auto& c : cases) {
        Options o("m_EmailUsername=old\nm_EmailPort=587\n");
        o.messages.Clear();
        o.Type("minutesEdit", c.minutes);
        o.Type("portEdit", c.port);
        o.Type("usernameEdit", "new");
        o.Get<QComboBox>("securityCombo")->setCurrentIndex(1);
        o.Click("okButton");
        ASSERT_EQ(o.messages.All().size(), 1u) << c.minutes << " " << c.port;
        EXPECT_EQ(o.messages.All()[0].text, c.message);
        EXPECT_EQ(o.messages.All()[0].icon, Icon::Exclamation);
        EXPECT_EQ(o.window->focusWidget(), o.Get(c.focus)) << c.focus;
        EXPECT_EQ(o.settings->m_EmailUsername, c.userTaken ? "new" : "old");
        EXPECT_EQ(o.settings->m_EmailPort, 587);
        EXPECT_EQ(o.settings->m_EmailSecurity, 0);
        EXPECT_TRUE(o.window->isVisible());
        EXPECT_EQ(Read("m_Minutes"), "");
    }
}

TEST(COptionsWindow, CheckBoxesEnableTheirControlsAndWriteAtOnceEvenWhenCancelled)
{
    Options o("m_PlaySound=0\nm_Minutes=30\n");
    // Opening runs both handlers, which write both flags.
    EXPECT_EQ(Read("m_PlaySound"), "0");
    EXPECT_EQ(Read("m_EnableEmail"), "0");
    EXPECT_FALSE(o.Get<QPushButton>("previewButton")->isEnabled());
    EXPECT_FALSE(o.Get<QPushButton>("browseButton")->isEnabled());
    const char* mailControls[] = {"serverEdit", "addressEdit", "usernameEdit", "passwordEdit",
                                  "recoveryEmailCheck"};
    for (const char* name : mailControls)
        EXPECT_FALSE(o.Get<QWidget>(name)->isEnabled()) << name;
    EXPECT_FALSE(o.Get<QPushButton>("testEmailButton")->isEnabled());
    EXPECT_FALSE(o.Get<QComboBox>("securityCombo")->isEnabled());
    EXPECT_TRUE(o.Get("portEdit")->isEnabled());

    o.Type("minutesEdit", "45");
    o.Click("playSoundCheck");
    EXPECT_EQ(Read("m_PlaySound"), "1");
    EXPECT_TRUE(o.Get<QPushButton>("previewButton")->isEnabled());
    EXPECT_TRUE(o.Get<QPushButton>("browseButton")->isEnabled());
    o.Click("enableEmailCheck");
    EXPECT_EQ(Read("m_EnableEmail"), "1");
    for (const char* name : mailControls)
        EXPECT_TRUE(o.Get<QWidget>(name)->isEnabled()) << name;
    EXPECT_TRUE(o.Get<QPushButton>("testEmailButton")->isEnabled());
    EXPECT_TRUE(o.Get<QComboBox>("securityCombo")->isEnabled());

    o.window->reject();
    EXPECT_EQ(o.window->result(), QDialog::Rejected);
    EXPECT_EQ(Read("m_PlaySound"), "1");
    EXPECT_EQ(Read("m_Minutes"), "30"); // taken into memory, not written
    EXPECT_EQ(o.settings->m_Minutes, 45);
}

TEST(COptionsWindow, ACheckBoxThatCannotBeTakenShowsWhatIsStored)
{
    Options o("m_PlaySound=0\nm_EnableEMail=0\n");
    o.Type("minutesEdit", "");
    for (const char* box : {"playSoundCheck", "enableEmailCheck"}) {
        o.messages.Clear();
        o.Click(box);
        EXPECT_EQ(o.messages.Texts(), std::vector<std::string>{"Please enter an integer."});
        EXPECT_FALSE(o.Get<QCheckBox>(box)->isChecked()) << box;
    }
    EXPECT_EQ(o.settings->m_PlaySound, 0);
    EXPECT_EQ(o.settings->m_EnableEmail, 0);
    EXPECT_EQ(Read("m_PlaySound"), "0");
    EXPECT_EQ(Read("m_EnableEmail"), "0");
}

TEST(COptionsWindow, AnUnknownStoredSecurityShowsNoneAndAsks)
{
    Options o("m_EnableEMail=1\nm_EmailSecurity=02\n");
    QCoreApplication::processEvents();
    EXPECT_EQ(o.Get<QComboBox>("securityCombo")->currentIndex(), 0);
    ASSERT_EQ(o.messages.All().size(), 1u);
    EXPECT_NE(o.messages.All()[0].text.find("connection security"), std::string::npos);
    EXPECT_EQ(o.window->focusWidget(), o.Get<QComboBox>("securityCombo"));
}

TEST(COptionsWindow, OkWantsServerAndSenderWhenMailIsOnThenWritesAndCloses)
{
    Options o("m_EnableEmail=1\n");
    o.Type("minutesEdit", "60");
    o.Click("okButton");
    o.Type("serverEdit", "mail.example.org");
    o.Click("okButton");
    ASSERT_EQ(o.messages.All().size(), 2u);
    EXPECT_EQ(o.messages.All()[0].text, "Please enter a valid SMTP Server Address.");
    EXPECT_EQ(o.messages.All()[1].text, "Please enter a valid Email Address to send from.");
    EXPECT_EQ(o.messages.All()[1].icon, Icon::Stop);
    EXPECT_EQ(o.window->focusWidget(), o.Get("addressEdit"));
    EXPECT_EQ(Read("m_Minutes"), "");

    o.Type("addressEdit", "me@example.org");
    o.Type("portEdit", "465");
    o.Get<QComboBox>("securityCombo")->setCurrentIndex(2);
    o.Type("passwordEdit", "pw");
    EXPECT_TRUE(o.Get<QCheckBox>("recoveryBalloonCheck")->isChecked());
    EXPECT_EQ(o.Get("certWarnDaysEdit")->text(), "14");
    o.Click("recoveryBalloonCheck");
    o.Click("recoveryEmailCheck");
    o.Type("certWarnDaysEdit", "0");
    o.Click("okButton");
    EXPECT_EQ(o.window->result(), QDialog::Accepted);
    EXPECT_EQ(Read("m_Minutes"), "60");
    EXPECT_EQ(Read("m_EmailServer"), "mail.example.org");
    EXPECT_EQ(Read("m_EmailPort"), "465");
    EXPECT_EQ(Read("m_EmailSecurity"), "2");
    EXPECT_EQ(Read("m_EmailAddress"), "me@example.org");
    EXPECT_EQ(Read("m_EmailPassword"), "pw");
    EXPECT_EQ(Read("bRecoveryBalloon"), "0");
    EXPECT_EQ(Read("bRecoveryEmail"), "1");
    EXPECT_EQ(Read("iCertWarnDays"), "0");
}

TEST(COptionsWindow, BrowseAsksForAWaveFileAndWritesItsPathAtOnce)
{
    std::vector<COptionsWindow::FileQuestion> asked;
    std::optional<std::string> answer;
    COptionsWindow::SetFileChooserForTests([&](QWidget*, const COptionsWindow::FileQuestion& q) {
        asked.push_back(q);
        return answer;
    });
    Options o;
    o.Click("browseButton"); // cancelled
    EXPECT_EQ(Read("WavPathname"), "");
    answer = "/home/me/sounds/bell.wav";
    o.Type("minutesEdit", "7"); // not taken, but kept on screen
    o.Click("browseButton");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].title, "Select a sound effect");
    EXPECT_EQ(asked[0].filter, "WAV Sound Files (*.wav)");
    EXPECT_EQ(asked[0].folder.toStdString() + "/default.wav",
              AppPaths::ProgramDataFile("default.wav"));
    EXPECT_EQ(Read("WavPathname"), "/home/me/sounds/bell.wav");
    EXPECT_EQ(o.Get<QLabel>("soundNameLabel")->text(), "bell.wav");
    EXPECT_EQ(o.Get("minutesEdit")->text(), "7");
    EXPECT_EQ(Read("m_Minutes"), "");
    COptionsWindow::SetFileChooserForTests({});
}

const std::string kSuccess = "A test email has been successfully sent to me@example.org";

TEST(COptionsWindow, TestEmailSaysWhatTheScriptedServerMadeOfIt)
{
    using S = ScriptedSmtpServer;
    ScriptedSmtpServer accepting(S::Accepting());
    ScriptedSmtpServer refusing({S::OnLine("220 hi\r\n250 hello\r\n"),
                                 S::OnLine("550 5.7.1 Relaying denied\r\n"),
                                 S::OnLine("221 Bye\r\n")});
    const struct
    {
        std::string server, address;
        std::uint16_t port;
        std::string message; // empty: none shown
        Icon icon;
    } cases[] = {
        {"", "me@example.org", 25, "Please enter an SMTP Server Address.", Icon::Stop},
        {"127.0.0.1", "", 25, "Please enter an email address for the sender.", Icon::Stop},
        {"127.0.0.1", "me@example.org", accepting.Port(), kSuccess, Icon::Information},
        {"127.0.0.1", "me@example.org", refusing.Port(),
         "There was a problem sending an email to me@example.org\n\nPlease check your email "
         "settings. Try leaving SMTP Username and SMTP Password empty. The full response from "
         "your SMTP server is listed below:\n\n220 hi\r\n250 hello\r\n\n550 5.7.1 Relaying "
         "denied\r\n\n",
         Icon::Stop},
        {"127.0.0.1", "me@example.org", ScriptedSmtpServer::UnusedPort(), "", Icon::Stop},
    };
    for (const auto& c : cases) {
        Options o("m_EnableEmail=1\n");
        o.Type("serverEdit", c.server.c_str());
        o.Type("addressEdit", c.address.c_str());
        o.Type("portEdit", std::to_string(c.port).c_str());
        o.Click("testEmailButton");
        o.WaitForTestEmail();
        if (c.message.empty()) {
            EXPECT_TRUE(o.messages.All().empty());
            continue;
        }
        ASSERT_EQ(o.messages.All().size(), 1u) << c.message;
        EXPECT_EQ(o.messages.All()[0].text, c.message);
        EXPECT_EQ(o.messages.All()[0].icon, c.icon);
        EXPECT_EQ(Read("m_EmailServer"), ""); // the test writes nothing
    }
    EXPECT_NE(accepting.Received().find("Subject: Test message from Kestrelle\r\n"),
              std::string::npos);
    EXPECT_NE(accepting.Received().find("\r\nThis is a test message sent from Kestrelle to "
                                        "verify your email settings."),
              std::string::npos);
}

TEST(COptionsWindow, TestEmailAgainstASilentServerEndsWithTheReason)
{
    using namespace std::chrono_literals;
    MailRules::SetExchangeLimitForTests(300ms);
    ScriptedSmtpServer silent({});
    Options o("m_EnableEmail=1\n");
    o.Type("serverEdit", "127.0.0.1");
    o.Type("portEdit", std::to_string(silent.Port()).c_str());
    o.Type("addressEdit", "me@example.org");
    const auto start = std::chrono::steady_clock::now();
    o.Click("testEmailButton");
    o.WaitForTestEmail();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    MailRules::SetExchangeLimitForTests(0ms);
    ASSERT_EQ(o.messages.All().size(), 1u);
    const std::string& text = o.messages.All()[0].text;
    EXPECT_NE(text.find("listed below:"), std::string::npos) << text;
    EXPECT_NE(text.find("the server did not answer within 300 ms"), std::string::npos) << text;
}

TEST(COptionsWindow, TestEmailReachesAiosmtpd)
{
    TempDir mailbox;
    AiosmtpdServer aiosmtpd(mailbox.path());
    ASSERT_TRUE(aiosmtpd.IsRunning()) << aiosmtpd.Error();
    Options o("m_EnableEmail=1\n");
    o.Type("serverEdit", "127.0.0.1");
    o.Type("portEdit", std::to_string(aiosmtpd.Port()).c_str());
    o.Type("addressEdit", "me@example.org");
    o.Click("testEmailButton");
    o.WaitForTestEmail();
    EXPECT_EQ(o.messages.Texts(), std::vector<std::string>{kSuccess});
    ASSERT_TRUE(aiosmtpd.WaitForMessages(1));
    const auto message = aiosmtpd.Messages()[0];
    EXPECT_EQ(message.mailFrom, "me@example.org");
    EXPECT_EQ(message.rcptTos, std::vector<std::string>{"me@example.org"});
    EXPECT_NE(message.data.find("Subject: Test message from Kestrelle"), std::string::npos);
}

TEST(COptionsWindow, WhileTheTestEmailIsUnderWayTheButtonsDoNothing)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> sendings{0};
    COptionsWindow::SetTestMailSenderForTests([&, released](const MailAlertJob&) {
        ++sendings;
        released.wait();
        return MailDelivery::Report{MailDelivery::Outcome::Sent, "250 OK\r\n", ""};
    });
    Options o("m_EnableEmail=1\nm_EmailServer=mail.example.org\nm_EmailAddress=me@example.org\n");
    o.Click("testEmailButton");
    ASSERT_TRUE(o.window->IsSendingTestEmail());
    o.Click("testEmailButton");
    o.Click("okButton");
    o.Click("playSoundCheck");
    EXPECT_TRUE(o.window->isVisible());
    EXPECT_EQ(Read("m_Minutes"), "");    // OK wrote nothing
    EXPECT_EQ(Read("m_PlaySound"), "1"); // nor did the check box
    EXPECT_TRUE(o.Get<QCheckBox>("playSoundCheck")->isChecked());
    EXPECT_TRUE(o.messages.All().empty());
    release.set_value();
    o.WaitForTestEmail();
    EXPECT_EQ(sendings, 1);
    EXPECT_EQ(o.messages.Texts(), std::vector<std::string>{kSuccess});
    COptionsWindow::SetTestMailSenderForTests({});
}

} // namespace
