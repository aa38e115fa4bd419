#include "net/CPageFetcher.h"

#include "net/FetchJob.h"
#include "net/FetchLock.h"
#include "net/FetchWaiter.h"
#include "net/FetchWorker.h"

#include <cstdio>
#include <thread>

CPageFetcher::CPageFetcher() : m_pLines(std::make_unique<std::list<std::string>>()) {}

CPageFetcher::~CPageFetcher() = default;

const std::list<std::string>& CPageFetcher::Fetch(const std::string& address,
                                                  const std::string& filePath,
                                                  FetchProgress* progress)
{
    const std::shared_ptr<FetchWaiter> waiter = FetchWaiter::Make();
    FetchLock& lock = FetchLock::Instance();
    lock.Acquire(*waiter);
    try {
        m_bDone.store(false, std::memory_order_relaxed);
        auto job = std::make_unique<FetchJob>();
        job->address = address;
        job->done = &m_bDone;
        job->filePath = filePath;
        job->progress = progress;
        job->waiter = waiter;

        const bool pageMode = filePath.empty();
        std::thread worker(pageMode ? &FetchWorker::FetchPageThread
                                    : &FetchWorker::DownloadFileThread,
                           std::ref(*job));
        waiter->Wait([this] { return m_bDone.load(std::memory_order_acquire); });
        // The worker's last act was setting the flag: this join is at once.
        worker.join();
        if (pageMode)
            *m_pLines = std::move(job->lines);
    } catch (...) {
        // No thread could be started (or no memory): nothing was received.
        if (filePath.empty())
            m_pLines->clear();
        else
            std::remove(filePath.c_str());
    }
    lock.Release();
    return *m_pLines;
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
