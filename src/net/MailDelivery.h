#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How the program sends its one kind of e-mail (the alert and the test
// message: one recipient without display name), by the stored connection
// security: the designed plain conversation of CSmtpClient for 0, and
// CurlSmtpSession for 1 (STARTTLS) and 2 (TLS from the first byte).
class MailDelivery
{
public:
    struct Mail
    {
        std::string server;
        int port = 0;         // as stored; 0 means the usual port
        int security = 0;     // as stored; anything but 1 and 2 is plain SMTP
        std::string username; // empty: no authentication
        std::string password;
        std::string senderName;
        std::string senderEmail;
        std::string recipient;
        std::string subject;
        std::string body;
    };
    enum class Outcome
    {
        NoConnection, // the server could not be reached; nothing to show
        Sent,
        Failed // `response` holds the server's replies
    };

    // The whole conversation; blocks until it is over. `response` gets the
    // server's replies as CSmtpClient's m_strResponse has them.
    static Outcome Send(const Mail& mail, std::string& response);

    // The stored port as one to connect to: 0 stays 0 (the usual port). Any
    // other value outside 1 to 65535 (a hand-edited file) gives none, said
    // in one line on standard error: cut to 16 bits it would reach some
    // other service on the server.
    static std::optional<std::uint16_t> PortToUse(int stored);
};
