#pragma once

#include "net/CredentialsPrompt.h"
#include "ui/CredentialsKeyring.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

// The desktop's answer to a server's 401. A fetch is never held for the
// user: it gets the credentials the program holds for that server and
// realm, or none, at once, and a fetch that still ends on a 401 is noted
// here so that the window can ask the user later, when the user opens the
// site's row or clicks its balloon (CCredentialsDlg). The user's answer is
// kept for the run in memory; with "Remember" ticked and once the server
// took it, also in the desktop's keyring, from which the next run reads it
// back. Credentials the server refuses are dropped from memory (the
// keyring keeps them until the user answers anew). Nothing of it goes into
// the data file, the settings file or any output.
class CCredentialsPrompt : public CredentialsPrompt
{
public:
    // What the window needs to ask for a site's log-in.
    struct LogIn
    {
        std::string address; // the one that answered 401
        std::string realm;
        std::string user; // the last user name given for it, if any
    };
    enum class Keyring
    {
        Loading,    // asked, no answer yet
        Ready,      // remembered log-ins come from it and go to it
        Unavailable // no keyring answered: log-ins are kept for the run only
    };

    // How long a fetch waits at start for the keyring's first answer, so
    // that a remembered log-in is used by the first pass.
    static constexpr std::chrono::seconds kKeyringWait{5};
    static constexpr const char* kKeyringService = "Kestrelle";

    // An empty service name uses no keyring at all.
    explicit CCredentialsPrompt(const QString& keyringService = kKeyringService);
    ~CCredentialsPrompt() override;

    // Any thread.
    std::optional<Credentials> Ask(const std::string& address,
                                   const std::string& rawHeaders) override;
    void Answered(const std::string& address, const std::string& rawHeaders,
                  const Credentials& credentials, long status) override;
    void LogInNeeded(const std::string& site, const std::string& address,
                     const std::string& rawHeaders) override;

    // User-interface thread. Reads the remembered log-ins; returns at once.
    void LoadKeyring();
    // The log-in the last fetch of `site` (the address as the list holds
    // it) wanted; none when no fetch of it ended on a 401 in this run.
    std::optional<LogIn> NeedOf(const std::string& site) const;
    // The user's answer to `site`'s log-in; used from the next fetch on.
    void Give(const std::string& site, const Credentials& credentials, bool remember);
    Keyring KeyringState() const;
    // A keyring write is under way or due.
    bool KeyringBusy() const;

    // Makes a prompt the page fetcher asks from now on, and starts reading
    // its keyring. User-interface thread.
    static void Install();
    // The one Install made; none before.
    static std::shared_ptr<CCredentialsPrompt> Installed();

    // The realm of the head's first WWW-Authenticate line; empty without one.
    static std::string RealmOf(const std::string& rawHeaders);
    // Scheme, server and port of an address: what a realm belongs to.
    static std::string ServerOf(const std::string& address);

private:
    using Key = std::pair<std::string, std::string>; // server, realm
    struct Kept
    {
        Credentials credentials;
        bool remember = false;
    };

    static Key KeyOf(const std::string& address, const std::string& rawHeaders);
    void SaveKeyring(); // UI thread
    bool Stored(const Key& key, const Credentials& credentials) const;

    std::unique_ptr<CredentialsKeyring> m_keyring; // none without a service
    mutable std::mutex m_mutex;
    std::condition_variable m_keyringAnswered;
    Keyring m_state = Keyring::Unavailable;
    std::map<Key, Kept> m_kept;                                         // used by fetches
    std::map<Key, Credentials> m_stored;                                // as the keyring holds them
    std::map<std::string, std::pair<std::string, std::string>> m_needs; // site: address, realm
    bool m_writing = false;
    bool m_writeDue = false;
    // Calls queued for the UI thread are dropped once the prompt is gone.
    std::unique_ptr<QObject> m_context;
};
