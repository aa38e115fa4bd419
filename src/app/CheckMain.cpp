// kestrelle-check: one check pass over a site list, from a terminal, a cron
// job or a monitoring system's plugin slot. Standard output carries only the
// per-site lines and the summary; every diagnostic goes to standard error.

#include "app/CheckCommandLine.h"
#include "app/CheckReport.h"
#include "app/HistoryReport.h"
#include "monitor/AlertChain.h"
#include "monitor/CheckPass.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryRecorder.h"
#include "monitor/MailAlert.h"
#include "monitor/MailAlertThread.h"
#include "monitor/SiteList.h"
#include "platform/BrokenPipe.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <langinfo.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// A terminal has no balloon: the ERROR line that the report prints carries
// the balloon's text. The one alert step the checker has is the e-mail, and
// only when asked for with --mail.

// libcurl writes a host name such as "bücher.example" in its ASCII form
// through the character set of the C library's locale, which is plain ASCII
// until the program sets one. The desktop program's Qt takes the user's and
// falls back to UTF-8 where that one is not UTF-8; the checker does the same,
// so that both judge a site alike.
void UseUtf8Characters()
{
    std::setlocale(LC_CTYPE, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

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
    if (!options.history.empty())
        return HistoryReport::Run(HistoryStore::DefaultPath(), options.history, options.sinceDays,
                                  options.csv, stdout, stderr);

    // Like the desktop program, a missing list of the user's is an empty
    // list; a file named on the command line must be there.
    const bool named = !options.file.empty();
    const std::string path = named ? options.file : DataFile::DefaultPath();
    struct stat st;
    if (named && ::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return Fail("cannot read " + path + ": no such file");

    // The loader and the writer say on standard error what went wrong, in
    // one line (a FIFO or a device given as FILE included); the checker adds
    // nothing to it, only its exit status.
    SiteList list;
    if (!DataFile::LoadSites(list, path))
        return CheckReport::kExitUnknown;

    AlertChain alerts;
    MailAlert mail;
    if (options.mail)
        alerts.Add(mail);
    CheckReport report(stdout);
    std::unique_ptr<DataFileSaver> saver;
    std::unique_ptr<HistoryRecorder> history; // a saved pass is kept in the history too
    if (options.save) {
        saver = std::make_unique<DataFileSaver>(path, DataFileSaver::Mode::Outcomes);
        history = std::make_unique<HistoryRecorder>();
    }
    CheckPass pass(list, saver.get(), alerts);
    pass.SetObserver(&report);
    pass.SetRecorder(history.get());
    pass.CheckSites();

    report.PrintSummary();

    // An alert e-mail cut off by the end of the process would be lost without
    // need: give the mail threads their time, within a bound, so that a
    // server that answers slowly cannot hold a cron job for ever.
    if (!MailAlertThread::WaitForRunning(MailAlertThread::kExitWaitBound))
        std::fprintf(stderr, "kestrelle-check: gave up waiting for %d alert e-mail(s)\n",
                     MailAlertThread::RunningCount());
    return report.ExitStatus();
}

} // namespace

int main(int argc, char** argv)
{
    BrokenPipe::IgnoreForProcess();
    UseUtf8Characters();
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        return Fail(e.what());
    } catch (...) {
        return Fail("stopped by an unexpected error");
    }
}
