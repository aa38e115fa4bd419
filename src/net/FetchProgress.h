#pragma once

#include <string>

// Where a download reports how far it got. Called on the transfer's worker
// thread; a window behind it must hand the text to its own thread.
class FetchProgress
{
public:
    virtual ~FetchProgress() = default;
    virtual void SetProgressText(const std::string& text) = 0;
};
