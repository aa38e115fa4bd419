#pragma once

#include <optional>
#include <string>

// Asked when a server answers 401. Called on the transfer's thread, which
// must not be held: Ask answers at once from what the prompt already holds,
// never by waiting for a person. Whatever it answers, the request is sent
// once more (with the credentials when there are some); a fetch that still
// ends on a 401 fails as "needs a log-in" and the prompt hears of it, so
// that whoever can ask the user does so later, out of the fetch's way. The
// core has nobody to ask and answers "none".
class CredentialsPrompt
{
public:
    struct Credentials
    {
        std::string user;
        std::string password;
    };

    virtual ~CredentialsPrompt() = default;
    // `address` is the address requested, `rawHeaders` the 401 answer's head
    // (its WWW-Authenticate line names the realm).
    virtual std::optional<Credentials> Ask(const std::string& address,
                                           const std::string& rawHeaders) = 0;
    // After a request sent again with the credentials Ask gave: how the
    // server answered (`status` 0 when no answer came), so a prompt can keep
    // credentials that worked and drop those refused with a 401 again.
    // `rawHeaders` is the head of the 401 that made Ask be called.
    virtual void Answered(const std::string& /*address*/, const std::string& /*rawHeaders*/,
                          const Credentials& /*credentials*/, long /*status*/)
    {
    }
    // A page fetch of `site` (the address as its caller gave it) ended on a
    // 401 from `address`, whose head is `rawHeaders`.
    virtual void LogInNeeded(const std::string& /*site*/, const std::string& /*address*/,
                             const std::string& /*rawHeaders*/)
    {
    }
};
