#pragma once

#include <string>

// One alert e-mail, made by the alert path and handed to MailAlertThread,
// which owns it from then on and frees it when the conversation is over.
struct MailAlertJob
{
    std::string m_strServer;
    int m_nPort = 0; // as stored; 0 or less means 25
    // As stored: 1 STARTTLS, 2 TLS from the start, anything else plain SMTP.
    int m_nSecurity = 0;
    std::string m_strUsername;
    std::string m_strPassword;
    std::string m_strSenderName;
    std::string m_strSenderEmail;
    std::string m_strRecipient;
    std::string m_strSubject;
    std::string m_strBody;
    // Not part of the message: names the site in the line that reports a
    // failed sending.
    std::string m_strSiteName;
};
