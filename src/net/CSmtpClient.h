#pragma once

#include "net/CMailRecipient.h"
#include "net/MailHeader.h"
#include "net/MailRules.h"
#include "platform/TcpSocket.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The program's own SMTP client: one plain-SMTP connection, HELO, AUTH LOGIN
// when a user name is stored, one message, QUIT. Each user makes a client,
// fills it, connects, sends, disconnects and destroys it; one thread uses a
// client at a time. Operations answer true or false and never throw;
// one-line diagnostics go to standard error (never a password). The whole
// conversation after the connection is bounded by MailRules::ExchangeLimit:
// once it has passed nothing more is awaited, the sending fails and
// m_strResponse ends with MailRules::SilenceReason.
//
// Usage:
//   CSmtpClient mail;
//   if (mail.Connect("mail.example.org", 0)) {
//       std::snprintf(mail.m_szUsername, sizeof mail.m_szUsername, "%s", user.c_str());
//       ... SetSenderName, SetSenderEmail, AddRecipient, SetSubject, SetMessageBody
//       if (mail.IsConnected() && mail.Send()) ...
//       mail.Disconnect();
//   }
class CSmtpClient
{
public:
    // A stored user name or password whose base64 form would not fit the
    // 1,024-byte area the protocol steps were laid out for; longer values are
    // refused (the sending fails before anything is sent), never cut.
    static constexpr size_t kMaxCredentialLength = MailRules::kMaxCredentialLength;
    // The longest header block; a longer one is refused, never cut.
    static constexpr size_t kMaxHeaderLength = MailHeader::kMaxLength;
    // What one sending keeps of the server's replies.
    static constexpr size_t kReplyStoreSize = 4096;
    // The pause between "AUTH LOGIN" and reading its reply, which gives a
    // server time to answer both the late HELO and AUTH LOGIN.
    static constexpr std::chrono::milliseconds kAuthPause{1000};

    // A shorter pause for tests; zero restores kAuthPause.
    static void SetAuthPauseForTests(std::chrono::milliseconds pause);

    CSmtpClient();
    virtual ~CSmtpClient();
    CSmtpClient(const CSmtpClient&) = delete;
    CSmtpClient& operator=(const CSmtpClient&) = delete;

    // Opens the connection and sends "HELO <server>" without awaiting the
    // greeting, then reads the greeting and the HELO reply (within the
    // receive time-out) into m_strResponse. Port 0 means the standard
    // port (MailRules). A server name with a line break is refused.
    bool Connect(const std::string& server, uint16_t port);
    bool IsConnected() const { return m_bConnected; }
    // True once the conversation's deadline has cut it short.
    bool TimedOut() const { return m_bTimedOut; }
    // Hands over the message; true when the server accepted it.
    bool Send();
    // Sends QUIT and closes; false when not connected or QUIT could not go.
    bool Disconnect();

    // Message composition.
    void SetSenderEmail(const std::string& address) { m_pszSenderEmail = address; }
    void SetSenderName(const std::string& name) { m_pszSenderName = name; }
    void SetSubject(const std::string& subject) { m_pszSubject = subject; }
    void SetMessageBody(const std::string& body) { m_pszBody = body; }
    void SetXMailer(const std::string& value) { m_pszXMailer = value; }
    void SetReplyTo(const std::string& value) { m_pszReplyTo = value; }
    // False, and nothing added, when the address is empty.
    bool AddRecipient(const std::string& address, const std::string& displayName);
    bool AddCcRecipient(const std::string& address, const std::string& displayName);
    bool AddBccRecipient(const std::string& address, const std::string& displayName);

    // The header block for one sending (MailHeader), dated Clock::Now(); none,
    // said on standard error, when MailHeader refuses it.
    std::optional<std::string> FormatHeader() const;

    // True when the text's last stand-alone three-character word with a
    // value of 100 or more (as atoi reads it) is 400 or more.
    static bool IsErrorReply(const std::string& text);

    // Everything the server said in this session, as described for Connect
    // and Send. Callers read it (the Options dialog shows it after a failed
    // test message).
    std::string m_strResponse;
    bool m_bConnected = false;
    // Callers copy the SMTP account in here before sending; an empty user
    // name means no authentication.
    char m_szUsername[1000] = {};
    char m_szPassword[1000] = {};

protected:
    // Resolves the server and connects to the first of its addresses that
    // answers; a closed socket when none does.
    TcpSocket OpenSocket(const std::string& server, uint16_t port);

private:
    bool SendOnce();
    bool SendCommand(const std::string& text);
    // One reply appended to the reply store, then the whole store plus LF
    // appended to m_strResponse; true when the store is not an error.
    bool ReceiveRecordJudge(std::string& store);
    // One reply appended to the store; false (said on stderr) once the store
    // is full.
    bool ReceiveInto(std::string& store);
    // Receives until `text` has grown by `replies` complete replies, up to
    // `limit` bytes in all, within one receive time-out and the
    // conversation's deadline.
    void ReceiveReplies(std::string& text, size_t replies, size_t limit);
    // How long the next wait may last: the receive time-out, cut by the
    // conversation's deadline.
    std::chrono::milliseconds WaitLeft() const;

    TcpSocket m_hSocket;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_bTimedOut = false;

    std::optional<std::string> m_pszSenderEmail;
    std::optional<std::string> m_pszSenderName;
    std::optional<std::string> m_pszSubject;
    std::optional<std::string> m_pszBody;
    std::optional<std::string> m_pszXMailer;
    std::optional<std::string> m_pszReplyTo;
    std::vector<std::unique_ptr<CMailRecipient>> m_recipients;
    std::vector<std::unique_ptr<CMailRecipient>> m_ccRecipients;
    std::vector<std::unique_ptr<CMailRecipient>> m_bccRecipients;
};
