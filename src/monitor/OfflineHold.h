#pragma once

#include "net/FetchOutcome.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class NetworkProbe;

// Keeps a pass from calling every site down when it is the computer that
// has no network. A site that could not be reached (its name not found, no
// connection) proves nothing while no other site has been reached either:
// its outcome is held, the row still "CHECKING". The first site reached
// releases every held outcome, and later ones are written at once. At the
// pass's end, when nothing was reached and the probe confirms that there is
// no network, the held rows get their earlier Status back and nobody is
// told; otherwise they are released then.
//
// Sites on this very computer (localhost, 127.0.0.0/8, ::1) need no network:
// their outcomes are written at once and say nothing about the network.
//
// Outcomes may come in any order and from several threads at once; the
// steps handed in run outside the lock, each exactly once.
class OfflineHold
{
public:
    enum class Kind
    {
        Unreached, // failed before any connection to a site elsewhere
        Reached,   // a site elsewhere was reached: there is a network
        Neutral    // says nothing of the network: written at once
    };
    static Kind KindOf(const FetchOutcome& outcome, const std::string& url);

    // A pass begins: nothing held, nothing reached.
    void Begin();

    // One finished check: `write` writes its outcome and raises its alerts;
    // `restore` puts the row's earlier Status back. One of them runs, now or
    // at End.
    void Settle(Kind kind, std::function<void()> write, std::function<void()> restore);

    // The pass's end, once every outcome has been settled. True when the
    // pass was offline: the held rows were restored.
    bool End(NetworkProbe& probe);

    // The pass ended early by an error: the held rows get their Status back
    // (their outcomes are not trusted any more than the pass).
    void Abandon();

private:
    struct Held
    {
        std::function<void()> write;
        std::function<void()> restore;
    };
    std::vector<Held> TakeHeld();

    std::mutex m_mutex;
    bool m_reached = false;
    bool m_unreached = false;
    std::vector<Held> m_held;
};
