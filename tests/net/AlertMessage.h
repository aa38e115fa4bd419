#pragma once

#include "net/CSmtpClient.h"

#include <cstdio>

// Fills a client with an alert the way the program does: the account copied
// into the client's stores, sender "Kestrelle", one recipient without a name.
inline void FillAlert(CSmtpClient& mail, const char* user, const char* password, const char* body)
{
    std::snprintf(mail.m_szUsername, sizeof mail.m_szUsername, "%s", user);
    std::snprintf(mail.m_szPassword, sizeof mail.m_szPassword, "%s", password);
    mail.SetSenderName("Kestrelle");
    mail.SetSenderEmail("watch@kestrelle.test");
    mail.AddRecipient("ops@example.test", "");
    mail.SetSubject("shop.test may be down");
    mail.SetMessageBody(body);
}
