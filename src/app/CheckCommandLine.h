#pragma once

#include "monitor/CheckPass.h"

#include <string>
#include <vector>

// The checker's command line, in the monitoring plugins' manner:
//   kestrelle-check [--save] [--mail] [-t SECONDS] [-w SECONDS] [-c SECONDS]
//                   [-C WARN[,CRIT]] [--parallel N] [--confirm SECONDS]
//                   [--metrics FILE] [FILE]
//   kestrelle-check -u URL -s TEXT [--mail] [-t ...] [-w ...] [-c ...] [--metrics FILE]
//   kestrelle-check --history SITE [--since DAYS] [--csv]
//
// Options are rows of two tables (CheckCommandLine.cpp): a new one is one
// more row and one more member here, and the parser and the usage text pick
// it up. A value follows its option as the next argument or, for a long
// name, after "=".
struct CheckOptions
{
    bool save = false; // write the pass's outcome back to the file
    bool mail = false; // alert e-mail for each site found down, as the desktop program sends it
    bool help = false;
    bool version = false;
    bool csv = false;    // the history report as CSV
    std::string history; // SITE: print its outages and uptime instead of checking
    int sinceDays = 30;  // the history report's span
    std::string file;    // empty: the user's own list (AppPaths::DataFile)
    std::string url;     // one site from the command line instead of a list
    std::string text;    // its search text
    double timeout = 0;  // seconds for the whole run; 0: no limit
    double warning = 0;  // response time above which a site is WARNING; 0: none
    double critical = 0; // ... CRITICAL; 0: none
    std::string metrics; // the Prometheus text file to write after the pass
    // A site whose certificate runs out within this many days is WARNING
    // (exit 1), within the second CRITICAL (exit 2); 0: not asked.
    int certificateWarning = 0;
    int certificateCritical = 0;
    int parallel = CheckPass::kDefaultParallelChecks; // sites checked at once
    int confirm = 0; // seconds before a failing site is checked again; 0: never
};

class CheckCommandLine
{
public:
    struct Result
    {
        bool ok = false;
        CheckOptions options;
        std::string error; // one line, without the program's name, when !ok
    };

    // `args` are the arguments after the program's name. "--" ends the
    // options, so a file whose name starts with "-" can be given after it.
    static Result Parse(const std::vector<std::string>& args);

    // The --help text, several lines ending in a line feed.
    static std::string Usage();
};
