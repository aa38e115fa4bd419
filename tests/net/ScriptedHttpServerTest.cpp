#include "support/ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A bare client, so the server is checked without the code it serves tests for.
std::string Exchange(std::uint16_t port, const std::string& request)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return "<no connection>";
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return answer;
}

} // namespace

TEST(ScriptedHttpServer, AnswersScriptedBytesAndRecordsRequests)
{
    ScriptedHttpServer server;
    const std::string exact("HTTP/1.0 200 OK\r\n\r\nA\rB\nC\0D", 27);
    server.SetResponse("/page?x=1", exact);
    server.SetSequence("/seq",
                       {ScriptedHttpServer::Bytes("first"), ScriptedHttpServer::Bytes("second")});
    ScriptedHttpServer::Script slow;
    slow.steps = {{"HTTP/1.0 200 OK\r\n\r\nab", std::chrono::milliseconds(20)}, {"cd", {}}};
    server.SetScript("/slow", slow);

    const std::string get = "GET /page?x=1 HTTP/1.0\r\nHost: x\r\n\r\n";
    EXPECT_EQ(Exchange(server.port(), get), exact);
    EXPECT_EQ(Exchange(server.port(), "GET /seq HTTP/1.0\r\n\r\n"), "first");
    EXPECT_EQ(Exchange(server.port(), "GET /seq HTTP/1.0\r\n\r\n"), "second");
    EXPECT_EQ(Exchange(server.port(), "GET /seq HTTP/1.0\r\n\r\n"), "second");
    EXPECT_EQ(Exchange(server.port(), "GET /slow HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\nabcd");
    EXPECT_EQ(Exchange(server.port(), "GET /nothing HTTP/1.0\r\n\r\n").substr(0, 22),
              "HTTP/1.0 404 Not Found");

    ASSERT_TRUE(server.WaitForConnections(6, std::chrono::seconds(5)));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0], get);
    EXPECT_EQ(server.Connections()[0].path, "/page?x=1");
    EXPECT_EQ(server.url("/a"), "http://127.0.0.1:" + std::to_string(server.port()) + "/a");
}

TEST(ScriptedHttpServer, StopsWhileAnEndlessBodyIsBeingSent)
{
    ScriptedHttpServer server;
    ScriptedHttpServer::Script endless;
    endless.steps = {{"HTTP/1.0 200 OK\r\n\r\n", {}}};
    endless.endless = true;
    endless.endlessChunk = std::string(1024, 'x');
    server.SetScript("/endless", endless);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(server.port());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string get = "GET /endless HTTP/1.0\r\n\r\n";
    send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    char buffer[4096];
    EXPECT_GT(recv(fd, buffer, sizeof buffer, 0), 0);
    close(fd); // the server must notice and its destructor must return
}
