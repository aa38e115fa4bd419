#include "monitor/RouteProbe.h"

#include <bitset>
#include <fstream>
#include <sstream>

namespace {

constexpr unsigned long kRouteUp = 0x0001;
constexpr unsigned long kRouteReject = 0x0200;

bool ReadFile(const char* path, std::string& text)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

bool Usable(const std::string& device, unsigned long flags)
{
    return device != "lo" && (flags & kRouteUp) != 0 && (flags & kRouteReject) == 0;
}

// "Iface Destination Gateway Flags RefCnt Use Metric Mask ...", one
// heading line, numbers in hex; the mask's bits tell the prefix's length.
bool Ipv4Default(const std::string& table)
{
    std::istringstream lines(table);
    std::string line;
    std::getline(lines, line); // the heading
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, destination, gateway, flags, refs, use, metric, mask;
        if (!(fields >> device >> destination >> gateway >> flags >> refs >> use >> metric >> mask))
            continue;
        const unsigned long bits = std::stoul(mask, nullptr, 16);
        if (Usable(device, std::stoul(flags, nullptr, 16)) && std::bitset<32>(bits).count() <= 1)
            return true;
    }
    return false;
}

// "destination prefix-length source source-length next-hop metric refs use
// flags device", no heading, numbers in hex.
bool Ipv6Default(const std::string& table)
{
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string destination, length, source, sourceLength, hop, metric, refs, use, flags,
            device;
        if (!(fields >> destination >> length >> source >> sourceLength >> hop >> metric >> refs >>
              use >> flags >> device))
            continue;
        if (Usable(device, std::stoul(flags, nullptr, 16)) && std::stoul(length, nullptr, 16) <= 1)
            return true;
    }
    return false;
}

} // namespace

bool RouteProbe::HasDefaultRoute(const std::string& ipv4Table, const std::string& ipv6Table)
{
    try {
        return Ipv4Default(ipv4Table) || Ipv6Default(ipv6Table);
    } catch (const std::exception&) {
        return true; // a table not as expected tells nothing: not offline
    }
}

bool RouteProbe::Offline()
{
    std::string ipv4, ipv6;
    const bool haveIpv4 = ReadFile("/proc/net/route", ipv4);
    const bool haveIpv6 = ReadFile("/proc/net/ipv6_route", ipv6);
    // A kernel without IPv6 has no second table; one without either (not
    // Linux, no /proc) cannot be asked.
    if (!haveIpv4 && !haveIpv6)
        return false;
    return !HasDefaultRoute(ipv4, ipv6);
}
