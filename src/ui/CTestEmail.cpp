#include "ui/CTestEmail.h"

#include "net/CSmtpClient.h"

#include <cstdio>

CTestEmail::Result CTestEmail::Send(const Settings& settings)
{
    Result result;
    CSmtpClient mail;
    if (!mail.Connect(settings.server, settings.port))
        return result;
    std::snprintf(mail.m_szUsername, sizeof mail.m_szUsername, "%.999s", settings.username.c_str());
    std::snprintf(mail.m_szPassword, sizeof mail.m_szPassword, "%.999s", settings.password.c_str());
    mail.SetSenderName("Kestrelle");
    mail.SetSenderEmail(settings.address);
    mail.AddRecipient(settings.address, std::string());
    mail.SetSubject(kSubject);
    mail.SetMessageBody(kBody);
    bool sent = false;
    if (mail.IsConnected()) {
        sent = mail.Send();
        mail.Disconnect();
    }
    result.outcome = sent ? Outcome::Sent : Outcome::Failed;
    result.responses = mail.m_strResponse;
    return result;
}

std::string CTestEmail::SuccessText(const std::string& address)
{
    return "A test email has been successfully sent to " + address;
}

std::string CTestEmail::FailureText(const std::string& address, const std::string& responses)
{
    return "There was a problem sending an email to " + address +
           "\n\nPlease check your email settings. Try leaving SMTP Username and SMTP Password "
           "empty. The full response from your SMTP server is listed below:\n\n" +
           responses;
}
