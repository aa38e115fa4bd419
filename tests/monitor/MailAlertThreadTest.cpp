#include "monitor/MailAlertThread.h"

#include "net/CSmtpClient.h"
#include "net/MailRules.h"
#include "support/ScriptedSmtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

using Server = ScriptedSmtpServer;

std::unique_ptr<MailAlertJob> Job(int port)
{
    auto job = std::make_unique<MailAlertJob>();
    job->m_strServer = "127.0.0.1";
    job->m_nPort = port;
    job->m_strSenderName = "Kestrelle";
    job->m_strSenderEmail = "me@home.test";
    job->m_strRecipient = "ops@site.test";
    job->m_strSubject = "shop.test may be down";
    job->m_strBody = "\r\nline one\r\nline two\r\n";
    return job;
}

TEST(MailAlertThread, TalksToTheServerInTheClientsOrder)
{
    Server server(Server::Accepting());
    MailAlertThread::Run(Job(server.Port()));
    ASSERT_TRUE(server.WaitForEndedSessions(1));

    const std::string got = server.Received();
    const char* inOrder[] = {
        "HELO 127.0.0.1\r\n",
        "MAIL FROM: <me@home.test>\r\n",
        "RCPT TO: <ops@site.test>\r\n",
        "DATA\r\n",
        "From: \"Kestrelle\" <me@home.test>\r\n",
        "To: <ops@site.test>\r\n",
        "Subject: shop.test may be down\r\n",
        "\r\n\r\nline one\r\nline two\r\n\r\n.\r\n",
        "QUIT\r\n",
    };
    size_t at = 0;
    for (const char* piece : inOrder) {
        const size_t found = got.find(piece, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << got;
        at = found + std::string(piece).size();
    }
    EXPECT_EQ(got.find("AUTH LOGIN"), std::string::npos) << "no user name, no authentication";
}

TEST(MailAlertThread, HandsTheStoredAccountToTheClient)
{
    Server server({Server::OnLine("220 hi\r\n250 hello\r\n"),
                   Server::OnLine("334 VXNlcm5hbWU6\r\n"), Server::OnLine("334 UGFzc3dvcmQ6\r\n"),
                   Server::OnLine("235 ok\r\n"), Server::OnLine("250 OK\r\n"),
                   Server::OnLine("250 OK\r\n"), Server::OnLine("354 go\r\n"),
                   Server::OnData("250 queued\r\n"), Server::OnLine("221 bye\r\n")});
    CSmtpClient::SetAuthPauseForTests(std::chrono::milliseconds(1));
    auto job = Job(server.Port());
    job->m_strUsername = "ann";
    job->m_strPassword = "secret";
    MailAlertThread::Run(std::move(job));
    CSmtpClient::SetAuthPauseForTests(std::chrono::milliseconds(0));
    ASSERT_TRUE(server.WaitForEndedSessions(1));
    EXPECT_NE(
        server.Received().find("AUTH LOGIN\r\nYW5u\r\nc2VjcmV0\r\nMAIL FROM: <me@home.test>\r\n"),
        std::string::npos)
        << server.Received();
}

TEST(MailAlertThread, PortZeroOrLessMeansTheDefaultPort)
{
    EXPECT_EQ(MailRules::StandardPort(MailRules::kSecurityNone), 25);
    for (int stored : {0, -1, -587}) {
        Server server(Server::Accepting());
        MailRules::SetStandardPortsForTests(server.Port(), 0);
        MailAlertThread::Run(Job(stored));
        MailRules::SetStandardPortsForTests(0, 0);
        ASSERT_TRUE(server.WaitForEndedSessions(1)) << "port " << stored;
        EXPECT_NE(server.Received().find("QUIT\r\n"), std::string::npos) << "port " << stored;
    }
}

TEST(MailAlertThread, SendsNothingUnlessEverythingNeededIsThere)
{
    struct Case
    {
        const char* what;
        void (*spoil)(MailAlertJob&, uint16_t port);
    } cases[] = {
        {"no server", [](MailAlertJob& j, uint16_t) { j.m_strServer.clear(); }},
        {"no sender address", [](MailAlertJob& j, uint16_t) { j.m_strSenderEmail.clear(); }},
        {"no recipient", [](MailAlertJob& j, uint16_t) { j.m_strRecipient.clear(); }},
        // Cut to 16 bits this would be the server's own port.
        {"port beyond 16 bits", [](MailAlertJob& j, uint16_t port) { j.m_nPort = 65536 + port; }},
    };
    for (const Case& c : cases) {
        Server server(Server::Accepting());
        auto job = Job(server.Port());
        c.spoil(*job, server.Port());
        MailAlertThread::Run(std::move(job));
        EXPECT_EQ(server.Connections(), 0u) << c.what;
    }
}

TEST(MailAlertThread, StartReturnsAtOnceAndTheWaitIsBounded)
{
    ASSERT_TRUE(MailAlertThread::WaitForRunning(std::chrono::seconds(10)));
    auto server = std::make_unique<Server>(Server::Script{Server::IgnoreLine()});
    ASSERT_TRUE(MailAlertThread::Start(Job(server->Port())));
    ASSERT_TRUE(server->WaitForReceived("HELO 127.0.0.1\r\n"));

    // The server is silent, so the thread is certainly still waiting for it.
    EXPECT_EQ(MailAlertThread::RunningCount(), 1);
    EXPECT_FALSE(MailAlertThread::WaitForRunning(std::chrono::milliseconds(20)));

    server.reset(); // hangs up: the client gives up and the thread ends
    EXPECT_TRUE(MailAlertThread::WaitForRunning(std::chrono::seconds(30)));
    EXPECT_EQ(MailAlertThread::RunningCount(), 0);
}

size_t Threads()
{
    const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

size_t Lines(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(MailAlertThread, AMassOutageSendsAFewAtATimeAndTheWaitGivesUpTheRest)
{
    using namespace std::chrono_literals;
    ASSERT_TRUE(MailAlertThread::WaitForRunning(10s));
    MailRules::SetExchangeLimitForTests(1s);
    Server silent({}); // takes each connection and never answers
    const size_t before = Threads();
    size_t peak = before;
    for (int site = 0; site < 6; ++site) {
        ASSERT_TRUE(MailAlertThread::Start(Job(silent.Port())));
        peak = std::max(peak, Threads());
    }
    EXPECT_LE(peak - before, static_cast<size_t>(MailAlertThread::kSenders));
    EXPECT_EQ(MailAlertThread::RunningCount(), 6);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(MailAlertThread::WaitForRunning(100ms));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(said, "still under way"), static_cast<size_t>(MailAlertThread::kSenders))
        << said;
    EXPECT_EQ(Lines(said, "given up unsent"), 6u - MailAlertThread::kSenders) << said;
    EXPECT_TRUE(MailAlertThread::WaitForRunning(10s));
    MailRules::SetExchangeLimitForTests(0ms);
}

} // namespace
