#pragma once

#include "net/CredentialsPrompt.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

// The desktop's answer to a server's 401: a dialog on the user-interface
// thread, whichever thread fetches. Credentials that a server accepted are
// kept for the run (in memory only) per server and realm, as a browser
// keeps them, so a protected site does not ask again at every check; once
// the server refuses them they are forgotten and the next 401 asks again.
class CCredentialsPrompt : public CredentialsPrompt
{
public:
    // Shows the question and gives the answer; none when the user cancelled.
    // Called on the user-interface thread.
    using Asker = std::function<std::optional<Credentials>(const std::string& site,
                                                           const std::string& realm)>;

    // The default asks with CCredentialsDlg.
    explicit CCredentialsPrompt(Asker asker = {});

    std::optional<Credentials> Ask(const std::string& address,
                                   const std::string& rawHeaders) override;
    void Answered(const std::string& address, const std::string& rawHeaders,
                  const Credentials& credentials, long status) override;

    // Makes a prompt the page fetcher asks from now on.
    static void Install();

    // The realm of the head's first WWW-Authenticate line; empty without one.
    static std::string RealmOf(const std::string& rawHeaders);
    // Scheme, server and port of an address: what a realm belongs to.
    static std::string ServerOf(const std::string& address);

private:
    std::optional<Credentials> AskOnUiThread(const std::string& site, const std::string& realm);

    Asker m_asker;
    std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, Credentials> m_remembered;
};
