#pragma once

#include "net/FetchOutcome.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

typedef void CURL;
class TransferLoop;

// One fetch of one address: its first request, the second one after a 401
// and the one after a redirect, all on one libcurl easy handle of its own.
// A TransferLoop drives it: the loop adds the handle to its multi handle,
// and when a request has ended asks what comes next. So one loop can run
// several transfers at once; a single fetch is a loop of one.
//
// Page mode (empty file path) keeps the body as the page text: CR bytes
// dropped, cut into pieces of one line or at most kPieceLimit bytes, each
// piece's text ending at its first NUL. Download mode writes the body into
// the file in blocks, and leaves no file after any failure. A transfer
// cancelled meanwhile ends at once, as a failure.
class PageTransfer
{
public:
    using Progress = std::function<void(const std::string&)>;

    static constexpr std::size_t kPieceLimit = 1022;
    static constexpr std::size_t kDownloadBlock = 1024;
    static constexpr std::uint64_t kDiscardLimit = 64 * 1024;

    // The page as it is kept: the pieces' texts one after another, and where
    // each piece that does not end in an LF ends (one that ends in an LF needs
    // no entry), so that the pieces can be told apart again. Fed the body in
    // any number of runs. It takes body bytes until kPageSizeCap of them have
    // come or it holds that much; what was read counts, so an endless answer
    // of any shape cannot eat the memory.
    class Page
    {
    public:
        // False once the page is full: the rest is not read.
        bool Add(const char* bytes, std::size_t size);
        // The end of the body: a piece that took bytes is kept, even if all were CR.
        void End();
        void Clear();
        // Room for a body of `announced` bytes, within the cap.
        void Expect(std::int64_t announced);

        const std::string& Text() const { return m_text; }
        std::string TakeText();
        std::vector<std::string> Pieces() const;

    private:
        void Append(const char* bytes, std::size_t size);
        void Cut();

        std::string m_text;
        std::vector<std::uint32_t> m_cuts;
        std::size_t m_taken = 0; // bytes of the current piece, CRs included
        bool m_nulSeen = false;  // the current piece's text has ended
        std::uint64_t m_bytes = 0;
    };

    PageTransfer(std::string address, std::string filePath, bool secureOnly, Progress progress);
    ~PageTransfer();
    PageTransfer(const PageTransfer&) = delete;
    PageTransfer& operator=(const PageTransfer&) = delete;

    // For the loop. Start prepares the first request on the handle (false:
    // nothing can be sent, the transfer has ended); RequestEnded is told how
    // a request ended and prepares the next one (true) or ends the transfer.
    bool Start();
    bool RequestEnded(int curlResult);
    CURL* Handle() const { return m_easy; }

    // Any thread: the transfer is to end at once, as a failure.
    void Cancel();
    bool Cancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    // The loop is done with the transfer: a body cut short ends as after a failure.
    void Finish();
    // Set by the loop as its last write once the transfer is over; all it
    // stored before is visible to a thread that reads true here.
    bool Ended() const { return m_ended.load(std::memory_order_acquire); }
    void MarkEnded() { m_ended.store(true, std::memory_order_release); }
    // Whether a body went where it belongs, whole (a page keeps a partial one).
    bool Received() const { return m_received; }

    // Page mode: what arrived.
    Page& PageText() { return m_page; }
    // Page mode: the text looked for in the body as it streams; before Start.
    void SetSearchText(std::string text) { m_search = std::move(text); }
    // Page mode: how the fetch ended, once it has.
    const FetchOutcome& Outcome() const { return m_outcome; }

    // The most redirects followed in one fetch.
    static constexpr int kMaxRedirects = 5;
    // The phrase HTTP gives a status, for an answer whose status line names none.
    static std::string StandardPhrase(long status);
    // A TLS failure as libcurl words it, made short: "certificate has expired".
    static std::string TlsText(const std::string& libcurlText);

    // Whether this fetch met a 401 and tried credentials.
    bool CredentialsTried() const { return m_credentialsTried; }
    // Counts the log-in questions asked by the process's transfers, twice
    // each: as it is asked and as it is answered.
    static std::uint64_t Questions();

    // The loop this transfer runs in, so that Cancel can wake its wait.
    std::atomic<TransferLoop*> loop{nullptr};

    // The request header blocks, byte for byte.
    static std::string PageHeaderBlock();
    static std::string DownloadHeaderBlock();
    // A download block that is an HTML page instead of the file: "<html>" in
    // the lower-cased bytes before the block's first NUL.
    static bool IsHtmlBlock(std::string_view block);
    // "Read 3072/120000 bytes", or "Read 3072 bytes" without an announced length.
    static std::string ProgressText(std::uint64_t received, std::int64_t announced);

private:
    enum class Phase
    {
        First,
        AfterCredentials,
        AfterRedirect
    };

    bool Prepare();
    bool Next(int curlResult);
    void Report(const std::string& text);
    void Answered(long status);
    long Status() const;
    static std::size_t OnHeader(char* data, std::size_t, std::size_t size, void* self) noexcept;
    static std::size_t OnBody(char* data, std::size_t, std::size_t size, void* self) noexcept;
    std::size_t Header(const char* data, std::size_t size);
    bool Body(const char* data, std::size_t size);
    void WriteBlock();
    void EndBody(bool complete);
    void Fail(std::string reason);
    std::string TransferFailure(int curlResult) const;
    std::string StatusFailure(long status) const;
    void Search(const char* data, std::size_t size);
    bool SameServerAsFirst() const;

    const std::string m_address;
    const std::string m_filePath;
    const bool m_secureOnly;
    const Progress m_progress;
    CURL* m_easy = nullptr;

    std::string m_url;   // of the request in flight
    std::string m_first; // the first request's full address, as the prompt is told it
    std::string m_user, m_password;
    long m_authSchemes = 0;
    bool m_asked = false;       // the prompt gave credentials
    bool m_fromAddress = false; // the address held them
    std::chrono::steady_clock::time_point m_deadline;
    Phase m_phase = Phase::First;
    enum class Then
    {
        Fail,
        Credentials,
        Redirect,
        Body
    } m_then = Then::Fail;
    bool m_headEnded = false;
    bool m_failed = false;
    bool m_bodyStarted = false;
    // The page reached the cap: the rest is searched, not kept, and once
    // the text has been seen (or none is looked for) not read either.
    bool m_full = false;
    std::uint64_t m_discarded = 0; // body bytes of a redirect or 401 answer read past
    int m_redirects = 0;
    std::vector<std::string> m_visited; // the chain's addresses, to tell a loop
    bool m_credentialsTried = false;
    char m_errorText[256] = {}; // libcurl's words for the last request's failure

    std::string m_search;
    std::string m_window; // the search's carry-over from one run of the body to the next
    FetchOutcome m_outcome;
    std::string m_rawHeaders;
    std::string m_authHead; // the 401's head that made the prompt be asked

    Page m_page; // page mode
    // Download mode.
    std::FILE* m_file = nullptr;
    std::string m_block;
    std::int64_t m_announced = -1;
    std::uint64_t m_written = 0;

    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_ended{false};
    bool m_received = false;
    bool m_bodyEnded = false;
};
