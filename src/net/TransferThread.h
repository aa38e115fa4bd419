#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

struct FetchJob;
struct TransferHandles;

// The threads that run the page fetcher's transfers. They live as long as
// the process and keep their libcurl handles from one transfer to the next
// (its DNS cache, TLS sessions and connections), instead of a thread and a
// handle made and thrown away per fetch. Normally one is enough, since the
// fetch lock lets one transfer run at a time; a fetch nested in another's
// wait on the same thread gets a second one.
//
// A caller that would only sleep while it waits (a check pass's thread, the
// command-line checker) runs its transfer itself instead, on handles it
// borrows from the same pool: that saves two thread hand-offs per fetch,
// and what the transfer allocates is freed by the thread that made it.
//
// When the process ends (exit or a return from main) while a transfer runs,
// it is cancelled and its thread is parked before the libraries' own exit
// handlers run, so no transfer touches what the exit tears down.
class TransferThread
{
public:
    // Hands the job to an idle thread, starting one when none is idle. False
    // when no thread could be started or the process is ending: the job
    // then never runs.
    static bool Start(const std::shared_ptr<FetchJob>& job);

    // Runs the job on the calling thread and returns when it has ended
    // (done is set). False when the process is ending: the job never ran.
    static bool RunHere(const std::shared_ptr<FetchJob>& job);

    // Marks the job cancelled and interrupts its thread's wait on the
    // network; the transfer then ends at once, as a failure. Any thread.
    static void Cancel(FetchJob& job);

    // Waits until the job's thread has finished with it (done is set).
    static void WaitDone(FetchJob& job);

    // Interrupts the thread's wait in its transfer loop. Any thread.
    void Interrupt();

private:
    TransferThread();
    void Loop();
    void Run(FetchJob& job);
    static void AtExit();
    // An idle object of the pool (one with a thread of its own, or handles
    // for a caller's thread), or a new one, made busy with the job in its
    // slot. Null when the process is ending or nothing could be made.
    static TransferThread* Take(const std::shared_ptr<FetchJob>& job, bool ownThread);
    static void StartOnce();
    static void NotifyExit();
    // Hands the slot and this object back to the pool (to `idle`, unless
    // the process is ending, which it then answers true), then marks the
    // job done, as the last write to it; the waiter is the caller's to wake.
    bool Finish(FetchJob& job, std::vector<TransferThread*>& idle);

    TransferHandles* m_handles; // never freed: the thread and its handles outlive every static
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<FetchJob> m_job;
    bool m_busy = false;
};
