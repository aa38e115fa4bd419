#pragma once

#include "net/PageTransfer.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class FetchWaiter;
class TransferLoop;

// Fetches one resource over HTTP or HTTPS with the program's own request
// lines: it takes the process's fetch lock, runs the transfer, and collects
// what came. Page mode (empty file path) keeps the body as the page text;
// download mode writes it into a file. A caller whose FetchWaiter would only
// sleep runs the transfer on its own thread; any other (a window thread,
// which must keep painting) waits through its FetchWaiter while the transfer
// thread runs it. One process-wide lock lets only one fetch run at a time.
//
// A failed fetch is not reported to the user: a page comes back partial or
// empty, a failed download leaves no file. The one exception is a transfer
// that cannot be set up at all, which shows "Cannot open internet connection.".
class CPageFetcher
{
public:
    using Progress = PageTransfer::Progress;

    CPageFetcher();
    ~CPageFetcher();
    CPageFetcher(const CPageFetcher&) = delete;
    CPageFetcher& operator=(const CPageFetcher&) = delete;

    // Returns once the transfer has ended. In page mode the page is this
    // fetch's; in download mode it is left as it was. `progress` hears how
    // far a download got, on the thread running the transfer.
    void Fetch(const std::string& address, const std::string& filePath,
               const Progress& progress = nullptr);
    // The page's text: the body with every CR removed, each piece cut at its first NUL.
    const std::string& GetText() const { return m_page.Text(); }
    // The same, handed over: the fetcher's page is empty afterwards.
    std::string TakeText() { return m_page.TakeText(); }
    // Page mode: the text the next fetches look for in the body as it
    // streams, the part past what the page keeps included.
    void SetSearchText(const std::string& text) { m_search = text; }
    // How the last page-mode fetch ended.
    const FetchOutcome& Outcome() const { return m_outcome; }
    // The page in pieces: lines, or at most 1,022 body bytes each.
    std::list<std::string> Pieces() const;

    // Stops what this fetcher's Fetch calls are doing, from any thread or
    // from the waiting thread's own event loop: a running transfer ends at
    // once (within about 100 ms), a call still waiting for the fetch lock
    // gives up its place. Each such call returns as after a failed fetch (no
    // page, no file) and shows no message. Fetches started afterwards run
    // as usual. A credentials prompt that is open is not closed by it: the
    // transfer ends as soon as the prompt returns.
    void Cancel();

    // Fetches of this fetcher that start on an https address stay on https:
    // a redirect to plain http ends them as failed (one line on standard
    // error). For what must not be replaced on its way, as an installer.
    void SetSecureOnly(bool secureOnly) { m_bSecureOnly = secureOnly; }

private:
    bool m_bSecureOnly = false;
    PageTransfer::Page m_page;
    std::string m_search;
    FetchOutcome m_outcome;
    // Borrowed at the first fetch that runs on the caller's thread; its
    // multi handle keeps connections and DNS answers from one fetch to the next.
    TransferLoop* m_loop = nullptr;
    // The transfers of the calls running on this fetcher now (more than one
    // when a fetch is started from inside another one's wait).
    std::mutex m_callsMutex;
    std::vector<std::pair<PageTransfer*, std::shared_ptr<FetchWaiter>>> m_calls;
};
