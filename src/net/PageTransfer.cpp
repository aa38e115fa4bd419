#include "net/PageTransfer.h"

#include "net/CredentialsPrompt.h"
#include "net/FetchAddress.h"
#include "net/FetchSettings.h"
#include "net/TransferLoop.h"
#include "platform/AsciiText.h"
#include "platform/UserMessage.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// A plain array, not a std::string: nothing a transfer reads may be torn
// down by the exit while the transfer still runs.
constexpr char kUserAgentLine[] =
    "User-Agent: Mozilla/4.0 (compatible; Kestrelle/1.0; zelto; " KESTRELLE_MAKER_URL ")";

using Clock = std::chrono::steady_clock;

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
            EndBody(false);
            return false;
        }
        m_deadline = Clock::now() + FetchSettings::CurrentTimeouts().pageTotal;
        m_phase = Phase::First;
        m_url = m_first;
        if (Prepare())
            return true;
    } catch (...) {
        // Out of memory or the like: nothing is sent.
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
    m_rawHeaders.clear();
    const auto timeouts = FetchSettings::CurrentTimeouts();
    CURL* curl = m_easy;
    // Back to libcurl's defaults, keeping what the handle learnt.
    curl_easy_reset(curl);
    const std::string url = FetchAddress::ToUrl(*parts);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, HeaderList(pageMode));
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
        if (left.count() <= 0)
            return false;
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    }
    // Certificates and host names are checked (libcurl's defaults); only
    // tests name another authority to trust.
    const std::string caFile = FetchSettings::CaFileForTests();
    if (!caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (m_phase == Phase::AfterCredentials && m_asked) {
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
    if (!m_headEnded || m_failed || Cancelled() || m_then == Then::Fail) {
        EndBody(false);
        return false;
    }
    if (m_then == Then::Body) {
        EndBody(curlResult == CURLE_OK || m_full);
        return false;
    }
    if (m_then == Then::Credentials) {
        m_authHead = m_rawHeaders;
        const auto prompt = FetchSettings::GetCredentialsPrompt();
        if (prompt) {
            if (auto credentials = prompt->Ask(m_first, m_authHead)) {
                m_user = credentials->user;
                m_password = credentials->password;
                m_asked = true;
            }
        }
        m_authSchemes = AuthSchemesFor(m_authHead);
        // The time the user took to answer belongs to the user, not the server.
        m_deadline = Clock::now() + FetchSettings::CurrentTimeouts().pageTotal;
        m_phase = Phase::AfterCredentials;
        if (Prepare())
            return true;
        Answered(0);
        EndBody(false);
        return false;
    }
    // A redirect, followed once.
    const auto location = FetchAddress::FindLocation(m_rawHeaders);
    const auto from = FetchAddress::Split(m_url);
    std::optional<FetchAddress::Parts> target;
    if (location && from)
        target = FetchAddress::Split(FetchAddress::Resolve(*from, *location));
    if (target && m_secureOnly && from->secure() && !target->secure()) {
        std::fprintf(stderr, "Kestrelle: not following %s from https to plain http\n",
                     m_address.c_str());
        target.reset();
    }
    if (target) {
        // The credentials stay with the server that asked for them.
        m_url = FetchAddress::ToUrl(*target);
        m_phase = Phase::AfterRedirect;
        if (Prepare())
            return true;
    }
    EndBody(false);
    return false;
}

void PageTransfer::Answered(long status)
{
    // Told once, after the request sent again with the prompt's credentials.
    if (!m_asked)
        return;
    m_asked = false;
    if (const auto prompt = FetchSettings::GetCredentialsPrompt())
        prompt->Answered(m_first, m_authHead, {m_user, m_password}, status);
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
        if (transfer->m_then != Then::Body || transfer->Cancelled())
            return CURL_WRITEFUNC_ERROR;
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
    const bool redirect = status == 301 || status == 302 || status == 303;
    switch (m_phase) {
    case Phase::First:
        m_then = status == 401 ? Then::Credentials : redirect ? Then::Redirect : Then::Body;
        break;
    case Phase::AfterCredentials:
        m_then = redirect ? Then::Redirect : Then::Body;
        break;
    case Phase::AfterRedirect:
        m_then = status == 200 ? Then::Body : Then::Fail;
        break;
    }
    if (m_then != Then::Body)
        return CURL_WRITEFUNC_ERROR; // this answer's body is of no use: stop reading
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
        m_full = !m_page.Add(data, size);
        return !m_full;
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
