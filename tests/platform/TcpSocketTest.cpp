#include "platform/TcpSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A loopback listener that never accepts: once its backlog is full, further
// connection attempts get no answer at all.
class DeafListener
{
public:
    DeafListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_fd, 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    ~DeafListener() { ::close(m_fd); }
    uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

TEST(TcpSocket, ConnectGivesUpAfterItsTimeOut)
{
    TcpSocket::SetTimeoutsForTests(150ms, 150ms);
    DeafListener deaf;
    std::vector<TcpSocket> filling;
    TcpSocket::ConnectResult last = TcpSocket::ConnectResult::Connected;
    // The backlog takes a few connections; the first one it refuses to
    // answer must come back as failed instead of hanging.
    for (int i = 0; i < 16 && last == TcpSocket::ConnectResult::Connected; ++i) {
        filling.emplace_back();
        last = filling.back().Connect("127.0.0.1", deaf.Port());
    }
    TcpSocket::SetTimeoutsForTests(0ms, 0ms);
    if (last == TcpSocket::ConnectResult::Connected)
        GTEST_SKIP() << "this system's network stack answers beyond a full backlog";
    EXPECT_EQ(last, TcpSocket::ConnectResult::Failed);
    EXPECT_EQ(filling.back().LastError(), ETIMEDOUT);
    EXPECT_FALSE(filling.back().IsOpen());
}

TEST(TcpSocket, UnknownHostAndClosedSocket)
{
    TcpSocket socket;
    EXPECT_EQ(socket.Connect("", 25), TcpSocket::ConnectResult::UnknownHost);
    EXPECT_FALSE(socket.SendAll("x"));
    char buf[8];
    EXPECT_EQ(socket.ReceiveOnce(buf, sizeof buf), 0u);
    EXPECT_EQ(socket.LastError(), ENOTCONN);
}

} // namespace
