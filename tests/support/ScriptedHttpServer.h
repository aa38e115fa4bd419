#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP server for tests on 127.0.0.1 with a port the system picks. It
// answers each request with exactly the bytes a test scripted for the
// request's path (status line, headers and body as written, CR, LF and NUL
// included), then closes the connection. It records the raw bytes of every
// request it received, so tests can assert the request line and headers.
//
// Every connection is served on a thread of its own, so two clients at once
// are really served at once (a test can see whether its clients overlapped).
// All setters are thread-safe and may be called between or during requests.
class ScriptedHttpServer
{
public:
    using Millis = std::chrono::milliseconds;

    // One answer. The steps are sent in order, each followed by its pause;
    // with `endless` set, `endlessChunk` is then sent again and again (with
    // `endlessPause` after each) until the client goes away or the server
    // stops. The connection is closed afterwards (reset instead of a
    // graceful close with `reset`). A connection "closed mid-body" is simply
    // a script whose body is shorter than its Content-Length.
    struct Script
    {
        struct Step
        {
            std::string bytes;
            Millis pauseAfter{0};
        };
        std::vector<Step> steps;
        bool endless = false;
        std::string endlessChunk;
        Millis endlessPause{0};
        // Above 0: the chunk goes that many times only, followed by `last`,
        // for a long body that is never whole in memory.
        std::uint64_t endlessCount = 0;
        std::string last;
        bool reset = false;
    };

    // Decides the answer from the raw request bytes (for example, 401 until
    // an Authorization line comes).
    using Handler = std::function<Script(const std::string& request)>;

    // What happened on one connection, for tests that look at timing.
    struct Connection
    {
        std::string request; // raw bytes, request line to the blank line (and any body)
        std::string path;    // target of the request line, query included
        std::chrono::steady_clock::time_point accepted;
        // The last byte of the answer was sent (before the close, so before
        // the client can have seen the end of the answer).
        std::chrono::steady_clock::time_point answered;
        std::chrono::steady_clock::time_point closed; // zero while still open
        bool finished = false;
        std::uint64_t bytesSent = 0;
    };

    // Listening when constructed; throws if it cannot. An IPv4 address other
    // than the loopback's is for a test inside a network namespace of its
    // own, where no packet can leave the computer.
    explicit ScriptedHttpServer(const std::string& address = "127.0.0.1");
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // "http://ADDRESS:PORT" + path
    std::string url(const std::string& path) const;

    // Scripts for a request target (path with query, exactly as in the
    // request line). A later call replaces an earlier one for that path.
    void SetResponse(const std::string& path, std::string rawBytes);
    void SetScript(const std::string& path, Script script);
    void SetHandler(const std::string& path, Handler handler);
    // Several answers in turn: each request takes the next one, the last one
    // is kept for every request after it.
    void SetSequence(const std::string& path, std::vector<Script> scripts);
    // For paths nobody scripted; by default a small "404 Not Found" answer.
    void SetDefault(Handler handler);
    void Clear(const std::string& path);

    // Raw bytes of every request received so far, in order of arrival. A
    // request counts as soon as it has been read, before it is answered, so
    // a client that got its answer always finds its request here.
    std::vector<std::string> Requests() const;
    std::vector<Connection> Connections() const;
    std::size_t RequestCount() const;
    // Waits until `count` connections are closed or the time is up.
    bool WaitForConnections(std::size_t count, Millis timeout) const;
    void ClearRequests();

    // Convenience for building answers.
    static std::string Response(int status, const std::string& reason,
                                const std::vector<std::string>& headerLines,
                                const std::string& body);
    static Script Bytes(std::string rawBytes);

private:
    void AcceptLoop();
    void Serve(int fd);
    bool ReadRequest(int fd, std::string& request);
    bool SendAll(int fd, const std::string& bytes, std::uint64_t& sent);
    bool PauseFor(Millis pause); // false once the server is stopping
    Script Answer(const std::string& path, const std::string& request);

    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::string m_address;
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    std::map<std::string, std::vector<Handler>> m_handlers; // sequence per path
    std::map<std::string, std::size_t> m_served;            // requests taken per path
    Handler m_default;
    std::vector<Connection> m_connections;
    std::size_t m_finished = 0;
    struct Worker
    {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::list<Worker> m_workers; // finished ones are joined as new ones come
};
