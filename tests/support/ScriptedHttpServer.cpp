#include "support/ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Short enough that stopping the server never waits long on a client that
// stopped reading; a blocked send simply retries after each slice.
constexpr int kSliceMs = 50;

std::string RequestTarget(const std::string& request)
{
    const auto firstSpace = request.find(' ');
    if (firstSpace == std::string::npos)
        return {};
    const auto secondSpace = request.find_first_of(" \r\n", firstSpace + 1);
    return request.substr(firstSpace + 1, secondSpace == std::string::npos
                                              ? std::string::npos
                                              : secondSpace - firstSpace - 1);
}

std::size_t ContentLength(const std::string& head)
{
    std::string lower = head;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find("\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return static_cast<std::size_t>(std::strtoull(lower.c_str() + at + 16, nullptr, 10));
}

} // namespace

ScriptedHttpServer::ScriptedHttpServer(const std::string& address) : m_address(address)
{
    m_default = [](const std::string&) {
        return Bytes(Response(404, "Not Found", {"Content-Type: text/html"},
                              "<html><body>Not Found</body></html>"));
    };

    if (pipe(m_wakePipe) != 0)
        throw std::runtime_error("ScriptedHttpServer: pipe failed");
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("ScriptedHttpServer: socket failed");
    int one = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("ScriptedHttpServer: not an IPv4 address: " + address);
    addr.sin_port = 0;
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listenFd, 64) != 0)
        throw std::runtime_error("ScriptedHttpServer: bind/listen failed");
    socklen_t len = sizeof addr;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    const char byte = 0;
    [[maybe_unused]] auto written = write(m_wakePipe[1], &byte, 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::list<Worker> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& worker : workers)
        worker.thread.join();
    close(m_listenFd);
    close(m_wakePipe[0]);
    close(m_wakePipe[1]);
}

std::string ScriptedHttpServer::url(const std::string& path) const
{
    return "http://" + m_address + ":" + std::to_string(m_port) + path;
}

void ScriptedHttpServer::SetResponse(const std::string& path, std::string rawBytes)
{
    SetScript(path, Bytes(std::move(rawBytes)));
}

void ScriptedHttpServer::SetScript(const std::string& path, Script script)
{
    SetSequence(path, {std::move(script)});
}

void ScriptedHttpServer::SetHandler(const std::string& path, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handlers[path] = {std::move(handler)};
    m_served[path] = 0;
}

void ScriptedHttpServer::SetSequence(const std::string& path, std::vector<Script> scripts)
{
    std::vector<Handler> handlers;
    for (auto& script : scripts)
        handlers.push_back([script](const std::string&) { return script; });
    std::lock_guard lock(m_mutex);
    m_handlers[path] = std::move(handlers);
    m_served[path] = 0;
}

void ScriptedHttpServer::SetDefault(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_default = std::move(handler);
}

void ScriptedHttpServer::Clear(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_handlers.erase(path);
    m_served.erase(path);
}

std::vector<std::string> ScriptedHttpServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> requests;
    for (const auto& connection : m_connections)
        requests.push_back(connection.request);
    return requests;
}

std::vector<ScriptedHttpServer::Connection> ScriptedHttpServer::Connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

std::size_t ScriptedHttpServer::RequestCount() const
{
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

bool ScriptedHttpServer::WaitForConnections(std::size_t count, Millis timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_finished >= count; });
}

void ScriptedHttpServer::ClearRequests()
{
    std::lock_guard lock(m_mutex);
    m_connections.clear();
    m_finished = 0;
}

std::string ScriptedHttpServer::Response(int status, const std::string& reason,
                                         const std::vector<std::string>& headerLines,
                                         const std::string& body)
{
    std::string bytes = "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n";
    for (const auto& line : headerLines)
        bytes += line + "\r\n";
    bytes += "\r\n";
    bytes += body;
    return bytes;
}

ScriptedHttpServer::Script ScriptedHttpServer::Bytes(std::string rawBytes)
{
    Script script;
    script.steps.push_back({std::move(rawBytes), Millis(0)});
    return script;
}

void ScriptedHttpServer::AcceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            close(fd);
            return;
        }
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->done.load(std::memory_order_acquire)) {
                it->thread.join();
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
        Worker& worker = m_workers.emplace_back();
        worker.thread = std::thread([this, fd, &worker] {
            Serve(fd);
            worker.done.store(true, std::memory_order_release);
        });
    }
}

bool ScriptedHttpServer::PauseFor(Millis pause)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, pause, [this] { return m_stopping; });
}

bool ScriptedHttpServer::ReadRequest(int fd, std::string& request)
{
    char buffer[4096];
    std::size_t wanted = std::string::npos; // total bytes once the head is known
    for (;;) {
        if (wanted != std::string::npos && request.size() >= wanted)
            return true;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, kSliceMs);
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return false;
        }
        if (ready <= 0)
            continue;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return !request.empty();
        request.append(buffer, static_cast<std::size_t>(n));
        if (wanted == std::string::npos) {
            const auto end = request.find("\r\n\r\n");
            if (end != std::string::npos)
                wanted = end + 4 + ContentLength(request.substr(0, end + 4));
        }
    }
}

bool ScriptedHttpServer::SendAll(int fd, const std::string& bytes, std::uint64_t& sent)
{
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, kSliceMs);
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return false;
        }
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        if (pfd.revents & (POLLERR | POLLHUP))
            return false;
        const ssize_t n =
            send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
        offset += static_cast<std::size_t>(n);
        sent += static_cast<std::uint64_t>(n);
    }
    return true;
}

ScriptedHttpServer::Script ScriptedHttpServer::Answer(const std::string& path,
                                                      const std::string& request)
{
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_handlers.find(path);
        if (it == m_handlers.end() || it->second.empty()) {
            handler = m_default;
        } else {
            std::size_t& served = m_served[path];
            handler = it->second[std::min(served, it->second.size() - 1)];
            ++served;
        }
    }
    return handler ? handler(request) : Script{};
}

void ScriptedHttpServer::Serve(int fd)
{
    Connection connection;
    connection.accepted = std::chrono::steady_clock::now();
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    std::size_t index;
    const bool received = ReadRequest(fd, connection.request);
    connection.path = RequestTarget(connection.request);
    {
        std::lock_guard lock(m_mutex);
        index = m_connections.size();
        m_connections.push_back(connection);
    }
    std::uint64_t sent = 0;
    if (received) {
        const Script script = Answer(connection.path, connection.request);
        bool open = true;
        for (const auto& step : script.steps) {
            open = SendAll(fd, step.bytes, sent) &&
                   (step.pauseAfter.count() == 0 || PauseFor(step.pauseAfter));
            if (!open)
                break;
        }
        for (std::uint64_t n = 0;
             open && script.endless && (script.endlessCount == 0 || n < script.endlessCount); ++n) {
            open = SendAll(fd, script.endlessChunk, sent) &&
                   (script.endlessPause.count() == 0 || PauseFor(script.endlessPause));
        }
        if (open && script.endless && script.endlessCount != 0)
            open = SendAll(fd, script.last, sent);
        connection.answered = std::chrono::steady_clock::now();
        if (script.reset) {
            linger hard{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        } else {
            shutdown(fd, SHUT_WR);
            // Let the client read everything before the socket goes away, so
            // unread request bytes cannot turn the close into a reset.
            char sink[512];
            for (int i = 0; i < 20; ++i) {
                pollfd pfd{fd, POLLIN, 0};
                if (poll(&pfd, 1, kSliceMs) <= 0)
                    break;
                if (recv(fd, sink, sizeof sink, 0) <= 0)
                    break;
            }
        }
    }
    close(fd);
    {
        std::lock_guard lock(m_mutex);
        // ClearRequests may have emptied the list meanwhile.
        if (index < m_connections.size() && m_connections[index].accepted == connection.accepted) {
            Connection& stored = m_connections[index];
            stored.bytesSent = sent;
            stored.answered = connection.answered;
            stored.closed = std::chrono::steady_clock::now();
            stored.finished = true;
        }
        ++m_finished;
    }
    m_changed.notify_all();
}
