#include "net/MailDelivery.h"

#include "net/CSmtpClient.h"
#include "net/CurlSmtpSession.h"
#include "net/MailRules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using Outcome = MailDelivery::Outcome;

// The client's stores are fixed arrays: the copy is bounded and terminated.
template <std::size_t N> void CopyInto(char (&store)[N], const std::string& text)
{
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(store, text.data(), n);
    store[n] = '\0';
}

MailDelivery::Report SendPlain(const MailAlertJob& mail, std::uint16_t port)
{
    MailDelivery::Report report;
    CSmtpClient client;
    if (!client.Connect(mail.m_strServer, port))
        return report;
    CopyInto(client.m_szUsername, mail.m_strUsername);
    CopyInto(client.m_szPassword, mail.m_strPassword);
    client.SetSenderName(mail.m_strSenderName);
    client.SetSenderEmail(mail.m_strSenderEmail);
    client.AddRecipient(mail.m_strRecipient, "");
    client.SetSubject(mail.m_strSubject);
    client.SetMessageBody(mail.m_strBody);
    bool sent = false;
    if (client.IsConnected()) {
        sent = client.Send();
        client.Disconnect();
    }
    report.outcome = sent ? Outcome::Sent : Outcome::Failed;
    report.response = client.m_strResponse;
    if (client.TimedOut())
        report.why = MailRules::SilenceReason();
    return report;
}

} // namespace

MailDelivery::Report MailDelivery::Send(const MailAlertJob& mail)
{
    Report report;
    if (const auto refused = MailRules::Refusal(mail)) {
        std::fprintf(stderr, "Kestrelle: e-mail not sent: %s\n", refused->c_str());
        report.outcome = Outcome::Failed;
        report.why = *refused;
        report.response = *refused + "\n";
        return report;
    }
    const std::optional<std::uint16_t> port = MailRules::PortToUse(mail.m_nPort, mail.m_nSecurity);
    if (!port)
        return report;
    if (mail.m_nSecurity == MailRules::kSecurityNone)
        return SendPlain(mail, *port);

    const auto tls = mail.m_nSecurity == MailRules::kSecurityStartTls
                         ? CurlSmtpSession::Tls::StartTls
                         : CurlSmtpSession::Tls::FromTheStart;
    switch (CurlSmtpSession::Send(mail, tls, *port, report.response, report.why)) {
    case CurlSmtpSession::Result::Sent:
        report.outcome = Outcome::Sent;
        break;
    case CurlSmtpSession::Result::NoConnection:
        report.outcome = Outcome::NoConnection;
        break;
    case CurlSmtpSession::Result::Failed:
        report.outcome = Outcome::Failed;
        report.response += report.why + "\n";
        break;
    }
    return report;
}

MailDelivery::Outcome MailDelivery::Send(const MailAlertJob& mail, std::string& response)
{
    Report report = Send(mail);
    response = std::move(report.response);
    return report.outcome;
}
