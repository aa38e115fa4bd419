#include "monitor/CertificateNotices.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// Notes on certificates that ended this long ago are of no more use.
constexpr std::time_t kForgetAfter = 90 * 24 * 60 * 60;

std::time_t Number(const std::string& text)
{
    try {
        return static_cast<std::time_t>(std::stoll(text));
    } catch (...) {
        return 0;
    }
}

} // namespace

std::string CertificateNotices::DefaultPath()
{
    return AppPaths::FolderOf(AppPaths::DataFile()) + AppPaths::kSeparator + kFileName;
}

CertificateNotices::CertificateNotices(std::string path) : m_path(std::move(path)) {}

void CertificateNotices::LoadOnce()
{
    if (m_loaded)
        return;
    m_loaded = true;
    std::ifstream in(m_path, std::ios::binary);
    std::string line;
    // A file of another kind, or none, is read as having told nothing.
    if (!std::getline(in, line) || line != kHeader)
        return;
    const std::time_t now = Clock::Now();
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key, balloonExpiry, day, mailedExpiry;
        if (!std::getline(fields, key, '\t') || !std::getline(fields, balloonExpiry, '\t') ||
            !std::getline(fields, day, '\t') || !std::getline(fields, mailedExpiry) || key.empty())
            continue;
        Told told{Number(balloonExpiry), day, Number(mailedExpiry)};
        const std::time_t latest = std::max(told.balloonExpiry, told.mailedExpiry);
        if (latest + kForgetAfter > now)
            m_told[key] = told;
    }
}

void CertificateNotices::Save()
{
    std::string text = std::string(kHeader) + "\n";
    for (const auto& [key, told] : m_told)
        text += key + "\t" + std::to_string(static_cast<long long>(told.balloonExpiry)) + "\t" +
                told.balloonDay + "\t" + std::to_string(static_cast<long long>(told.mailedExpiry)) +
                "\n";
    AtomicFile file(m_path);
    // Not written, the notes still hold in memory for this run; after a
    // restart a notice may then come once more.
    if (!AppPaths::MakeFolders(AppPaths::FolderOf(m_path)) || !file.Open() ||
        !file.Write(text.data(), text.size()) || !file.Commit())
        std::fprintf(stderr, "Kestrelle: cannot write %s: %s\n", m_path.c_str(),
                     file.Error().c_str());
}

bool CertificateNotices::TakeBalloon(const std::string& siteKey, std::time_t expiry,
                                     std::time_t now)
{
    std::lock_guard lock(m_mutex);
    LoadOnce();
    Told& told = m_told[siteKey];
    const std::string today = TimeText::Local(now, "%Y-%m-%d");
    if (told.balloonExpiry == expiry && told.balloonDay == today)
        return false;
    told.balloonExpiry = expiry;
    told.balloonDay = today;
    Save();
    return true;
}

void CertificateNotices::GiveBackBalloon(const std::string& siteKey, std::time_t expiry)
{
    std::lock_guard lock(m_mutex);
    LoadOnce();
    const auto it = m_told.find(siteKey);
    if (it == m_told.end() || it->second.balloonExpiry != expiry)
        return;
    it->second.balloonDay.clear();
    Save();
}

bool CertificateNotices::TakeMail(const std::string& siteKey, std::time_t expiry)
{
    std::lock_guard lock(m_mutex);
    LoadOnce();
    Told& told = m_told[siteKey];
    if (told.mailedExpiry == expiry)
        return false;
    told.mailedExpiry = expiry;
    Save();
    return true;
}
