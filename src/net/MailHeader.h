#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// The header block of a message, composed from its values alone: no
// connection, no clock, no output. Both mail clients send what it gives.
class MailHeader
{
public:
    // The longest block; a longer one is refused, never cut (a cut header
    // would lose recipients or the empty line that ends it).
    static constexpr std::size_t kMaxLength = 16384;

    struct Fields
    {
        std::optional<std::string> senderName; // the From line only when set
        std::string senderEmail;
        std::vector<std::string> to; // recipient texts (CMailRecipient::Text)
        std::vector<std::string> cc;
        std::optional<std::string> subject;
        std::optional<std::string> xMailer;
        std::optional<std::string> replyTo;
    };

    enum class Refused
    {
        NoRecipient,
        LineBreak, // `what` names the value
        TooLong
    };
    struct Refusal
    {
        Refused why;
        std::string what;
    };

    // The block dated `now` (UTC, English names, a 24-hour time followed by
    // AM/PM and no zone: what mail readers have always been shown by us), or
    // why there is none. A CR or LF in any value would start a header line
    // of its own, so such a value is refused.
    static std::optional<std::string> Compose(const Fields& fields, std::time_t now,
                                              Refusal* refusal = nullptr);
};
