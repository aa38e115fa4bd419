#include "net/TransferThread.h"

#include "net/CurlLibrary.h"
#include "net/FetchJob.h"
#include "net/FetchWaiter.h"
#include "net/FetchWorker.h"
#include "net/TransferHandles.h"

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// The pool of transfer threads. Made once, never destroyed: its threads may
// still be parked in it while the process's statics are torn down.
struct Pool
{
    std::mutex mutex;
    std::condition_variable idle;
    // Every object ever made, with or without a thread of its own.
    std::vector<TransferThread*> threads;
    std::vector<TransferThread*> free; // idle ones running their own loop
    std::vector<TransferThread*> lent; // idle handles for callers' threads
    bool started = false;
    bool closing = false;
    bool curlReady = false;
};

Pool& ThePool()
{
    static Pool* pool = new Pool;
    return *pool;
}

// The object whose transfer this thread runs (a transfer thread's own), so
// that an exit started from inside a transfer (a prompt that ends the
// program) does not wait for itself.
thread_local TransferThread* t_running = nullptr;

// A new object, listed in the pool with room kept in both idle lists, so
// that handing it back later cannot fail. Null when there is no memory.
template <typename Make> TransferThread* Listed(Pool& pool, Make make)
{
    try {
        pool.threads.reserve(pool.threads.size() + 1);
        pool.free.reserve(pool.threads.size() + 1);
        pool.lent.reserve(pool.threads.size() + 1);
        TransferThread* made = make();
        pool.threads.push_back(made);
        return made;
    } catch (...) {
        return nullptr;
    }
}

// How long the exit waits for cancelled transfers to come to rest.
constexpr std::chrono::seconds kExitBound{2};

} // namespace

TransferThread::TransferThread() : m_handles(new TransferHandles)
{
    if (!ThePool().curlReady)
        return;
    m_handles->easy = curl_easy_init();
    m_handles->multi = curl_multi_init();
    m_handles->pageHeaders = FetchWorker::HeaderList(true);
    m_handles->downloadHeaders = FetchWorker::HeaderList(false);
}

TransferThread* TransferThread::Take(const std::shared_ptr<FetchJob>& job, bool ownThread)
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    if (pool.closing)
        return nullptr;
    StartOnce();
    std::vector<TransferThread*>& idle = ownThread ? pool.free : pool.lent;
    TransferThread* runner = nullptr;
    if (!idle.empty()) {
        runner = idle.back();
        idle.pop_back();
    } else {
        // Should no thread start, the object stays listed but unused rather
        // than freed under a thread that may run.
        runner = Listed(pool, [ownThread] {
            auto* made = new TransferThread;
            if (ownThread)
                std::thread(&TransferThread::Loop, made).detach();
            return made;
        });
        if (!runner)
            return nullptr;
    }
    runner->m_busy = true;
    job->runner.store(runner, std::memory_order_release);
    // In the slot under the pool's lock, so that an exit from now on finds
    // the job and cancels it.
    std::lock_guard slot(runner->m_mutex);
    runner->m_job = job;
    return runner;
}

bool TransferThread::Start(const std::shared_ptr<FetchJob>& job)
{
    TransferThread* runner = Take(job, true);
    if (!runner)
        return false;
    runner->m_wake.notify_one();
    return true;
}

bool TransferThread::RunHere(const std::shared_ptr<FetchJob>& job)
{
    TransferThread* runner = Take(job, false);
    if (!runner)
        return false;
    TransferThread* const outer = t_running; // a fetch nested in a transfer's callback
    t_running = runner;
    runner->Run(*job);
    t_running = outer;
    if (runner->Finish(*job, ThePool().lent))
        NotifyExit();
    return true;
}

void TransferThread::Cancel(FetchJob& job)
{
    job.cancelled.store(true, std::memory_order_release);
    if (TransferThread* runner = job.runner.load(std::memory_order_acquire))
        runner->Interrupt();
    if (job.waiter)
        job.waiter->Wake();
}

void TransferThread::WaitDone(FetchJob& job)
{
    std::unique_lock lock(job.mutex);
    job.ended.wait(lock, [&] { return job.done.load(std::memory_order_acquire); });
}

void TransferThread::Interrupt()
{
    // The multi handle is made once and never freed, so this is safe from
    // any thread at any time; without one there is no wait to interrupt.
    if (m_handles->multi)
        curl_multi_wakeup(m_handles->multi);
}

void TransferThread::Loop()
{
    t_running = this;
    for (;;) {
        std::shared_ptr<FetchJob> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_job != nullptr; });
            job = m_job; // kept in the slot while it runs, so the exit can cancel it
        }
        {
            // Handed over just as the exit began: it must not run on.
            Pool& pool = ThePool();
            std::lock_guard lock(pool.mutex);
            if (pool.closing)
                job->cancelled.store(true, std::memory_order_release);
        }
        Run(*job);

        // The waiter is woken through our own reference, since the caller
        // may drop the job as soon as it sees `done`.
        const std::shared_ptr<FetchWaiter> waiter = job->waiter;
        const bool closing = Finish(*job, ThePool().free);
        if (waiter)
            waiter->Wake();
        job.reset();
        if (closing) {
            NotifyExit();
            break;
        }
    }
    // The process is ending: stay parked until it is gone.
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [] { return false; });
}

bool TransferThread::Finish(FetchJob& job, std::vector<TransferThread*>& idle)
{
    {
        std::lock_guard lock(m_mutex);
        m_job.reset();
    }
    // Back in the pool before the caller learns of the end, so that its
    // next fetch finds this object free instead of making another.
    Pool& pool = ThePool();
    bool closing;
    {
        std::lock_guard lock(pool.mutex);
        closing = pool.closing;
        m_busy = false;
        if (!closing)
            idle.push_back(this); // room was kept when it was made
    }
    {
        std::lock_guard lock(job.mutex);
        job.done.store(true, std::memory_order_release);
    }
    job.ended.notify_all();
    return closing;
}

void TransferThread::Run(FetchJob& job)
{
    try {
        if (job.filePath.empty())
            FetchWorker::FetchPageThread(job, *m_handles);
        else
            FetchWorker::DownloadFileThread(job, *m_handles);
    } catch (...) {
        // The workers catch their own failures; nothing may end this thread.
    }
}

void TransferThread::StartOnce()
{
    // Called with the pool's lock held.
    Pool& pool = ThePool();
    if (!pool.started) {
        // libcurl's start, once, before any transfer.
        pool.curlReady = CurlLibrary::Ready();
        std::atexit(&TransferThread::AtExit);
        pool.started = true;
    }
}

void TransferThread::NotifyExit()
{
    // The exit waits for every busy object to come to rest.
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    pool.idle.notify_all();
}

void TransferThread::AtExit()
{
    Pool& pool = ThePool();
    std::unique_lock lock(pool.mutex);
    pool.closing = true;
    for (TransferThread* thread : pool.threads) {
        if (!thread->m_busy)
            continue;
        std::lock_guard slot(thread->m_mutex);
        if (thread->m_job)
            thread->m_job->cancelled.store(true, std::memory_order_release);
    }
    // A running job is reached through its own cancelled flag: the worker
    // checks it between steps and every wake of the multi handle.
    for (TransferThread* thread : pool.threads)
        thread->Interrupt();
    const auto busy = [&] {
        for (const TransferThread* thread : pool.threads) {
            if (thread->m_busy && thread != t_running)
                return true;
        }
        return false;
    };
    pool.idle.wait_for(lock, kExitBound, [&] { return !busy(); });
}
