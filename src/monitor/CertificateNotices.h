#pragma once

#include <ctime>
#include <map>
#include <mutex>
#include <string>

// What the user has been told of certificates about to run out, so that a
// balloon comes once a day per site and an e-mail once per certificate, also
// across restarts. A certificate with another end date (a renewed one) is
// news again at once.
//
// Kept in a small file of its own beside the site list, not in the data
// file, whose format other programs and older copies read and which holds
// the user's sites only; nor in the history of checks, which records checks
// and which the command-line checker writes too. One line per site:
// its key, the end date the last balloon was about, the local day of that
// balloon, and the end date the last e-mail was about. Lines about
// certificates that ended long ago are dropped when the file is read.
class CertificateNotices
{
public:
    static constexpr const char* kFileName = "certificate-notices";
    static constexpr const char* kHeader = "Kestrelle certificate notices 1";

    // The file beside the data file.
    static std::string DefaultPath();

    explicit CertificateNotices(std::string path = DefaultPath());

    // Whether a balloon is due for the site's certificate ending at
    // `expiry`: the first time, on a new local day, or for another
    // certificate. When due it is taken as shown and the file written.
    bool TakeBalloon(const std::string& siteKey, std::time_t expiry, std::time_t now);
    // A balloon taken that was hidden at once by weightier news: owed again.
    void GiveBackBalloon(const std::string& siteKey, std::time_t expiry);
    // Whether an e-mail is due: once per certificate. Taken as sent when due.
    bool TakeMail(const std::string& siteKey, std::time_t expiry);

private:
    struct Told
    {
        std::time_t balloonExpiry = 0;
        std::string balloonDay; // local "YYYY-MM-DD"
        std::time_t mailedExpiry = 0;
    };
    void LoadOnce();
    void Save();

    std::string m_path;
    std::mutex m_mutex;
    bool m_loaded = false;
    std::map<std::string, Told> m_told;
};
