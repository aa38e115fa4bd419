#include "net/CurlSmtpSession.h"

#include "net/CMailRecipient.h"
#include "net/FetchSettings.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct Upload
{
    const std::string& data;
    std::size_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    const std::size_t n = std::min(size * count, upload->data.size() - upload->offset);
    std::memcpy(buffer, upload->data.data() + upload->offset, n);
    upload->offset += n;
    return n;
}

// Only what the server says is kept: our own commands carry the account.
int CollectReplies(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* response = static_cast<std::string*>(user);
    if (type == CURLINFO_HEADER_IN)
        response->append(
            data, std::min(size, CurlSmtpSession::kMaxResponse -
                                     std::min(response->size(), CurlSmtpSession::kMaxResponse)));
    return 0;
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// A server name that could not be the host part of the address libcurl is
// given (or would change its meaning: a path, a user, a port).
bool IsHostName(const std::string& server)
{
    return !server.empty() && server.find_first_of("/?#@ \t\r\n%\\") == std::string::npos;
}

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using List = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

} // namespace

void CurlSmtpSession::SetAccount(const std::string& username, const std::string& password)
{
    m_username = username;
    m_password = password;
}

void CurlSmtpSession::SetSenderEmail(const std::string& address)
{
    m_sender = address;
    m_message.SetSenderEmail(address);
}

bool CurlSmtpSession::AddRecipient(const std::string& address, const std::string& displayName)
{
    if (!m_message.AddRecipient(address, displayName))
        return false;
    m_recipients.push_back(CMailRecipient(address, displayName).Address());
    return true;
}

CurlSmtpSession::Result CurlSmtpSession::Send(const std::string& server, std::uint16_t port)
{
    m_strResponse.clear();
    const auto fail = [this](const std::string& why) {
        std::fprintf(stderr, "Kestrelle: e-mail not sent: %s\n", why.c_str());
        m_strResponse += why + "\n";
        return Result::Failed;
    };
    if (!IsHostName(server)) {
        std::fprintf(stderr, "Kestrelle: e-mail not sent: \"%s\" is no server name\n",
                     server.c_str());
        return Result::NoConnection;
    }
    if (!m_sender)
        return fail("no sender address");
    // Header lines and commands end at a line break: one inside a value would
    // add lines of its own (a recipient, say).
    bool breaks = HasLineBreak(*m_sender) || HasLineBreak(m_username) || HasLineBreak(m_password);
    for (const std::string& r : m_recipients)
        breaks = breaks || HasLineBreak(r);
    if (breaks)
        return fail("a line break in the sender, a recipient or the account");
    const std::optional<std::string> header = m_message.FormatHeader();
    if (!header)
        return fail("no recipient, or the header is too long");
    // libcurl ends the data with ".\r\n" after a closing CR LF: the same bytes
    // as CSmtpClient's "\r\n.\r\n" after the body, so the message arrives
    // alike. It also doubles a "." that starts a line, as CSmtpClient does.
    const std::string data = *header + m_body + "\r\n";

    Easy curl(FetchSettings::CurlReady() ? curl_easy_init() : nullptr, &curl_easy_cleanup);
    if (!curl)
        return fail("the mail library cannot start");
    List rcpt(nullptr, &curl_slist_free_all);
    for (const std::string& r : m_recipients) {
        curl_slist* more = curl_slist_append(rcpt.get(), ("<" + r + ">").c_str());
        if (!more)
            return fail("out of memory");
        (void)rcpt.release();
        rcpt.reset(more);
    }

    const bool fromTheStart = m_tls == Tls::FromTheStart;
    const std::string host = server.find(':') != std::string::npos ? "[" + server + "]" : server;
    const std::string url = std::string(fromTheStart ? "smtps://" : "smtp://") + host + ":" +
                            std::to_string(port != 0 ? port : (fromTheStart ? 465 : 25));
    const std::string from = "<" + *m_sender + ">";
    const std::string caFile = FetchSettings::CaFileForTests();
    Upload upload{data};
    char error[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.empty())
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::chrono::milliseconds(kConnectTimeout).count()));
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(kReplyTimeout.count()));
    // A server that stops taking the message is given as long as for a reply.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kReplyTimeout.count()));
    if (!m_username.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, m_username.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, m_password.c_str());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=PLAIN;AUTH=LOGIN");
    }
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &ReadUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(data.size()));
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    // The debug callback is how libcurl hands over the server's replies; it
    // is called only in verbose mode, and then nothing else is printed.
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &CollectReplies);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &m_strResponse);

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK)
        return Result::Sent;
    const std::string why =
        server + ": " + (error[0] != '\0' ? std::string(error) : curl_easy_strerror(code));
    curl_off_t connected = 0;
    curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
    if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_CONNECT ||
        (code == CURLE_OPERATION_TIMEDOUT && connected == 0 && m_strResponse.empty())) {
        // As with the plain client: no connection, nothing said, no message.
        std::fprintf(stderr, "Kestrelle: e-mail not sent: %s\n", why.c_str());
        return Result::NoConnection;
    }
    return fail(why);
}
