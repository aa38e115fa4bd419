#include "support/ScriptedSmtpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ListenOnLoopback(uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("scripted server: no socket");
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("scripted server: cannot listen on 127.0.0.1");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

ScriptedSmtpServer::Script ScriptedSmtpServer::Accepting(int recipients)
{
    Script script{OnLine("220 scripted.test ESMTP ready\r\n250 scripted.test\r\n"),
                  OnLine("250 OK\r\n")};
    for (int i = 0; i < recipients; ++i)
        script.push_back(OnLine("250 OK\r\n"));
    script.push_back(OnLine("354 End data with <CR><LF>.<CR><LF>\r\n"));
    script.push_back(OnData("250 2.0.0 Ok: queued as 12345\r\n"));
    script.push_back(OnLine("221 Bye\r\n"));
    return script;
}

ScriptedSmtpServer::ScriptedSmtpServer(Script script) : m_script(std::move(script))
{
    m_listenFd = ListenOnLoopback(m_port);
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("scripted server: no pipe");
    }
    m_thread = std::thread([this] { Run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    const char byte = 'x';
    (void)!::write(m_wakePipe[1], &byte, 1);
    m_thread.join();
    ::close(m_listenFd);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

std::string ScriptedSmtpServer::Received() const
{
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const auto& s : m_sessions)
        all += s;
    return all;
}

std::vector<std::string> ScriptedSmtpServer::Sessions() const
{
    std::lock_guard lock(m_mutex);
    return m_sessions;
}

size_t ScriptedSmtpServer::Connections() const
{
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

bool ScriptedSmtpServer::WaitForEndedSessions(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_ended >= count; });
}

bool ScriptedSmtpServer::WaitForReceived(const std::string& needle,
                                         std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        for (const auto& s : m_sessions)
            if (s.find(needle) != std::string::npos)
                return true;
        return false;
    });
}

uint16_t ScriptedSmtpServer::UnusedPort()
{
    uint16_t port = 0;
    const int fd = ListenOnLoopback(port);
    ::close(fd);
    return port;
}

void ScriptedSmtpServer::Run()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            m_sessions.emplace_back();
        }
        m_changed.notify_all();
        Serve(fd);
        ::close(fd);
        bool stopping;
        {
            std::lock_guard lock(m_mutex);
            ++m_ended;
            stopping = m_stopping;
        }
        m_changed.notify_all();
        if (stopping)
            return;
    }
}

void ScriptedSmtpServer::Serve(int fd)
{
    std::string pending; // received but not yet taken by a step
    // Takes one CR LF terminated line out of `pending`, reading as needed.
    auto takeLine = [&]() -> bool {
        for (;;) {
            const auto end = pending.find("\r\n");
            if (end != std::string::npos) {
                pending.erase(0, end + 2);
                return true;
            }
            if (!ReadMore(fd, pending))
                return false;
        }
    };
    for (const Step& step : m_script) {
        switch (step.kind) {
        case Step::Kind::Send:
            if (!WriteAll(fd, step.text))
                return;
            break;
        case Step::Kind::OnLine:
            if (!takeLine() || !WriteAll(fd, step.text))
                return;
            break;
        case Step::Kind::OnData: {
            // The header block may follow DATA's line at once, so the mark
            // is looked for in everything not yet taken, and also at the
            // very start (an empty message right after DATA's CR LF). Each
            // read is searched from where the last search stopped, so a
            // large message costs no more than its size.
            size_t from = 0;
            for (;;) {
                if (pending.rfind(".\r\n", 0) == 0) {
                    pending.erase(0, 3);
                    break;
                }
                const auto end = pending.find("\r\n.\r\n", from);
                if (end != std::string::npos) {
                    pending.erase(0, end + 5);
                    break;
                }
                from = pending.size() >= 4 ? pending.size() - 4 : 0;
                if (!ReadMore(fd, pending))
                    return;
            }
            if (!WriteAll(fd, step.text))
                return;
            break;
        }
        case Step::Kind::IgnoreLine:
            if (!takeLine())
                return;
            break;
        case Step::Kind::Pause: {
            pollfd wake{m_wakePipe[0], POLLIN, 0};
            if (::poll(&wake, 1, step.millis) > 0)
                return;
            break;
        }
        case Step::Kind::Hangup:
            return;
        case Step::Kind::HangupOnLine:
            takeLine();
            return;
        }
    }
    // Script used up: keep recording until the client goes.
    while (ReadMore(fd, pending))
        pending.clear();
}

bool ScriptedSmtpServer::ReadMore(int fd, std::string& pending)
{
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents != 0)
            return false;
        char buf[65536];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        pending.append(buf, static_cast<size_t>(n));
        {
            std::lock_guard lock(m_mutex);
            m_sessions.back().append(buf, static_cast<size_t>(n));
        }
        m_changed.notify_all();
        return true;
    }
}

bool ScriptedSmtpServer::WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
