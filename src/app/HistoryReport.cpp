#include "app/HistoryReport.h"

#include "monitor/CheckPass.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"

#include <cstdio>

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;
constexpr const char* kCsvTime = "%Y-%m-%d %H:%M:%S";

// A reason comes from a web server's answer: nothing in it may break a line.
std::string OneLine(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return out;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string SpanName(int days)
{
    if (days == 1)
        return "24 hours";
    return std::to_string(days) + " days";
}

std::string Percent(const HistoryStore::Uptime& uptime)
{
    if (uptime.checks == 0)
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", uptime.Percent());
    return text;
}

std::string Padded(std::string text, size_t width)
{
    if (text.size() < width)
        text.resize(width, ' ');
    return text;
}

} // namespace

bool HistoryReport::Read(HistoryStore& store, const std::string& site, int sinceDays,
                         std::time_t now, Figures& out, std::string& error)
{
    out = Figures();
    out.sinceDays = sinceDays;
    out.now = now;
    std::vector<std::string> keys;
    if (!store.ReadSiteKeys(keys)) {
        error = store.Error();
        return false;
    }
    // The address first; else the short name, which must be unambiguous.
    const std::string wanted = HistoryStore::SiteKey(site);
    std::vector<std::string> named;
    for (const std::string& key : keys) {
        if (key == wanted) {
            named = {key};
            break;
        }
        if (CheckPass::SiteName(key) == site)
            named.push_back(key);
    }
    if (named.empty()) {
        error = "no checks of " + site + " are recorded";
        return false;
    }
    if (named.size() > 1) {
        error = site + " names several sites; give one address:";
        for (const std::string& key : named)
            error += " " + key;
        return false;
    }
    out.siteKey = named.front();

    std::vector<int> spans{1, 7, 30};
    if (sinceDays != 1 && sinceDays != 7 && sinceDays != 30)
        spans.push_back(sinceDays);
    for (const int days : spans) {
        HistoryStore::Uptime uptime;
        if (!store.ReadUptime(out.siteKey, now - days * kDay, now + HistoryStore::kAheadSeconds,
                              uptime)) {
            error = store.Error();
            return false;
        }
        out.uptimes.emplace_back(days, uptime);
    }
    if (!store.ReadOutages(out.siteKey, now - sinceDays * kDay, now + HistoryStore::kAheadSeconds,
                           out.outages)) {
        error = store.Error();
        return false;
    }
    return true;
}

std::string HistoryReport::Text(const Figures& f)
{
    std::string text = "History of " + OneLine(f.siteKey) + "\n";
    for (const auto& [days, uptime] : f.uptimes) {
        text += Padded("Uptime, last " + SpanName(days) + ":", 28);
        text += uptime.checks ? Percent(uptime) + "% of " + std::to_string(uptime.checks) +
                                    (uptime.checks == 1 ? " check\n" : " checks\n")
                              : std::string("no checks\n");
    }
    text += "Outages in the last " + SpanName(f.sinceDays) + ": " +
            std::to_string(f.outages.size()) + "\n";
    if (f.outages.empty())
        return text;
    text += Padded("Start", 24) + Padded("End", 24) + Padded("Length", 12) + "Reason\n";
    for (const HistoryStore::Outage& o : f.outages) {
        text += Padded(TimeText::Local(o.start), 24);
        text += Padded(o.end ? TimeText::Local(o.end) : "still down", 24);
        text += Padded(HistoryStore::LengthText(o.Length(f.now)), 12);
        text += (o.reason.empty() ? "-" : OneLine(o.reason)) + "\n";
    }
    return text;
}

std::string HistoryReport::Csv(const Figures& f)
{
    std::string csv = "kind,site,start,end,seconds,checks,uptime_percent,reason\r\n";
    const std::string site = CsvField(f.siteKey);
    for (const auto& [days, uptime] : f.uptimes)
        csv += "uptime," + site + "," + TimeText::Local(f.now - days * kDay, kCsvTime) + "," +
               TimeText::Local(f.now, kCsvTime) + "," + std::to_string(days * kDay) + "," +
               std::to_string(uptime.checks) + "," + Percent(uptime) + ",\r\n";
    for (const HistoryStore::Outage& o : f.outages)
        csv += "outage," + site + "," + TimeText::Local(o.start, kCsvTime) + "," +
               (o.end ? TimeText::Local(o.end, kCsvTime) : "") + "," +
               std::to_string(o.Length(f.now)) + ",,," + CsvField(o.reason) + "\r\n";
    return csv;
}

int HistoryReport::Run(const std::string& storePath, const std::string& site, int sinceDays,
                       bool csv, std::FILE* out, std::FILE* err)
{
    HistoryStore store(storePath);
    Figures figures;
    std::string error;
    if (!store.OpenForReading())
        error =
            store.Missing() ? "no checks have been recorded yet in " + storePath : store.Error();
    else
        Read(store, site, sinceDays, Clock::Now(), figures, error);
    if (!error.empty()) {
        std::fprintf(err, "kestrelle-check: %s\n", OneLine(error).c_str());
        return 3;
    }
    const std::string report = csv ? Csv(figures) : Text(figures);
    std::fwrite(report.data(), 1, report.size(), out);
    return std::fflush(out) == 0 ? 0 : 3;
}
