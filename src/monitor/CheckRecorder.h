#pragma once

#include "monitor/CheckRecord.h"

// Where a check pass hands each check's outcome for keeping. Both calls come
// on the pass's thread: Record once per checked entry, PassFinished once at
// the end of the pass, where a recorder writes what it gathered.
class CheckRecorder
{
public:
    virtual ~CheckRecorder() = default;
    virtual void Record(const CheckRecord& record) = 0;
    virtual void PassFinished() = 0;
};
