#pragma once

#include <cstdint>
#include <string>

// The Options dialog's test message: one SMTP session with the settings as
// they stand in the dialog, sent to the sender's own address. It blocks for
// as long as the server takes (up to 30 s to connect and 60 s per reply), so
// the dialog runs it on a thread of its own; it touches no window.
class CTestEmail
{
public:
    struct Settings
    {
        std::string server;
        std::uint16_t port = 25;
        std::string address;
        std::string username;
        std::string password;
        int security = 0; // 0 none, 1 STARTTLS, 2 SSL/TLS
    };

    enum class Outcome
    {
        NotConnected, // the server could not be reached: nothing is said
        Sent,
        Failed
    };
    struct Result
    {
        Outcome outcome = Outcome::NotConnected;
        std::string responses; // the server's replies, for the failure text
    };

    static Result Send(const Settings& settings);

    // The texts the user reads afterwards.
    static std::string SuccessText(const std::string& address);
    static std::string FailureText(const std::string& address, const std::string& responses);

    static constexpr const char* kSubject = "Test message from Kestrelle";
    static constexpr const char* kBody =
        "\r\nThis is a test message sent from Kestrelle to verify your email settings. If you "
        "receive this message, then your settings appear to be correct.\r\n";
};
