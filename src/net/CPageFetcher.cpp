#include "net/CPageFetcher.h"

#include "net/FetchJob.h"
#include "net/FetchLock.h"
#include "net/FetchWaiter.h"
#include "net/PieceSplitter.h"
#include "net/TransferThread.h"

#include <cstdio>

namespace {

// What a thread's fetches leave for its next one: the body's buffer and the
// pieces' list nodes and string blocks. A fetcher made per page (a dialog's
// test fetch, a loop of fetches) then neither allocates all of them anew
// nor faults in fresh memory for them each time. Only what stays below
// kKeptBytes is kept, so one large page is not held for the thread's life.
struct Leftovers
{
    Leftovers() = default;
    ~Leftovers() { t_gone = true; }
    Leftovers(const Leftovers&) = delete;
    Leftovers& operator=(const Leftovers&) = delete;

    std::string body;
    std::list<std::string> pieces;

    static thread_local bool t_gone;
};
thread_local bool Leftovers::t_gone = false;

constexpr std::size_t kKeptBytes = std::size_t{1} << 20;

// Null once the thread's own copy has been torn down (a fetcher destroyed
// by a static's destructor at exit).
Leftovers* ThreadLeftovers()
{
    if (Leftovers::t_gone)
        return nullptr;
    thread_local Leftovers leftovers;
    return &leftovers;
}

std::size_t PiecesCost(const std::list<std::string>& pieces)
{
    std::size_t cost = 0;
    for (const auto& piece : pieces)
        cost += PieceSplitter::PieceCost(piece.capacity());
    return cost;
}

// Keeps `pieces`, which take `cost`, for the thread's next fetch when it
// has none and they are small enough; otherwise they are freed with the
// caller's list.
void KeepPieces(std::list<std::string>& pieces, std::size_t cost)
{
    Leftovers* kept = ThreadLeftovers();
    if (kept && kept->pieces.empty() && !pieces.empty() && cost <= kKeptBytes)
        kept->pieces.swap(pieces);
}

} // namespace

CPageFetcher::CPageFetcher() : m_pLines(std::make_unique<std::list<std::string>>()) {}

CPageFetcher::~CPageFetcher()
{
    KeepPieces(*m_pLines, m_piecesCost);
}

const std::list<std::string>& CPageFetcher::Fetch(const std::string& address,
                                                  const std::string& filePath,
                                                  FetchProgress* progress)
{
    const bool pageMode = filePath.empty();
    Leftovers* const kept = ThreadLeftovers();
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
    // The old pieces' nodes and blocks are used again for the new ones (or
    // those a fetcher of this thread left).
    std::list<std::string> spare;
    if (pageMode) {
        spare.swap(*m_pLines);
        m_piecesCost = 0;
        if (kept && spare.empty())
            spare.swap(kept->pieces);
    }
    // A caller that only sleeps cuts the pieces during its own transfer;
    // otherwise the transfer thread keeps the body whole for it.
    const bool cutHere = job && pageMode && job->waiter->MayTransferHere();
    if (cutHere) {
        job->pieces = m_pLines.get();
        job->spare.swap(spare);
    } else if (job && pageMode && kept) {
        job->body.swap(kept->body); // empty in a fetch nested in another
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
                if (job->waiter->MayTransferHere()) {
                    started = TransferThread::RunHere(job);
                } else {
                    started = TransferThread::Start(job);
                    if (started)
                        job->waiter->Wait(
                            [&] { return job->done.load(std::memory_order_acquire); });
                }
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
        if (cutHere) {
            if (received) {
                m_piecesCost = job->piecesCost;
            } else {
                m_pLines->clear();
                spare.swap(job->spare); // still whole if the transfer never ran
            }
        } else if (received) {
            try {
                PieceSplitter splitter(*m_pLines, std::move(spare));
                splitter.Feed(job->body.data(), job->body.size());
                splitter.Finish();
                m_piecesCost = splitter.Cost();
            } catch (...) {
                // Out of memory: the pieces made so far are the page.
                m_piecesCost = PiecesCost(*m_pLines);
            }
        }
        KeepPieces(spare, PiecesCost(spare));
        if (job && kept && kept->body.capacity() < job->body.capacity() &&
            job->body.capacity() <= kKeptBytes) {
            job->body.clear();
            kept->body.swap(job->body);
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
