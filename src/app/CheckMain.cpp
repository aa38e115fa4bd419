// kestrelle-check: one check pass over a site list, from a terminal, a cron
// job or a monitoring system's plugin slot. Standard output carries only the
// per-site lines and the summary; every diagnostic goes to standard error.

#include "app/CheckCommandLine.h"
#include "app/CheckReport.h"
#include "monitor/AlertSink.h"
#include "monitor/CheckPass.h"
#include "monitor/DataFile.h"
#include "monitor/SiteList.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

// A terminal has no balloon: the ERROR line that the report prints carries
// the balloon's text, so a failed check needs nothing more here.
class ConsoleAlerts : public AlertSink
{
public:
    void RaiseAlerts(int, const std::string&, const std::string&, bool) override {}
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "kestrelle-check: %s\n", message.c_str());
    return CheckReport::kExitUnknown;
}

int Run(const std::vector<std::string>& args)
{
    const CheckCommandLine::Result parsed = CheckCommandLine::Parse(args);
    if (!parsed.ok)
        return Fail(parsed.error + " (try kestrelle-check --help)");
    const CheckOptions& options = parsed.options;
    if (options.help) {
        std::fputs(CheckCommandLine::Usage().c_str(), stdout);
        return CheckReport::kExitOk;
    }

    // Like the desktop program, a missing list beside the executable is an
    // empty list; a file the user named must be there.
    const bool named = !options.file.empty();
    const std::string path = named ? options.file : DataFile::DefaultPath();
    std::error_code ec;
    const bool present = std::filesystem::exists(path, ec);
    if (ec)
        return Fail("cannot read " + path + ": " + ec.message());
    if (named && !present)
        return Fail("cannot read " + path + ": no such file");

    // The loader and the writer say on standard error what went wrong, in
    // one line; the checker adds nothing to it, only its exit status.
    SiteList list;
    if (present && !DataFile::LoadSites(list, path))
        return CheckReport::kExitUnknown;

    ConsoleAlerts alerts;
    CheckReport report(stdout);
    CheckPass pass(list, options.save ? path : std::string(), alerts);
    pass.SetObserver(&report);
    pass.CheckSites();

    // Work that the alerts started on threads of their own must be finished
    // before the process ends; this is where the checker waits for it.

    report.PrintSummary();
    return report.ExitStatus();
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        return Fail(e.what());
    } catch (...) {
        return Fail("stopped by an unexpected error");
    }
}
