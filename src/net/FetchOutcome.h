#pragma once

#include <ctime>
#include <string>

// How one page fetch ended, for a caller that judges the page: whether the
// transfer ended normally, the final answer's status, and whether the search
// text went by in the body as it streamed (also past what the page keeps).
struct FetchOutcome
{
    // The failure of a fetch that ended on a 401 with no credentials the
    // server took: the site is not down, somebody has to log in.
    static constexpr const char* kNeedsLogIn = "needs a log-in";

    // Empty when a final answer came whole with a status of 200 to 299;
    // otherwise why not, one short phrase: "connection refused",
    // "HTTP 503 Service Unavailable", "stalled for 30 s", "needs a log-in", ...
    std::string failure;
    long status = 0;         // of the final answer; 0 when none came
    std::string contentType; // of the final answer, as the server sent it
    bool textSeen = false;   // the search text occurred in the body (CRs left out)

    // How far the fetch got towards the server, which tells a site that is
    // down from a computer that has no network: Unreached when its name was
    // not found or no connection to it (or to the proxy) could be made in
    // time; Reached once a connection stood, whatever came after; Untried
    // when nothing went out (an address not usable, a cancel).
    enum class Reach
    {
        Untried,
        Unreached,
        Reached
    };
    Reach reach = Reach::Untried;
    // When the final answer came over https: when its server's certificate
    // stops being valid (Unix time). 0 over http, or when it is not known.
    std::time_t certificateExpiry = 0;
};
