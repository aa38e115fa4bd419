#pragma once

// Tells, without sending anything, whether the computer has a way to the
// network at this moment. A pass asks it once, at its end, when every site
// it reached failed before any connection stood; the desktop program and the
// tests plug in their own. Called on the pass's thread.
class NetworkProbe
{
public:
    virtual ~NetworkProbe() = default;
    // True only when the computer is known to have no network; a probe that
    // cannot tell says false, so that a real outage is never hidden.
    virtual bool Offline() = 0;
};
