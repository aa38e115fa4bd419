#include "monitor/PassMetrics.h"

#include "platform/AtomicFile.h"
#include "platform/Clock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unordered_map>

namespace {

double SteadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

struct Family
{
    const char* name;
    const char* type;
    const char* help;
};

} // namespace

void PassMetrics::PassStarted()
{
    m_sites.clear();
    m_started = SteadySeconds();
    m_ended = m_started;
}

void PassMetrics::RowChecked(const CheckPass::RowResult& result)
{
    // The address as shown: without a password.
    m_sites.push_back(Site{result.id, CheckPass::SiteName(result.url), result.url,
                           result.status == CheckPass::kOk, result.seconds, result.httpStatus,
                           Clock::Now(), result.certificateExpiry});
    m_ended = SteadySeconds();
}

std::vector<PassMetrics::Site> PassMetrics::Series() const
{
    // Pages end in any order; by entry the lines, and so the series' names,
    // are the same from one pass to the next.
    std::vector<Site> sites = m_sites;
    std::stable_sort(sites.begin(), sites.end(),
                     [](const Site& a, const Site& b) { return a.id < b.id; });
    // One address twice in a list (two search texts) would give two samples
    // of one series, for which a scraper drops the whole file: the second
    // is "NAME #2". The name comes from the address, so the count is per
    // address.
    std::unordered_map<std::string, int> seen;
    for (Site& s : sites)
        if (const int n = ++seen[s.address]; n > 1)
            s.name += " #" + std::to_string(n);
    return sites;
}

std::string PassMetrics::Text(std::time_t now) const
{
    const Family families[] = {
        {"kestrelle_site_up", "gauge",
         "Whether the site's page had its text at the last check (1) or not (0)."},
        {"kestrelle_site_response_seconds", "gauge",
         "How long the site's page took to fetch at the last check."},
        {"kestrelle_site_http_status", "gauge",
         "The HTTP status of the site's last answer; 0 when none came."},
        {"kestrelle_site_last_check_timestamp_seconds", "gauge",
         "When the site was last checked, in Unix time."},
        {"kestrelle_site_certificate_expiry_timestamp_seconds", "gauge",
         "When the https site's server certificate expires, in Unix time."},
    };
    const std::vector<Site> series = Series();
    std::string text;
    for (size_t f = 0; f < std::size(families); ++f) {
        text += std::string("# HELP ") + families[f].name + ' ' + families[f].help + '\n';
        text += std::string("# TYPE ") + families[f].name + ' ' + families[f].type + '\n';
        for (const Site& s : series) {
            // Only a site whose certificate was read has an expiry: http
            // sites, and failures before the handshake, have no line.
            if (f == 4 && s.certificateExpiry == 0)
                continue;
            const std::string value =
                f == 0   ? std::string(s.up ? "1" : "0")
                : f == 1 ? Number(s.seconds)
                : f == 2 ? std::to_string(s.httpStatus)
                : f == 3 ? std::to_string(static_cast<long long>(s.checkedAt))
                         : std::to_string(static_cast<long long>(s.certificateExpiry));
            text += std::string(families[f].name) + "{site=\"" + LabelValue(s.name) + "\",url=\"" +
                    LabelValue(s.address) + "\"} " + value + '\n';
        }
    }
    text += "# HELP kestrelle_pass_duration_seconds How long the last check pass took.\n"
            "# TYPE kestrelle_pass_duration_seconds gauge\n"
            "kestrelle_pass_duration_seconds " +
            Number(m_ended - m_started) +
            "\n# HELP kestrelle_pass_timestamp_seconds When the last check pass ended, in Unix "
            "time.\n"
            "# TYPE kestrelle_pass_timestamp_seconds gauge\n"
            "kestrelle_pass_timestamp_seconds " +
            std::to_string(static_cast<long long>(now)) + '\n';
    return text;
}

bool PassMetrics::Write(const std::string& path, std::string& error) const
{
    const std::string text = Text(Clock::Now());
    AtomicFile file(path);
    if (!file.Open() || !file.Write(text.data(), text.size()) || !file.Commit()) {
        error = file.Error();
        return false;
    }
    return true;
}

std::string PassMetrics::LabelValue(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}
