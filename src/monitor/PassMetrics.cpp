#include "monitor/PassMetrics.h"

#include "platform/AtomicFile.h"
#include "platform/Clock.h"

#include <chrono>
#include <cstdio>

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
    const std::string& address = result.url; // as shown: without a password
    // One address twice in a list (two search texts) would give two samples
    // of one series, for which a scraper drops the whole file.
    std::string name = CheckPass::SiteName(address);
    const auto taken = [&](const std::string& n) {
        for (const Site& s : m_sites)
            if (s.name == n && s.address == address)
                return true;
        return false;
    };
    const std::string base = name;
    for (int n = 2; taken(name); ++n)
        name = base + " #" + std::to_string(n);
    m_sites.push_back(Site{name, address, result.status == CheckPass::kOk, result.seconds,
                           result.httpStatus, Clock::Now(), result.certificateExpiry});
    m_ended = SteadySeconds();
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
    std::string text;
    for (size_t f = 0; f < std::size(families); ++f) {
        text += std::string("# HELP ") + families[f].name + ' ' + families[f].help + '\n';
        text += std::string("# TYPE ") + families[f].name + ' ' + families[f].type + '\n';
        for (const Site& s : m_sites) {
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
