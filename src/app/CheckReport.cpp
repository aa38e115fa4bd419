#include "app/CheckReport.h"

#include "monitor/NoticeText.h"
#include "net/FetchAddress.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

std::string Field(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = ' ';
    }
    return out;
}

// The status line ends its text at the first "|": a name must not hold one.
std::string StatusText(const std::string& text)
{
    std::string out = Field(text);
    std::replace(out.begin(), out.end(), '|', '/');
    return out;
}

std::string Seconds(double seconds, const char* format)
{
    char text[64];
    std::snprintf(text, sizeof text, format, seconds);
    return text;
}

std::string Sites(int count)
{
    return std::to_string(count) + (count == 1 ? " site" : " sites");
}

// A name for the status line and the performance data, which monitoring
// systems keep and show to anyone: without the password that an address
// may carry.
std::string ShownName(const CheckPass::RowResult& row)
{
    return CheckPass::SiteName(row.url);
}

// At most five names in the status line, which a pager or a dashboard cuts
// short; the long output has them all.
constexpr size_t kNamesShown = 5;

std::string NameList(const std::vector<std::string>& names)
{
    std::string text;
    for (size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        text += (i ? ", " : "") + names[i];
    if (names.size() > kNamesShown)
        text += " and " + std::to_string(names.size() - kNamesShown) + " more";
    return text;
}

// A label in single quotes, which it then may not hold but doubled; "=" is
// where the value begins.
std::string PerfLabel(const std::string& name)
{
    std::string label;
    for (const char c : StatusText(name))
        label += c == '\'' ? std::string("''") : c == '=' ? std::string("_") : std::string(1, c);
    return "'" + label + "'";
}

} // namespace

void CheckReport::SetLimits(double warning, double critical, double timeout)
{
    m_warning = warning;
    m_critical = critical;
    m_timeout = timeout;
}

void CheckReport::SetCertificateLimits(int warningDays, int criticalDays)
{
    m_certificateWarning = warningDays;
    m_certificateCritical = criticalDays;
}

void CheckReport::ShowProgress(std::FILE* err, int sites)
{
    m_progress = err;
    m_progressTotal = sites;
}

void CheckReport::PassStarted()
{
    m_metrics.PassStarted();
}

void CheckReport::RowChecked(const CheckPass::RowResult& result)
{
    m_rows.push_back(result);
    m_metrics.RowChecked(result);
    if (m_progress) {
        std::fprintf(m_progress, "\rkestrelle-check: %zu of %d sites checked", m_rows.size(),
                     std::max(m_progressTotal, int(m_rows.size())));
        std::fflush(m_progress);
    }
}

void CheckReport::PassOffline()
{
    m_offline = true;
}

void CheckReport::PassEnded(bool saved)
{
    m_passEnded = true;
    m_saved = saved;
    if (m_progress && !m_rows.empty()) {
        std::fputs("\r\x1b[K", m_progress); // the counter leaves no line behind
        std::fflush(m_progress);
    }
}

bool CheckReport::Reported(EntryId id) const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [id](const auto& r) { return r.id == id; });
}

void CheckReport::Order(const std::function<int(EntryId)>& rank)
{
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [&](const auto& a, const auto& b) { return rank(a.id) < rank(b.id); });
}

void CheckReport::NotChecked(const std::string& url)
{
    CheckPass::RowResult row;
    row.url = FetchAddress::Shown(url); // as every checked row has it
    row.siteName = CheckPass::SiteName(url);
    row.status = kNotChecked;
    m_notChecked.push_back(row);
}

CheckReport::Speed CheckReport::SpeedOf(const CheckPass::RowResult& result) const
{
    if (result.status != CheckPass::kOk)
        return Speed::Fine;
    if (m_critical > 0 && result.seconds > m_critical)
        return Speed::Critical;
    if (m_warning > 0 && result.seconds > m_warning)
        return Speed::Warning;
    return Speed::Fine;
}

CheckReport::Speed CheckReport::CertificateOf(const CheckPass::RowResult& result) const
{
    if (result.status != CheckPass::kOk)
        return Speed::Fine;
    if (NoticeText::ExpiresWithin(result.certificateExpiry, result.checkedAt,
                                  m_certificateCritical))
        return Speed::Critical;
    if (NoticeText::ExpiresWithin(result.certificateExpiry, result.checkedAt, m_certificateWarning))
        return Speed::Warning;
    return Speed::Fine;
}

int CheckReport::ExitStatus() const
{
    const auto count = [this](auto test) {
        return std::count_if(m_rows.begin(), m_rows.end(), test);
    };
    if (count([](const auto& r) { return r.status != CheckPass::kOk; }) > 0 ||
        count([this](const auto& r) {
            return SpeedOf(r) == Speed::Critical || CertificateOf(r) == Speed::Critical;
        }) > 0)
        return kExitError;
    if (!m_passEnded || !m_saved || m_offline || !m_notChecked.empty())
        return kExitUnknown;
    if (count([this](const auto& r) {
            return SpeedOf(r) == Speed::Warning || CertificateOf(r) == Speed::Warning;
        }) > 0)
        return kExitWarning;
    return kExitOk;
}

std::string CheckReport::StatusLine() const
{
    static const char* const kStates[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    const int total = int(m_rows.size() + m_notChecked.size());
    std::vector<std::string> down, critical, warning, certCritical, certWarning;
    for (const auto& r : m_rows) {
        if (CertificateOf(r) != Speed::Fine)
            (CertificateOf(r) == Speed::Critical ? certCritical : certWarning)
                .push_back(ShownName(r) + " (" +
                           NoticeText::CertificateReason(r.certificateExpiry, r.checkedAt) + ")");
        if (r.status != CheckPass::kOk) {
            const std::string why = r.httpStatus >= 400 ? "HTTP " + std::to_string(r.httpStatus)
                                    : r.reason.empty()  ? std::string("down")
                                                        : r.reason;
            down.push_back(ShownName(r) + " (" + why + ")");
        } else if (SpeedOf(r) != Speed::Fine) {
            (SpeedOf(r) == Speed::Critical ? critical : warning)
                .push_back(ShownName(r) + " (" + Seconds(r.seconds, "%.3f") + " s)");
        }
    }
    std::vector<std::string> parts;
    const std::string ofTotal = " of " + Sites(total);
    if (!down.empty())
        parts.push_back(std::to_string(down.size()) + ofTotal + " down: " + NameList(down));
    if (!critical.empty())
        parts.push_back(std::to_string(critical.size()) + ofTotal + " slower than " +
                        Seconds(m_critical, "%g") + " s: " + NameList(critical));
    if (!warning.empty())
        parts.push_back(std::to_string(warning.size()) + ofTotal + " slower than " +
                        Seconds(m_warning, "%g") + " s: " + NameList(warning));
    if (!certCritical.empty())
        parts.push_back(std::to_string(certCritical.size()) + ofTotal +
                        " with a certificate expiring within " +
                        std::to_string(m_certificateCritical) + " days: " + NameList(certCritical));
    if (!certWarning.empty())
        parts.push_back(std::to_string(certWarning.size()) + ofTotal +
                        " with a certificate expiring within " +
                        std::to_string(m_certificateWarning) + " days: " + NameList(certWarning));
    if (m_offline)
        parts.push_back("network unreachable");
    else if (!m_notChecked.empty())
        parts.push_back(std::to_string(m_notChecked.size()) + ofTotal + " not checked: " +
                        (m_timeout > 0
                             ? "the time limit of " + Seconds(m_timeout, "%g") + " s ran out"
                             : std::string("the pass stopped")));
    if (!m_passEnded)
        parts.push_back("the pass stopped");
    else if (!m_saved)
        parts.push_back("the site list could not be saved");
    if (parts.empty())
        parts.push_back(total == 0 ? std::string("no sites to check") : Sites(total) + " up");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return "KESTRELLE " + std::string(kStates[ExitStatus()]) + " - " + StatusText(text) + " | " +
           PerformanceData();
}

std::string CheckReport::PerformanceData() const
{
    const int total = int(m_rows.size() + m_notChecked.size());
    const int up = int(std::count_if(m_rows.begin(), m_rows.end(),
                                     [](const auto& r) { return r.status == CheckPass::kOk; }));
    const std::string range = ";;;0;" + std::to_string(total);
    std::string data = "'sites_up'=" + std::to_string(up) + range +
                       " 'sites_down'=" + std::to_string(int(m_rows.size()) - up) + range +
                       " 'sites_not_checked'=" + std::to_string(m_notChecked.size()) + range;
    const std::string limits = ";" + (m_warning > 0 ? Seconds(m_warning, "%.6f") : "") + ";" +
                               (m_critical > 0 ? Seconds(m_critical, "%.6f") : "") + ";0.000000;" +
                               (m_timeout > 0 ? Seconds(m_timeout, "%.6f") : "");
    // Two sites on one host (their paths differ) keep labels of their own.
    // Each name remembers the number it reached, so that a list of many
    // pages on one host does not try every number taken before again.
    std::set<std::string> used;
    std::map<std::string, int> nextNumber;
    for (const auto& r : m_rows) {
        const std::string name = ShownName(r);
        std::string label = name;
        int& n = nextNumber.try_emplace(name, 2).first->second;
        while (!used.insert(label).second)
            label = name + " #" + std::to_string(n++);
        data += " " + PerfLabel(label) + "=" + Seconds(r.seconds, "%.6f") + "s" + limits;
    }
    return data;
}

void CheckReport::Print()
{
    Print(StatusLine());
    for (const auto& r : m_rows)
        Print(RowLine(r));
    for (const auto& r : m_notChecked)
        Print(RowLine(r));
    const int ok = int(std::count_if(m_rows.begin(), m_rows.end(),
                                     [](const auto& r) { return r.status == CheckPass::kOk; }));
    Print(SummaryLine(int(m_rows.size() + m_notChecked.size()), ok, int(m_rows.size()) - ok,
                      int(m_notChecked.size())));
    if (!m_outClosed && std::fflush(m_out) == EOF)
        std::clearerr(m_out);
}

std::string CheckReport::RowLine(const CheckPass::RowResult& result)
{
    std::string line =
        Field(result.status) + '\t' + Field(result.siteName) + '\t' + Field(result.url);
    if (result.status == kNotChecked)
        return line; // no fetch: nothing to say why, nor how long
    if (!result.balloonText.empty())
        line += '\t' + Field(result.balloonText);
    // Added after the fields scripts already read: why, and the fetch's time.
    // An OK line leaves the alert field empty so that both stay in place.
    if (result.balloonText.empty())
        line += '\t';
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", result.seconds);
    line += '\t' + Field(result.reason) + '\t' + seconds;
    return line;
}

std::string CheckReport::SummaryLine(int sites, int ok, int error, int notChecked)
{
    std::string line = "Sites: " + std::to_string(sites) + ", OK: " + std::to_string(ok) +
                       ", ERROR: " + std::to_string(error);
    if (notChecked > 0)
        line += ", NOT CHECKED: " + std::to_string(notChecked);
    return line;
}

void CheckReport::Print(const std::string& line)
{
    // Once the reader is gone (`| head -1`) there is nobody to print for;
    // the save and the e-mails go on, and the exit status stays what the
    // sites decide.
    if (m_outClosed)
        return;
    if (std::fputs(line.c_str(), m_out) == EOF || std::fputc('\n', m_out) == EOF) {
        m_outClosed = true;
        std::clearerr(m_out);
    }
}
