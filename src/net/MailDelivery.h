#pragma once

#include "net/MailAlertJob.h"

#include <string>

// How the program sends its one kind of e-mail (the alert and the test
// message: one recipient without display name), by the stored connection
// security: the designed plain conversation of CSmtpClient for 0, and
// CurlSmtpSession for 1 (STARTTLS) and 2 (TLS from the first byte). Port,
// security and every value are held to MailRules first, the same for both.
class MailDelivery
{
public:
    enum class Outcome
    {
        NoConnection, // the server could not be reached; nothing to show
        Sent,
        Failed // `response` holds the server's replies, `why` the reason
    };
    struct Report
    {
        Outcome outcome = Outcome::NoConnection;
        // The server's replies as CSmtpClient's m_strResponse has them;
        // after a failure with a reason of our own, that reason as the last
        // line.
        std::string response;
        // One line for a failure that is not just the server's last reply
        // (a value refused, the deadline passed, TLS failed); else empty.
        std::string why;
    };

    // The whole conversation; blocks until it is over (MailRules bounds it).
    static Report Send(const MailAlertJob& mail);
    static Outcome Send(const MailAlertJob& mail, std::string& response);
};
