#pragma once

#include <ctime>
#include <string>

// One check's outcome as the history keeps it.
struct CheckRecord
{
    std::time_t at = 0;  // when the check ended (seconds since the epoch, UTC)
    std::string siteKey; // HistoryStore::SiteKey of the address that was fetched
    bool ok = false;     // the text was found
    std::string reason;  // a short phrase on why the site was judged down; may be empty
    int httpStatus = 0;  // the answer's status code; 0 when none came
    int responseMs = 0;  // how long the fetch took
};
