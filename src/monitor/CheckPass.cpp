#include "monitor/CheckPass.h"

#include "monitor/BrowserText.h"
#include "monitor/CheckRecorder.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryStore.h"
#include "monitor/NoticeText.h"
#include "monitor/SiteList.h"
#include "net/CPageFetcher.h"
#include "net/FetchAddress.h"
#include "net/FetchOutcome.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
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
    std::string reason; // of the entry's last check in this run
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
    m_wholePassOwed.store(true);
    return RunGate();
}

bool CheckPass::CheckSite(EntryId id)
{
    {
        std::lock_guard lock(m_owedMutex);
        m_owedSites.push_back(id);
    }
    // Through the same gate as the passes: a pass under way checks the
    // site afterwards (it may be past its row already), and never does a
    // check of one site overlap a pass that writes the same rows.
    return RunGate();
}

bool CheckPass::RunGate()
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
    std::vector<EntryId> sites;
    {
        std::lock_guard lock(m_owedMutex);
        sites.swap(m_owedSites);
    }
    // A request of another pass object sharing the gate runs this one whole,
    // as it always has.
    const bool whole = m_wholePassOwed.exchange(false) || sites.empty();
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
    // The observer hears of whole passes only: what it sums up is a pass.
    Observer* const observer = whole ? m_observer : nullptr;
    if (observer)
        observer->PassStarted();

    m_hold.Begin();
    m_written.store(0);
    // A pass cut short by an error leaves no row held at "CHECKING".
    struct Unsettled
    {
        OfflineHold& hold;
        bool ended = false;
        ~Unsettled()
        {
            if (!ended)
                hold.Abandon();
        }
    } unsettled{m_hold};

    // The count is read again after every row: rows removed meanwhile end
    // the pass early instead of letting it read past the list.
    if (whole) {
        for (int i = 0; i < m_list.RowCount() && !m_stopped.load(); ++i)
            CheckRow(i, fetcher, 0, observer);
    } else {
        for (std::size_t i = 0; i < sites.size() && !m_stopped.load(); ++i)
            CheckRow(-1, fetcher, sites[i], observer);
    }

    const bool offline = m_hold.End(m_probe ? *m_probe : m_routes);
    unsettled.ended = true;
    // Also for an empty list: the file then holds no entries. An offline
    // pass that wrote nothing leaves the file as it was.
    bool saved = true;
    if (m_saver && !(offline && m_written.load() == 0))
        saved = m_saver->SaveAndWait(m_list);
    if (m_recorder)
        m_recorder->PassFinished();
    if (observer) {
        if (offline)
            observer->PassOffline();
        observer->PassEnded(saved);
    }
}

void CheckPass::CheckRow(int row, CPageFetcher& fetcher, EntryId only, Observer* observer)
{
    Turn turn;
    const auto take = [&turn](SiteEntry& e) -> unsigned {
        turn.url = e.field(SiteEntry::Url);
        turn.searchText = e.field(SiteEntry::SearchText);
        turn.status = e.field(SiteEntry::Status);
        turn.reason = e.reason;
        e.field(SiteEntry::Status) = kChecking;
        return kStatusBit;
    };
    const EntryId id =
        only != 0 ? (m_list.UpdateEntry(only, take) ? only : 0) : m_list.UpdateRow(row, take);
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
    // by a save during an earlier pass included. A site that only wanted a
    // log-in was not down, so its next failure starts one; for a log-in
    // itself the flag tells the first check that wanted it.
    const bool wasLogIn = turn.reason == FetchOutcome::kNeedsLogIn;

    const auto fetchStart = std::chrono::steady_clock::now();
    fetcher.SetSearchText(turn.searchText);
    fetcher.Fetch(turn.url, std::string());
    const auto fetchTime = std::chrono::steady_clock::now() - fetchStart;
    const FetchOutcome outcome = fetcher.Outcome();
    // A cancelled fetch looks like a failed one: it says nothing of the site.
    if (m_stopped.load())
        return;
    const bool firstFailure = outcome.failure == FetchOutcome::kNeedsLogIn
                                  ? !wasLogIn
                                  : turn.status != kError || wasLogIn;
    auto done = std::make_shared<Finished>();
    done->id = id;
    done->url = turn.url;
    done->searchText = turn.searchText;
    done->status = turn.status;
    done->page = fetcher.TakeText();
    done->reason = Verdict(outcome, done->page, turn.searchText);
    done->httpStatus = static_cast<int>(outcome.status);
    done->fetchMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(fetchTime).count());
    done->seconds = std::chrono::duration<double>(fetchTime).count();
    done->checkedAt = Clock::Now();
    done->certificateExpiry = outcome.certificateExpiry;
    done->firstFailure = firstFailure;
    done->wasLogIn = wasLogIn;
    done->observer = observer;

    // A site that could not be reached may only show that this computer
    // has no network: its outcome may wait for the rest of the pass.
    unfinished.done = true;
    m_hold.Settle(
        OfflineHold::KindOf(outcome, turn.url), [this, done] { WriteOutcome(*done); },
        [this, id, status = turn.status] { RestoreStatus(m_list, id, status); });
}

void CheckPass::WriteOutcome(Finished& done)
{
    const bool found = done.reason == kTextFound;
    const std::string stamp = TimeText::Local(done.checkedAt);
    const std::time_t expiry = done.certificateExpiry;
    // A site that is up says first that its certificate runs out soon.
    const bool certificateSoon =
        found && NoticeText::ExpiresWithin(expiry, done.checkedAt, m_certWarnDays.load());
    const std::string shownReason =
        certificateSoon ? NoticeText::CertificateReason(expiry, done.checkedAt) : done.reason;
    // A site that only wanted a log-in was not down: nothing to tell.
    const bool recovered = found && done.status == kError && !done.wasLogIn;
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
    m_list.UpdateEntry(done.id, [&](SiteEntry& e) -> unsigned {
        if (e.field(SiteEntry::Url) != done.url ||
            e.field(SiteEntry::SearchText) != done.searchText) {
            fate = Fate::Edited;
            return 0; // the Status is put back below, as for any unfinished row
        }
        fate = Fate::Written;
        e.field(SiteEntry::Status) = found ? kOk : kError;
        e.mark = found ? 0 : SiteEntry::kErrorMark;
        e.field(SiteEntry::LastCheck) = stamp;
        e.field(SiteEntry::LastResponse) = std::move(done.page);
        e.reason = shownReason;
        e.seconds = done.seconds;
        e.certificateExpiry = expiry;
        // The outage's start lives with the entry while this run goes on.
        if (found) {
            outageStart = e.outageStart;
            e.outageStart = 0;
        } else if (done.firstFailure) {
            e.outageStart = done.checkedAt;
        }
        alert.emailAddress = e.field(SiteEntry::EmailAddress);
        return kStatusBit | SiteList::ColumnBit(SiteEntry::LastCheck) |
               SiteList::ColumnBit(SiteEntry::LastResponse) | SiteList::Observer::kMarkBit;
    });
    if (fate == Fate::Edited)
        RestoreStatus(m_list, done.id, done.status);
    if (fate != Fate::Written)
        return; // removed: nothing to write, nobody to alert; edited: see above
    m_written.fetch_add(1);

    RowResult result;
    result.id = done.id;
    result.url = FetchAddress::Shown(done.url);
    result.siteName = SiteName(done.url);
    result.firstFailure = done.firstFailure;
    result.reason = shownReason;
    result.httpStatus = done.httpStatus;
    result.seconds = done.seconds;
    result.checkedAt = done.checkedAt;
    result.certificateExpiry = expiry;
    const std::string siteKey = HistoryStore::SiteKey(done.url);
    if (found) {
        result.status = kOk;
    } else {
        result.status = kError;
        result.balloonText = BalloonText(done.searchText, done.url);
        alert.id = done.id;
        alert.url = result.url;
        alert.reason = done.reason;
        alert.siteName = result.siteName;
        alert.balloonText = result.balloonText;
        alert.balloonTitle = BalloonTitle(done.url);
        alert.firstFailure = done.firstFailure;
        m_alerts.RaiseAlerts(alert);
    }
    if (recovered) {
        // An outage that began before this run of the program is looked up
        // in the history; this check is not in it yet, so the outage found
        // there is still open. Neither knowing it, the notice says the
        // length is not known rather than guess one.
        if (outageStart == 0 && m_recorder)
            outageStart = m_recorder->OutageStart(siteKey);
        m_alerts.SiteRecovered(SiteRecovery{done.id, result.url, result.siteName,
                                            alert.emailAddress, outageStart, done.checkedAt});
    }
    if (certificateSoon)
        m_alerts.CertificateExpiring(CertificateWarning{done.id, result.url, result.siteName,
                                                        siteKey, alert.emailAddress, expiry,
                                                        done.checkedAt, shownReason});
    // The history keeps the verdict on the page, not the certificate's news.
    if (m_recorder)
        m_recorder->Record(CheckRecord{done.checkedAt, siteKey, found, done.reason,
                                       result.httpStatus, done.fetchMs});
    if (done.observer)
        done.observer->RowChecked(result);
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
