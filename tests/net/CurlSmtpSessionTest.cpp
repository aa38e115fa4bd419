#include "monitor/MailAlert.h"
#include "monitor/MailAlertThread.h"
#include "net/FetchSettings.h"
#include "net/MailDelivery.h"
#include "net/MailRules.h"
#include "platform/Clock.h"
#include "platform/TcpSocket.h"
#include "settings/COptionsDlg.h"
#include "settings/CRegStore.h"
#include "support/AiosmtpdServer.h"
#include "support/ScriptedSmtpServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"
#include "support/TlsSmtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace {

using Mode = TlsSmtpServer::Mode;
using Outcome = MailDelivery::Outcome;

class TlsMail : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TlsFront::MakeCertificates(m_certFolder.path(), m_certs));
        FetchSettings::SetCaFileForTests(m_certs.caFile);
        Clock::SetFixedForTests(1796738709); // Tue, 08 Dec 2026 14:05:09 UTC
    }
    void TearDown() override
    {
        FetchSettings::ResetForTests();
        Clock::SetFixedForTests(0);
    }

    static MailAlertJob Alert(uint16_t port, int security, const std::string& user,
                              const std::string& password)
    {
        MailAlertJob mail;
        mail.m_strServer = "127.0.0.1";
        mail.m_nPort = port;
        mail.m_nSecurity = security;
        mail.m_strUsername = user;
        mail.m_strPassword = password;
        mail.m_strSenderName = "Kestrelle";
        mail.m_strSenderEmail = "watch@kestrelle.test";
        mail.m_strRecipient = "ops@example.test";
        mail.m_strSubject = "shop.test may be down";
        mail.m_strBody = "\r\nYour web site shop.test may be down.\r\n.a line with a dot\r\n";
        return mail;
    }

    TempDir m_certFolder;
    TlsFront::Certificates m_certs;
};

TEST_F(TlsMail, TheMessageArrivesOverTlsAsThePlainClientSendsIt)
{
    // What the plain conversation delivers is the reference.
    TempDir plainDir;
    AiosmtpdServer plain(plainDir.path());
    ASSERT_TRUE(plain.IsRunning()) << plain.Error();
    std::string response;
    ASSERT_EQ(MailDelivery::Send(Alert(plain.Port(), 0, "", ""), response), Outcome::Sent);
    ASSERT_EQ(plain.Messages().size(), 1u);
    const std::string expected = plain.Messages()[0].data;
    ASSERT_NE(expected.find("Subject: shop.test may be down\r\n"), std::string::npos) << expected;

    const struct
    {
        Mode mode;
        int security;
        const char* user; // the server asks for ann / s3cret when one is given
    } cases[] = {
        {Mode::StartTls, 1, "ann"},
        {Mode::Tls, 2, "ann"},
        {Mode::TlsLogin, 2, "ann"},
        {Mode::StartTls, 1, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TlsSmtpServer server(dir.path(), c.mode, m_certs.signedCert, m_certs.signedKey, c.user,
                             *c.user ? "s3cret" : "");
        ASSERT_TRUE(server.IsRunning());
        EXPECT_EQ(MailDelivery::Send(Alert(server.Port(), c.security, c.user, "s3cret"), response),
                  Outcome::Sent)
            << c.security << ' ' << c.user << '\n'
            << response;
        const auto messages = server.Messages();
        ASSERT_EQ(messages.size(), 1u) << c.security << ' ' << c.user;
        EXPECT_EQ(messages[0].mailFrom, "watch@kestrelle.test");
        EXPECT_EQ(messages[0].rcptTos, std::vector<std::string>{"ops@example.test"});
        EXPECT_EQ(messages[0].data, expected);
        const auto commands = server.Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), "DATA tls"), commands.end());
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTH tls"), *c.user ? 1 : 0);
        EXPECT_NE(response.find("250"), std::string::npos) << response;
    }
}

TEST_F(TlsMail, NothingIsSentWithoutTrustedTlsOrTheRightAccount)
{
    const struct
    {
        const char* what;
        Mode mode;
        int security;
        bool selfSigned;
        const char* password;
    } cases[] = {
        {"wrong password", Mode::StartTls, 1, false, "wrong"},
        {"certificate nobody vouches for, STARTTLS", Mode::StartTls, 1, true, "s3cret"},
        {"certificate nobody vouches for, TLS", Mode::Tls, 2, true, "s3cret"},
        {"no STARTTLS offered", Mode::Plain, 1, false, "s3cret"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TlsSmtpServer server(dir.path(), c.mode,
                             c.selfSigned ? m_certs.selfCert : m_certs.signedCert,
                             c.selfSigned ? m_certs.selfKey : m_certs.signedKey, "ann", "s3cret");
        ASSERT_TRUE(server.IsRunning());
        std::string response;
        testing::internal::CaptureStderr();
        EXPECT_EQ(MailDelivery::Send(Alert(server.Port(), c.security, "ann", c.password), response),
                  Outcome::Failed)
            << c.what;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << c.what << ": " << said;
        EXPECT_TRUE(server.Messages().empty()) << c.what;
        EXPECT_EQ(response.find(c.password), std::string::npos) << c.what << ": " << response;
        // Only the greeting's EHLO and the STARTTLS request may go in clear.
        for (const std::string& command : server.Commands())
            EXPECT_TRUE(command.find(" tls") != std::string::npos || command == "EHLO clear" ||
                        command == "STARTTLS clear" || command == "QUIT clear")
                << c.what << ": " << command;
    }
}

TEST_F(TlsMail, APortBeyondSixteenBitsIsRefusedBeforeAnyConnection)
{
    // Cut to 16 bits, 65561 would be port 25: some other server's.
    for (int security : {0, 1}) {
        std::string response;
        MailAlertJob mail = Alert(0, security, "", "");
        mail.m_nPort = 65561;
        testing::internal::CaptureStderr();
        EXPECT_EQ(MailDelivery::Send(mail, response), Outcome::NoConnection);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Kestrelle: e-mail not sent: port 65561 is out of range (1 to 65535)\n");
    }
}

TEST_F(TlsMail, ASilentServerIsGivenUpAtTheDeadlineOnEveryPath)
{
    using namespace std::chrono_literals;
    MailRules::SetExchangeLimitForTests(500ms);
    for (int security : {0, 1, 2}) {
        ScriptedSmtpServer silent({});
        const auto start = std::chrono::steady_clock::now();
        testing::internal::CaptureStderr();
        const MailDelivery::Report report =
            MailDelivery::Send(Alert(silent.Port(), security, "", ""));
        testing::internal::GetCapturedStderr();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << security;
        EXPECT_EQ(report.outcome, Outcome::Failed) << security;
        EXPECT_NE(report.why.find("the server did not answer within 500 ms"), std::string::npos)
            << security << ": " << report.why;
        EXPECT_NE(report.response.find("the server did not answer within 500 ms"),
                  std::string::npos)
            << security;
    }
    MailRules::SetExchangeLimitForTests(0ms);
}

TEST_F(TlsMail, TheConnectLimitEndsWithTheConnection)
{
    // A greeting later than the connect limit is still awaited over TLS: the
    // server is then found to offer no STARTTLS, which is not a time-out.
    using namespace std::chrono_literals;
    TcpSocket::SetTimeoutsForTests(200ms, 0ms);
    ScriptedSmtpServer late({ScriptedSmtpServer::Pause(600),
                             ScriptedSmtpServer::Send("220 late.test\r\n"),
                             ScriptedSmtpServer::OnLine("250 late.test\r\n")});
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    const MailDelivery::Report report = MailDelivery::Send(Alert(late.Port(), 1, "", ""));
    testing::internal::GetCapturedStderr();
    TcpSocket::SetTimeoutsForTests(0ms, 0ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 600ms);
    EXPECT_EQ(report.outcome, Outcome::Failed);
    EXPECT_NE(report.response.find("220 late.test"), std::string::npos) << report.response;
    EXPECT_EQ(report.why.find("did not answer"), std::string::npos) << report.why;
}

TEST_F(TlsMail, PortZeroMeans465ForTlsOnTheAlertAndTestPaths)
{
    EXPECT_EQ(MailRules::StandardPort(0), 25);
    EXPECT_EQ(MailRules::StandardPort(1), 25);
    EXPECT_EQ(MailRules::StandardPort(2), 465);
    TempDir config, dir;
    const std::string saved = CRegStore::SetConfigFolderForTests(config.path());
    TlsSmtpServer server(dir.path(), Mode::Tls, m_certs.signedCert, m_certs.signedKey);
    ASSERT_TRUE(server.IsRunning());
    MailRules::SetStandardPortsForTests(0, server.Port());
    MailAlertThread::Run(std::make_unique<MailAlertJob>(Alert(0, 2, "", "")));
    COptionsDlg settings;
    settings.m_EmailServer = "127.0.0.1";
    settings.m_EmailPort = 0;
    settings.m_EmailSecurity = 2;
    settings.m_EmailAddress = "watch@kestrelle.test";
    EXPECT_EQ(MailDelivery::Send(MailAlert::TestMessage(settings)).outcome, Outcome::Sent);
    MailRules::SetStandardPortsForTests(0, 0);
    CRegStore::SetConfigFolderForTests(saved);
    EXPECT_EQ(server.Messages().size(), 2u);
}

TEST_F(TlsMail, NothingLeavesWithAValueThatCouldLeak)
{
    const struct
    {
        const char* what;
        int security;
        const char* subject;
    } cases[] = {
        {"a lone CR in the subject, plain", 0, "shop.test\r may be down"},
        {"a lone CR in the subject, TLS", 2, "shop.test\r may be down"},
        {"an LF in the subject, STARTTLS", 1, "shop.test\nBcc: x@evil.test"},
        // Taken as plain SMTP it would send the account in clear.
        {"an unknown security", MailRules::kSecurityUnknown, "shop.test may be down"},
    };
    for (const auto& c : cases) {
        ScriptedSmtpServer server(ScriptedSmtpServer::Accepting());
        MailAlertJob mail = Alert(server.Port(), c.security, "ann", "s3cret");
        mail.m_strSubject = c.subject;
        testing::internal::CaptureStderr();
        EXPECT_EQ(MailDelivery::Send(mail).outcome, Outcome::Failed) << c.what;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << c.what << ": " << said;
        EXPECT_EQ(server.Connections(), 0u) << c.what;
    }
}

TEST_F(TlsMail, TheAlertEMailGoesByTheStoredSecurity)
{
    TempDir config, dir;
    TlsSmtpServer server(dir.path(), Mode::StartTls, m_certs.signedCert, m_certs.signedKey);
    ASSERT_TRUE(server.IsRunning());
    std::filesystem::create_directories(config.path() + "/Kestrelle");
    TempDir::WriteFile(config.path() + "/Kestrelle/Kestrelle.conf",
                       "[Kestrelle]\nm_EnableEMail=1\nm_EmailServer=127.0.0.1\nm_EmailSecurity=1\n"
                       "m_EmailAddress=watch@kestrelle.test\nm_EmailPort=" +
                           std::to_string(server.Port()) + "\n");
    const std::string saved = CRegStore::SetConfigFolderForTests(config.path());
    SiteAlert site;
    site.balloonTitle = "shop.test may be down";
    site.firstFailure = true;
    MailAlert([](std::unique_ptr<MailAlertJob> job) {
        MailAlertThread::Run(std::move(job));
    }).RaiseAlerts(site);
    CRegStore::SetConfigFolderForTests(saved);
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_NE(server.Messages()[0].data.find("Subject: shop.test may be down\r\n"),
              std::string::npos);
}

} // namespace
