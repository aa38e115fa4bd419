#pragma once

#include "net/MailAlertJob.h"

#include <chrono>
#include <cstddef>
#include <memory>

// The mail worker: alert e-mails wait in one queue and a few threads send
// them in the order they came, one SMTP conversation each, every one within
// the mail deadline. So a mass outage costs a few threads and sockets, never
// one per site, and the pass that raises the alerts keeps its descriptors.
// Whoever raises the alert neither waits nor learns how it went; nothing is
// shown in a window. An e-mail that does not go out (no server set, server
// unreachable, message refused, given up at the end) leaves one line on
// standard error naming the site, the server and the last reply or reason.
class MailAlertThread
{
public:
    // E-mails sent at the same time.
    static constexpr int kSenders = 4;
    // E-mails that may wait; one more is refused (said on standard error):
    // at the mail deadline that many take longer than any outage report is
    // worth waiting for.
    static constexpr std::size_t kMaxWaiting = 5000;
    // How long a process that ends on its own (the command-line checker)
    // gives the e-mails still waiting or under way before it goes anyway.
    static constexpr std::chrono::seconds kExitWaitBound{90};

    // Queues the job and returns at once, starting a sender thread when
    // fewer than kSenders run. False when the job was refused (queue full,
    // or no thread could be made and none runs); it is then dropped and
    // said on standard error.
    static bool Start(std::unique_ptr<MailAlertJob> job);

    // One job's sending, also callable directly (tests run it inline): sends
    // the e-mail when it can and frees the job. Never throws.
    static void Run(std::unique_ptr<MailAlertJob> job);

    // Waits until no e-mail waits or is under way, or until `bound` has
    // passed. True when none is left. When the bound passes, the caller is
    // about to end: the e-mails still waiting are dropped, and each one left
    // (under way too) is named on standard error.
    static bool WaitForRunning(std::chrono::milliseconds bound);

    // E-mails waiting or under way.
    static int RunningCount();
};
