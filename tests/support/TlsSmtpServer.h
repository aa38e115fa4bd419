#pragma once

#include "support/AiosmtpdServer.h"

#include <string>
#include <vector>

// aiosmtpd over TLS for tests (tests/support/smtp_tls_sink.py), with the
// certificate and key given. It keeps the messages it takes as
// AiosmtpdServer does, and a record of every command and whether it came
// over TLS.
class TlsSmtpServer : public AiosmtpdServer
{
public:
    enum class Mode
    {
        StartTls, // STARTTLS offered and required before anything else
        Tls,      // TLS from the first byte
        TlsLogin, // the same, offering AUTH LOGIN but not PLAIN
        Plain     // no STARTTLS; AUTH offered in clear
    };

    // With a user name, mail is taken only after AUTH with that account.
    TlsSmtpServer(std::string folder, Mode mode, const std::string& cert, const std::string& key,
                  const std::string& user = "", const std::string& password = "");

    // "VERB tls" or "VERB clear" for each command received, in order.
    std::vector<std::string> Commands() const;
};
