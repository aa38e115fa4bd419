#include "net/CSmtpClient.h"

#include "net/Base64Encode.h"
#include "net/MailRules.h"
#include "platform/Clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::atomic<long long> g_authPauseMillis{CSmtpClient::kAuthPause.count()};

// Diagnostics are for whoever runs the program from a terminal; standard
// output belongs to the programs' own output.
void Diagnose(const char* text)
{
    std::fputs(text, stderr);
}

void DiagnoseSendError(int error)
{
    std::fprintf(stderr, "Socket send error: %d\r\n", error);
}

// Servers strip one leading "." from every line of the message, and a line
// of a single "." would end it early, so each line that starts with "." gets
// one more: the message then arrives exactly as it was set. A line starts
// after any LF, since many servers take a bare LF as a line end too.
std::string DotStuffed(const std::string& body)
{
    std::string out;
    out.reserve(body.size());
    bool lineStart = true;
    for (const char c : body) {
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

// The replies complete in `text`: a reply ends with a line whose fourth
// character is not "-" (every line of a multi-line reply but its last has
// "NNN-").
size_t CompleteReplies(const std::string& text)
{
    size_t count = 0;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        size_t length = end - start;
        if (length > 0 && text[end - 1] == '\r')
            --length;
        if (length >= 3 && (length == 3 || text[start + 3] != '-'))
            ++count;
        start = end + 1;
    }
    return count;
}

bool HasLineBreak(const std::string& text)
{
    return MailRules::HasLineBreak(text);
}

std::vector<std::string> Texts(const std::vector<std::unique_ptr<CMailRecipient>>& list)
{
    std::vector<std::string> texts;
    for (const auto& r : list)
        texts.push_back(r->Text());
    return texts;
}

size_t StoredLength(const char (&store)[1000])
{
    return strnlen(store, sizeof store);
}

} // namespace

void CSmtpClient::SetAuthPauseForTests(std::chrono::milliseconds pause)
{
    g_authPauseMillis = pause.count() > 0 ? pause.count() : kAuthPause.count();
}

CSmtpClient::CSmtpClient() = default;

CSmtpClient::~CSmtpClient()
{
    if (m_bConnected)
        Disconnect();
}

bool CSmtpClient::AddRecipient(const std::string& address, const std::string& displayName)
{
    if (address.empty())
        return false;
    m_recipients.push_back(std::make_unique<CMailRecipient>(address, displayName));
    return true;
}

bool CSmtpClient::AddCcRecipient(const std::string& address, const std::string& displayName)
{
    if (address.empty())
        return false;
    m_ccRecipients.push_back(std::make_unique<CMailRecipient>(address, displayName));
    return true;
}

bool CSmtpClient::AddBccRecipient(const std::string& address, const std::string& displayName)
{
    if (address.empty())
        return false;
    m_bccRecipients.push_back(std::make_unique<CMailRecipient>(address, displayName));
    return true;
}

std::optional<std::string> CSmtpClient::FormatHeader() const
{
    MailHeader::Fields fields;
    fields.senderName = m_pszSenderName;
    fields.senderEmail = m_pszSenderEmail.value_or("");
    fields.to = Texts(m_recipients);
    fields.cc = Texts(m_ccRecipients);
    fields.subject = m_pszSubject;
    fields.xMailer = m_pszXMailer;
    fields.replyTo = m_pszReplyTo;
    MailHeader::Refusal refusal{};
    std::optional<std::string> header = MailHeader::Compose(fields, Clock::Now(), &refusal);
    if (!header && refusal.why == MailHeader::Refused::NoRecipient)
        Diagnose("Please add a message recipient!\r\n");
    else if (!header && refusal.why == MailHeader::Refused::LineBreak)
        std::fprintf(stderr, "%s holds a line break: not sent\r\n", refusal.what.c_str());
    return header;
}

bool CSmtpClient::IsErrorReply(const std::string& text)
{
    int code = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(" \r\n", start);
        if (end == std::string::npos)
            end = text.size();
        if (end - start == 3) {
            const int value = std::atoi(text.substr(start, 3).c_str());
            if (value >= 100)
                code = value;
        }
        start = end + 1;
    }
    return code >= 400;
}

TcpSocket CSmtpClient::OpenSocket(const std::string& server, uint16_t port)
{
    TcpSocket socket;
    const uint16_t actualPort =
        port != 0 ? port : MailRules::StandardPort(MailRules::kSecurityNone);
    if (socket.Connect(server, actualPort) == TcpSocket::ConnectResult::NoSocket)
        Diagnose("Invalid socket\r\n");
    return socket;
}

bool CSmtpClient::Connect(const std::string& server, uint16_t port)
{
    m_strResponse.clear();
    if (m_bConnected)
        Disconnect();
    m_bConnected = false;
    m_bTimedOut = false;
    m_hSocket.Close();
    // The name goes into the HELO line; a line break in it would start a
    // command of its own.
    if (HasLineBreak(server)) {
        Diagnose("The mail server name holds a line break: not connecting\r\n");
        return false;
    }

    m_hSocket = OpenSocket(server, port);
    if (!m_hSocket.IsOpen()) {
        Diagnose("Invalid socket\r\n");
        return false;
    }
    m_deadline = std::chrono::steady_clock::now() + MailRules::ExchangeLimit();
    if (!SendCommand("HELO " + server + "\r\n")) {
        m_hSocket.Close();
        return false;
    }
    // The greeting and the reply to HELO, however they arrive, so that
    // every later step reads its own reply and not the one before.
    std::string replies;
    ReceiveReplies(replies, 2, kReplyStoreSize);
    m_strResponse += replies;
    m_strResponse += '\n';
    m_bConnected = true;
    return true;
}

bool CSmtpClient::Disconnect()
{
    if (!m_bConnected) {
        Diagnose("Not connected to server!\r\n");
        return false;
    }
    if (!SendCommand("QUIT\r\n"))
        return false;
    char buffer[kReplyStoreSize];
    (void)m_hSocket.ReceiveOnce(buffer, sizeof buffer, WaitLeft());
    m_hSocket.Close();
    m_bConnected = false;
    return true;
}

bool CSmtpClient::Send()
{
    // A reply of error to AUTH LOGIN forgets the account and starts over, so
    // this runs at most twice.
    for (;;) {
        const size_t userBefore = StoredLength(m_szUsername);
        const bool result = SendOnce();
        if (m_bTimedOut) {
            // Said once, however many steps were cut short.
            const std::string why = MailRules::SilenceReason();
            std::fprintf(stderr, "%s\r\n", why.c_str());
            if (m_strResponse.find(why) == std::string::npos)
                m_strResponse += why + "\n";
            return false;
        }
        if (userBefore == 0 || StoredLength(m_szUsername) != 0)
            return result;
    }
}

bool CSmtpClient::SendOnce()
{
    if (!m_pszSenderEmail) {
        Diagnose("Please specifiy a sender email address\r\n");
        return false;
    }
    // Each of these goes into a command, where a line break would start
    // another one (a recipient of its own, say).
    const auto refuse = [](const char* what) {
        std::fprintf(stderr, "%s holds a line break: not sent\r\n", what);
        return false;
    };
    if (HasLineBreak(*m_pszSenderEmail))
        return refuse("The sender address");
    for (const auto* list : {&m_recipients, &m_ccRecipients, &m_bccRecipients}) {
        for (const auto& r : *list) {
            if (HasLineBreak(r->Text()))
                return refuse("A recipient");
        }
    }
    const size_t userLength = StoredLength(m_szUsername);
    const size_t passwordLength = StoredLength(m_szPassword);
    if (HasLineBreak(std::string(m_szUsername, userLength)))
        return refuse("The user name");
    const std::optional<std::string> header = FormatHeader();
    if (!header) {
        Diagnose("Failed to format message header\r\n");
        return false;
    }
    if (userLength > 0 &&
        (userLength > kMaxCredentialLength || passwordLength > kMaxCredentialLength)) {
        Diagnose("User name or password too long\r\n");
        return false;
    }
    if (m_bTimedOut)
        return false;

    std::string store;
    if (userLength > 0) {
        if (!SendCommand("AUTH LOGIN\r\n"))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(g_authPauseMillis.load()));
        if (!ReceiveInto(store))
            return false;
        if (IsErrorReply(store)) {
            // The server does not take AUTH LOGIN here (most offer AUTH
            // only after EHLO): send without authentication instead.
            std::memset(m_szUsername, 0, sizeof m_szUsername);
            std::memset(m_szPassword, 0, sizeof m_szPassword);
            return false;
        }
        if (!SendCommand(Base64Encode(m_szUsername, userLength) + "\r\n") ||
            !ReceiveRecordJudge(store))
            return false;
        if (!SendCommand(Base64Encode(m_szPassword, passwordLength) + "\r\n") ||
            !ReceiveRecordJudge(store))
            return false;
    }

    if (!SendCommand("MAIL FROM: <" + *m_pszSenderEmail + ">\r\n") || !ReceiveRecordJudge(store))
        return false;
    for (const auto* list : {&m_recipients, &m_ccRecipients, &m_bccRecipients}) {
        for (const auto& r : *list) {
            if (!SendCommand("RCPT TO: <" + r->Address() + ">\r\n") || !ReceiveRecordJudge(store))
                return false;
        }
    }
    if (!SendCommand("DATA\r\n") || !ReceiveRecordJudge(store))
        return false;
    if (!SendCommand(*header) || !SendCommand(DotStuffed(m_pszBody.value_or(""))) ||
        !SendCommand("\r\n.\r\n"))
        return false;
    // With receive time-outs a server that never answers would leave every
    // judgement resting on an empty store and look like success; a message
    // counts as accepted only when a whole reply came back after it (a cut
    // "25" is no "250").
    const size_t before = store.size();
    const bool accepted = ReceiveRecordJudge(store);
    return accepted && CompleteReplies(store.substr(before)) > 0;
}

bool CSmtpClient::SendCommand(const std::string& text)
{
    if (m_hSocket.SendAll(text))
        return true;
    DiagnoseSendError(m_hSocket.LastError());
    return false;
}

void CSmtpClient::ReceiveReplies(std::string& text, size_t replies, size_t limit)
{
    // One receive time-out for the whole, however the replies are cut into
    // packets, and never past the conversation's deadline.
    using std::chrono::steady_clock;
    const auto stepEnd = std::min(steady_clock::now() + TcpSocket::ReceiveTimeout(), m_deadline);
    const bool lastStep = stepEnd == m_deadline;
    const size_t start = text.size();
    char buffer[kReplyStoreSize];
    while (!m_bTimedOut && text.size() < limit && CompleteReplies(text.substr(start)) < replies) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(stepEnd - steady_clock::now());
        if (left.count() <= 0) {
            m_bTimedOut = lastStep;
            return;
        }
        const size_t room = std::min(limit - text.size(), sizeof buffer);
        const size_t n = m_hSocket.ReceiveOnce(buffer, room, left);
        if (n == 0) {
            // Silence until the end of the step; a closed connection is no
            // time-out.
            m_bTimedOut = lastStep && m_hSocket.LastError() == ETIMEDOUT;
            return;
        }
        text.append(buffer, n);
    }
}

std::chrono::milliseconds CSmtpClient::WaitLeft() const
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), TcpSocket::ReceiveTimeout());
}

bool CSmtpClient::ReceiveInto(std::string& store)
{
    ReceiveReplies(store, 1, kReplyStoreSize);
    if (m_bTimedOut)
        return false;
    // A full store may hold a cut reply, and what came after it is unread:
    // no judgement can rest on it.
    if (store.size() >= kReplyStoreSize) {
        std::fprintf(stderr, "The server's replies passed %zu bytes: not sent\r\n",
                     kReplyStoreSize);
        return false;
    }
    return true;
}

bool CSmtpClient::ReceiveRecordJudge(std::string& store)
{
    const bool stored = ReceiveInto(store);
    m_strResponse += store;
    m_strResponse += '\n';
    return stored && !IsErrorReply(store);
}
