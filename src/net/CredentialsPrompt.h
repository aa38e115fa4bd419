#pragma once

#include <optional>
#include <string>

// Asked when a server answers 401. Called on the transfer's worker thread;
// whatever it answers, the request is sent once more (with the credentials
// when there are some). The core has nobody to ask and answers "none".
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
};
