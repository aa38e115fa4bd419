#pragma once

#include <cstdint>
#include <string>

// HTTPS for tests: a real TLS server process (Python's ssl module) on
// 127.0.0.1 that hands the decrypted bytes to a plain scripted server, with
// certificates made fresh in a temporary folder by openssl.
class TlsFront
{
public:
    struct Certificates
    {
        std::string caFile;     // a test authority...
        std::string signedCert; // ...and a server certificate it signed
        std::string signedKey;
        std::string selfCert; // a self-signed one nobody trusts
        std::string selfKey;
        std::string expiredCert; // signed by the test authority, valid only in 2020
        std::string expiredKey;
    };
    // Makes the certificates in `folder`; false when openssl failed.
    static bool MakeCertificates(const std::string& folder, Certificates& out);
    // One more server certificate from the test authority of `folder`
    // (made by MakeCertificates), valid from now for `days`, for 127.0.0.1
    // and localhost. `cert` and `key` are each replaced whole, so a running
    // front serves the new pair from its next connection on (a renewal).
    static bool MakeSigned(const std::string& folder, int days, const std::string& cert,
                           const std::string& key);

    // Starts the front for `cert`/`key` in front of plain `backendPort`.
    TlsFront(const std::string& cert, const std::string& key, std::uint16_t backendPort);
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    bool running() const { return m_port != 0; }
    std::uint16_t port() const { return m_port; }
    std::string url(const std::string& path) const; // "https://127.0.0.1:PORT" + path

private:
    int m_pid = -1;
    int m_stdin = -1;
    std::uint16_t m_port = 0;
};
