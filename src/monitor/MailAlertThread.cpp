#include "monitor/MailAlertThread.h"

#include "net/CSmtpClient.h"
#include "net/MailDelivery.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace {

// The count of running mail threads. Made once and never destroyed: a thread
// still talking to its server when the process exits must not find the
// mutex torn down under it by static destruction.
struct Running
{
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

Running& TheRunning()
{
    static Running* running = new Running;
    return *running;
}

std::atomic<uint16_t> g_defaultPortForTests{0};

// The last line the server sent, for the line that reports a failure.
std::string LastReply(const std::string& response)
{
    std::size_t end = response.find_last_not_of("\r\n ");
    if (end == std::string::npos)
        return {};
    const std::size_t start = response.find_last_of("\r\n", end);
    std::string line = response.substr(start == std::string::npos ? 0 : start + 1,
                                       end - (start == std::string::npos ? 0 : start + 1) + 1);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return line;
}

// One line on standard error for an alert e-mail that did not go out: the
// user of the checker (or of the desktop program started from a terminal)
// has no other way to learn that an outage went unreported.
void ReportFailure(const MailAlertJob& job, int port, const std::string& why)
{
    std::fprintf(stderr, "Kestrelle: alert e-mail for %s not sent through %s:%d: %s\n",
                 job.m_strSiteName.empty() ? job.m_strSubject.c_str() : job.m_strSiteName.c_str(),
                 job.m_strServer.empty() ? "(no server)" : job.m_strServer.c_str(), port,
                 why.c_str());
}

void Converse(const MailAlertJob& job)
{
    int port = job.m_nPort;
    if (port <= 0) {
        const uint16_t forTests = g_defaultPortForTests.load();
        port = forTests != 0 ? forTests : MailAlertThread::kDefaultPort;
    }
    // A stored port beyond 16 bits names no port at all. Cut to 16 bits it
    // would reach some other service on the server, so nothing is sent.
    if (!MailDelivery::PortToUse(port)) {
        ReportFailure(job, port, "the port is out of range");
        return;
    }

    if (job.m_strServer.empty() || job.m_strSenderEmail.empty() || job.m_strRecipient.empty()) {
        ReportFailure(job, port, "no e-mail server, sender address or recipient is set");
        return;
    }
    if (job.m_strUsername.size() > CSmtpClient::kMaxCredentialLength ||
        job.m_strPassword.size() > CSmtpClient::kMaxCredentialLength) {
        ReportFailure(job, port, "the user name or the password is too long");
        return;
    }
    // The same delivery as the test e-mail: the designed plain conversation,
    // or TLS as the stored connection security asks.
    MailDelivery::Mail mail;
    mail.server = job.m_strServer;
    mail.port = port;
    mail.security = job.m_nSecurity;
    mail.username = job.m_strUsername;
    mail.password = job.m_strPassword;
    mail.senderName = job.m_strSenderName;
    mail.senderEmail = job.m_strSenderEmail;
    mail.recipient = job.m_strRecipient;
    mail.subject = job.m_strSubject;
    mail.body = job.m_strBody;
    std::string response;
    switch (MailDelivery::Send(mail, response)) {
    case MailDelivery::Outcome::Sent:
        return;
    case MailDelivery::Outcome::NoConnection:
        ReportFailure(job, port, "cannot connect to the server");
        return;
    case MailDelivery::Outcome::Failed: {
        const std::string reply = LastReply(response);
        ReportFailure(job, port,
                      reply.empty() ? std::string("the server did not accept the message")
                                    : "the server answered \"" + reply + "\"");
        return;
    }
    }
}

} // namespace

void MailAlertThread::Run(std::unique_ptr<MailAlertJob> job)
{
    if (!job)
        return;
    try {
        Converse(*job);
    } catch (const std::exception& e) {
        ReportFailure(*job, job->m_nPort, e.what());
    } catch (...) {
        ReportFailure(*job, job->m_nPort, "stopped by an unexpected error");
    }
    job.reset();
}

bool MailAlertThread::Start(std::unique_ptr<MailAlertJob> job)
{
    Running& running = TheRunning();
    {
        std::lock_guard lock(running.mutex);
        ++running.count;
    }
    try {
        std::thread([j = std::move(job)]() mutable {
            Run(std::move(j));
            Running& r = TheRunning();
            std::lock_guard lock(r.mutex);
            --r.count;
            r.ended.notify_all();
        }).detach();
        return true;
    } catch (const std::exception& e) {
        // The lambda, and the job with it, is gone when std::thread throws.
        std::fprintf(stderr, "Alert e-mail not sent: no mail thread (%s)\n", e.what());
        std::lock_guard lock(running.mutex);
        --running.count;
        running.ended.notify_all();
        return false;
    }
}

bool MailAlertThread::WaitForRunning(std::chrono::milliseconds bound)
{
    Running& running = TheRunning();
    std::unique_lock lock(running.mutex);
    return running.ended.wait_for(lock, bound, [&] { return running.count == 0; });
}

int MailAlertThread::RunningCount()
{
    Running& running = TheRunning();
    std::lock_guard lock(running.mutex);
    return running.count;
}

void MailAlertThread::SetDefaultPortForTests(uint16_t port)
{
    g_defaultPortForTests.store(port);
}
