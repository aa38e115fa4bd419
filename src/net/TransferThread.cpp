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
    std::vector<TransferThread*> threads;
    std::vector<TransferThread*> free;
    bool closing = false;
    bool curlReady = false;
};

Pool& ThePool()
{
    static Pool* pool = new Pool;
    return *pool;
}

// Whether this thread is a transfer thread, so that an exit started from
// inside a transfer (a prompt that ends the program) does not wait for itself.
thread_local bool t_isTransferThread = false;

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

bool TransferThread::Start(const std::shared_ptr<FetchJob>& job)
{
    Pool& pool = ThePool();
    TransferThread* runner = nullptr;
    {
        std::unique_lock lock(pool.mutex);
        if (pool.closing)
            return false;
        if (pool.threads.empty()) {
            // libcurl's start, once, before any transfer thread.
            pool.curlReady = CurlLibrary::Ready();
            std::atexit(&TransferThread::AtExit);
        }
        if (!pool.free.empty()) {
            runner = pool.free.back();
            pool.free.pop_back();
        } else {
            try {
                pool.threads.reserve(pool.threads.size() + 1);
                runner = new TransferThread;
                std::thread(&TransferThread::Loop, runner).detach();
                pool.threads.push_back(runner);
            } catch (...) {
                // No thread (or no memory): the object, if made, stays
                // unused rather than freed under a thread that may run.
                return false;
            }
        }
        runner->m_busy = true;
    }
    job->runner.store(runner, std::memory_order_release);
    {
        std::lock_guard lock(runner->m_mutex);
        runner->m_job = job;
    }
    runner->m_wake.notify_one();
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
    t_isTransferThread = true;
    Pool& pool = ThePool();
    for (;;) {
        std::shared_ptr<FetchJob> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_job != nullptr; });
            job = m_job; // kept in the slot while it runs, so the exit can cancel it
        }
        {
            // Handed over just as the exit began: it must not run on.
            std::lock_guard lock(pool.mutex);
            if (pool.closing)
                job->cancelled.store(true, std::memory_order_release);
        }
        Run(*job);

        // Back in the pool before the caller learns of the end, so that its
        // next fetch finds this thread free instead of starting another.
        bool closing;
        {
            std::lock_guard lock(m_mutex);
            m_job.reset();
        }
        {
            std::lock_guard lock(pool.mutex);
            closing = pool.closing;
            m_busy = false;
            if (!closing)
                pool.free.push_back(this);
        }

        // The job's end, as the last write to it; the waiter is woken after,
        // through our own reference, since the caller may drop the job as
        // soon as it sees `done`.
        const std::shared_ptr<FetchWaiter> waiter = job->waiter;
        {
            std::lock_guard lock(job->mutex);
            job->done.store(true, std::memory_order_release);
        }
        job->ended.notify_all();
        if (waiter)
            waiter->Wake();
        job.reset();
        if (closing) {
            std::lock_guard lock(pool.mutex);
            pool.idle.notify_all();
            break;
        }
    }
    // The process is ending: stay parked until it is gone.
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [] { return false; });
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
        std::size_t count = 0;
        for (const TransferThread* thread : pool.threads)
            count += thread->m_busy ? 1 : 0;
        return count > (t_isTransferThread ? 1u : 0u);
    };
    pool.idle.wait_for(lock, kExitBound, [&] { return !busy(); });
}
