#pragma once

#include "net/CSmtpClient.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// E-mail for servers that take it over TLS only, as most mail providers do:
// libcurl's SMTP with EHLO, TLS (STARTTLS on a plain port, or from the first
// byte), the server's certificate verified against the system's store, AUTH
// PLAIN or LOGIN as the server offers them when a user name is set, then one
// message whose header block and body are composed exactly as CSmtpClient
// composes them. Nothing but EHLO and STARTTLS ever goes out in clear: a
// server that offers no STARTTLS, or a certificate that does not verify,
// fails the sending before the account or the message is sent.
//
// Made, filled and sent by one thread; Send blocks until the conversation is
// over (30 s to connect, 60 s for any reply).
class CurlSmtpSession
{
public:
    enum class Tls
    {
        StartTls,
        FromTheStart
    };
    enum class Result
    {
        NoConnection, // the server could not be reached: nothing was said
        Sent,
        Failed // m_strResponse tells what the server said, and why
    };

    static constexpr std::chrono::seconds kConnectTimeout{30};
    static constexpr std::chrono::seconds kReplyTimeout{60};
    // What m_strResponse keeps at most, so a talkative server cannot eat the
    // memory.
    static constexpr std::size_t kMaxResponse = 64 * 1024;

    explicit CurlSmtpSession(Tls tls) : m_tls(tls) {}

    // An empty user name means no authentication.
    void SetAccount(const std::string& username, const std::string& password);
    void SetSenderEmail(const std::string& address);
    void SetSenderName(const std::string& name) { m_message.SetSenderName(name); }
    void SetSubject(const std::string& subject) { m_message.SetSubject(subject); }
    void SetMessageBody(const std::string& body) { m_body = body; }
    // False, and nothing added, when the address is empty.
    bool AddRecipient(const std::string& address, const std::string& displayName);

    // The whole conversation with `server` at `port` (0: the usual port, 25
    // for STARTTLS and 465 for TLS from the start).
    Result Send(const std::string& server, std::uint16_t port);

    // The server's replies in the order they came, then, after a failure,
    // one line that says why. Never the password.
    std::string m_strResponse;

private:
    Tls m_tls;
    // Composes the header block; it never connects.
    CSmtpClient m_message;
    std::string m_body;
    std::optional<std::string> m_sender;
    std::vector<std::string> m_recipients; // addresses for RCPT TO
    std::string m_username;
    std::string m_password;
};
