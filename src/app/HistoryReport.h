#pragma once

#include "monitor/HistoryStore.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// kestrelle-check --history SITE: the uptime of one site over the last 24
// hours, 7 days, 30 days and the asked span, and its outages within that
// span, as text for a person or as CSV for a spreadsheet (one table; the
// first column says whether a row is an uptime or an outage; times in
// local "YYYY-MM-DD HH:MM:SS").
class HistoryReport
{
public:
    struct Figures
    {
        std::string siteKey;
        int sinceDays = 30;
        std::time_t now = 0;
        // Last 24 hours, 7 days, 30 days, then the span when it is none of those.
        std::vector<std::pair<int, HistoryStore::Uptime>> uptimes;
        std::vector<HistoryStore::Outage> outages;
    };

    // Finds SITE (an address, or the short name of exactly one recorded
    // site) and reads its figures. False with a one-line reason otherwise.
    static bool Read(HistoryStore& store, const std::string& site, int sinceDays, std::time_t now,
                     Figures& out, std::string& error);

    static std::string Text(const Figures& figures);
    static std::string Csv(const Figures& figures);

    // The whole command: the report on `out`, a failure as one line on
    // `err`. Returns the exit status (0, or 3 on a failure).
    static int Run(const std::string& storePath, const std::string& site, int sinceDays, bool csv,
                   std::FILE* out, std::FILE* err);
};
