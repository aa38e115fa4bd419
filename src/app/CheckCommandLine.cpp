#include "app/CheckCommandLine.h"

#include <cstdlib>
#include <utility>

namespace {

struct Flag
{
    const char* name;
    bool CheckOptions::*member;
    const char* help;
};

// Every flag of the checker. Order is the order of the usage text.
const Flag kFlags[] = {
    {"--save", &CheckOptions::save,
     "save the outcome (status, time, page text) to FILE, as the desktop program does"},
    {"--mail", &CheckOptions::mail,
     "send the alert e-mail for a site found down, with the stored e-mail settings;\n"
     "            with --save, one e-mail per outage, as the desktop program sends it"},
};

// The options that take a value: the value is the next argument.
bool TakeValue(const std::string& option, const std::string& value, CheckOptions& options,
               std::string& error)
{
    if (option == "--history") {
        options.history = value;
        return !value.empty() || (error = "the SITE of --history is empty", false);
    }
    char* end = nullptr;
    const long days = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || days < 1 || days > 36500) {
        error = "--since takes a number of days from 1 to 36500, got '" + value + "'";
        return false;
    }
    options.sinceDays = static_cast<int>(days);
    return true;
}

} // namespace

CheckCommandLine::Result CheckCommandLine::Parse(const std::vector<std::string>& args)
{
    Result result;
    bool fileGiven = false;
    bool optionsEnded = false;
    std::string valueFor; // an option still waiting for its value
    bool sinceGiven = false;
    for (const std::string& arg : args) {
        if (!valueFor.empty()) {
            if (!TakeValue(std::exchange(valueFor, std::string()), arg, result.options,
                           result.error))
                return result;
            continue;
        }
        if (!optionsEnded && arg == "--csv") {
            result.options.csv = true;
            continue;
        }
        if (!optionsEnded && (arg == "--history" || arg == "--since")) {
            valueFor = arg;
            sinceGiven = sinceGiven || arg == "--since";
            continue;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            result.options.help = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            const Flag* flag = nullptr;
            for (const Flag& f : kFlags)
                if (arg == f.name)
                    flag = &f;
            if (!flag) {
                result.error = "unknown option '" + arg + "'";
                return result;
            }
            result.options.*(flag->member) = true;
            continue;
        }
        if (fileGiven) {
            result.error =
                "only one FILE can be checked, got '" + result.options.file + "' and '" + arg + "'";
            return result;
        }
        if (arg.empty()) {
            result.error = "the FILE name is empty";
            return result;
        }
        result.options.file = arg;
        fileGiven = true;
    }
    const CheckOptions& o = result.options;
    if (!valueFor.empty())
        result.error = valueFor + " needs a value";
    else if (o.history.empty() && (sinceGiven || o.csv))
        result.error = "--since and --csv belong to --history";
    else if (!o.history.empty() && (o.save || o.mail || fileGiven))
        result.error = "--history reads the history only: no --save, --mail or FILE with it";
    result.ok = result.error.empty();
    return result;
}

std::string CheckCommandLine::Usage()
{
    std::string usage = "Usage: kestrelle-check";
    for (const Flag& f : kFlags)
        usage += std::string(" [") + f.name + "]";
    usage += " [FILE]\n"
             "       kestrelle-check --history SITE [--since DAYS] [--csv]\n"
             "Checks every site of a Kestrelle site list once and prints one line per site:\n"
             "its status (OK or ERROR), its name and its address, for ERROR also the alert text.\n"
             "\n"
             "  FILE      the site list; default: the desktop program's,\n"
             "            $XDG_DATA_HOME/Kestrelle/kestrelle.dat (~/.local/share/Kestrelle/)\n";
    for (const Flag& f : kFlags) {
        std::string name = f.name;
        name.resize(10, ' ');
        usage += "  " + name + f.help + "\n";
    }
    usage += "  --history SITE\n"
             "            print the uptime and the outages of SITE (its address or its name)\n"
             "            from the history of checks that the desktop program and --save keep\n"
             "  --since DAYS  the span of --history, in days (default 30)\n"
             "  --csv     --history's report as CSV, for a spreadsheet\n"
             "  --help    show this text\n"
             "\n"
             "Exit status: 0 every site OK (or no sites), 2 a site is ERROR (also when the\n"
             "save failed), 3 the list cannot be read or saved, or the command line is wrong.\n";
    return usage;
}
