#include "net/MailDelivery.h"

#include "net/CSmtpClient.h"
#include "net/CurlSmtpSession.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The client's stores are fixed arrays: the copy is bounded and terminated.
template <std::size_t N> void CopyInto(char (&store)[N], const std::string& text)
{
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(store, text.data(), n);
    store[n] = '\0';
}

MailDelivery::Outcome SendPlain(const MailDelivery::Mail& mail, std::uint16_t port,
                                std::string& response)
{
    CSmtpClient client;
    if (!client.Connect(mail.server, port))
        return MailDelivery::Outcome::NoConnection;
    CopyInto(client.m_szUsername, mail.username);
    CopyInto(client.m_szPassword, mail.password);
    client.SetSenderName(mail.senderName);
    client.SetSenderEmail(mail.senderEmail);
    client.AddRecipient(mail.recipient, "");
    client.SetSubject(mail.subject);
    client.SetMessageBody(mail.body);
    bool sent = false;
    if (client.IsConnected()) {
        sent = client.Send();
        client.Disconnect();
    }
    response = client.m_strResponse;
    return sent ? MailDelivery::Outcome::Sent : MailDelivery::Outcome::Failed;
}

} // namespace

MailDelivery::Outcome MailDelivery::Send(const Mail& mail, std::string& response)
{
    response.clear();
    const std::optional<std::uint16_t> port = PortToUse(mail.port);
    if (!port)
        return Outcome::NoConnection;
    if (mail.security != 1 && mail.security != 2)
        return SendPlain(mail, *port, response);

    CurlSmtpSession session(mail.security == 1 ? CurlSmtpSession::Tls::StartTls
                                               : CurlSmtpSession::Tls::FromTheStart);
    session.SetAccount(mail.username, mail.password);
    session.SetSenderName(mail.senderName);
    session.SetSenderEmail(mail.senderEmail);
    session.AddRecipient(mail.recipient, "");
    session.SetSubject(mail.subject);
    session.SetMessageBody(mail.body);
    const CurlSmtpSession::Result result = session.Send(mail.server, *port);
    response = session.m_strResponse;
    switch (result) {
    case CurlSmtpSession::Result::Sent:
        return Outcome::Sent;
    case CurlSmtpSession::Result::NoConnection:
        return Outcome::NoConnection;
    default:
        return Outcome::Failed;
    }
}

std::optional<std::uint16_t> MailDelivery::PortToUse(int stored)
{
    if (stored >= 0 && stored <= 65535)
        return static_cast<std::uint16_t>(stored);
    std::fprintf(stderr, "Kestrelle: e-mail not sent: port %d is out of range (1 to 65535)\n",
                 stored);
    return std::nullopt;
}
