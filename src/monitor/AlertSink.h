#pragma once

#include <cstdint>
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

// Where a check pass hands a site whose text was not found. The desktop
// program, the command-line checker and the tests each plug in their own.
// RaiseAlerts is called on the pass's thread at every failed check and must
// return at once: any slow work (mail, sound) runs on threads of its own.
class AlertSink
{
public:
    virtual ~AlertSink() = default;
    virtual void RaiseAlerts(const SiteAlert& alert) = 0;
    // A pass begins, on the pass's thread: steps that speak of a whole
    // pass's sites at once start afresh.
    virtual void PassStarted() {}
};
