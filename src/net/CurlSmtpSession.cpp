#include "net/CurlSmtpSession.h"

#include "net/CMailRecipient.h"
#include "net/FetchSettings.h"
#include "net/MailHeader.h"
#include "net/MailRules.h"
#include "platform/Clock.h"
#include "platform/TcpSocket.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

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

// libcurl talks over the connection made here, once: the connect time-out
// is then the plain client's, and libcurl's own limits cover only what
// follows.
struct Handover
{
    int fd;
    bool given = false;
};

curl_socket_t GiveSocket(void* user, curlsocktype, curl_sockaddr*)
{
    auto* handover = static_cast<Handover*>(user);
    if (handover->given)
        return CURL_SOCKET_BAD;
    handover->given = true;
    return handover->fd;
}

int AlreadyConnected(void*, curl_socket_t, curlsocktype)
{
    return CURL_SOCKOPT_ALREADY_CONNECTED;
}

int KeepSocket(void*, curl_socket_t)
{
    return 0; // the TcpSocket closes it
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

CurlSmtpSession::Result CurlSmtpSession::Send(const MailAlertJob& mail, Tls tls, std::uint16_t port,
                                              std::string& response, std::string& why)
{
    response.clear();
    why.clear();
    const auto fail = [&](const std::string& reason) {
        std::fprintf(stderr, "Kestrelle: e-mail not sent: %s\n", reason.c_str());
        why = reason;
        return Result::Failed;
    };
    const std::string& server = mail.m_strServer;
    if (!IsHostName(server)) {
        std::fprintf(stderr, "Kestrelle: e-mail not sent: \"%s\" is no server name\n",
                     server.c_str());
        return Result::NoConnection;
    }
    if (const auto refused = MailRules::Refusal(mail))
        return fail(*refused);
    const CMailRecipient recipient(mail.m_strRecipient, "");
    MailHeader::Fields fields;
    fields.senderName = mail.m_strSenderName;
    fields.senderEmail = mail.m_strSenderEmail;
    fields.to = {recipient.Text()};
    fields.subject = mail.m_strSubject;
    const std::optional<std::string> header = MailHeader::Compose(fields, Clock::Now());
    if (!header)
        return fail("the header is too long");
    // libcurl ends the data with ".\r\n" after a closing CR LF: the same bytes
    // as CSmtpClient's "\r\n.\r\n" after the body, so the message arrives
    // alike. It also doubles a "." that starts a line, as CSmtpClient does.
    const std::string data = *header + mail.m_strBody + "\r\n";

    TcpSocket socket;
    if (socket.Connect(server, port) != TcpSocket::ConnectResult::Connected) {
        // As with the plain client: no connection, nothing said, no message.
        std::fprintf(stderr, "Kestrelle: e-mail not sent: %s: cannot connect to port %u\n",
                     server.c_str(), static_cast<unsigned>(port));
        return Result::NoConnection;
    }
    Easy curl(FetchSettings::CurlReady() ? curl_easy_init() : nullptr, &curl_easy_cleanup);
    if (!curl)
        return fail("the mail library cannot start");
    List rcpt(curl_slist_append(nullptr, ("<" + recipient.Address() + ">").c_str()),
              &curl_slist_free_all);
    if (!rcpt)
        return fail("out of memory");

    const bool fromTheStart = tls == Tls::FromTheStart;
    const std::string host = server.find(':') != std::string::npos ? "[" + server + "]" : server;
    const std::string url =
        std::string(fromTheStart ? "smtps://" : "smtp://") + host + ":" + std::to_string(port);
    const std::string from = "<" + mail.m_strSenderEmail + ">";
    const std::string caFile = FetchSettings::CaFileForTests();
    const long limit = static_cast<long>(MailRules::ExchangeLimit().count());
    Upload upload{data};
    Handover handover{socket.Descriptor()};
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
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, &GiveSocket);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, &handover);
    curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, &AlreadyConnected);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, &KeepSocket);
    // One limit for everything after the connection: TLS, greeting, EHLO,
    // the account, the message and the server's last word.
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limit);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, limit);
    if (!mail.m_strUsername.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, mail.m_strUsername.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, mail.m_strPassword.c_str());
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
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &response);

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK)
        return Result::Sent;
    if (code == CURLE_OPERATION_TIMEDOUT)
        return fail(server + ": " + MailRules::SilenceReason());
    return fail(server + ": " + (error[0] != '\0' ? std::string(error) : curl_easy_strerror(code)));
}
