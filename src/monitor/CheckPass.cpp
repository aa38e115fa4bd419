#include "monitor/CheckPass.h"

#include "monitor/BrowserText.h"
#include "monitor/CheckRecorder.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryStore.h"
#include "monitor/NoticeText.h"
#include "monitor/SiteList.h"
#include "net/FetchAddress.h"
#include "net/FetchLock.h"
#include "net/FetchOutcome.h"
#include "net/FetchWaiter.h"
#include "net/PageTransfer.h"
#include "net/TransferLoop.h"
#include "platform/AsciiText.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

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

// One site's check within a pass, from the row's "CHECKING" to its outcome.
struct CheckPass::Check
{
    EntryId id = 0;
    Turn turn;
    bool wasLogIn = false; // the entry's last check wanted a log-in
    std::string host;      // of the address, lower case: the bound per host counts it
    std::unique_ptr<PageTransfer> transfer;
    std::chrono::steady_clock::time_point started;
    bool ended = false;
    bool secondLook = false;                   // the look again after a failure
    std::chrono::steady_clock::time_point due; // of the second look
};

struct CheckPass::Schedule
{
    int parallel = 1;
    Observer* observer = nullptr; // none for a check of single sites
    // A check of single sites: these entries, in turn, instead of the rows.
    std::vector<EntryId> only;
    std::size_t nextOnly = 0;
    std::chrono::seconds confirm{0};
    TransferLoop* loop = nullptr;
    std::shared_ptr<FetchWaiter> lockWaiter;
    bool lockHeld = false;
    // The row the walk has reached, and the entries this pass has started:
    // one may be past that row (a busy host held the row back), or come
    // there again when rows move, and none is checked twice.
    int next = 0;
    std::unordered_set<EntryId> started;
    std::unordered_map<EntryId, std::string> hostOf; // of the rows held back so far
    std::vector<std::unique_ptr<Check>> running;     // changed under m_scheduleMutex
    std::vector<std::unique_ptr<Check>> waiting;     // second looks, in order of their time
    std::unordered_map<std::string, int> perHost;
};

namespace {

// How far past the row the walk has reached a pass looks for a site of a
// host that is not busy; more would only cost time at each start.
constexpr int kLookAhead = 64;

// Idle connections a pass keeps at least: a list's servers, for most lists.
constexpr long kKeptConnections = 100;

std::string HostOf(const std::string& url)
{
    const auto parts =
        FetchAddress::Split(FetchAddress::Canonicalize(FetchAddress::FullAddress(url)));
    return parts ? AsciiText::Lower(parts->server) : std::string();
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

void CheckPass::SetParallelChecks(int count)
{
    m_parallelChecks.store(std::clamp(count, 1, kMostParallelChecks));
}

void CheckPass::SetConfirmSeconds(int seconds)
{
    m_confirmSeconds.store(std::clamp(seconds, 0, kMostConfirmSeconds));
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
    std::lock_guard lock(m_scheduleMutex);
    if (!m_schedule)
        return;
    for (const auto& check : m_schedule->running)
        check->transfer->Cancel(); // wakes the loop
    m_schedule->loop->Wake();      // a pass waiting for a second look
    m_schedule->lockWaiter->Wake();
}

void CheckPass::RunPass()
{
    Schedule schedule;
    {
        std::lock_guard lock(m_owedMutex);
        schedule.only.swap(m_owedSites);
    }
    // A request of another pass object sharing the gate runs this one whole,
    // as it always has.
    const bool whole = m_wholePassOwed.exchange(false) || schedule.only.empty();
    if (whole)
        schedule.only.clear();
    // The observer hears of whole passes only: what it sums up is a pass.
    schedule.observer = whole ? m_observer : nullptr;
    m_alerts.PassStarted();
    schedule.parallel = m_parallelChecks.load();
    schedule.confirm = std::chrono::seconds(m_confirmSeconds.load());
    schedule.lockWaiter = FetchWaiter::Sleeping();
    // A loop kept from pass to pass keeps the connections and DNS answers.
    schedule.loop = TransferLoop::Borrow();
    // A list goes round its servers: a connection kept until the walk
    // comes back to its server saves a round trip or two for each page.
    schedule.loop->KeepConnections(std::max(kKeptConnections, 4L * schedule.parallel));
    {
        std::lock_guard lock(m_scheduleMutex);
        m_schedule = &schedule;
    }
    // Also when an exception ends the pass: no transfer may outlive it, and
    // no row may be left showing "CHECKING".
    struct End
    {
        CheckPass& pass;
        Schedule& schedule;
        ~End() { pass.EndSchedule(schedule); }
    } end{*this, schedule};
    if (schedule.observer)
        schedule.observer->PassStarted();

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

    using SteadyClock = std::chrono::steady_clock;
    std::vector<Check*> ended;
    for (;;) {
        const bool stopping = m_stopped.load() || TransferLoop::Closing();
        if (!stopping)
            StartChecks(schedule);
        if (schedule.running.empty()) {
            // Held only while transfers of the pass run: a fetch of the
            // desktop's own never waits for more than those.
            if (schedule.lockHeld) {
                FetchLock::Instance().Release();
                schedule.lockHeld = false;
            }
            // The count is read again each time: rows removed meanwhile end
            // the pass early instead of letting it read past the list.
            const bool allTaken = whole ? schedule.next >= m_list.RowCount()
                                        : schedule.nextOnly >= schedule.only.size();
            if (stopping || (schedule.waiting.empty() && allTaken))
                break;
        }
        auto wait = std::chrono::milliseconds(1000);
        if (!schedule.waiting.empty())
            wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(
                                  schedule.waiting.front()->due - SteadyClock::now()),
                              std::chrono::milliseconds(0), wait);
        schedule.loop->Step(wait);
        // The checks that ended, in the order they did, each on its own.
        ended.clear();
        for (const auto& check : schedule.running)
            if (check->ended)
                ended.push_back(check.get());
        for (Check* done : ended) {
            std::unique_ptr<Check> check;
            {
                std::lock_guard lock(m_scheduleMutex);
                const auto it = std::find_if(schedule.running.begin(), schedule.running.end(),
                                             [done](const auto& c) { return c.get() == done; });
                check = std::move(*it);
                schedule.running.erase(it);
            }
            --schedule.perHost[check->host];
            Conclude(schedule, std::move(check));
        }
    }
    EndSchedule(schedule);

    const bool offline = m_hold.End(m_probe ? *m_probe : m_routes);
    unsettled.ended = true;
    // Also for an empty list: the file then holds no entries. An offline
    // pass that wrote nothing leaves the file as it was.
    bool saved = true;
    if (m_saver && !(offline && m_written.load() == 0))
        saved = m_saver->SaveAndWait(m_list);
    if (m_recorder)
        m_recorder->PassFinished();
    if (schedule.observer) {
        if (offline)
            schedule.observer->PassOffline();
        schedule.observer->PassEnded(saved);
    }
}

void CheckPass::EndSchedule(Schedule& schedule)
{
    if (!schedule.loop)
        return; // ended already
    for (const auto& check : schedule.running)
        check->transfer->Cancel();
    while (schedule.loop->Running() > 0)
        schedule.loop->Step(std::chrono::milliseconds(100));
    if (schedule.lockHeld)
        FetchLock::Instance().Release();
    schedule.lockHeld = false;
    {
        std::lock_guard lock(m_scheduleMutex);
        m_schedule = nullptr;
    }
    for (auto* checks : {&schedule.running, &schedule.waiting})
        for (const auto& check : *checks)
            RestoreStatus(m_list, check->id, check->turn.status);
    schedule.running.clear();
    schedule.waiting.clear();
    TransferLoop::Return(schedule.loop);
    schedule.loop = nullptr;
}

bool CheckPass::MayBegin(Schedule& schedule)
{
    FetchLock& lock = FetchLock::Instance();
    if (schedule.lockHeld)
        return !lock.Contended(); // the waiting fetch goes once those under way have ended
    schedule.lockHeld = lock.Acquire(*schedule.lockWaiter, [this] { return m_stopped.load(); });
    return schedule.lockHeld;
}

void CheckPass::StartChecks(Schedule& schedule)
{
    const auto hostFree = [&](const std::string& host) {
        return schedule.perHost[host] < kChecksPerHost;
    };
    while (static_cast<int>(schedule.running.size()) < schedule.parallel && !m_stopped.load()) {
        // A second look that is due, before any new row.
        const auto now = std::chrono::steady_clock::now();
        const auto due =
            std::find_if(schedule.waiting.begin(), schedule.waiting.end(),
                         [&](const auto& c) { return c->due <= now && hostFree(c->host); });
        if (due != schedule.waiting.end()) {
            if (!MayBegin(schedule))
                return;
            std::unique_ptr<Check> check = std::move(*due);
            schedule.waiting.erase(due);
            // The entry as it is now: gone or edited, the look is not taken.
            bool same = false;
            m_list.UpdateEntry(check->id, [&](SiteEntry& e) -> unsigned {
                same = e.field(SiteEntry::Url) == check->turn.url &&
                       e.field(SiteEntry::SearchText) == check->turn.searchText;
                return 0;
            });
            if (!same) {
                RestoreStatus(m_list, check->id, check->turn.status);
                continue;
            }
            Begin(schedule, std::move(check));
            continue;
        }
        if (!schedule.only.empty()) {
            // Single sites, in turn: one whose host is busy waits its turn.
            if (schedule.nextOnly >= schedule.only.size() || !MayBegin(schedule))
                return;
            const EntryId id = schedule.only[schedule.nextOnly];
            if (schedule.started.count(id) == 0 && TakeRow(schedule, -1, id) == Take::Busy)
                return;
            ++schedule.nextOnly; // checked, asked for twice, or gone
            continue;
        }
        // Past the rows already started, the first one whose host is free:
        // one whose host has nothing under way first, so that a host's
        // second page tends to come once its first has ended, on the
        // connection that one leaves behind.
        const int rows = m_list.RowCount();
        while (schedule.next < rows && schedule.started.count(m_list.IdAt(schedule.next)) > 0)
            ++schedule.next;
        const int end = std::min(rows, schedule.next + kLookAhead);
        int chosen = -1;
        for (int busyAllowed = 0; busyAllowed < kChecksPerHost && chosen < 0; ++busyAllowed) {
            for (int row = schedule.next; row < end; ++row) {
                const EntryId id = m_list.IdAt(row);
                if (id == 0 || schedule.started.count(id) > 0)
                    continue;
                // Looked at again and again while its host is busy: its host
                // is worked out once (TakeRow takes the address afresh).
                auto known = schedule.hostOf.find(id);
                if (known == schedule.hostOf.end())
                    known =
                        schedule.hostOf.emplace(id, HostOf(m_list.Text(row, SiteEntry::Url))).first;
                if (schedule.perHost[known->second] <= busyAllowed) {
                    chosen = row;
                    break;
                }
            }
        }
        bool started = false;
        if (chosen >= 0) {
            if (!MayBegin(schedule))
                return;
            started = TakeRow(schedule, chosen, 0) == Take::Started;
        }
        if (!started)
            return;
    }
}

CheckPass::Take CheckPass::TakeRow(Schedule& schedule, int row, EntryId only)
{
    auto check = std::make_unique<Check>();
    Turn& turn = check->turn;
    bool busy = false;
    const auto take = [&](SiteEntry& e) -> unsigned {
        // The host as the row holds it now: it may have been edited since
        // it was looked at.
        check->host = HostOf(e.field(SiteEntry::Url));
        if (schedule.perHost[check->host] >= kChecksPerHost) {
            busy = true;
            return 0;
        }
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
        return Take::Gone; // the row went away just now; the walk ends at the count
    if (busy) {
        schedule.hostOf[id] = check->host;
        return Take::Busy;
    }
    // What the entry's last check said is in memory once this run has
    // checked it; before that only the history knows. Without it a site
    // that wanted a log-in before a start would count as down: a real
    // outage after it would raise no alert, and a log-in that works would
    // be told as the site back up.
    if (turn.reason.empty() && turn.status == kError && m_recorder)
        turn.reason = m_recorder->LastReason(HistoryStore::SiteKey(turn.url));
    schedule.started.insert(id);
    if (only == 0 && row == schedule.next)
        ++schedule.next;
    check->id = id;
    check->wasLogIn = turn.reason == FetchOutcome::kNeedsLogIn;
    Begin(schedule, std::move(check));
    return Take::Started;
}

void CheckPass::Begin(Schedule& schedule, std::unique_ptr<Check> check)
{
    Check& c = *check;
    c.ended = false;
    c.started = std::chrono::steady_clock::now();
    c.transfer = std::make_unique<PageTransfer>(c.turn.url, std::string(), false, nullptr);
    c.transfer->SetSearchText(c.turn.searchText);
    ++schedule.perHost[c.host];
    {
        std::lock_guard lock(m_scheduleMutex);
        schedule.running.push_back(std::move(check));
    }
    // A Stop that came before the transfer was listed has not reached it.
    if (m_stopped.load())
        c.transfer->Cancel();
    if (!schedule.loop->Begin(*c.transfer, [&c] { c.ended = true; })) {
        c.transfer->Cancel(); // the process is ending: it never ran
        c.ended = true;
    }
}

void CheckPass::Conclude(Schedule& schedule, std::unique_ptr<Check> check)
{
    const Turn& turn = check->turn;
    const EntryId id = check->id;
    PageTransfer& transfer = *check->transfer;
    // A cancelled fetch looks like a failed one: it says nothing of the
    // site, whose row gets its earlier Status back.
    if (m_stopped.load() || transfer.Cancelled()) {
        RestoreStatus(m_list, id, turn.status);
        return;
    }
    const auto fetchTime = std::chrono::steady_clock::now() - check->started;
    const FetchOutcome outcome = transfer.Outcome();
    auto done = std::make_shared<Finished>();
    done->page = transfer.PageText().TakeText();
    done->reason = Verdict(outcome, done->page, turn.searchText);
    check->transfer.reset(); // its connection stays with the loop
    const bool found = done->reason == kTextFound;
    const bool logIn = outcome.failure == FetchOutcome::kNeedsLogIn;
    // A log-in wanted is not an outage: no second look for it.
    if (!found && !logIn && schedule.confirm.count() > 0 && !check->secondLook) {
        // Only a second failure counts; the row shows "CHECKING" till then.
        check->secondLook = true;
        check->due = std::chrono::steady_clock::now() + schedule.confirm;
        schedule.waiting.push_back(std::move(check));
        return;
    }
    done->id = id;
    done->url = turn.url;
    done->searchText = turn.searchText;
    done->status = turn.status;
    done->httpStatus = static_cast<int>(outcome.status);
    done->fetchMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(fetchTime).count());
    done->seconds = std::chrono::duration<double>(fetchTime).count();
    done->checkedAt = Clock::Now();
    done->certificateExpiry = outcome.certificateExpiry;
    // Anything but "ERROR" starts an outage, a "CHECKING" left in the file
    // by a save during an earlier pass included. A site that only wanted a
    // log-in was not down, so its next failure starts one; for a log-in
    // itself the flag tells the first check that wanted it.
    done->firstFailure = logIn ? !check->wasLogIn : turn.status != kError || check->wasLogIn;
    done->wasLogIn = check->wasLogIn;
    done->observer = schedule.observer;

    // A site that could not be reached may only show that this computer
    // has no network: its outcome may wait for the rest of the pass.
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
