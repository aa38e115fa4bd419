#pragma once

#include <ctime>
#include <optional>
#include <string>

// When a server's certificate stops being valid, as libcurl's certificate
// info words it, and what the process last learnt of each server's.
//
// libcurl fills the certificate info only when it makes a connection: a
// request that goes out on a connection kept from an earlier one (a second
// site on the same server, a redirect) carries none, though it talks to the
// very server whose certificate was read at that connection's handshake.
// So each expiry read is remembered per server and taken again for such a
// request.
class CertificateExpiry
{
public:
    // "Mar  3 12:00:00 2027 GMT" (OpenSSL's way, fractions of a second
    // allowed), "2027-03-03 12:00:00 GMT" (libcurl's own ASN.1 reader),
    // "2027-03-03T12:00:00Z", and the ASN.1 forms "20270303120000Z" and
    // "270303120000Z". Always UTC. Nothing for any other text or an
    // impossible date.
    static std::optional<std::time_t> Parse(const std::string& text);

    // The server part of a request's address that connections are kept by:
    // "https://shop.test:443". Empty for anything but https.
    static std::string ServerOf(const std::string& url);

    // Any thread. At most kRemembered servers are kept; the oldest go first.
    static void Remember(const std::string& server, std::time_t expiry);
    // 0 when nothing is known of the server.
    static std::time_t Recall(const std::string& server);
    static constexpr std::size_t kRemembered = 4096;
};
