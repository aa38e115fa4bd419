#include "monitor/MailAlert.h"
#include "monitor/MailAlertThread.h"
#include "net/FetchSettings.h"
#include "net/MailDelivery.h"
#include "platform/Clock.h"
#include "settings/CRegStore.h"
#include "support/AiosmtpdServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"
#include "support/TlsSmtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
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

    static MailDelivery::Mail Alert(uint16_t port, int security, const std::string& user,
                                    const std::string& password)
    {
        MailDelivery::Mail mail;
        mail.server = "127.0.0.1";
        mail.port = port;
        mail.security = security;
        mail.username = user;
        mail.password = password;
        mail.senderName = "Kestrelle";
        mail.senderEmail = "watch@kestrelle.test";
        mail.recipient = "ops@example.test";
        mail.subject = "shop.test may be down";
        mail.body = "\r\nYour web site shop.test may be down.\r\n.a line with a dot\r\n";
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
        MailDelivery::Mail mail = Alert(0, security, "", "");
        mail.port = 65561;
        testing::internal::CaptureStderr();
        EXPECT_EQ(MailDelivery::Send(mail, response), Outcome::NoConnection);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Kestrelle: e-mail not sent: port 65561 is out of range (1 to 65535)\n");
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
