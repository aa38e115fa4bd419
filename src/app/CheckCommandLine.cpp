#include "app/CheckCommandLine.h"

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

} // namespace

CheckCommandLine::Result CheckCommandLine::Parse(const std::vector<std::string>& args)
{
    Result result;
    bool fileGiven = false;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
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
    result.ok = true;
    return result;
}

std::string CheckCommandLine::Usage()
{
    std::string usage = "Usage: kestrelle-check";
    for (const Flag& f : kFlags)
        usage += std::string(" [") + f.name + "]";
    usage += " [FILE]\n"
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
    usage += "  --help    show this text\n"
             "\n"
             "Exit status: 0 every site OK (or no sites), 2 a site is ERROR (also when the\n"
             "save failed), 3 the list cannot be read or saved, or the command line is wrong.\n";
    return usage;
}
