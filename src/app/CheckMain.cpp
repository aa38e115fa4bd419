// kestrelle-check: one check pass over a site list, from a terminal, a cron
// job or a monitoring system's plugin slot. Standard output carries only the
// report, written once the pass has ended; every diagnostic, and on a
// terminal the progress, goes to standard error.

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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <langinfo.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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

// Stops the pass once the run's time is up. The stop is repeated until the
// pass ends, so that a fetch that was only about to start when it first came
// is cancelled too.
class RunLimit
{
public:
    RunLimit(CheckPass& pass, double seconds)
    {
        if (seconds <= 0)
            return;
        m_thread = std::thread([this, &pass, seconds] {
            std::unique_lock lock(m_mutex);
            if (m_cv.wait_for(lock, std::chrono::duration<double>(seconds),
                              [this] { return m_done; }))
                return;
            m_fired = true;
            do
                pass.Stop();
            while (!m_cv.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_done; }));
        });
    }
    ~RunLimit() { Finish(); }

    // Waits for the limit's thread; true when the time ran out.
    bool Fired()
    {
        Finish();
        return m_fired;
    }

private:
    void Finish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    bool m_fired = false;
    std::thread m_thread;
};

int Run(const std::vector<std::string>& args)
{
    const auto started = std::chrono::steady_clock::now();
    const CheckCommandLine::Result parsed = CheckCommandLine::Parse(args);
    if (!parsed.ok)
        return Fail(parsed.error + " (try kestrelle-check --help)");
    const CheckOptions& options = parsed.options;
    if (options.help) {
        std::fputs(CheckCommandLine::Usage().c_str(), stdout);
        return CheckReport::kExitOk;
    }
    if (options.version) {
        std::fputs("kestrelle-check " KESTRELLE_VERSION "\n", stdout);
        return CheckReport::kExitOk;
    }
    if (!options.history.empty())
        return HistoryReport::Run(HistoryStore::DefaultPath(), options.history, options.sinceDays,
                                  options.csv, stdout, stderr);

    // Like the desktop program, a missing list of the user's is an empty
    // list; a file named on the command line must be there. A site given
    // with --url is a list of one that lives in memory only.
    SiteList list;
    const bool named = !options.file.empty();
    const std::string path = named ? options.file : DataFile::DefaultPath();
    if (!options.url.empty()) {
        SiteEntry entry;
        entry.field(SiteEntry::Url) = options.url;
        entry.field(SiteEntry::SearchText) = options.text;
        for (const SiteEntry::Column c :
             {SiteEntry::Status, SiteEntry::LastCheck, SiteEntry::LastResponse})
            entry.field(c).assign(1, '-');
        list.Append(entry);
    } else {
        struct stat st;
        if (named && ::stat(path.c_str(), &st) != 0 && errno == ENOENT)
            return Fail("cannot read " + path + ": no such file");
        // The loader and the writer say on standard error what went wrong,
        // in one line (a FIFO or a device given as FILE included); the
        // checker adds nothing to it, only its exit status.
        if (!DataFile::LoadSites(list, path))
            return CheckReport::kExitUnknown;
    }

    AlertChain alerts;
    MailAlert mail;
    // Without --save the file keeps its "ERROR", and every run would find
    // the site back up again.
    mail.SetRecoveryMail(options.save);
    if (options.mail)
        alerts.Add(mail);
    CheckReport report(stdout);
    report.SetLimits(options.warning, options.critical, options.timeout);
    report.SetCertificateLimits(options.certificateWarning, options.certificateCritical);
    if (::isatty(STDERR_FILENO))
        report.ShowProgress(stderr, list.RowCount());
    std::unique_ptr<DataFileSaver> saver;
    std::unique_ptr<HistoryRecorder> history; // a saved pass is kept in the history too
    if (options.save) {
        saver = std::make_unique<DataFileSaver>(path, DataFileSaver::Mode::Outcomes);
        history = std::make_unique<HistoryRecorder>();
    }
    CheckPass pass(list, saver.get(), alerts);
    pass.SetObserver(&report);
    pass.SetRecorder(history.get());
    pass.SetCertificateWarnDays(options.certificateWarning);
    pass.SetParallelChecks(options.parallel);
    pass.SetConfirmSeconds(options.confirm);
    bool outOfTime = false;
    {
        RunLimit limit(pass, options.timeout);
        pass.CheckSites();
        outOfTime = limit.Fired();
    }
    report.Order([&list](EntryId id) { return list.RowOf(id); });
    // What a run out of time did not reach is named as not checked, and so
    // is what an offline pass could not reach.
    if (outOfTime || report.Offline())
        for (int row = 0; row < list.RowCount(); ++row)
            if (!report.Reported(list.IdAt(row)))
                report.NotChecked(list.Text(row, SiteEntry::Url));
    report.Print();

    // An offline pass has no figures of the sites: the file keeps the last.
    if (!options.metrics.empty() && !report.Offline()) {
        std::string error;
        if (!report.Metrics().Write(options.metrics, error))
            std::fprintf(stderr, "kestrelle-check: cannot write the metrics to %s: %s\n",
                         options.metrics.c_str(), error.c_str());
    }

    // An alert e-mail cut off by the end of the process would be lost without
    // need: give the mail threads their time, within a bound, so that a
    // server that answers slowly cannot hold a cron job for ever. A run with
    // a time limit keeps to what is left of it.
    std::chrono::milliseconds mailBound = MailAlertThread::kExitWaitBound;
    if (options.timeout > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(options.timeout) -
            (std::chrono::steady_clock::now() - started));
        mailBound = std::clamp(left, std::chrono::milliseconds(0), mailBound);
    }
    if (!MailAlertThread::WaitForRunning(mailBound))
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
