#pragma once

#include "platform/TcpSocket.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class CredentialsPrompt;

// The page fetcher's process-wide knobs in one place: its time-outs and
// size cap, libcurl's start, the credentials prompt the desktop program
// plugs in, and the hooks that only tests use.
class FetchSettings
{
public:
    struct Timeouts
    {
        std::chrono::milliseconds connect;
        // A transfer that gets less than `lowSpeedBytes` bytes per second
        // for `lowSpeedTime` ends as a failure (libcurl counts whole seconds).
        long lowSpeedBytes;
        std::chrono::seconds lowSpeedTime;
        // Page mode only, for the whole fetch (redirect and second request
        // after a 401 included). Downloads end on the low-speed rule only,
        // since an installer may take long on a slow line.
        std::chrono::milliseconds pageTotal;
    };

    // The program's choices: connect within the one connect time-out that
    // every connection of the program has (30 s); less than 1 byte per
    // second for 30 s; a page in 120 s at most.
    static constexpr Timeouts kTimeouts{
        std::chrono::duration_cast<std::chrono::seconds>(TcpSocket::kConnectTimeout), 1,
        std::chrono::seconds(30), std::chrono::seconds(120)};

    // A page body is read until this many bytes have come or the page holds
    // this much (see PageTransfer::Page).
    static constexpr std::uint64_t kPageSizeCap = 32ull * 1024 * 1024;

    static Timeouts CurrentTimeouts();

    // Starts libcurl (and the TLS library under it) once for the whole
    // process, for the page fetcher and the TLS mail session alike; true
    // when it is ready. Any thread, any number of times.
    static bool CurlReady();

    // Asked on a 401; none installed means "no credentials".
    static void SetCredentialsPrompt(std::shared_ptr<CredentialsPrompt> prompt);
    static std::shared_ptr<CredentialsPrompt> GetCredentialsPrompt();

    // Tests only. Shorter time-outs (restored by ResetForTests); a CA file
    // trusted instead of the system's (empty: the system's); and a session
    // that cannot be made, as when the HTTP library cannot start.
    static void SetTimeoutsForTests(const Timeouts& timeouts);
    static void SetCaFileForTests(const std::string& path);
    static std::string CaFileForTests();
    static void SetSessionFailureForTests(bool fail);
    static bool SessionFailureForTests();
    static void ResetForTests();
};
