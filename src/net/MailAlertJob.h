#pragma once

#include <string>

// One e-mail as the program sends it: the alert, made by the alert path and
// handed to MailAlertThread, which owns it from then on, and the Options
// dialog's test message. Both go out through MailDelivery.
struct MailAlertJob
{
    std::string m_strServer;
    int m_nPort = 0; // as stored; 0 or less means the standard port (MailRules)
    // As stored: 0 plain SMTP, 1 STARTTLS, 2 TLS from the start; anything
    // else (MailRules::kSecurityUnknown) is refused for sending.
    int m_nSecurity = 0;
    std::string m_strUsername; // empty: no authentication
    std::string m_strPassword;
    std::string m_strSenderName;
    std::string m_strSenderEmail;
    std::string m_strRecipient; // one, without display name
    std::string m_strSubject;
    std::string m_strBody;
    // Not part of the message: names the site in the line that reports a
    // failed sending.
    std::string m_strSiteName;
};
