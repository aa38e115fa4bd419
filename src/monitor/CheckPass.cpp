#include "monitor/CheckPass.h"

#include "monitor/BrowserText.h"
#include "monitor/CheckRecorder.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryStore.h"
#include "monitor/NoticeText.h"
#include "monitor/SiteList.h"
#include "net/CPageFetcher.h"
#include "net/FetchAddress.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"

#include <chrono>
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

// The fields of one entry that its check reads, and its Status before the
// check; taken in the same hold of the lock that marks it "CHECKING".
struct Turn
{
    std::string url;
    std::string searchText;
    std::string status;
};

constexpr unsigned kStatusBit = SiteList::ColumnBit(SiteEntry::Status);

// Puts the Status back unless somebody has written another since: the pass
// leaves no "CHECKING" behind when its outcome is not written.
void RestoreStatus(SiteList& list, EntryId id, const std::string& status)
{
    list.UpdateEntry(id, [&](SiteEntry& e) -> unsigned {
        if (e.field(SiteEntry::Status) != CheckPass::kChecking)
            return 0;
        e.field(SiteEntry::Status) = status;
        return kStatusBit;
    });
}

} // namespace

PassGate& CheckPass::ProcessGate()
{
    static PassGate gate;
    return gate;
}

CheckPass::CheckPass(SiteList& list, DataFileSaver* saver, AlertSink& alerts, PassGate& gate)
    : m_list(list), m_saver(saver), m_alerts(alerts), m_gate(gate)
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

void CheckPass::Stop()
{
    m_stopped.store(true);
    std::lock_guard lock(m_fetcherMutex);
    if (m_fetcher)
        m_fetcher->Cancel();
}

void CheckPass::RunPass()
{
    CPageFetcher fetcher;
    m_alerts.PassStarted();
    {
        std::lock_guard lock(m_fetcherMutex);
        m_fetcher = &fetcher;
    }
    struct Release
    {
        CheckPass& pass;
        ~Release()
        {
            std::lock_guard lock(pass.m_fetcherMutex);
            pass.m_fetcher = nullptr;
        }
    } release{*this};
    if (m_observer)
        m_observer->PassStarted();

    // The count is read again after every row: rows removed meanwhile end
    // the pass early instead of letting it read past the list.
    for (int i = 0; i < m_list.RowCount() && !m_stopped.load(); ++i)
        CheckRow(i, fetcher);

    // Also for an empty list: the file then holds no entries.
    bool saved = true;
    if (m_saver)
        saved = m_saver->SaveAndWait(m_list);
    if (m_recorder)
        m_recorder->PassFinished();
    if (m_observer)
        m_observer->PassEnded(saved);
}

void CheckPass::CheckRow(int row, CPageFetcher& fetcher)
{
    Turn turn;
    const EntryId id = m_list.UpdateRow(row, [&turn](SiteEntry& e) {
        turn.url = e.field(SiteEntry::Url);
        turn.searchText = e.field(SiteEntry::SearchText);
        turn.status = e.field(SiteEntry::Status);
        e.field(SiteEntry::Status) = kChecking;
        return kStatusBit;
    });
    if (id == 0)
        return; // the row went away just now; the loop ends at the count

    // Whatever ends this row's check early (an exception from the fetch)
    // must not leave the entry showing "CHECKING".
    struct Unfinished
    {
        SiteList& list;
        EntryId id;
        const std::string& status;
        bool done = false;
        ~Unfinished()
        {
            if (!done)
                RestoreStatus(list, id, status);
        }
    } unfinished{m_list, id, turn.status};

    // Anything but "ERROR" starts an outage, a "CHECKING" left in the file
    // by a save during an earlier pass included.
    const bool firstFailure = turn.status != kError;

    const auto fetchStart = std::chrono::steady_clock::now();
    fetcher.SetSearchText(turn.searchText);
    fetcher.Fetch(turn.url, std::string());
    const auto fetchTime = std::chrono::steady_clock::now() - fetchStart;
    const FetchOutcome outcome = fetcher.Outcome();
    // A cancelled fetch looks like a failed one: it says nothing of the site.
    if (m_stopped.load())
        return;
    std::string page = fetcher.TakeText();
    const std::string reason = Verdict(outcome, page, turn.searchText);
    const bool found = reason == kTextFound;
    const double seconds = std::chrono::duration<double>(fetchTime).count();
    const std::time_t checkedAt = Clock::Now();
    const std::string stamp = TimeText::Local(checkedAt);
    const std::time_t expiry = outcome.certificateExpiry;
    // A site that is up says first that its certificate runs out soon.
    const bool certificateSoon =
        found && NoticeText::ExpiresWithin(expiry, checkedAt, m_certWarnDays.load());
    const std::string shownReason =
        certificateSoon ? NoticeText::CertificateReason(expiry, checkedAt) : reason;
    const bool recovered = found && turn.status == kError;
    std::time_t outageStart = 0;

    // The whole outcome in one locked step, to the entry wherever it now
    // stands; what the alert needs is read in the same step.
    enum class Fate
    {
        Gone,
        Edited,
        Written
    } fate = Fate::Gone;
    SiteAlert alert;
    m_list.UpdateEntry(id, [&](SiteEntry& e) -> unsigned {
        if (e.field(SiteEntry::Url) != turn.url ||
            e.field(SiteEntry::SearchText) != turn.searchText) {
            fate = Fate::Edited;
            return 0; // the Status is put back below, as for any unfinished row
        }
        fate = Fate::Written;
        e.field(SiteEntry::Status) = found ? kOk : kError;
        e.mark = found ? 0 : SiteEntry::kErrorMark;
        e.field(SiteEntry::LastCheck) = stamp;
        e.field(SiteEntry::LastResponse) = std::move(page);
        e.reason = shownReason;
        e.seconds = seconds;
        e.certificateExpiry = expiry;
        // The outage's start lives with the entry while this run goes on.
        if (found) {
            outageStart = e.outageStart;
            e.outageStart = 0;
        } else if (firstFailure) {
            e.outageStart = checkedAt;
        }
        alert.emailAddress = e.field(SiteEntry::EmailAddress);
        return kStatusBit | SiteList::ColumnBit(SiteEntry::LastCheck) |
               SiteList::ColumnBit(SiteEntry::LastResponse) | SiteList::Observer::kMarkBit;
    });
    if (fate != Fate::Written)
        return; // removed: nothing to write, nobody to alert; edited: see above
    unfinished.done = true;

    RowResult result;
    result.id = id;
    result.url = FetchAddress::Shown(turn.url);
    result.siteName = SiteName(turn.url);
    result.firstFailure = firstFailure;
    result.reason = shownReason;
    result.httpStatus = static_cast<int>(outcome.status);
    result.seconds = seconds;
    result.checkedAt = checkedAt;
    result.certificateExpiry = expiry;
    const std::string siteKey = HistoryStore::SiteKey(turn.url);
    if (found) {
        result.status = kOk;
    } else {
        result.status = kError;
        result.balloonText = BalloonText(turn.searchText, turn.url);
        alert.id = id;
        alert.url = result.url;
        alert.reason = reason;
        alert.siteName = result.siteName;
        alert.balloonText = result.balloonText;
        alert.balloonTitle = BalloonTitle(turn.url);
        alert.firstFailure = firstFailure;
        m_alerts.RaiseAlerts(alert);
    }
    if (recovered) {
        // An outage that began before this run of the program is looked up
        // in the history; this check is not in it yet, so the outage found
        // there is still open. Neither knowing it, the notice says the
        // length is not known rather than guess one.
        if (outageStart == 0 && m_recorder)
            outageStart = m_recorder->OutageStart(siteKey);
        m_alerts.SiteRecovered(SiteRecovery{id, result.url, result.siteName, alert.emailAddress,
                                            outageStart, checkedAt});
    }
    if (certificateSoon)
        m_alerts.CertificateExpiring(CertificateWarning{id, result.url, result.siteName, siteKey,
                                                        alert.emailAddress, expiry, checkedAt,
                                                        shownReason});
    // The history keeps the verdict on the page, not the certificate's news.
    if (m_recorder)
        m_recorder->Record(CheckRecord{
            checkedAt, siteKey, found, reason, result.httpStatus,
            int(std::chrono::duration_cast<std::chrono::milliseconds>(fetchTime).count())});
    if (m_observer)
        m_observer->RowChecked(result);
}

std::string CheckPass::Verdict(const FetchOutcome& outcome, const std::string& pageText,
                               const std::string& searchText)
{
    if (!outcome.failure.empty())
        return outcome.failure;
    // The raw page first, so that a text that is in it is always found; the
    // browser's reading of it only adds to that.
    if (outcome.textSeen || Found(pageText, searchText) ||
        Found(BrowserText::Of(pageText, outcome.contentType), searchText))
        return kTextFound;
    return kTextNotFound;
}

std::string CheckPass::SiteName(const std::string& address)
{
    // A password in the address is never shown.
    const std::string url = FetchAddress::Shown(address);
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
