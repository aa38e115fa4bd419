#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A real SMTP server for integration tests: Debian's aiosmtpd, run by the
// system Python (KESTRELLE_SYSTEM_PYTHON, not whatever python3 is first on
// PATH) with tests/support/smtp_sink.py on 127.0.0.1 and a free port. Every
// message it accepts is kept as files in the folder given to it. The
// constructor returns once the server listens (or has failed to start: see
// IsRunning and Error); the destructor stops it.
//
// Note: like most servers, aiosmtpd offers AUTH only after EHLO, so after a
// HELO it answers AUTH LOGIN with an error.
class AiosmtpdServer
{
public:
    struct Message
    {
        std::string mailFrom;             // envelope sender
        std::vector<std::string> rcptTos; // envelope recipients, in order
        std::string data;                 // header block and body as received
    };

    // `folder` must exist and should be empty (a TempDir's path, say).
    explicit AiosmtpdServer(std::string folder,
                            std::chrono::milliseconds startTimeout = std::chrono::seconds(15));
    ~AiosmtpdServer();
    AiosmtpdServer(const AiosmtpdServer&) = delete;
    AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

    bool IsRunning() const { return m_port != 0; }
    // Why the server did not start; empty when it runs.
    const std::string& Error() const { return m_error; }
    uint16_t Port() const { return m_port; }

    // From now on every message is refused after its data (554), or taken
    // again.
    void RefuseMessages(bool refuse);

    // The messages received so far, in order of arrival.
    std::vector<Message> Messages() const;
    // Wait until at least `count` messages have arrived.
    bool WaitForMessages(size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // The lines of a text, without their line feeds.
    static std::vector<std::string> Lines(const std::string& text);

protected:
    // Runs `script` (a file of tests/support) with the folder and `args`.
    AiosmtpdServer(std::string folder, const std::string& script,
                   const std::vector<std::string>& args, std::chrono::milliseconds startTimeout);
    const std::string& Folder() const { return m_folder; }

private:
    std::string m_folder;
    std::string m_error;
    pid_t m_pid = -1;
    uint16_t m_port = 0;
};
