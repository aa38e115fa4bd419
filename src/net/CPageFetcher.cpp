#include "net/CPageFetcher.h"

#include "net/FetchLock.h"
#include "net/FetchWaiter.h"
#include "net/TransferLoop.h"

#include <algorithm>
#include <cstdio>

CPageFetcher::CPageFetcher() = default;

CPageFetcher::~CPageFetcher()
{
    if (m_loop)
        TransferLoop::Return(m_loop);
}

void CPageFetcher::Fetch(const std::string& address, const std::string& filePath,
                         const Progress& progress)
{
    const bool pageMode = filePath.empty();
    if (pageMode) {
        m_page.Clear();
        m_outcome = FetchOutcome{};
    }
    bool received = false;
    try {
        PageTransfer transfer(address, filePath, m_bSecureOnly, progress);
        transfer.SetSearchText(m_search);
        // The page's buffer is used again for the new page.
        if (pageMode)
            std::swap(transfer.PageText(), m_page);
        const std::shared_ptr<FetchWaiter> waiter = FetchWaiter::Make();
        {
            std::lock_guard lock(m_callsMutex);
            m_calls.emplace_back(&transfer, waiter);
        }
        // Lock.
        FetchLock& lock = FetchLock::Instance();
        bool owned = false;
        bool ran = false;
        try {
            owned = lock.Acquire(*waiter, [&] { return transfer.Cancelled(); });
            // Run.
            if (owned && !transfer.Cancelled()) {
                if (waiter->MayTransferHere()) {
                    if (!m_loop)
                        m_loop = TransferLoop::Borrow();
                    ran = m_loop->Run(transfer);
                    if (!ran && !TransferLoop::Closing()) {
                        // A fetch nested in this fetcher's own running one.
                        TransferLoop nested;
                        ran = nested.Run(transfer);
                    }
                } else {
                    ran = TransferLoop::Hand(transfer, [waiter] { waiter->Wake(); });
                    if (ran)
                        waiter->Wait([&] { return transfer.Ended(); });
                }
            }
        } catch (...) {
            // The waiter failed (its event loop threw). The transfer must not
            // go on under a call that has ended: stop it and wait for it here.
            if (ran) {
                transfer.Cancel();
                TransferLoop::WaitEnded(transfer);
            }
        }
        if (owned)
            lock.Release();
        {
            std::lock_guard guard(m_callsMutex);
            m_calls.erase(std::find_if(m_calls.begin(), m_calls.end(),
                                       [&](const auto& call) { return call.first == &transfer; }));
        }
        // Collect.
        received = ran && transfer.Ended() && !transfer.Cancelled();
        if (pageMode) {
            std::swap(transfer.PageText(), m_page);
            if (!received)
                m_page.Clear();
            m_outcome = transfer.Outcome();
            if (!received && m_outcome.failure.empty())
                m_outcome.failure = "cancelled";
        }
    } catch (...) {
        // No memory to set the fetch up: nothing was fetched.
        if (pageMode) {
            m_page.Clear();
            m_outcome = FetchOutcome{};
            m_outcome.failure = "out of memory";
        }
    }
    if (!pageMode && !received)
        std::remove(filePath.c_str()); // cancelled or never started: whatever it left goes
}

void CPageFetcher::Cancel()
{
    std::lock_guard lock(m_callsMutex);
    for (const auto& [transfer, waiter] : m_calls) {
        transfer->Cancel();
        waiter->Wake(); // a call waiting for the lock gives up its place
    }
}

std::list<std::string> CPageFetcher::Pieces() const
{
    const auto pieces = m_page.Pieces();
    return {pieces.begin(), pieces.end()};
}
