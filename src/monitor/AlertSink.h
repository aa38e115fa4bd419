#pragma once

#include <string>

// Where a check pass hands a site whose text was not found. The desktop
// program, the command-line checker and the tests each plug in their own.
// RaiseAlerts is called at every failed check and must return at once: any
// slow work (mail, sound) runs on threads of its own.
class AlertSink
{
public:
    virtual ~AlertSink() = default;
    virtual void RaiseAlerts(int row, const std::string& balloonText,
                             const std::string& balloonTitle, bool firstFailure) = 0;
};
