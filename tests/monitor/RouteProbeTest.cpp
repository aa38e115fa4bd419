#include "monitor/RouteProbe.h"

#include <gtest/gtest.h>

namespace {

const std::string kIpv4Head =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

std::string Ipv4(const std::string& device, const std::string& flags, const std::string& mask)
{
    return device + "\t00000000\t010200C0\t" + flags + "\t0\t0\t0\t" + mask + "\t0\t0\t0\n";
}

std::string Ipv6(const std::string& length, const std::string& flags, const std::string& device)
{
    return "00000000000000000000000000000000 " + length +
           " 00000000000000000000000000000000 00 fd000000000000000000000000000001 00000400 "
           "00000002 00000000 " +
           flags + " " + device + "\n";
}

} // namespace

TEST(RouteProbe, OnlyAnUsableDefaultRouteCountsAsANetwork)
{
    // The kernel's own reject route for IPv6 sits on lo in every namespace.
    const std::string reject = Ipv6("00", "00200200", "lo");
    const struct
    {
        const char* what;
        std::string ipv4, ipv6;
        bool network;
    } cases[] = {
        {"no tables", "", "", false},
        {"empty tables", kIpv4Head, "", false},
        {"IPv4 default through eth0", kIpv4Head + Ipv4("eth0", "0003", "00000000"), reject, true},
        {"IPv4 default that is down", kIpv4Head + Ipv4("eth0", "0002", "00000000"), reject, false},
        {"IPv4 subnet only", kIpv4Head + Ipv4("eth0", "0001", "00FFFFFF"), reject, false},
        {"VPN's half of the space", kIpv4Head + Ipv4("tun0", "0001", "00000080"), "", true},
        {"IPv4 default on lo", kIpv4Head + Ipv4("lo", "0001", "00000000"), "", false},
        {"IPv4 reject default", kIpv4Head + Ipv4("eth0", "0201", "00000000"), "", false},
        {"IPv6 default through wlan0", kIpv4Head, reject + Ipv6("00", "00450003", "wlan0"), true},
        {"IPv6 reject route only", kIpv4Head, reject, false},
        {"IPv6 /64 only", kIpv4Head, Ipv6("40", "00000001", "eth0"), false},
        {"garbled flags", kIpv4Head + "eth0\t00000000\t0\tzz\t0\t0\t0\t00000000\n", "", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RouteProbe::HasDefaultRoute(c.ipv4, c.ipv6), c.network) << c.what;
}
