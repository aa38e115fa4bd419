#include "net/MailRules.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<std::uint16_t> g_plainPortForTests{0};
std::atomic<std::uint16_t> g_tlsPortForTests{0};
std::atomic<long long> g_exchangeMillis{MailRules::kExchangeLimit.count()};

} // namespace

int MailRules::SecurityFromText(const std::string& stored)
{
    if (stored.empty() || stored == "0")
        return kSecurityNone;
    if (stored == "1")
        return kSecurityStartTls;
    if (stored == "2")
        return kSecurityTls;
    return kSecurityUnknown;
}

std::uint16_t MailRules::StandardPort(int security)
{
    if (security == kSecurityTls) {
        const std::uint16_t forTests = g_tlsPortForTests.load();
        return forTests != 0 ? forTests : 465;
    }
    const std::uint16_t forTests = g_plainPortForTests.load();
    return forTests != 0 ? forTests : 25;
}

void MailRules::SetStandardPortsForTests(std::uint16_t plain, std::uint16_t tls)
{
    g_plainPortForTests = plain;
    g_tlsPortForTests = tls;
}

std::optional<std::uint16_t> MailRules::PortToUse(int stored, int security)
{
    if (stored <= 0)
        return StandardPort(security);
    if (stored <= 65535)
        return static_cast<std::uint16_t>(stored);
    std::fprintf(stderr, "Kestrelle: e-mail not sent: port %d is out of range (1 to 65535)\n",
                 stored);
    return std::nullopt;
}

bool MailRules::HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

std::optional<std::string> MailRules::Refusal(const MailAlertJob& mail)
{
    if (mail.m_strServer.empty() || mail.m_strSenderEmail.empty() || mail.m_strRecipient.empty())
        return "no e-mail server, sender address or recipient is set";
    if (mail.m_nSecurity != kSecurityNone && mail.m_nSecurity != kSecurityStartTls &&
        mail.m_nSecurity != kSecurityTls)
        return "the stored connection security is not 0, 1 or 2";
    if (mail.m_strUsername.size() > kMaxCredentialLength ||
        mail.m_strPassword.size() > kMaxCredentialLength)
        return "the user name or the password is too long";
    const struct
    {
        const std::string& value;
        const char* what;
    } values[] = {
        {mail.m_strServer, "the server name"},     {mail.m_strSenderEmail, "the sender address"},
        {mail.m_strSenderName, "the sender name"}, {mail.m_strRecipient, "the recipient"},
        {mail.m_strSubject, "the subject"},        {mail.m_strUsername, "the user name"},
        {mail.m_strPassword, "the password"},
    };
    for (const auto& v : values)
        if (HasLineBreak(v.value))
            return std::string(v.what) + " holds a line break";
    return std::nullopt;
}

std::chrono::milliseconds MailRules::ExchangeLimit()
{
    return std::chrono::milliseconds(g_exchangeMillis.load());
}

void MailRules::SetExchangeLimitForTests(std::chrono::milliseconds limit)
{
    g_exchangeMillis = limit.count() > 0 ? limit.count() : kExchangeLimit.count();
}

std::string MailRules::SilenceReason()
{
    const long long millis = g_exchangeMillis.load();
    const std::string limit =
        millis % 1000 == 0 ? std::to_string(millis / 1000) + " s" : std::to_string(millis) + " ms";
    return "the server did not answer within " + limit;
}
