#pragma once

#include <string>
#include <vector>

// The checker's command line: kestrelle-check [--save] [--mail] [FILE]
// or, for the history of one site: kestrelle-check --history SITE [--since DAYS] [--csv]
//
// Flags are rows of one table (CheckCommandLine.cpp): a new flag is one more
// row and one more member here, and the parser and the usage text pick it up.
struct CheckOptions
{
    bool save = false; // write the pass's outcome back to the file
    bool mail = false; // alert e-mail for each site found down, as the desktop program sends it
    bool help = false;
    bool csv = false;    // the history report as CSV
    std::string history; // SITE: print its outages and uptime instead of checking
    int sinceDays = 30;  // the history report's span
    std::string file;    // empty: the user's own list (AppPaths::DataFile)
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
