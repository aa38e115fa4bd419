#pragma once

#include "monitor/CheckRecord.h"

#include <ctime>
#include <string>

// Where a check pass hands each check's outcome for keeping. Both calls come
// on the pass's thread: Record once per checked entry, PassFinished once at
// the end of the pass, where a recorder writes what it gathered.
class CheckRecorder
{
public:
    virtual ~CheckRecorder() = default;
    virtual void Record(const CheckRecord& record) = 0;
    virtual void PassFinished() = 0;
    // When the outage of the site that has not ended yet began, as the
    // records know it; 0 when they do not. Asked on the pass's thread for a
    // site found up again whose outage began before this run of the program.
    virtual std::time_t OutageStart(const std::string& siteKey)
    {
        (void)siteKey;
        return 0;
    }
    // Why the site's latest check ended as it did, as the records know it;
    // empty when they do not. Asked on the pass's thread for an entry that
    // is "ERROR" and has not been checked in this run of the program.
    virtual std::string LastReason(const std::string& siteKey)
    {
        (void)siteKey;
        return {};
    }
};
