#pragma once

#include "net/MailAlertJob.h"
#include "platform/TcpSocket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What every way of sending mail holds to: which stored connection security
// counts, which port a stored 0 means, which values may go into a command
// or a header line, and how long a conversation may take.
class MailRules
{
public:
    static constexpr int kSecurityNone = 0;
    static constexpr int kSecurityStartTls = 1;
    static constexpr int kSecurityTls = 2;
    // A stored security that is none of "0", "1" and "2": nothing is sent
    // with it, since guessing could put the account on the wire in clear.
    static constexpr int kSecurityUnknown = -1;

    // The stored text as a security: empty (nothing stored) is None.
    static int SecurityFromText(const std::string& stored);

    // The port a stored 0 (or less) means: 25 for None and STARTTLS, 465
    // for TLS from the start.
    static std::uint16_t StandardPort(int security);
    // Tests point the standard ports at loopback servers of their own; 0
    // restores the real one.
    static void SetStandardPortsForTests(std::uint16_t plain, std::uint16_t tls);

    // The stored port as one to connect to. A value beyond 65535 (a
    // hand-edited file) gives none, said in one line on standard error: cut
    // to 16 bits it would reach some other service on the server.
    static std::optional<std::uint16_t> PortToUse(int stored, int security);

    // A stored user name or password whose base64 form would not fit the
    // 1,024-byte area the protocol steps were laid out for is refused, never
    // cut.
    static constexpr std::size_t kMaxCredentialLength = 765;

    static bool HasLineBreak(const std::string& text);

    // Why this e-mail cannot be sent as it is, or none: a missing server,
    // sender or recipient, an unknown security, an over-long account, or a
    // line break in any value that goes into a command or a header line
    // (where it would start a line of its own).
    static std::optional<std::string> Refusal(const MailAlertJob& mail);

    // One deadline for a whole conversation: connecting may take
    // TcpSocket::kConnectTimeout, everything after it kExchangeLimit, the
    // same minute a plain socket waits for a reply.
    static constexpr std::chrono::milliseconds kExchangeLimit = TcpSocket::kReceiveTimeout;
    static std::chrono::milliseconds ExchangeLimit();
    // A shorter limit for tests; zero restores kExchangeLimit.
    static void SetExchangeLimitForTests(std::chrono::milliseconds limit);
    // What a conversation cut by that limit reports.
    static std::string SilenceReason();
};
