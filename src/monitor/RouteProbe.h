#pragma once

#include "monitor/NetworkProbe.h"

#include <string>

// The system's own view: the computer is offline when its routing tables
// (the kernel's, as /proc/net shows them) hold no default route, in IPv4 or
// IPv6, through anything but the loopback. A Wi-Fi lost or a cable pulled
// takes the default route with it; a network with no way out (a LAN without
// a gateway) is told apart from none at all only by the sites, so such a
// computer is taken as online. Tables that cannot be read tell nothing.
class RouteProbe : public NetworkProbe
{
public:
    bool Offline() override;

    // Whether either table, in the text form of /proc/net/route and
    // /proc/net/ipv6_route, holds a usable default route. A route counts
    // when it is up, not a reject route, not on "lo", and covers at least
    // half the address space (VPNs split the default into two halves).
    static bool HasDefaultRoute(const std::string& ipv4Table, const std::string& ipv6Table);
};
