#include "ui/CCredentialsPrompt.h"

#include "net/FetchAddress.h"
#include "net/FetchSettings.h"
#include "ui/UiThread.h"

#include <cstdio>

CCredentialsPrompt::CCredentialsPrompt(const QString& keyringService)
    : m_context(std::make_unique<QObject>())
{
    if (!keyringService.isEmpty())
        m_keyring = std::make_unique<CredentialsKeyring>(keyringService);
}

CCredentialsPrompt::~CCredentialsPrompt() = default;

void CCredentialsPrompt::Install()
{
    KESTRELLE_ASSERT_UI_THREAD();
    auto prompt = std::make_shared<CCredentialsPrompt>();
    prompt->LoadKeyring();
    FetchSettings::SetCredentialsPrompt(std::move(prompt));
}

std::shared_ptr<CCredentialsPrompt> CCredentialsPrompt::Installed()
{
    return std::dynamic_pointer_cast<CCredentialsPrompt>(FetchSettings::GetCredentialsPrompt());
}

std::string CCredentialsPrompt::RealmOf(const std::string& rawHeaders)
{
    return FetchAddress::AuthRealm(rawHeaders);
}

std::string CCredentialsPrompt::ServerOf(const std::string& address)
{
    const auto parts = FetchAddress::Split(address);
    if (!parts)
        return address;
    return parts->scheme + "://" + parts->server + ":" + std::to_string(parts->port);
}

CCredentialsPrompt::Key CCredentialsPrompt::KeyOf(const std::string& address,
                                                  const std::string& rawHeaders)
{
    return {ServerOf(address), RealmOf(rawHeaders)};
}

void CCredentialsPrompt::LoadKeyring()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (!m_keyring)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_state = Keyring::Loading;
    }
    m_keyring->Read(
        [this](bool ok, std::vector<CredentialsKeyring::Entry> entries, const std::string& error) {
            bool writeDue = false;
            {
                std::lock_guard lock(m_mutex);
                m_state = ok ? Keyring::Ready : Keyring::Unavailable;
                // What the user gave while the keyring was being read stands.
                for (auto& e : entries) {
                    const Key key{e.server, e.realm};
                    const Credentials credentials{std::move(e.user), std::move(e.password)};
                    m_stored.emplace(key, credentials);
                    m_kept.emplace(key, Kept{credentials, true});
                }
                writeDue = ok && m_writeDue;
            }
            m_keyringAnswered.notify_all();
            if (!ok)
                std::fprintf(stderr, "Kestrelle: log-ins are kept for this run only: %s\n",
                             error.c_str());
            if (writeDue)
                SaveKeyring();
        });
}

std::optional<CredentialsPrompt::Credentials> CCredentialsPrompt::Ask(const std::string& address,
                                                                      const std::string& rawHeaders)
{
    const Key key = KeyOf(address, rawHeaders);
    std::unique_lock lock(m_mutex);
    // Only at start, and bounded: the keyring answers on the user-interface
    // thread, which must not be the one waiting here.
    if (m_state == Keyring::Loading && !OnUiThread())
        m_keyringAnswered.wait_for(lock, kKeyringWait,
                                   [this] { return m_state != Keyring::Loading; });
    const auto it = m_kept.find(key);
    if (it == m_kept.end())
        return std::nullopt;
    return it->second.credentials;
}

bool CCredentialsPrompt::Stored(const Key& key, const Credentials& credentials) const
{
    const auto it = m_stored.find(key);
    return it != m_stored.end() && it->second.user == credentials.user &&
           it->second.password == credentials.password;
}

void CCredentialsPrompt::Answered(const std::string& address, const std::string& rawHeaders,
                                  const Credentials& credentials, long status)
{
    const Key key = KeyOf(address, rawHeaders);
    bool save = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_kept.find(key);
        if (status == 401) {
            // Refused: the next check says "needs a log-in" and the user is
            // asked again. A user's newer answer given meanwhile stays.
            if (it != m_kept.end() && it->second.credentials.user == credentials.user &&
                it->second.credentials.password == credentials.password)
                m_kept.erase(it);
        } else if (status != 0 && it != m_kept.end() && it->second.remember &&
                   m_state != Keyring::Unavailable && !Stored(key, credentials)) {
            // Only a log-in the server took is worth remembering.
            m_stored[key] = credentials;
            m_writeDue = true;
            save = m_state == Keyring::Ready;
        }
    }
    if (save)
        RunOnUi(m_context.get(), [this] { SaveKeyring(); });
}

void CCredentialsPrompt::LogInNeeded(const std::string& site, const std::string& address,
                                     const std::string& rawHeaders)
{
    std::lock_guard lock(m_mutex);
    m_needs[site] = {address, RealmOf(rawHeaders)};
}

std::optional<CCredentialsPrompt::LogIn> CCredentialsPrompt::NeedOf(const std::string& site) const
{
    std::lock_guard lock(m_mutex);
    const auto need = m_needs.find(site);
    if (need == m_needs.end())
        return std::nullopt;
    LogIn logIn{need->second.first, need->second.second, {}};
    const Key key{ServerOf(logIn.address), logIn.realm};
    if (const auto kept = m_kept.find(key); kept != m_kept.end())
        logIn.user = kept->second.credentials.user;
    else if (const auto stored = m_stored.find(key); stored != m_stored.end())
        logIn.user = stored->second.user;
    return logIn;
}

void CCredentialsPrompt::Give(const std::string& site, const Credentials& credentials,
                              bool remember)
{
    KESTRELLE_ASSERT_UI_THREAD();
    bool save = false;
    {
        std::lock_guard lock(m_mutex);
        const auto need = m_needs.find(site);
        if (need == m_needs.end())
            return;
        const Key key{ServerOf(need->second.first), need->second.second};
        m_kept[key] = Kept{credentials, remember};
        // Not to be remembered: what the keyring held for it goes.
        if (!remember && m_stored.erase(key) > 0) {
            m_writeDue = true;
            save = m_state == Keyring::Ready;
        }
    }
    if (save)
        SaveKeyring();
}

CCredentialsPrompt::Keyring CCredentialsPrompt::KeyringState() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool CCredentialsPrompt::KeyringBusy() const
{
    std::lock_guard lock(m_mutex);
    return m_writing || (m_writeDue && m_state == Keyring::Ready);
}

void CCredentialsPrompt::SaveKeyring()
{
    KESTRELLE_ASSERT_UI_THREAD();
    std::vector<CredentialsKeyring::Entry> entries;
    {
        std::lock_guard lock(m_mutex);
        // A write under way starts the next one when it ends.
        if (!m_keyring || m_writing || !m_writeDue)
            return;
        m_writeDue = false;
        m_writing = true;
        for (const auto& [key, credentials] : m_stored)
            entries.push_back({key.first, key.second, credentials.user, credentials.password});
    }
    m_keyring->Write(entries, [this](bool ok, const std::string& error) {
        {
            std::lock_guard lock(m_mutex);
            m_writing = false;
        }
        if (!ok)
            std::fprintf(stderr, "Kestrelle: the keyring did not take the log-ins: %s\n",
                         error.c_str());
        SaveKeyring();
    });
}
