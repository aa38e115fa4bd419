#include "net/CPageFetcher.h"

#include "net/FetchJob.h"
#include "net/FetchLock.h"
#include "net/FetchWaiter.h"
#include "net/PieceSplitter.h"
#include "net/TransferThread.h"

#include <cstdio>

CPageFetcher::CPageFetcher() : m_pLines(std::make_unique<std::list<std::string>>()) {}

CPageFetcher::~CPageFetcher() = default;

const std::list<std::string>& CPageFetcher::Fetch(const std::string& address,
                                                  const std::string& filePath,
                                                  FetchProgress* progress)
{
    const bool pageMode = filePath.empty();
    std::shared_ptr<FetchJob> job;
    try {
        job = std::make_shared<FetchJob>();
        job->address = address;
        job->filePath = filePath;
        job->secureOnly = m_bSecureOnly;
        job->progress = progress;
        job->waiter = FetchWaiter::Make();
    } catch (...) {
        job.reset(); // no memory: nothing can be fetched
    }
    std::list<std::shared_ptr<FetchJob>>::iterator entry;
    bool listed = false;
    if (job) {
        try {
            std::lock_guard lock(m_callsMutex);
            entry = m_calls.insert(m_calls.end(), job);
            listed = true;
        } catch (...) {
        }
    }

    bool received = false;
    if (listed) {
        FetchLock& lock = FetchLock::Instance();
        bool owned = false;
        bool started = false;
        try {
            owned = lock.Acquire(*job->waiter, [&] { return job->Cancelled(); });
            if (owned && !job->Cancelled()) {
                started = TransferThread::Start(job);
                if (started)
                    job->waiter->Wait([&] { return job->done.load(std::memory_order_acquire); });
            }
        } catch (...) {
            // The waiter failed (its event loop threw). The transfer must not
            // go on under a call that has ended: stop it and wait for it here.
            if (started) {
                TransferThread::Cancel(*job);
                TransferThread::WaitDone(*job);
            }
        }
        received = started && job->done.load(std::memory_order_acquire) && !job->Cancelled();
        if (owned)
            lock.Release();
        std::lock_guard guard(m_callsMutex);
        m_calls.erase(entry);
    }

    if (pageMode) {
        // The old pieces' nodes and blocks are used again for the new ones.
        std::list<std::string> spare;
        spare.swap(*m_pLines);
        if (received) {
            try {
                PieceSplitter splitter(*m_pLines, std::move(spare));
                splitter.Feed(job->body.data(), job->body.size());
                splitter.Finish();
            } catch (...) {
                // Out of memory: the pieces made so far are the page.
            }
        }
    } else if (!received) {
        // Cancelled or never started: whatever the transfer left goes.
        std::remove(filePath.c_str());
    }
    return *m_pLines;
}

void CPageFetcher::Cancel()
{
    std::lock_guard lock(m_callsMutex);
    for (const auto& job : m_calls)
        TransferThread::Cancel(*job);
}

std::string CPageFetcher::GetText() const
{
    std::size_t size = 0;
    for (const auto& piece : *m_pLines)
        size += piece.size();
    std::string text;
    text.reserve(size);
    for (const auto& piece : *m_pLines)
        text += piece;
    return text;
}
