#pragma once

#include "monitor/CheckPass.h"
#include "monitor/PassMetrics.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// What the checker prints on standard output once the pass has ended, in the
// monitoring plugins' form: first the status line, which Nagios and its kin
// show and alert on, with the performance data after "|"; then, as the long
// output, one line per site; then the counts.
//
//   KESTRELLE CRITICAL - 1 of 2 sites down: shop.test (HTTP 503) | 'sites_up'=1;;;0;2 ...
//   OK<TAB>blog.test<TAB>http://blog.test/
//   ERROR<TAB>shop.test<TAB>http://www.shop.test/<TAB>Kestrelle was unable to find ...
//   Sites: 2, OK: 1, ERROR: 1
//
// The site lines are made to be read by a person and cut by a script alike:
// fields are separated by tabs, and control characters inside a field are
// shown as blanks so that a field can never break a line or a column.
class CheckReport : public CheckPass::Observer
{
public:
    // Exit statuses, as monitoring plugins read them.
    static constexpr int kExitOk = 0;
    static constexpr int kExitWarning = 1;
    static constexpr int kExitError = 2;
    static constexpr int kExitUnknown = 3;

    static constexpr const char* kNotChecked = "NOT CHECKED";

    explicit CheckReport(std::FILE* out) : m_out(out) {}

    // Response times above these (seconds; 0 for none) make a site that is
    // up WARNING or CRITICAL. `timeout` is the run's limit, for the text.
    void SetLimits(double warning, double critical, double timeout);
    // A site that is up on a certificate that runs out within these many
    // days is WARNING or CRITICAL (0 for none).
    void SetCertificateLimits(int warningDays, int criticalDays);
    // A counter of the sites checked so far, on `err`, while the pass runs.
    void ShowProgress(std::FILE* err, int sites);

    void PassStarted() override;
    void RowChecked(const CheckPass::RowResult& result) override;
    void PassOffline() override;
    void PassEnded(bool saved) override;
    // A site of the list that the pass did not reach.
    void NotChecked(const std::string& url);

    // The status line, the site lines and the counts.
    void Print();

    // A site found down outranks a failed save or a run out of time: all
    // are failures, and the down site is the news a monitoring system must
    // not miss.
    int ExitStatus() const;

    // Whether the entry's outcome has come.
    bool Reported(EntryId id) const;
    // Puts the sites' lines in the order of `rank` (their rows in the list),
    // whatever the order their checks ended in.
    void Order(const std::function<int(EntryId)>& rank);
    bool PassCompleted() const { return m_passEnded; }
    // The pass found the computer offline: the sites it could not reach are
    // not checked, and the status line says "network unreachable".
    bool Offline() const { return m_offline; }
    bool Saved() const { return m_saved; }
    const PassMetrics& Metrics() const { return m_metrics; }

    std::string StatusLine() const;
    static std::string RowLine(const CheckPass::RowResult& result);
    static std::string SummaryLine(int sites, int ok, int error, int notChecked = 0);

private:
    enum class Speed
    {
        Fine,
        Warning,
        Critical
    };
    Speed SpeedOf(const CheckPass::RowResult& result) const;
    Speed CertificateOf(const CheckPass::RowResult& result) const;
    std::string PerformanceData() const;
    void Print(const std::string& line);

    std::FILE* m_out;
    std::vector<CheckPass::RowResult> m_rows;
    std::vector<CheckPass::RowResult> m_notChecked;
    PassMetrics m_metrics;
    double m_warning = 0;
    double m_critical = 0;
    double m_timeout = 0;
    int m_certificateWarning = 0;
    int m_certificateCritical = 0;
    std::FILE* m_progress = nullptr;
    int m_progressTotal = 0;
    bool m_passEnded = false;
    bool m_saved = true;
    bool m_offline = false;
    bool m_outClosed = false;
};
