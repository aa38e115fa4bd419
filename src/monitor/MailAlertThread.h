#pragma once

#include "monitor/MailAlertJob.h"

#include <chrono>
#include <cstdint>
#include <memory>

// The mail worker: one thread per alert e-mail, one SMTP conversation each.
// Whoever raises the alert neither waits for the thread nor learns how it
// went; nothing is shown in a window. An e-mail that does not go out (no
// server set, server unreachable, message refused) leaves one line on
// standard error naming the site, the server and the last reply or reason.
class MailAlertThread
{
public:
    // How long a process that ends on its own (the command-line checker)
    // gives the mail threads still running before it goes anyway. The SMTP
    // client gives up on a silent server by itself, so this only bounds a
    // server that keeps answering slowly.
    static constexpr std::chrono::seconds kExitWaitBound{90};

    // Starts a detached thread that runs Run with the job and returns at
    // once. False when no thread could be made; the job is then dropped and
    // no e-mail goes out, as after a failed connection.
    static bool Start(std::unique_ptr<MailAlertJob> job);

    // The thread's body, also callable directly (tests run it inline): sends
    // the job's e-mail when it can and frees the job. Never throws.
    static void Run(std::unique_ptr<MailAlertJob> job);

    // Waits until every thread made by Start has ended, or until `bound` has
    // passed. True when none is left running.
    static bool WaitForRunning(std::chrono::milliseconds bound);

    // Threads started by Start that have not ended yet.
    static int RunningCount();

    // The port used for a job whose port is 0 or less: 25. Tests move it to
    // a loopback server of their own; 0 restores 25.
    static constexpr uint16_t kDefaultPort = 25;
    static void SetDefaultPortForTests(uint16_t port);
};
