#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A mail server of our own on 127.0.0.1 for tests that need exact bytes. It
// listens on an ephemeral port in a thread of its own, records every byte a
// client sends and answers from a script. Each connection runs the script from
// its first step; connections are served one after another. When the script
// is used up the server goes on reading and recording in silence until the
// client closes the connection or the server is destroyed.
//
// A typical script:
//   ScriptedSmtpServer server({ScriptedSmtpServer::OnLine("220 hi\r\n250 hello\r\n"),
//                              ScriptedSmtpServer::OnLine("250 OK\r\n"), ...});
// "OnLine" waits for the next command line before it answers, so the client's
// receives get one reply each and the test can assert what it collected.
class ScriptedSmtpServer
{
public:
    struct Step
    {
        enum class Kind
        {
            Send,        // write `text` at once (a greeting before any command)
            OnLine,      // wait for the next CR LF terminated line, then write `text`
            OnData,      // wait for the end-of-data mark "\r\n.\r\n", then write `text`
            IgnoreLine,  // wait for the next line and answer nothing
            Pause,       // wait `millis` before the next step
            Hangup,      // close the connection now
            HangupOnLine // wait for the next line, then close the connection
        };
        Kind kind;
        std::string text;
        int millis = 0;
    };
    using Script = std::vector<Step>;

    static Step Send(std::string text) { return {Step::Kind::Send, std::move(text)}; }
    static Step OnLine(std::string reply) { return {Step::Kind::OnLine, std::move(reply)}; }
    static Step OnData(std::string reply) { return {Step::Kind::OnData, std::move(reply)}; }
    static Step IgnoreLine() { return {Step::Kind::IgnoreLine, {}}; }
    static Step Pause(int millis) { return {Step::Kind::Pause, {}, millis}; }
    static Step Hangup() { return {Step::Kind::Hangup, {}}; }
    static Step HangupOnLine() { return {Step::Kind::HangupOnLine, {}}; }

    // A server that accepts one message without authentication: greeting and
    // HELO reply together (after the HELO line), MAIL, one RCPT per recipient,
    // DATA, the message, QUIT.
    static Script Accepting(int recipients = 1);

    explicit ScriptedSmtpServer(Script script);
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    uint16_t Port() const { return m_port; }

    // Every byte received so far, all connections in order.
    std::string Received() const;
    // The bytes of each connection so far, one text per connection.
    std::vector<std::string> Sessions() const;
    // Connections accepted so far.
    size_t Connections() const;

    // Wait until `count` connections have ended (the client closed, or the
    // script hung up); false when `timeout` passed first.
    bool WaitForEndedSessions(size_t count,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Wait until the received bytes contain `needle`.
    bool WaitForReceived(const std::string& needle,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // A loopback port on which nothing listens (bound once, then released).
    static uint16_t UnusedPort();

private:
    void Run();
    void Serve(int fd);
    // Reads more bytes into `pending`; false when the peer closed or we stop.
    bool ReadMore(int fd, std::string& pending);
    bool WriteAll(int fd, const std::string& text);

    Script m_script;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    uint16_t m_port = 0;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_sessions;
    size_t m_ended = 0;
    bool m_stopping = false;

    std::thread m_thread;
};
