#include "monitor/MailAlertThread.h"

#include "net/MailDelivery.h"
#include "net/MailRules.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The queue and its senders. Made once and never destroyed: a sender still
// talking to its server when the process exits must not find the mutex torn
// down under it by static destruction.
struct Queue
{
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<MailAlertJob>> waiting;
    std::vector<const MailAlertJob*> underWay;
    int senders = 0;
};

Queue& TheQueue()
{
    static Queue* queue = new Queue;
    return *queue;
}

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

int PortShown(const MailAlertJob& job)
{
    return job.m_nPort > 0 ? job.m_nPort : MailRules::StandardPort(job.m_nSecurity);
}

// One line on standard error for an alert e-mail that did not go out: the
// user of the checker (or of the desktop program started from a terminal)
// has no other way to learn that an outage went unreported.
void ReportFailure(const MailAlertJob& job, const std::string& why)
{
    std::fprintf(stderr, "Kestrelle: alert e-mail for %s not sent through %s:%d: %s\n",
                 job.m_strSiteName.empty() ? job.m_strSubject.c_str() : job.m_strSiteName.c_str(),
                 job.m_strServer.empty() ? "(no server)" : job.m_strServer.c_str(), PortShown(job),
                 why.c_str());
}

void Converse(const MailAlertJob& job)
{
    if (const auto refused = MailRules::Refusal(job)) {
        ReportFailure(job, *refused);
        return;
    }
    // A stored port beyond 16 bits names no port at all. Cut to 16 bits it
    // would reach some other service on the server, so nothing is sent.
    if (!MailRules::PortToUse(job.m_nPort, job.m_nSecurity)) {
        ReportFailure(job, "the port is out of range");
        return;
    }
    // The same delivery as the test e-mail: the designed plain conversation,
    // or TLS as the stored connection security asks.
    const MailDelivery::Report report = MailDelivery::Send(job);
    switch (report.outcome) {
    case MailDelivery::Outcome::Sent:
        return;
    case MailDelivery::Outcome::NoConnection:
        ReportFailure(job, "cannot connect to the server");
        return;
    case MailDelivery::Outcome::Failed: {
        const std::string reply = LastReply(report.response);
        ReportFailure(job, !report.why.empty() ? report.why
                           : reply.empty() ? std::string("the server did not accept the message")
                                           : "the server answered \"" + reply + "\"");
        return;
    }
    }
}

void Deliver(const MailAlertJob& job)
{
    try {
        Converse(job);
    } catch (const std::exception& e) {
        ReportFailure(job, e.what());
    } catch (...) {
        ReportFailure(job, "stopped by an unexpected error");
    }
}

void SendInTurn()
{
    Queue& queue = TheQueue();
    std::unique_lock lock(queue.mutex);
    while (!queue.waiting.empty()) {
        std::unique_ptr<MailAlertJob> job = std::move(queue.waiting.front());
        queue.waiting.pop_front();
        queue.underWay.push_back(job.get());
        lock.unlock();
        Deliver(*job);
        lock.lock();
        // The job lives until it has left the list: a wait that gives up
        // reads the jobs still under way.
        queue.underWay.erase(std::find(queue.underWay.begin(), queue.underWay.end(), job.get()));
        queue.changed.notify_all();
    }
    --queue.senders;
    queue.changed.notify_all();
}

} // namespace

void MailAlertThread::Run(std::unique_ptr<MailAlertJob> job)
{
    if (job)
        Deliver(*job);
}

bool MailAlertThread::Start(std::unique_ptr<MailAlertJob> job)
{
    if (!job)
        return false;
    Queue& queue = TheQueue();
    std::lock_guard lock(queue.mutex);
    if (queue.waiting.size() >= kMaxWaiting) {
        ReportFailure(*job, "too many alert e-mails are waiting");
        return false;
    }
    queue.waiting.push_back(std::move(job));
    if (queue.senders >= kSenders)
        return true;
    try {
        std::thread(SendInTurn).detach();
        ++queue.senders;
        return true;
    } catch (const std::exception& e) {
        if (queue.senders > 0)
            return true; // those running take it in turn
        ReportFailure(*queue.waiting.back(), std::string("no mail thread (") + e.what() + ")");
        queue.waiting.pop_back();
        return false;
    }
}

bool MailAlertThread::WaitForRunning(std::chrono::milliseconds bound)
{
    Queue& queue = TheQueue();
    std::unique_lock lock(queue.mutex);
    if (queue.changed.wait_for(lock, bound,
                               [&] { return queue.waiting.empty() && queue.underWay.empty(); }))
        return true;
    for (const MailAlertJob* job : queue.underWay)
        ReportFailure(*job, "still under way when the wait for it ended");
    for (const auto& job : queue.waiting)
        ReportFailure(*job, "given up unsent: the wait for the e-mails before it ended");
    queue.waiting.clear();
    return false;
}

int MailAlertThread::RunningCount()
{
    Queue& queue = TheQueue();
    std::lock_guard lock(queue.mutex);
    return static_cast<int>(queue.waiting.size() + queue.underWay.size());
}
