#include "ui/CCredentialsPrompt.h"

#include "ui/UiThread.h"

#include "net/FetchAddress.h"
#include "net/FetchSettings.h"
#include "ui/CCredentialsDlg.h"

#include <QCoreApplication>
#include <QThread>

#include <memory>

namespace {

std::optional<CredentialsPrompt::Credentials> AskWithDialog(const std::string& site,
                                                            const std::string& realm)
{
    CCredentialsDlg dialog(site, realm);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return CredentialsPrompt::Credentials{dialog.User(), dialog.Password()};
}

} // namespace

CCredentialsPrompt::CCredentialsPrompt(Asker asker) : m_asker(std::move(asker))
{
    if (!m_asker)
        m_asker = &AskWithDialog;
}

void CCredentialsPrompt::Install()
{
    FetchSettings::SetCredentialsPrompt(std::make_shared<CCredentialsPrompt>());
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

std::optional<CredentialsPrompt::Credentials> CCredentialsPrompt::Ask(const std::string& address,
                                                                      const std::string& rawHeaders)
{
    const auto key = std::make_pair(ServerOf(address), RealmOf(rawHeaders));
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_remembered.find(key);
        if (it != m_remembered.end())
            return it->second;
    }
    return AskOnUiThread(address, key.second);
}

void CCredentialsPrompt::Answered(const std::string& address, const std::string& rawHeaders,
                                  const Credentials& credentials, long status)
{
    const auto key = std::make_pair(ServerOf(address), RealmOf(rawHeaders));
    std::lock_guard lock(m_mutex);
    if (status == 401)
        m_remembered.erase(key);
    else if (status != 0)
        m_remembered[key] = credentials;
}

std::optional<CredentialsPrompt::Credentials>
CCredentialsPrompt::AskOnUiThread(const std::string& site, const std::string& realm)
{
    if (!QCoreApplication::instance())
        return std::nullopt; // the program is ending: nobody to ask
    // The transfer's thread waits for the answer; the user-interface thread
    // keeps running its event loop (also inside a nested fetch wait), so it
    // gets to this call.
    return AskOnUi([&] { return m_asker(site, realm); });
}
