// Resident memory over many check passes of a mixed list, each pass on a
// thread of its own as the desktop program starts them: 45 sites whose
// 20 kB page holds the text and 5 that are down (two refused connections,
// two pages without the text, one server error). Prints the resident size
// after chosen passes and the growth per pass over the last three quarters.
//
//   kestrelle_bench_passmemory OK_URL MISSING_URL ERROR_URL REFUSED_URL [PASSES]
//   (bench/passmemory.sh starts the server and passes the addresses)
#include "monitor/AlertSink.h"
#include "monitor/CheckPass.h"
#include "monitor/SiteList.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

struct NoAlerts : AlertSink
{
    void RaiseAlerts(const SiteAlert&) override {}
};

long ResidentKb()
{
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

SiteEntry Site(const std::string& url)
{
    SiteEntry e;
    e.field(SiteEntry::Url) = url;
    e.field(SiteEntry::SearchText) = "Kestrelle bench marker";
    e.field(SiteEntry::Status) = "OK";
    return e;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s OK_URL MISSING_URL ERROR_URL REFUSED_URL [PASSES]\n",
                     argv[0]);
        return 1;
    }
    const int passes = argc > 5 ? std::atoi(argv[5]) : 400;
    SiteList list;
    for (int i = 0; i < 45; ++i)
        list.Append(Site(std::string(argv[1]) + "?site=" + std::to_string(i)));
    list.Append(Site(argv[2]));
    list.Append(Site(argv[2]));
    list.Append(Site(argv[3]));
    list.Append(Site(argv[4]));
    list.Append(Site(argv[4]));

    NoAlerts alerts;
    CheckPass pass(list, nullptr, alerts);
    long first = 0, quarter = 0;
    const int firstQuarter = passes / 4;
    for (int p = 1; p <= passes; ++p) {
        std::thread([&pass] { pass.CheckSites(); }).join();
        const long rss = ResidentKb();
        if (p == 1)
            first = rss;
        if (p == firstQuarter)
            quarter = rss;
        if (p == 1 || p == 10 || p % 50 == 0)
            std::printf("pass %4d: %ld kB\n", p, rss);
    }
    const long last = ResidentKb();
    std::printf(
        "growth: %ld kB from pass 1 to %d, %.2f kB a pass after pass %d\n", last - first, passes,
        passes > firstQuarter ? static_cast<double>(last - quarter) / (passes - firstQuarter) : 0.0,
        firstQuarter);
    return 0;
}
