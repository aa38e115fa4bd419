#include "app/CheckCommandLine.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

struct Flag
{
    const char* shortName; // nullptr: none
    const char* name;
    bool CheckOptions::*member;
    const char* help;
};

// Every flag of the checker. Order is the order of the usage text.
const Flag kFlags[] = {
    {nullptr, "--save", &CheckOptions::save,
     "save the outcome (status, time, page text) to FILE, as the desktop program does"},
    {nullptr, "--mail", &CheckOptions::mail,
     "send the alert e-mail for a site found down, with the stored e-mail settings;\n"
     "            with --save, one e-mail per outage, as the desktop program sends it"},
    {nullptr, "--csv", &CheckOptions::csv, "--history's report as CSV, for a spreadsheet"},
    {"-V", "--version", &CheckOptions::version, "print the version and exit"},
    {"-h", "--help", &CheckOptions::help, "show this text"},
};

enum class Kind
{
    Text,            // any text but an empty one
    Days,            // a whole number of days, 1 to 36500
    Seconds,         // a number of seconds above 0
    CertificateDays, // WARN or WARN,CRIT: whole days, 1 to 36500, CRIT not above WARN
    Count,           // a whole number from `low` to `high`
};

struct Valued
{
    const char* shortName;
    const char* name;
    const char* value; // its name in the usage text
    Kind kind;
    std::string CheckOptions::*text;
    double CheckOptions::*seconds;
    const char* help;
    int CheckOptions::*count = nullptr;
    int low = 0, high = 0;
};

const Valued kValued[] = {
    {"-u", "--url", "URL", Kind::Text, &CheckOptions::url, nullptr,
     "check this one site instead of a list; nothing is read or saved"},
    {"-s", "--string", "TEXT", Kind::Text, &CheckOptions::text, nullptr,
     "the text the page of --url must hold"},
    {"-t", "--timeout", "SECONDS", Kind::Seconds, nullptr, &CheckOptions::timeout,
     "time limit of the whole run: the sites not checked by then are reported\n"
     "            as not checked (default: no limit)"},
    {"-w", "--warning", "SECONDS", Kind::Seconds, nullptr, &CheckOptions::warning,
     "a site whose page took longer is WARNING (exit 1)"},
    {"-c", "--critical", "SECONDS", Kind::Seconds, nullptr, &CheckOptions::critical,
     "a site whose page took longer is CRITICAL (exit 2)"},
    {"-C", "--certificate", "WARN[,CRIT]", Kind::CertificateDays, nullptr, nullptr,
     "a site whose https certificate expires within WARN days is WARNING\n"
     "            (exit 1), within CRIT days CRITICAL (exit 2); its page is checked too"},
    {nullptr, "--parallel", "N", Kind::Count, nullptr, nullptr,
     "check up to N sites at once, at most 2 of them on one host; 1 checks one\n"
     "            after another in the list's order (default 16)",
     &CheckOptions::parallel, 1, CheckPass::kMostParallelChecks},
    {nullptr, "--confirm", "SECONDS", Kind::Count, nullptr, nullptr,
     "check a failing site again SECONDS later before it counts as down\n"
     "            (default 0: the first failure counts)",
     &CheckOptions::confirm, 0, CheckPass::kMostConfirmSeconds},
    {nullptr, "--metrics", "FILE", Kind::Text, &CheckOptions::metrics, nullptr,
     "after the pass, replace FILE with the outcome in the Prometheus text\n"
     "            format (for node_exporter's textfile collector)"},
    {nullptr, "--history", "SITE", Kind::Text, &CheckOptions::history, nullptr,
     "print the uptime and the outages of SITE (its address or its name)\n"
     "            from the history of checks that the desktop program and --save keep"},
    {nullptr, "--since", "DAYS", Kind::Days, nullptr, nullptr,
     "the span of --history, in days (default 30)"},
};

bool Named(const char* shortName, const char* name, const std::string& arg)
{
    return arg == name || (shortName && arg == shortName);
}

bool TakeValue(const Valued& option, const std::string& value, CheckOptions& options,
               std::string& error)
{
    char* end = nullptr;
    switch (option.kind) {
    case Kind::Text:
        if (value.empty()) {
            error = std::string("the ") + option.value + " of " + option.name + " is empty";
            return false;
        }
        options.*option.text = value;
        return true;
    case Kind::Days: {
        const long days = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || days < 1 || days > 36500) {
            error = "--since takes a number of days from 1 to 36500, got '" + value + "'";
            return false;
        }
        options.sinceDays = static_cast<int>(days);
        return true;
    }
    case Kind::CertificateDays: {
        const auto days = [&](const std::string& text, int& out) {
            char* stop = nullptr;
            const long n = std::strtol(text.c_str(), &stop, 10);
            if (text.empty() || *stop != '\0' || n < 1 || n > 36500)
                return false;
            out = static_cast<int>(n);
            return true;
        };
        const size_t comma = value.find(',');
        int warn = 0, crit = 0;
        if (!days(value.substr(0, comma), warn) ||
            (comma != std::string::npos && !days(value.substr(comma + 1), crit))) {
            error =
                "--certificate takes WARN[,CRIT], whole days from 1 to 36500, got '" + value + "'";
            return false;
        }
        if (crit > warn) {
            error = "--certificate's CRIT must not be above its WARN";
            return false;
        }
        options.certificateWarning = warn;
        options.certificateCritical = crit;
        return true;
    }
    case Kind::Count: {
        const long count = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || count < option.low || count > option.high) {
            error = std::string(option.name) + " takes a whole number from " +
                    std::to_string(option.low) + " to " + std::to_string(option.high) + ", got '" +
                    value + "'";
            return false;
        }
        options.*option.count = static_cast<int>(count);
        return true;
    }
    case Kind::Seconds: {
        const double seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
            seconds > 1e6) {
            error = std::string(option.name) + " takes a number of seconds above 0, got '" + value +
                    "'";
            return false;
        }
        options.*option.seconds = seconds;
        return true;
    }
    }
    return false;
}

std::string Check(const CheckOptions& o, bool fileGiven, bool sinceGiven)
{
    const bool pass = !o.url.empty() || !o.text.empty() || o.timeout > 0 || o.warning > 0 ||
                      o.critical > 0 || !o.metrics.empty() || o.certificateWarning > 0 ||
                      o.parallel != CheckPass::kDefaultParallelChecks || o.confirm != 0;
    if (o.history.empty() && (sinceGiven || o.csv))
        return "--since and --csv belong to --history";
    if (!o.history.empty() && (o.save || o.mail || fileGiven || pass))
        return "--history reads the history only: no other option or FILE with it";
    if (!o.url.empty() && (o.save || fileGiven))
        return "--url checks one site from the command line: no FILE or --save with it";
    if (o.url.empty() != o.text.empty())
        return "--url and --string go together";
    if (o.warning > 0 && o.critical > 0 && o.warning > o.critical)
        return "--warning must not be above --critical";
    return std::string();
}

} // namespace

CheckCommandLine::Result CheckCommandLine::Parse(const std::vector<std::string>& args)
{
    Result result;
    bool fileGiven = false;
    bool optionsEnded = false;
    const Valued* valueFor = nullptr; // an option still waiting for its value
    bool sinceGiven = false;
    for (const std::string& arg : args) {
        if (valueFor) {
            if (!TakeValue(*std::exchange(valueFor, nullptr), arg, result.options, result.error))
                return result;
            continue;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
            const std::string name = arg.substr(0, equals);
            const Flag* flag = nullptr;
            for (const Flag& f : kFlags)
                if (Named(f.shortName, f.name, name))
                    flag = &f;
            const Valued* valued = nullptr;
            for (const Valued& v : kValued)
                if (Named(v.shortName, v.name, name))
                    valued = &v;
            if (flag && equals == std::string::npos) {
                result.options.*(flag->member) = true;
                continue;
            }
            if (!valued) {
                result.error = flag ? name + " takes no value" : "unknown option '" + arg + "'";
                return result;
            }
            sinceGiven = sinceGiven || valued->kind == Kind::Days;
            if (equals == std::string::npos)
                valueFor = valued;
            else if (!TakeValue(*valued, arg.substr(equals + 1), result.options, result.error))
                return result;
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
    if (valueFor)
        result.error = std::string(valueFor->name) + " needs a value";
    else
        result.error = Check(result.options, fileGiven, sinceGiven);
    result.ok = result.error.empty();
    return result;
}

std::string CheckCommandLine::Usage()
{
    std::string usage =
        "Usage: kestrelle-check [--save] [--mail] [FILE]\n"
        "       kestrelle-check -u URL -s TEXT [--mail]\n"
        "       kestrelle-check --history SITE [--since DAYS] [--csv]\n"
        "  and, with the first two: [-t SECONDS] [-w SECONDS] [-c SECONDS]\n"
        "                           [-C WARN[,CRIT]] [--parallel N] [--confirm SECONDS]\n"
        "                           [--metrics FILE]\n"
        "Checks every site of a Kestrelle site list once, as a monitoring plugin: the\n"
        "first line is the status line with performance data after \"|\", then one line\n"
        "per site (its status, OK or ERROR, its name and its address, for ERROR also\n"
        "the alert text), then the counts.\n"
        "\n"
        "  FILE      the site list; default: the desktop program's,\n"
        "            $XDG_DATA_HOME/Kestrelle/kestrelle.dat (~/.local/share/Kestrelle/)\n";
    const auto add = [&usage](const char* shortName, const char* name, const char* value,
                              const char* help) {
        std::string names = shortName ? std::string(shortName) + ", " + name : std::string(name);
        if (value)
            names += std::string(" ") + value;
        names +=
            names.size() <= 8 ? std::string(10 - names.size(), ' ') : "\n" + std::string(12, ' ');
        usage += "  " + names + help + "\n";
    };
    for (const Flag& f : kFlags)
        if (f.member != &CheckOptions::csv && f.member != &CheckOptions::help &&
            f.member != &CheckOptions::version)
            add(f.shortName, f.name, nullptr, f.help);
    for (const Valued& v : kValued)
        add(v.shortName, v.name, v.value, v.help);
    for (const Flag& f : kFlags)
        if (f.member == &CheckOptions::csv || f.member == &CheckOptions::help ||
            f.member == &CheckOptions::version)
            add(f.shortName, f.name, nullptr, f.help);
    usage += "\n"
             "Exit status: 0 OK, every site up (or no sites); 1 WARNING, a site slower than\n"
             "--warning or its certificate expiring within WARN days; 2 CRITICAL, a site is\n"
             "ERROR, slower than --critical or its certificate expiring within CRIT days;\n"
             "3 UNKNOWN, no site down but the time ran out before every site was checked,\n"
             "the network was unreachable (nothing is saved then), the save failed, or the\n"
             "list cannot be read, or the command line is wrong.\n";
    return usage;
}
