#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// One client TCP connection over POSIX sockets. It never blocks a thread for
// ever: connecting gives up after kConnectTimeout per address, a receive
// that gets nothing for kReceiveTimeout counts as failed, and so does a send
// that the peer does not take within kReceiveTimeout.
class TcpSocket
{
public:
    static constexpr std::chrono::milliseconds kConnectTimeout{30000};
    static constexpr std::chrono::milliseconds kReceiveTimeout{60000};

    // Shorter time-outs for tests; zero restores the default of that one.
    static void SetTimeoutsForTests(std::chrono::milliseconds connect,
                                    std::chrono::milliseconds receive);

    enum class ConnectResult
    {
        Connected,
        UnknownHost, // the name resolves to no address
        NoSocket,    // no socket could be made for any address
        Failed       // every address refused or timed out
    };

    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves `host` (getaddrinfo) and tries each address in turn until one
    // connects. Closes any connection this object held before.
    ConnectResult Connect(const std::string& host, uint16_t port);

    bool IsOpen() const { return m_fd >= 0; }
    // The descriptor, for a library that talks over a connection made here;
    // it stays this object's to close.
    int Descriptor() const { return m_fd; }

    // Hands over every byte, looping on partial sends. False on failure;
    // LastError() then tells why.
    bool SendAll(const char* data, size_t size);
    bool SendAll(const std::string& text) { return SendAll(text.data(), text.size()); }

    // One receive of at most `capacity` bytes. Returns the number of bytes
    // read; 0 when the peer closed, nothing came within the receive time-out
    // or the receive failed.
    size_t ReceiveOnce(char* buffer, size_t capacity);
    // The same with its own time-out, for a caller that bounds several
    // receives together.
    size_t ReceiveOnce(char* buffer, size_t capacity, std::chrono::milliseconds timeout);

    // The receive time-out in force (kReceiveTimeout unless a test set one).
    static std::chrono::milliseconds ReceiveTimeout();

    void Close();

    // The errno of the last failed operation (ETIMEDOUT for a time-out).
    int LastError() const { return m_lastError; }

    // The port of the "mail" service, 25 when the system does not know it.
    static uint16_t MailServicePort();

private:
    int m_fd = -1;
    int m_lastError = 0;
};
