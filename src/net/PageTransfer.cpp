#include "net/PageTransfer.h"

#include "net/CredentialsPrompt.h"
#include "net/FetchAddress.h"
#include "net/FetchSettings.h"
#include "net/TransferLoop.h"
#include "platform/AsciiText.h"
#include "platform/UserMessage.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

// A plain array, not a std::string: nothing a transfer reads may be torn
// down by the exit while the transfer still runs.
constexpr char kUserAgentLine[] =
    "User-Agent: Mozilla/4.0 (compatible; Kestrelle/1.0; zelto; " KESTRELLE_MAKER_URL ")";

using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> g_questions{0};

// The header lines handed to libcurl for each mode: made once, never freed,
// for the same reason. Null when there was no memory.
curl_slist* HeaderList(bool pageMode)
{
    const auto make = [](const char* accept) {
        // Without "Accept:" libcurl would add "Accept: */*" to a download.
        curl_slist* list = curl_slist_append(nullptr, accept);
        curl_slist* full = list ? curl_slist_append(list, kUserAgentLine) : nullptr;
        if (list && !full)
            curl_slist_free_all(list);
        return full;
    };
    static curl_slist* const page = make("Accept: text/*");
    static curl_slist* const download = make("Accept:");
    return pageMode ? page : download;
}

// The schemes to offer the credentials with, from the 401's challenges:
// Basic only to a server that asks for Basic and nothing else; otherwise
// libcurl picks the strongest safe scheme the server names (Digest, say)
// and never falls back to sending the password in the clear.
long AuthSchemesFor(const std::string& rawHeaders)
{
    const auto schemes = FetchAddress::AuthSchemes(rawHeaders);
    const bool basicOnly =
        !schemes.empty() &&
        std::all_of(schemes.begin(), schemes.end(), [](const auto& s) { return s == "basic"; });
    return basicOnly ? static_cast<long>(CURLAUTH_BASIC) : static_cast<long>(CURLAUTH_ANYSAFE);
}

// Growth of the page's text past 1 MiB by an eighth at a time, so that
// what the page holds stays close to what it needs near the cap. (A
// string's own reserve would double it: a new one is made at the size.)
void Reserve(std::string& text, std::size_t needed)
{
    if (needed <= text.capacity())
        return;
    if (text.capacity() < (std::size_t{1} << 20)) {
        text.reserve(needed);
        return;
    }
    std::string larger;
    larger.reserve(std::max<std::size_t>(
        needed, std::min<std::size_t>(text.capacity() / 8 * 9, FetchSettings::kPageSizeCap)));
    larger.append(text);
    text.swap(larger);
}

bool IsRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A time bound as the reasons name it: "30 s", "2 minutes".
std::string Span(std::chrono::milliseconds span)
{
    const auto ms = span.count();
    if (ms >= 60000 && ms % 60000 == 0)
        return std::to_string(ms / 60000) + (ms == 60000 ? " minute" : " minutes");
    if (ms % 1000 == 0)
        return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

// The reason phrase of the answer's status line ("HTTP/1.1 503 Service
// Unavailable"), when the server sent one.
std::string SentPhrase(const std::string& rawHeaders)
{
    const auto lineEnd = rawHeaders.find_first_of("\r\n");
    const std::string line = rawHeaders.substr(0, lineEnd);
    const auto first = line.find(' ');
    if (first == std::string::npos)
        return {};
    const auto second = line.find(' ', first + 1);
    if (second == std::string::npos)
        return {};
    std::string phrase = line.substr(second + 1);
    while (!phrase.empty() && (phrase.back() == ' ' || phrase.back() == '\t'))
        phrase.pop_back();
    return phrase;
}

} // namespace

void PageTransfer::Page::Clear()
{
    m_text.clear();
    m_cuts.clear();
    m_taken = 0;
    m_nulSeen = false;
    m_bytes = 0;
}

void PageTransfer::Page::Expect(std::int64_t announced)
{
    if (announced > 0 && m_text.empty())
        m_text.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(announced), FetchSettings::kPageSizeCap)));
}

std::string PageTransfer::Page::TakeText()
{
    std::string text = std::move(m_text);
    Clear();
    return text;
}

void PageTransfer::Page::Append(const char* bytes, std::size_t size)
{
    // The text up to the piece's first NUL, without its CRs.
    if (m_nulSeen || size == 0)
        return;
    if (const void* nul = std::memchr(bytes, '\0', size)) {
        size = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes);
        m_nulSeen = true;
    }
    Reserve(m_text, m_text.size() + size);
    const char* const end = bytes + size;
    while (bytes < end) {
        const void* cr = std::memchr(bytes, '\r', static_cast<std::size_t>(end - bytes));
        const char* stop = cr ? static_cast<const char*>(cr) : end;
        m_text.append(bytes, static_cast<std::size_t>(stop - bytes));
        bytes = cr ? stop + 1 : end;
    }
}

void PageTransfer::Page::Cut()
{
    if (m_text.empty() || m_text.back() != '\n' || m_nulSeen) {
        if (m_cuts.size() == m_cuts.capacity())
            m_cuts.reserve(m_cuts.size() < 4096 ? std::max<std::size_t>(16, 2 * m_cuts.size())
                                                : m_cuts.size() / 8 * 9);
        m_cuts.push_back(static_cast<std::uint32_t>(m_text.size()));
    }
    m_taken = 0;
    m_nulSeen = false;
}

bool PageTransfer::Page::Add(const char* bytes, std::size_t size)
{
    const auto cap = FetchSettings::kPageSizeCap;
    const char* const end =
        bytes + static_cast<std::size_t>(std::min<std::uint64_t>(size, cap - m_bytes));
    m_bytes += static_cast<std::size_t>(end - bytes);
    while (bytes < end) {
        const std::size_t room =
            std::min(static_cast<std::size_t>(end - bytes), kPieceLimit - m_taken);
        const void* lf = std::memchr(bytes, '\n', room);
        const std::size_t take =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - bytes) + 1 : room;
        Append(bytes, take);
        m_taken += take;
        bytes += take;
        if (lf || m_taken == kPieceLimit) {
            Cut();
            if (m_text.size() + m_cuts.size() * sizeof(std::uint32_t) >= cap)
                return false;
        }
    }
    return m_bytes < cap;
}

void PageTransfer::Page::End()
{
    if (m_taken > 0)
        Cut();
}

std::vector<std::string> PageTransfer::Page::Pieces() const
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    auto cut = m_cuts.begin();
    for (;;) {
        const auto lf = m_text.find('\n', start);
        if (cut != m_cuts.end() && (lf == std::string::npos || *cut <= lf)) {
            pieces.push_back(m_text.substr(start, *cut - start));
            start = *cut++;
        } else if (lf != std::string::npos) {
            pieces.push_back(m_text.substr(start, lf + 1 - start));
            start = lf + 1;
        } else {
            return pieces;
        }
    }
}

PageTransfer::PageTransfer(std::string address, std::string filePath, bool secureOnly,
                           Progress progress)
    : m_address(std::move(address)), m_filePath(std::move(filePath)), m_secureOnly(secureOnly),
      m_progress(std::move(progress))
{
}

PageTransfer::~PageTransfer()
{
    if (m_file)
        std::fclose(m_file);
    // Once the process is ending the handle stays: the exit may be tearing
    // down what its cleaning up would touch.
    if (m_easy && !TransferLoop::KeepIfClosing(m_easy))
        curl_easy_cleanup(m_easy);
}

void PageTransfer::Cancel()
{
    m_cancelled.store(true, std::memory_order_release);
    if (TransferLoop* running = loop.load(std::memory_order_acquire))
        running->Wake();
}

void PageTransfer::Finish()
{
    if (!m_bodyEnded)
        EndBody(false);
}

bool PageTransfer::Start()
{
    const bool pageMode = m_filePath.empty();
    try {
        if (!pageMode)
            Report("Downloading update ..");
        m_first = FetchAddress::Canonicalize(FetchAddress::FullAddress(m_address));
        TransferLoop* const running = loop.load(std::memory_order_acquire);
        m_easy = FetchSettings::CurlReady() ? curl_easy_init() : nullptr;
        if (!m_easy || !HeaderList(pageMode) || !running || !running->Usable() ||
            FetchSettings::SessionFailureForTests()) {
            UserMessage::Show("Cannot open internet connection.", UserMessage::Icon::Stop);
            Fail("no internet connection could be opened");
            EndBody(false);
            return false;
        }
        m_deadline = Clock::now() + FetchSettings::CurrentTimeouts().pageTotal;
        m_phase = Phase::First;
        m_url = m_first;
        if (Prepare())
            return true;
        Fail("address not usable");
    } catch (...) {
        // Out of memory or the like: nothing is sent.
        Fail("out of memory");
    }
    EndBody(false);
    return false;
}

void PageTransfer::Report(const std::string& text)
{
    if (m_progress)
        m_progress(text);
}

bool PageTransfer::Prepare()
{
    const auto parts = FetchAddress::Split(m_url);
    if (!parts || Cancelled())
        return false;
    const bool pageMode = m_filePath.empty();
    m_then = Then::Fail;
    m_headEnded = false;
    m_failed = false;
    m_discarded = 0;
    m_rawHeaders.clear();
    m_errorText[0] = '\0';
    const auto timeouts = FetchSettings::CurrentTimeouts();
    CURL* curl = m_easy;
    // Back to libcurl's defaults, keeping what the handle learnt.
    curl_easy_reset(curl);
    const std::string url = FetchAddress::ToUrl(*parts);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    // HTTP/1.1 keeps the connection for the next request to the same server;
    // some servers refuse 1.0 outright.
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, HeaderList(pageMode));
    // A page may come compressed; what is kept and searched is the decoded
    // body, and the page's bound counts decoded bytes. A download keeps the
    // bytes the server sends.
    if (pageMode)
        curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, m_errorText);
    // No proxy at all, none from http_proxy and friends either.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A cancel during a name lookup must not wait for the lookup to end.
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, timeouts.lowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(timeouts.lowSpeedTime.count()));
    if (pageMode) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        if (left.count() <= 0) {
            Fail("took longer than " + Span(timeouts.pageTotal));
            return false;
        }
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    }
    // Certificates and host names are checked (libcurl's defaults); only
    // tests name another authority to trust.
    const std::string caFile = FetchSettings::CaFileForTests();
    if (!caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (m_phase == Phase::AfterCredentials && (m_asked || m_fromAddress)) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, m_authSchemes);
        curl_easy_setopt(curl, CURLOPT_USERNAME, m_user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, m_password.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &PageTransfer::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &PageTransfer::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    return true;
}

bool PageTransfer::RequestEnded(int curlResult)
{
    try {
        if (Next(curlResult))
            return true;
    } catch (...) {
        m_failed = true;
    }
    return false;
}

bool PageTransfer::Next(int curlResult)
{
    if (m_phase == Phase::AfterCredentials)
        Answered(Status());
    if (Cancelled()) {
        Fail("cancelled");
        EndBody(false);
        return false;
    }
    if (!m_headEnded || m_failed || m_then == Then::Fail) {
        if (m_headEnded && !m_failed && m_then == Then::Fail)
            Fail(StatusFailure(Status()));
        else
            Fail(m_failed ? "out of memory" : TransferFailure(curlResult));
        EndBody(false);
        return false;
    }
    if (m_then == Then::Body) {
        // A page that filled up after its text went by needs no more reading.
        const bool complete =
            curlResult == CURLE_OK || (m_filePath.empty() && m_full && m_outcome.textSeen);
        m_outcome.status = Status();
        if (!complete)
            Fail(TransferFailure(curlResult));
        else if (m_outcome.status < 200 || m_outcome.status > 299)
            Fail(StatusFailure(m_outcome.status));
        EndBody(complete);
        return false;
    }
    if (m_then == Then::Credentials) {
        m_authHead = m_rawHeaders;
        m_credentialsTried = true;
        // Credentials written into the address go to the server of that
        // address only, never to one a redirect led to.
        const auto inAddress = FetchAddress::UserInfo(m_address);
        if (inAddress && SameServerAsFirst()) {
            m_user = inAddress->user;
            m_password = inAddress->password;
            m_fromAddress = true;
        } else if (const auto prompt = FetchSettings::GetCredentialsPrompt()) {
            // Counted before and after: the question holds up every other
            // transfer of this thread's loop meanwhile.
            g_questions.fetch_add(1, std::memory_order_relaxed);
            auto credentials = prompt->Ask(m_url, m_authHead);
            g_questions.fetch_add(1, std::memory_order_relaxed);
            if (credentials) {
                m_user = credentials->user;
                m_password = credentials->password;
                m_asked = true;
            }
        }
        m_authSchemes = AuthSchemesFor(m_authHead);
        // The time the user took to answer belongs to the user, not the server.
        if (m_asked)
            m_deadline = Clock::now() + FetchSettings::CurrentTimeouts().pageTotal;
        m_phase = Phase::AfterCredentials;
        if (Prepare())
            return true;
        Answered(0);
        Fail(m_outcome.failure.empty() ? "address not usable" : m_outcome.failure);
        EndBody(false);
        return false;
    }
    // A redirect.
    const auto location = FetchAddress::FindLocation(m_rawHeaders);
    const auto from = FetchAddress::Split(m_url);
    std::optional<FetchAddress::Parts> target;
    if (location && from)
        target = FetchAddress::Split(FetchAddress::Resolve(*from, *location));
    if (!target) {
        Fail("redirect to no usable address");
    } else if (m_secureOnly && from->secure() && !target->secure()) {
        std::fprintf(stderr, "Kestrelle: not following %s from https to plain http\n",
                     FetchAddress::Shown(m_address).c_str());
        Fail("redirect from https to plain http");
    } else {
        const std::string next = FetchAddress::ToUrl(*target);
        if (m_visited.empty())
            m_visited.push_back(FetchAddress::ToUrl(*from));
        if (std::find(m_visited.begin(), m_visited.end(), next) != m_visited.end()) {
            Fail("redirect loop");
        } else if (m_redirects == kMaxRedirects) {
            Fail("too many redirects");
        } else {
            ++m_redirects;
            m_visited.push_back(next);
            m_url = next;
            m_phase = Phase::AfterRedirect;
            if (Prepare())
                return true;
            Fail(m_outcome.failure.empty() ? "address not usable" : m_outcome.failure);
        }
    }
    EndBody(false);
    return false;
}

void PageTransfer::Fail(std::string reason)
{
    // The first reason stands: later steps only follow from it.
    if (m_outcome.failure.empty())
        m_outcome.failure = std::move(reason);
}

bool PageTransfer::SameServerAsFirst() const
{
    const auto first = FetchAddress::Split(m_first);
    const auto now = FetchAddress::Split(m_url);
    return first && now && first->scheme == now->scheme &&
           AsciiText::Lower(first->server) == AsciiText::Lower(now->server) &&
           first->port == now->port;
}

std::string PageTransfer::StatusFailure(long status) const
{
    if (status == 401)
        return "needs a log-in";
    std::string phrase = SentPhrase(m_rawHeaders);
    if (phrase.empty())
        phrase = StandardPhrase(status);
    return "HTTP " + std::to_string(status) + (phrase.empty() ? "" : " " + phrase);
}

std::string PageTransfer::TransferFailure(int curlResult) const
{
    const auto timeouts = FetchSettings::CurrentTimeouts();
    long osError = 0;
    if (m_easy)
        curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osError);
    const std::string said = m_errorText;
    switch (curlResult) {
    case CURLE_OK:
        return "the answer ended early";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "host not found";
    case CURLE_COULDNT_CONNECT:
        if (osError == ECONNREFUSED)
            return "connection refused";
        if (osError == ENETUNREACH || osError == EHOSTUNREACH)
            return "host unreachable";
        return "could not connect";
    case CURLE_OPERATION_TIMEDOUT: {
        // libcurl says "timed out" for all three bounds; which one it was
        // shows in what had come so far.
        if (m_filePath.empty() && Clock::now() + std::chrono::milliseconds(50) >= m_deadline)
            return "took longer than " + Span(timeouts.pageTotal);
        if (!m_headEnded) {
            curl_off_t connected = 0;
            curl_easy_getinfo(m_easy, CURLINFO_CONNECT_TIME_T, &connected);
            return "no answer within " +
                   Span(connected > 0 ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                            timeouts.lowSpeedTime)
                                      : timeouts.connect);
        }
        return "stalled for " +
               Span(std::chrono::duration_cast<std::chrono::milliseconds>(timeouts.lowSpeedTime));
    }
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return osError == ECONNRESET || said.find("reset") != std::string::npos ? "connection reset"
                                                                                : "connection lost";
    case CURLE_PARTIAL_FILE:
        return "the answer ended early";
    case CURLE_GOT_NOTHING:
        return "empty answer";
    case CURLE_BAD_CONTENT_ENCODING:
        return "compressed page is damaged";
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "address not usable";
    case CURLE_WRITE_ERROR:
        return m_filePath.empty() ? "out of memory" : "file could not be written";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return TlsText(said.empty() ? curl_easy_strerror(static_cast<CURLcode>(curlResult)) : said);
    default: {
        std::string text = curl_easy_strerror(static_cast<CURLcode>(curlResult));
        if (!text.empty())
            text[0] = AsciiText::Lower(text.substr(0, 1))[0];
        return text;
    }
    }
}

std::string PageTransfer::TlsText(const std::string& libcurlText)
{
    const std::string lower = AsciiText::Lower(libcurlText);
    if (lower.find("expired") != std::string::npos)
        return "certificate has expired";
    if (lower.find("not yet valid") != std::string::npos)
        return "certificate is not yet valid";
    if (lower.find("self signed") != std::string::npos ||
        lower.find("self-signed") != std::string::npos)
        return "self-signed certificate";
    if (lower.find("local issuer") != std::string::npos ||
        lower.find("unknown ca") != std::string::npos)
        return "certificate issuer not trusted";
    if (lower.find("subject name") != std::string::npos ||
        lower.find("does not match") != std::string::npos)
        return "certificate is for another host name";
    if (lower.find("revoked") != std::string::npos)
        return "certificate has been revoked";
    // Otherwise libcurl's own words without the library's prefixes and codes:
    // "OpenSSL/3.0.11: error:0A000410:SSL routines::sslv3 alert handshake failure".
    std::string text = libcurlText;
    if (const auto colons = text.rfind("::"); colons != std::string::npos)
        text = text.substr(colons + 2);
    for (const char* prefix : {"SSL certificate problem: ", "SSL: "}) {
        if (text.rfind(prefix, 0) == 0)
            text.erase(0, std::strlen(prefix));
    }
    return "TLS: " + text;
}

std::string PageTransfer::StandardPhrase(long status)
{
    static constexpr struct
    {
        long status;
        const char* phrase;
    } kPhrases[] = {{300, "Multiple Choices"},
                    {304, "Not Modified"},
                    {305, "Use Proxy"},
                    {400, "Bad Request"},
                    {401, "Unauthorized"},
                    {402, "Payment Required"},
                    {403, "Forbidden"},
                    {404, "Not Found"},
                    {405, "Method Not Allowed"},
                    {406, "Not Acceptable"},
                    {407, "Proxy Authentication Required"},
                    {408, "Request Timeout"},
                    {409, "Conflict"},
                    {410, "Gone"},
                    {411, "Length Required"},
                    {412, "Precondition Failed"},
                    {413, "Content Too Large"},
                    {414, "URI Too Long"},
                    {415, "Unsupported Media Type"},
                    {416, "Range Not Satisfiable"},
                    {417, "Expectation Failed"},
                    {421, "Misdirected Request"},
                    {422, "Unprocessable Content"},
                    {425, "Too Early"},
                    {426, "Upgrade Required"},
                    {428, "Precondition Required"},
                    {429, "Too Many Requests"},
                    {431, "Request Header Fields Too Large"},
                    {451, "Unavailable For Legal Reasons"},
                    {500, "Internal Server Error"},
                    {501, "Not Implemented"},
                    {502, "Bad Gateway"},
                    {503, "Service Unavailable"},
                    {504, "Gateway Timeout"},
                    {505, "HTTP Version Not Supported"},
                    {511, "Network Authentication Required"}};
    for (const auto& p : kPhrases) {
        if (p.status == status)
            return p.phrase;
    }
    return {};
}

void PageTransfer::Answered(long status)
{
    // Told once, after the request sent again with the prompt's credentials.
    if (!m_asked)
        return;
    m_asked = false;
    if (const auto prompt = FetchSettings::GetCredentialsPrompt())
        prompt->Answered(m_url, m_authHead, {m_user, m_password}, status);
}

long PageTransfer::Status() const
{
    long status = 0;
    if (m_easy && m_headEnded)
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// No exception may cross libcurl's C frames: every callback turns one into
// libcurl's error return, and the request then fails.
std::size_t PageTransfer::OnHeader(char* data, std::size_t, std::size_t size, void* self) noexcept
{
    auto* transfer = static_cast<PageTransfer*>(self);
    try {
        return transfer->Header(data, size);
    } catch (...) {
        transfer->m_failed = true;
        return CURL_WRITEFUNC_ERROR;
    }
}

std::size_t PageTransfer::OnBody(char* data, std::size_t, std::size_t size, void* self) noexcept
{
    auto* transfer = static_cast<PageTransfer*>(self);
    try {
        if (transfer->Cancelled())
            return CURL_WRITEFUNC_ERROR;
        if (transfer->m_then != Then::Body) {
            // The short page of a redirect or a 401 is read past, so that the
            // connection can carry the next request; a long one is not worth it.
            transfer->m_discarded += size;
            return transfer->m_discarded <= kDiscardLimit ? size : CURL_WRITEFUNC_ERROR;
        }
        return transfer->Body(data, size) ? size : CURL_WRITEFUNC_ERROR;
    } catch (...) {
        transfer->m_failed = true;
        return CURL_WRITEFUNC_ERROR;
    }
}

std::size_t PageTransfer::Header(const char* data, std::size_t size)
{
    const std::string_view line(data, size);
    if (line.rfind("HTTP/", 0) == 0)
        m_rawHeaders.clear(); // a new head (after an interim 1xx answer)
    m_rawHeaders += line;
    if (line != "\r\n" && line != "\n")
        return size;
    long status = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200)
        return size;
    m_headEnded = true;
    const bool pageMode = m_filePath.empty();
    if (IsRedirect(status))
        m_then = Then::Redirect;
    else if (status == 401 && !m_credentialsTried && (m_phase == Phase::First || pageMode))
        m_then = Then::Credentials;
    else if (m_phase == Phase::AfterRedirect && !pageMode && status != 200)
        m_then = Then::Fail; // an installer comes from where it was sent, or not at all
    else
        m_then = Then::Body;
    if (m_then == Then::Fail)
        return CURL_WRITEFUNC_ERROR; // this answer's body is of no use: stop reading
    if (m_then != Then::Body)
        return size;
    if (pageMode) {
        char* type = nullptr;
        curl_easy_getinfo(m_easy, CURLINFO_CONTENT_TYPE, &type);
        m_outcome.contentType = type ? type : "";
    }
    curl_off_t length = -1;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (m_filePath.empty()) {
        m_page.Expect(static_cast<std::int64_t>(length));
    } else {
        m_announced = static_cast<std::int64_t>(length);
        if (!m_file)
            m_file = std::fopen(m_filePath.c_str(), "wb");
        if (!m_file)
            m_failed = true;
    }
    return size;
}

bool PageTransfer::Body(const char* data, std::size_t size)
{
    if (m_filePath.empty()) {
        // Only the body's first part is kept; the rest is read for as long
        // as the text has not been seen in it.
        Search(data, size);
        if (!m_full)
            m_full = !m_page.Add(data, size);
        return !(m_full && m_outcome.textSeen);
    }
    while (size > 0 && !m_failed) {
        const auto take = std::min(size, kDownloadBlock - m_block.size());
        m_block.append(data, take);
        data += take;
        size -= take;
        if (m_block.size() == kDownloadBlock)
            WriteBlock();
    }
    return !m_failed;
}

void PageTransfer::Search(const char* data, std::size_t size)
{
    if (m_outcome.textSeen)
        return;
    if (m_search.empty()) {
        m_outcome.textSeen = true;
        return;
    }
    // What came before that could still begin the text, then this run, CRs
    // left out as the page leaves them out.
    const char* const end = data + size;
    while (data < end) {
        const void* cr = std::memchr(data, '\r', static_cast<std::size_t>(end - data));
        const char* stop = cr ? static_cast<const char*>(cr) : end;
        m_window.append(data, static_cast<std::size_t>(stop - data));
        data = cr ? stop + 1 : end;
    }
    if (m_window.find(m_search) != std::string::npos) {
        m_outcome.textSeen = true;
        std::string().swap(m_window);
        return;
    }
    const std::size_t keep = m_search.size() - 1;
    if (m_window.size() > keep)
        m_window.erase(0, m_window.size() - keep);
}

void PageTransfer::WriteBlock()
{
    if (IsHtmlBlock(m_block)) {
        m_failed = true; // an HTML page came instead of the file
    } else if (!m_block.empty() &&
               std::fwrite(m_block.data(), 1, m_block.size(), m_file) != m_block.size()) {
        m_failed = true;
    }
    m_written += m_block.size();
    m_block.clear();
    Report(ProgressText(m_written, m_announced));
}

void PageTransfer::EndBody(bool complete)
{
    if (m_bodyEnded)
        return;
    m_bodyEnded = true;
    // A page keeps what it read, also after a failure.
    if (m_filePath.empty()) {
        m_page.End();
        m_received = true;
        return;
    }
    // A file is kept only after a whole body that was no HTML page and not empty.
    try {
        if (complete && !m_failed && m_file)
            WriteBlock(); // the short last read, possibly of 0 bytes
    } catch (...) {
        m_failed = true;
    }
    if (m_written == 0)
        m_failed = true;
    if (m_file && std::fclose(m_file) != 0)
        m_failed = true;
    m_file = nullptr;
    m_received = complete && !m_failed;
    if (!m_received)
        std::remove(m_filePath.c_str());
}

std::uint64_t PageTransfer::Questions()
{
    return g_questions.load(std::memory_order_relaxed);
}

std::string PageTransfer::PageHeaderBlock()
{
    return std::string("Accept: text/*\r\n") + kUserAgentLine + "\r\n";
}

std::string PageTransfer::DownloadHeaderBlock()
{
    return std::string(kUserAgentLine) + "\r\n";
}

bool PageTransfer::IsHtmlBlock(std::string_view block)
{
    return AsciiText::Lower(block.substr(0, block.find('\0'))).find("<html>") != std::string::npos;
}

std::string PageTransfer::ProgressText(std::uint64_t received, std::int64_t announced)
{
    std::string text = "Read " + std::to_string(received);
    if (announced > 0)
        text += "/" + std::to_string(announced);
    return text + " bytes";
}
