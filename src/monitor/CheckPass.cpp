#include "monitor/CheckPass.h"

#include "monitor/DataFile.h"
#include "monitor/SiteList.h"
#include "net/CPageFetcher.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <utility>

namespace {

// Every occurrence of `what` taken out in one left-to-right sweep, the way a
// replace-all does it: text that comes together only after a removal stays.
void RemoveAll(std::string& text, const std::string& what)
{
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    for (size_t at; (at = text.find(what, from)) != std::string::npos; from = at + what.size())
        out.append(text, from, at - from);
    out.append(text, from, std::string::npos);
    text = std::move(out);
}

// The entry whose page was fetched for row `row`. Normally it is still
// there; when the user removed or sorted rows during the fetch it has moved,
// and the outcome must follow the entry: writing it by index would give one
// site's status and page to another. It is the row at its old index if that
// still holds the same address and search text and shows "CHECKING",
// otherwise the first row that does. -1 when the entry is gone.
int LocateCheckedRow(const SiteList& list, int row, const SiteEntry& checked)
{
    auto same = [&](const SiteEntry& e) {
        return e.field(SiteEntry::Url) == checked.field(SiteEntry::Url) &&
               e.field(SiteEntry::SearchText) == checked.field(SiteEntry::SearchText) &&
               e.field(SiteEntry::Status) == CheckPass::kChecking;
    };
    int atOldIndex = -1, first = -1;
    list.ForEach([&](int r, const SiteEntry& e) {
        if ((r == row || first < 0) && same(e)) {
            if (r == row)
                atOldIndex = r;
            if (first < 0)
                first = r;
        }
    });
    return atOldIndex >= 0 ? atOldIndex : first;
}

// The fields of one row that the check reads, taken under one hold of the
// list's lock so they belong together. The old page text is not copied: it
// can be large and the check never reads it.
std::optional<SiteEntry> CheckedFields(const SiteList& list, int row)
{
    std::optional<SiteEntry> out;
    list.ForEach([&](int r, const SiteEntry& e) {
        if (r != row)
            return;
        out.emplace();
        for (int column : {SiteEntry::Url, SiteEntry::Status, SiteEntry::SearchText})
            out->field(column) = e.field(column);
    });
    return out;
}

} // namespace

PassGate& CheckPass::ProcessGate()
{
    static PassGate gate;
    return gate;
}

CheckPass::CheckPass(SiteList& list, std::string dataFilePath, AlertSink& alerts, PassGate& gate)
    : m_list(list), m_dataFilePath(std::move(dataFilePath)), m_alerts(alerts), m_gate(gate)
{
}

bool CheckPass::CheckSites()
{
    try {
        return m_gate.Run([this] { RunPass(); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Kestrelle: the check pass stopped: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Kestrelle: the check pass stopped\n");
    }
    return true;
}

void CheckPass::RunPass()
{
    CPageFetcher fetcher;

    // The count is read again after every row: rows removed meanwhile end
    // the pass early instead of letting it read past the list.
    for (int i = 0; i < m_list.RowCount(); ++i) {
        std::optional<SiteEntry> entry = CheckedFields(m_list, i);
        if (!entry)
            break;
        const std::string& url = entry->field(SiteEntry::Url);
        const std::string& searchText = entry->field(SiteEntry::SearchText);

        // Anything but "ERROR" starts an outage, a "CHECKING" left in the
        // file by a save during an earlier pass included.
        const bool firstFailure = entry->field(SiteEntry::Status) != kError;
        m_list.SetText(i, SiteEntry::Status, kChecking);
        entry->field(SiteEntry::Status) = kChecking;

        fetcher.Fetch(url, std::string(), nullptr);
        std::string page = fetcher.GetText();
        const bool found = Found(page, searchText);

        const int row = LocateCheckedRow(m_list, i, *entry);
        if (row < 0)
            continue; // removed during its fetch: nothing to write, nobody to alert

        RowResult result;
        result.row = row;
        result.url = url;
        result.siteName = SiteName(url);
        result.firstFailure = firstFailure;
        if (found) {
            result.status = kOk;
            m_list.SetText(row, SiteEntry::Status, kOk);
            m_list.SetMark(row, 0);
        } else {
            result.status = kError;
            result.balloonText = BalloonText(searchText, url);
            m_list.SetText(row, SiteEntry::Status, kError);
            m_list.SetMark(row, SiteEntry::kErrorMark);
            m_alerts.RaiseAlerts(row, result.balloonText, BalloonTitle(url), firstFailure);
        }
        m_list.SetText(row, SiteEntry::LastCheck, TimeText::Local(Clock::Now()));
        m_list.SetText(row, SiteEntry::LastResponse, std::move(page));

        if (m_observer)
            m_observer->RowChecked(result);
    }

    // Also for an empty list: the file then holds no entries.
    bool saved = true;
    if (!m_dataFilePath.empty())
        saved = DataFile::SaveSites(m_list, m_dataFilePath);
    if (m_observer)
        m_observer->PassEnded(saved);
}

std::string CheckPass::SiteName(const std::string& url)
{
    std::string name;
    for (size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '/' && i > 0 && url[i - 1] != ':' && url[i - 1] != '/')
            break; // the slash that begins the path
        name += url[i];
    }
    for (const char* prefix : {"http://", "HTTP://", "https://", "HTTPS://", "www.", "WWW."})
        RemoveAll(name, prefix);
    return name;
}

bool CheckPass::Found(const std::string& pageText, const std::string& searchText)
{
    return pageText.find(searchText) != std::string::npos;
}

std::string CheckPass::BalloonText(const std::string& searchText, const std::string& url)
{
    return "Kestrelle was unable to find the text \"" + searchText + "\" on " + SiteName(url);
}

std::string CheckPass::BalloonTitle(const std::string& url)
{
    return SiteName(url) + " may be down";
}
