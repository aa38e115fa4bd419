#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>

class FetchProgress;

// Fetches one resource over HTTP or HTTPS with the program's own request
// lines. Page mode (empty file path) gives the body as text pieces;
// download mode writes it into a file. Each call runs its transfer on a
// worker thread while the caller waits (through FetchWaiter, so a window
// thread keeps painting), and one process-wide lock lets only one
// transfer run at a time. Failures are never reported: a page comes back
// partial or empty, a failed download leaves no file.
class CPageFetcher
{
public:
    CPageFetcher();
    virtual ~CPageFetcher();
    CPageFetcher(const CPageFetcher&) = delete;
    CPageFetcher& operator=(const CPageFetcher&) = delete;

    // Returns once the transfer has ended. In page mode the list holds this
    // fetch's pieces; in download mode it is left as it was.
    const std::list<std::string>& Fetch(const std::string& address, const std::string& filePath,
                                        FetchProgress* progress);
    // All pieces joined: the body with every CR removed.
    std::string GetText() const;

private:
    std::unique_ptr<std::list<std::string>> m_pLines;
    std::atomic<bool> m_bDone{false};
};
