#include "ui/CCredentialsPrompt.h"

#include "net/FetchAddress.h"
#include "net/FetchSettings.h"
#include "ui/CCredentialsDlg.h"

#include <QCoreApplication>
#include <QThread>

#include <cctype>
#include <memory>
#include <sstream>

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

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
    std::istringstream lines(rawHeaders);
    std::string line;
    while (std::getline(lines, line)) {
        if (!StartsWithNoCase(line, "WWW-Authenticate:"))
            continue;
        std::string lower = line;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = lower.find("realm=");
        if (at == std::string::npos)
            return {};
        std::size_t i = at + 6;
        std::string realm;
        if (i < line.size() && line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size())
                    ++i;
                realm += line[i];
            }
        } else {
            while (i < line.size() && line[i] != ',' && line[i] != '\r' && line[i] != ' ')
                realm += line[i++];
        }
        return realm;
    }
    return {};
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
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return std::nullopt; // the program is ending: nobody to ask
    if (QThread::currentThread() == app->thread())
        return m_asker(site, realm);
    // The transfer's thread waits for the answer; the user-interface thread
    // keeps running its event loop (also inside a nested fetch wait), so it
    // gets to this call.
    std::optional<Credentials> answer;
    QMetaObject::invokeMethod(
        app, [&] { answer = m_asker(site, realm); }, Qt::BlockingQueuedConnection);
    return answer;
}
