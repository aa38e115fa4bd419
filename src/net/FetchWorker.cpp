#include "net/FetchWorker.h"

#include "net/CredentialsPrompt.h"
#include "net/FetchAddress.h"
#include "net/FetchJob.h"
#include "net/FetchProgress.h"
#include "net/FetchSettings.h"
#include "net/PieceSplitter.h"
#include "net/ResponseHeaders.h"
#include "net/TransferHandles.h"
#include "platform/UserMessage.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

namespace {

// A plain array, not a std::string: nothing a transfer reads may be torn
// down by the exit while the transfer still runs.
constexpr char kUserAgentLine[] =
    "User-Agent: Mozilla/4.0 (compatible; Kestrelle/1.0; zelto; " KESTRELLE_MAKER_URL ")";

constexpr std::size_t kDownloadBlock = 1024;

using Clock = std::chrono::steady_clock;

// Where the bytes of the answer that goes on to the body are sent.
class BodySink
{
public:
    virtual ~BodySink() = default;
    // The head of the answer has been read; `announced` is the body length
    // from Content-Length, -1 when there is none.
    virtual void Begin(std::int64_t announced) = 0;
    // False stops the transfer (the sink has all it wants, or failed).
    virtual bool Feed(const char* bytes, std::size_t size) = 0;
    // Stopping because the sink had enough is not a failed transfer.
    virtual bool HadEnough() const { return false; }
};

enum class Phase
{
    First,
    AfterCredentials,
    AfterRedirect
};
enum class Next
{
    Fail,
    Credentials,
    Redirect,
    Body
};

// The requests of one fetch on the transfer thread's handles: the first
// request, the second after a 401 and the redirected one.
class Session
{
public:
    Session(FetchJob& job, TransferHandles& handles, bool pageMode, BodySink& sink)
        : m_job(job), m_handles(handles), m_pageMode(pageMode), m_sink(sink)
    {
        StartClock();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Opened() const { return m_handles.Usable() && !FetchSettings::SessionFailureForTests(); }
    const std::string& RawHeaders() const { return m_rawHeaders; }
    // The status of the last answer whose head was read; 0 when none was.
    long Status() const
    {
        long status = 0;
        if (m_handles.easy && m_headEnded)
            curl_easy_getinfo(m_handles.easy, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // The page's time limit starts (again) now: for the first request, and
    // for the one sent after a credentials prompt, whose time belongs to the
    // user and not to the server.
    void StartClock() { m_deadline = Clock::now() + FetchSettings::CurrentTimeouts().pageTotal; }

    // One request; says what comes next. Next::Body means the body went to
    // the sink and `bodyComplete` tells whether it arrived whole.
    Next Perform(const FetchAddress::Parts& parts, Phase phase,
                 const std::optional<CredentialsPrompt::Credentials>& credentials, long authSchemes,
                 bool& bodyComplete)
    {
        bodyComplete = false;
        m_phase = phase;
        m_next = Next::Fail;
        m_headEnded = false;
        m_failed = false;
        m_rawHeaders.clear();
        if (m_job.Cancelled())
            return Next::Fail;

        CURL* curl = m_handles.easy;
        const auto timeouts = FetchSettings::CurrentTimeouts();
        // Back to libcurl's defaults, keeping what the handle learnt (its
        // DNS cache, TLS sessions, connections).
        curl_easy_reset(curl);
        const std::string url = FetchAddress::ToUrl(parts);
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER,
                         m_pageMode ? m_handles.pageHeaders : m_handles.downloadHeaders);
        // No proxy at all, none from http_proxy and friends either.
        curl_easy_setopt(curl, CURLOPT_PROXY, "");
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        // A cancel during a name lookup must not wait for the lookup to end.
        curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(timeouts.connect.count()));
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, timeouts.lowSpeedBytes);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(timeouts.lowSpeedTime.count()));
        if (m_pageMode) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
            if (left.count() <= 0)
                return Next::Fail;
            curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
        }
        // Certificates and host names are checked (libcurl's defaults);
        // only tests name another authority to trust.
        const std::string caFile = FetchSettings::CaFileForTests();
        if (!caFile.empty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
        if (credentials) {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, authSchemes);
            curl_easy_setopt(curl, CURLOPT_USERNAME, credentials->user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, credentials->password.c_str());
        }
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Session::OnHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Session::OnBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);

        const CURLcode result = RunTransfer();
        if (!m_headEnded || m_failed || m_job.Cancelled())
            return Next::Fail;
        if (m_next == Next::Body)
            bodyComplete = result == CURLE_OK || m_sink.HadEnough();
        return m_next;
    }

private:
    // The transfer in the thread's multi handle, whose wait Cancel can
    // interrupt at once (an easy perform would notice only at its next
    // progress call, up to a second later).
    CURLcode RunTransfer()
    {
        CURLM* multi = m_handles.multi;
        CURL* curl = m_handles.easy;
        if (curl_multi_add_handle(multi, curl) != CURLM_OK)
            return CURLE_FAILED_INIT;
        CURLcode result = CURLE_ABORTED_BY_CALLBACK;
        for (;;) {
            if (m_job.Cancelled())
                break;
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            bool finished = false;
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                    result = message->data.result;
                    finished = true;
                }
            }
            if (finished || m_job.Cancelled())
                break;
            // libcurl shortens this to its own next time-out.
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        curl_multi_remove_handle(multi, curl);
        return result;
    }

    // No exception may cross libcurl's C frames: every callback turns one
    // into libcurl's error return, and the request then fails.
    static std::size_t OnHeader(char* data, std::size_t, std::size_t size, void* self) noexcept
    {
        auto* session = static_cast<Session*>(self);
        try {
            return session->Header(data, size);
        } catch (...) {
            session->m_failed = true;
            return CURL_WRITEFUNC_ERROR;
        }
    }
    static std::size_t OnBody(char* data, std::size_t, std::size_t size, void* self) noexcept
    {
        auto* session = static_cast<Session*>(self);
        try {
            if (session->m_next != Next::Body || session->m_job.Cancelled())
                return CURL_WRITEFUNC_ERROR;
            return session->m_sink.Feed(data, size) ? size : CURL_WRITEFUNC_ERROR;
        } catch (...) {
            session->m_failed = true;
            return CURL_WRITEFUNC_ERROR;
        }
    }

    std::size_t Header(const char* data, std::size_t size)
    {
        const std::string line(data, size);
        if (line.rfind("HTTP/", 0) == 0)
            m_rawHeaders.clear(); // a new head (after an interim 1xx answer)
        m_rawHeaders += line;
        if (line != "\r\n" && line != "\n")
            return size;
        long status = 0;
        curl_easy_getinfo(m_handles.easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 100 && status < 200)
            return size;
        m_headEnded = true;
        const bool redirect = status == 301 || status == 302 || status == 303;
        switch (m_phase) {
        case Phase::First:
            m_next = status == 401 ? Next::Credentials : redirect ? Next::Redirect : Next::Body;
            break;
        case Phase::AfterCredentials:
            m_next = redirect ? Next::Redirect : Next::Body;
            break;
        case Phase::AfterRedirect:
            m_next = status == 200 ? Next::Body : Next::Fail;
            break;
        }
        if (m_next != Next::Body)
            return CURL_WRITEFUNC_ERROR; // this answer's body is of no use: stop reading
        curl_off_t length = -1;
        curl_easy_getinfo(m_handles.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        m_sink.Begin(static_cast<std::int64_t>(length));
        return size;
    }

    FetchJob& m_job;
    TransferHandles& m_handles;
    bool m_pageMode;
    BodySink& m_sink;
    Clock::time_point m_deadline;
    Phase m_phase = Phase::First;
    Next m_next = Next::Fail;
    bool m_headEnded = false;
    bool m_failed = false;
    std::string m_rawHeaders;
};

// The schemes to offer the credentials with, from the 401's challenges:
// Basic only to a server that asks for Basic and nothing else; otherwise
// libcurl picks the strongest safe scheme the server names (Digest, say)
// and never falls back to sending the password in the clear.
long AuthSchemesFor(const std::string& rawHeaders)
{
    const auto schemes = ResponseHeaders::AuthSchemes(rawHeaders);
    const bool basicOnly =
        !schemes.empty() &&
        std::all_of(schemes.begin(), schemes.end(), [](const auto& s) { return s == "basic"; });
    return basicOnly ? static_cast<long>(CURLAUTH_BASIC) : static_cast<long>(CURLAUTH_ANYSAFE);
}

// The request stage shared by both workers, redirect and 401 included.
// True when a body went to the sink and arrived whole.
bool RunRequest(FetchJob& job, Session& session)
{
    const std::string full = FetchAddress::Canonicalize(FetchAddress::FullAddress(job.address));
    const auto parts = FetchAddress::Split(full);
    if (!parts)
        return false;
    bool complete = false;
    Next next = session.Perform(*parts, Phase::First, std::nullopt, 0, complete);
    if (next == Next::Credentials) {
        std::optional<CredentialsPrompt::Credentials> credentials;
        const std::string head = session.RawHeaders();
        const auto prompt = FetchSettings::GetCredentialsPrompt();
        if (prompt)
            credentials = prompt->Ask(full, head);
        session.StartClock();
        next = session.Perform(*parts, Phase::AfterCredentials, credentials, AuthSchemesFor(head),
                               complete);
        if (prompt && credentials)
            prompt->Answered(full, head, *credentials, session.Status());
    }
    if (next == Next::Redirect) {
        const auto location = ResponseHeaders::FindLocation(session.RawHeaders());
        if (!location)
            return false;
        const auto target = FetchAddress::Split(FetchAddress::Resolve(*parts, *location));
        if (!target)
            return false;
        if (job.secureOnly && parts->secure() && !target->secure()) {
            std::fprintf(stderr, "Kestrelle: not following %s from https to plain http\n",
                         job.address.c_str());
            return false;
        }
        // The credentials stay with the server that asked for them.
        next = session.Perform(*target, Phase::AfterRedirect, std::nullopt, 0, complete);
    }
    return next == Next::Body && complete && !job.Cancelled();
}

void ReportNoSession()
{
    UserMessage::Show("Cannot open internet connection.", UserMessage::Icon::Stop);
}

class PageSink : public BodySink
{
public:
    explicit PageSink(FetchJob& job) : m_body(job.body)
    {
        if (job.pieces)
            m_splitter.emplace(*job.pieces, std::move(job.spare));
    }
    void Begin(std::int64_t announced) override
    {
        if (!m_splitter && announced > 0 && m_body.empty())
            m_body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
                static_cast<std::uint64_t>(announced), FetchSettings::kPageSizeCap)));
    }
    bool Feed(const char* bytes, std::size_t size) override
    {
        const auto room = FetchSettings::kPageSizeCap - m_taken;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(size, room));
        m_taken += take;
        if (m_splitter) {
            m_splitter->Feed(bytes, take);
            m_full = m_taken >= FetchSettings::kPageSizeCap ||
                     m_splitter->Cost() >= FetchSettings::kPageSizeCap;
            return !m_full;
        }
        m_body.append(bytes, take);
        // The memory the pieces will take counts, not only the body's bytes:
        // a body of short lines costs far more than its size. No piece costs
        // more than kMaxCostPerByte per byte taken, so a body below
        // cap / kMaxCostPerByte cannot reach the cap and is not counted at
        // all; past that the count catches up once and then follows.
        if (m_counted > 0 || m_body.size() * kMaxCostPerByte >= FetchSettings::kPageSizeCap) {
            m_counter.Feed(m_body.data() + m_counted, m_body.size() - m_counted);
            m_counted = m_body.size();
        }
        m_full = m_body.size() >= FetchSettings::kPageSizeCap ||
                 m_counter.Cost() >= FetchSettings::kPageSizeCap;
        return !m_full;
    }
    bool HadEnough() const override { return m_full; }
    // The end of the body, whole or not: the last piece is made. What the
    // pieces take, when they were cut here.
    std::size_t End()
    {
        if (!m_splitter)
            return 0;
        m_splitter->Finish();
        return m_splitter->Cost();
    }

private:
    // A piece of one LF costs a list node (64 bytes) for one byte taken;
    // every other shape costs less per byte.
    static constexpr std::size_t kMaxCostPerByte = 64;

    std::string& m_body;
    std::optional<PieceSplitter> m_splitter; // cutting as the body arrives
    PieceSplitter m_counter;                 // counting only, for the body kept whole
    std::uint64_t m_taken = 0;
    std::size_t m_counted = 0;
    bool m_full = false;
};

class DownloadSink : public BodySink
{
public:
    DownloadSink(const std::string& path, FetchProgress* progress)
        : m_path(path), m_progress(progress)
    {
    }
    ~DownloadSink() override
    {
        if (m_file)
            std::fclose(m_file);
    }
    DownloadSink(const DownloadSink&) = delete;
    DownloadSink& operator=(const DownloadSink&) = delete;

    void Begin(std::int64_t announced) override
    {
        m_announced = announced;
        if (!m_file)
            m_file = std::fopen(m_path.c_str(), "wb");
        if (!m_file)
            m_failed = true;
    }
    bool Feed(const char* bytes, std::size_t size) override
    {
        while (size > 0 && !m_failed) {
            const auto take = std::min(size, kDownloadBlock - m_block.size());
            m_block.append(bytes, take);
            bytes += take;
            size -= take;
            if (m_block.size() == kDownloadBlock)
                Block();
        }
        return !m_failed;
    }
    // Keeps the file only after a whole body that was no HTML page and not empty.
    void End(bool complete)
    {
        if (complete && !m_failed)
            Block(); // the short last read, possibly of 0 bytes
        if (m_received == 0)
            m_failed = true;
        if (m_file && std::fclose(m_file) != 0)
            m_failed = true;
        m_file = nullptr;
        if (m_failed || !complete)
            std::remove(m_path.c_str());
    }

private:
    void Block()
    {
        if (FetchWorker::IsHtmlBlock(m_block)) {
            m_failed = true; // an HTML page came instead of the file
        } else if (!m_block.empty() &&
                   std::fwrite(m_block.data(), 1, m_block.size(), m_file) != m_block.size()) {
            m_failed = true;
        }
        m_received += m_block.size();
        m_block.clear();
        if (m_progress)
            m_progress->SetProgressText(FetchWorker::ProgressText(m_received, m_announced));
    }

    std::string m_path;
    FetchProgress* m_progress;
    std::FILE* m_file = nullptr;
    std::string m_block;
    std::int64_t m_announced = -1;
    std::uint64_t m_received = 0;
    bool m_failed = false;
};

} // namespace

std::string FetchWorker::PageHeaderBlock()
{
    return std::string("Accept: text/*\r\n") + kUserAgentLine + "\r\n";
}

std::string FetchWorker::DownloadHeaderBlock()
{
    return std::string(kUserAgentLine) + "\r\n";
}

curl_slist* FetchWorker::HeaderList(bool pageMode)
{
    // Without "Accept:" libcurl would add "Accept: */*" to a download.
    curl_slist* list = curl_slist_append(nullptr, pageMode ? "Accept: text/*" : "Accept:");
    if (!list)
        return nullptr;
    curl_slist* full = curl_slist_append(list, kUserAgentLine);
    if (!full)
        curl_slist_free_all(list);
    return full;
}

bool FetchWorker::IsHtmlBlock(std::string_view block)
{
    const auto nul = block.find('\0');
    std::string lower(block.substr(0, nul));
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("<html>") != std::string::npos;
}

std::string FetchWorker::ProgressText(std::uint64_t received, std::int64_t announced)
{
    std::string text = "Read " + std::to_string(received);
    if (announced > 0)
        text += "/" + std::to_string(announced);
    return text + " bytes";
}

void FetchWorker::FetchPageThread(FetchJob& job, TransferHandles& handles)
{
    try {
        PageSink sink(job);
        Session session(job, handles, true, sink);
        if (!session.Opened())
            ReportNoSession();
        else
            RunRequest(job, session); // page mode keeps what it read, also after a failure
        job.piecesCost = sink.End();
    } catch (...) {
        // Out of memory or the like: the caller gets what was stored, of a
        // size not known here.
        job.piecesCost = std::numeric_limits<std::size_t>::max();
    }
    if (job.Cancelled()) {
        job.body.clear();
        if (job.pieces)
            job.pieces->clear();
        job.piecesCost = 0;
    }
}

void FetchWorker::DownloadFileThread(FetchJob& job, TransferHandles& handles)
{
    try {
        if (job.progress)
            job.progress->SetProgressText("Downloading update ..");
        DownloadSink sink(job.filePath, job.progress);
        Session session(job, handles, false, sink);
        if (!session.Opened()) {
            ReportNoSession();
            sink.End(false);
        } else {
            const bool complete = RunRequest(job, session);
            sink.End(complete);
        }
    } catch (...) {
        std::remove(job.filePath.c_str());
    }
}
