#pragma once

#include <cstdint>
#include <ctime>
#include <string>

using EntryId = std::uint64_t;

// Everything the alert steps need about a site found down, read by the pass
// in the same locked step that wrote its outcome. No step reads the list
// afterwards: by then the row may hold another site, or none.
struct SiteAlert
{
    EntryId id = 0;
    std::string url; // as it may be shown: without a password in it
    std::string siteName;
    std::string emailAddress; // the entry's own recipient; may be short or empty
    std::string balloonText;
    std::string balloonTitle;
    std::string reason; // why the check failed: "connection refused", "text not found", ...
    bool firstFailure = false;
};

// A site that was "ERROR" and whose text was found again.
struct SiteRecovery
{
    EntryId id = 0;
    std::string url; // as it may be shown: without a password in it
    std::string siteName;
    std::string emailAddress;
    // The Last Check of the outage's first failed check; 0 when neither this
    // run of the program nor the history of checks knows it.
    std::time_t outageStart = 0;
    std::time_t outageEnd = 0; // the Last Check of the check that found it up
};

// A site that is up on a certificate that runs out soon. Raised at every
// such check: how often to tell the user is each step's business.
struct CertificateWarning
{
    EntryId id = 0;
    std::string url; // as it may be shown
    std::string siteName;
    std::string siteKey; // HistoryStore::SiteKey: one site, however its address is written
    std::string emailAddress;
    std::time_t expiry = 0;
    std::time_t checkedAt = 0;
    std::string reason; // "certificate expires in 6 days"
};

// Where a check pass hands a site whose text was not found. The desktop
// program, the command-line checker and the tests each plug in their own.
// RaiseAlerts is called on the pass's thread at every failed check and must
// return at once: any slow work (mail, sound) runs on threads of its own.
class AlertSink
{
public:
    virtual ~AlertSink() = default;
    virtual void RaiseAlerts(const SiteAlert& alert) = 0;
    // A site found up after an outage; a site up on a certificate about to
    // run out. Same thread and the same rule: return at once.
    virtual void SiteRecovered(const SiteRecovery& recovery) { (void)recovery; }
    virtual void CertificateExpiring(const CertificateWarning& warning) { (void)warning; }
    // A pass begins, on the pass's thread: steps that speak of a whole
    // pass's sites at once start afresh.
    virtual void PassStarted() {}
};
