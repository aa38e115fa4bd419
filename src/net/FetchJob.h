#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>

class FetchProgress;
class FetchWaiter;

// One transfer request: made by CPageFetcher::Fetch, handed to the worker
// thread, freed by Fetch once the worker has finished.
struct FetchJob
{
    std::string address;          // as the caller gave it
    std::list<std::string> lines; // the page worker's pieces
    std::atomic<bool>* done = nullptr;
    std::string filePath; // empty in page mode
    FetchProgress* progress = nullptr;
    // Woken after `done` is set; shared so that the worker can still wake
    // it once the job may be gone.
    std::shared_ptr<FetchWaiter> waiter;
};
