#include "platform/TcpSocket.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<long long> g_connectMillis{TcpSocket::kConnectTimeout.count()};
std::atomic<long long> g_receiveMillis{TcpSocket::kReceiveTimeout.count()};

int Millis(const std::atomic<long long>& value)
{
    return static_cast<int>(value.load(std::memory_order_relaxed));
}

// Waits until `fd` is ready for `events`; false (with errno set) on time-out
// or failure.
bool WaitFor(int fd, short events, int millis)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, millis);
        if (r > 0)
            return true;
        if (r == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR)
            return false;
    }
}

// A non-blocking connect bounded by the connect time-out; the socket stays
// non-blocking, every later wait goes through poll.
bool ConnectWithin(int fd, const sockaddr* addr, socklen_t len, int millis)
{
    if (::connect(fd, addr, len) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        return false;
    if (!WaitFor(fd, POLLOUT, millis))
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return false;
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

} // namespace

void TcpSocket::SetTimeoutsForTests(std::chrono::milliseconds connect,
                                    std::chrono::milliseconds receive)
{
    g_connectMillis = connect.count() > 0 ? connect.count() : kConnectTimeout.count();
    g_receiveMillis = receive.count() > 0 ? receive.count() : kReceiveTimeout.count();
}

TcpSocket::~TcpSocket()
{
    Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : m_fd(other.m_fd), m_lastError(other.m_lastError)
{
    other.m_fd = -1;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        m_lastError = other.m_lastError;
        other.m_fd = -1;
    }
    return *this;
}

TcpSocket::ConnectResult TcpSocket::Connect(const std::string& host, uint16_t port)
{
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (host.empty() || ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        m_lastError = EHOSTUNREACH;
        return ConnectResult::UnknownHost;
    }
    bool madeSocket = false;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            m_lastError = errno;
            continue;
        }
        madeSocket = true;
        if (ConnectWithin(fd, a->ai_addr, a->ai_addrlen, Millis(g_connectMillis))) {
            // Line protocols send short pieces back to back (a mail's header,
            // body and end mark); without this each waits for the peer's
            // delayed acknowledgement.
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            m_fd = fd;
            break;
        }
        m_lastError = errno;
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (m_fd >= 0)
        return ConnectResult::Connected;
    return madeSocket ? ConnectResult::Failed : ConnectResult::NoSocket;
}

bool TcpSocket::SendAll(const char* data, size_t size)
{
    if (m_fd < 0) {
        m_lastError = ENOTCONN;
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(m_fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            WaitFor(m_fd, POLLOUT, Millis(g_receiveMillis)))
            continue;
        m_lastError = errno;
        return false;
    }
    return true;
}

std::chrono::milliseconds TcpSocket::ReceiveTimeout()
{
    return std::chrono::milliseconds(g_receiveMillis.load(std::memory_order_relaxed));
}

size_t TcpSocket::ReceiveOnce(char* buffer, size_t capacity)
{
    return ReceiveOnce(buffer, capacity, ReceiveTimeout());
}

size_t TcpSocket::ReceiveOnce(char* buffer, size_t capacity, std::chrono::milliseconds timeout)
{
    if (m_fd < 0) {
        m_lastError = ENOTCONN;
        return 0;
    }
    if (capacity == 0)
        return 0;
    for (;;) {
        if (!WaitFor(m_fd, POLLIN, static_cast<int>(std::max<long long>(0, timeout.count())))) {
            m_lastError = errno;
            return 0;
        }
        const ssize_t n = ::recv(m_fd, buffer, capacity, 0);
        if (n > 0)
            return static_cast<size_t>(n);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        m_lastError = n == 0 ? ECONNRESET : errno;
        return 0;
    }
}

void TcpSocket::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

uint16_t TcpSocket::MailServicePort()
{
    // getservbyname uses static storage; the lookup is cheap and rare.
    static std::mutex lock;
    std::lock_guard guard(lock);
    const servent* s = ::getservbyname("mail", nullptr);
    return s != nullptr ? ntohs(static_cast<uint16_t>(s->s_port)) : 25;
}
