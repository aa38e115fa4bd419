#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>

class FetchProgress;
class FetchWaiter;
class TransferThread;

// One transfer request: made by one call of CPageFetcher::Fetch and shared
// with the transfer thread that runs it. Its end belongs to this call alone,
// so a nested Fetch on the same fetcher cannot end the outer one's wait.
struct FetchJob
{
    std::string address; // as the caller gave it
    // Page mode: the body as it came, CRs and all. The caller cuts it into
    // pieces on its own thread once the transfer has ended, so the pieces
    // are made and later freed by one thread, not handed across.
    std::string body;
    // Page mode on the caller's own thread: the pieces are cut as the body
    // arrives, while its bytes are still in the cache, into this list (the
    // fetcher's own), reusing `spare`'s nodes; `body` then stays empty.
    std::list<std::string>* pieces = nullptr;
    std::list<std::string> spare;
    std::size_t piecesCost = 0; // what the pieces take, once the transfer has ended
    std::string filePath;       // empty in page mode
    bool secureOnly = false;    // a redirect from https may not leave https
    FetchProgress* progress = nullptr;
    // Woken when the job ends or is cancelled.
    std::shared_ptr<FetchWaiter> waiter;

    // Set by the transfer thread as its last write to the job; everything it
    // stored before is visible to whoever reads `done` as true.
    std::atomic<bool> done{false};
    std::atomic<bool> cancelled{false};
    // The thread running the job, so that Cancel can interrupt its wait on
    // the network. Set before the job starts, never cleared.
    std::atomic<TransferThread*> runner{nullptr};

    // A second way to wait for `done`, for when the caller's waiter failed.
    std::mutex mutex;
    std::condition_variable ended;

    bool Cancelled() const { return cancelled.load(std::memory_order_acquire); }
};
