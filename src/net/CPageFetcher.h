#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>

class FetchProgress;
struct FetchJob;

// Fetches one resource over HTTP or HTTPS with the program's own request
// lines. Page mode (empty file path) gives the body as text pieces;
// download mode writes it into a file. A caller whose FetchWaiter would
// only sleep runs the transfer on its own thread; any other (a window
// thread, which must keep painting) waits through its FetchWaiter while a
// transfer thread runs it. One process-wide lock lets only one transfer
// run at a time. Failures are never reported: a page comes back
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

    // Stops what this fetcher's Fetch calls are doing, from any thread or
    // from the waiting thread's own event loop: a running transfer ends at
    // once (within about 100 ms), a call still waiting for the fetch lock
    // gives up its place. Each such call returns as after a failed fetch (no
    // pieces, no file) and shows no message. Fetches started afterwards run
    // as usual. A credentials prompt that is open is not closed by it: the
    // transfer ends as soon as the prompt returns.
    void Cancel();

    // Fetches of this fetcher that start on an https address stay on https:
    // a redirect to plain http ends them as failed (one line on standard
    // error). For what must not be replaced on its way, as an installer.
    void SetSecureOnly(bool secureOnly) { m_bSecureOnly = secureOnly; }

private:
    bool m_bSecureOnly = false;
    std::unique_ptr<std::list<std::string>> m_pLines;
    std::size_t m_piecesCost = 0; // what m_pLines takes in memory
    // The calls running on this fetcher now (more than one when a fetch is
    // started from inside another one's wait).
    std::mutex m_callsMutex;
    std::list<std::shared_ptr<FetchJob>> m_calls;
};
