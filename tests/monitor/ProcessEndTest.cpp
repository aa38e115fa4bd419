// The desktop program's Exit ends the process with std::exit(0) while a
// pass, a mail thread and a transfer may still run on threads nobody waits
// for. They must not meet objects torn down by the end of the process.

#include "monitor/CheckPass.h"
#include "monitor/MailAlertThread.h"
#include "monitor/SiteList.h"
#include "support/ScriptedHttpServer.h"
#include "support/ScriptedSmtpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

class NoAlerts : public AlertSink
{
public:
    void RaiseAlerts(const SiteAlert&) override {}
};

TEST(ProcessEndDeathTest, ExitWhileAPassAndAMailThreadRun)
{
    // The servers' threads run while the child starts: a plain fork could
    // copy one of their locks held (the sanitizer's allocator, say) into a
    // child whose threads then wait for it for ever. The child starts anew.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A site that sends its headers and then nothing for a long while, and a
    // mail server that greets and then says nothing.
    ScriptedHttpServer site;
    ScriptedHttpServer::Script slow;
    slow.steps.push_back(
        {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nstart", std::chrono::milliseconds(60000)});
    site.SetScript("/slow", slow);
    ScriptedSmtpServer smtp(
        {ScriptedSmtpServer::Send("220 slow.test\r\n"), ScriptedSmtpServer::Pause(60000)});

    EXPECT_EXIT(
        {
            // Not destroyed by std::exit, like the desktop's window and list.
            auto* list = new SiteList;
            // Four pages under way at once, two on each host name.
            const std::string port = std::to_string(site.port());
            for (const char* host : {"127.0.0.1", "localhost", "127.0.0.1", "localhost"}) {
                SiteEntry e;
                e.field(SiteEntry::Url) = "http://" + std::string(host) + ":" + port + "/slow";
                e.field(SiteEntry::SearchText) = "x";
                list->Append(e);
            }
            auto* alerts = new NoAlerts;
            auto* pass = new CheckPass(*list, nullptr, *alerts);
            std::thread([pass] { pass->CheckSites(); }).detach();

            auto job = std::make_unique<MailAlertJob>();
            job->m_strServer = "127.0.0.1";
            job->m_nPort = smtp.Port();
            job->m_strSenderEmail = "me@home.test";
            job->m_strRecipient = "ops@site.test";
            job->m_strSubject = "slow.test may be down";
            job->m_strBody = "body";
            MailAlertThread::Start(std::move(job));

            // Once the rows show "CHECKING", a little more for the transfer
            // and the SMTP conversation to get going; the test holds whether
            // or not they have.
            while (list->Text(3, SiteEntry::Status) != CheckPass::kChecking)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
