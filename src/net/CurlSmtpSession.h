#pragma once

#include "net/MailAlertJob.h"

#include <cstddef>
#include <cstdint>
#include <string>

// E-mail for servers that take it over TLS only, as most mail providers do:
// libcurl's SMTP with EHLO, TLS (STARTTLS on a plain port, or from the first
// byte), the server's certificate verified against the system's store, AUTH
// PLAIN or LOGIN as the server offers them when a user name is set, then one
// message whose header block is MailHeader's, as the plain client sends it.
// Nothing but EHLO and STARTTLS ever goes out in clear: a server that offers
// no STARTTLS, or a certificate that does not verify, fails the sending
// before the account or the message is sent.
//
// The connection is made as the plain client makes it (TcpSocket, its
// connect time-out); everything after it, TLS and greeting included, must
// end within MailRules::ExchangeLimit.
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
        Failed // `why` says why; `response` holds what the server said
    };

    // What `response` keeps at most, so a talkative server cannot eat the
    // memory.
    static constexpr std::size_t kMaxResponse = 64 * 1024;

    // The whole conversation with the mail's server at `port`; blocks until
    // it is over. `response` gets the server's replies in the order they
    // came, never the password; after a failure `why` gets one line that
    // says what happened, which also goes to standard error.
    static Result Send(const MailAlertJob& mail, Tls tls, std::uint16_t port, std::string& response,
                       std::string& why);
};
