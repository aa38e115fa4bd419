#include "monitor/CheckPass.h"

#include "monitor/BrowserText.h"
#include "monitor/CheckRecorder.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryStore.h"
#include "monitor/SiteList.h"
#include "net/FetchAddress.h"
#include "net/FetchLock.h"
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
    // Anything but "ERROR" starts an outage, a "CHECKING" left in the file
    // by a save during an earlier pass included.
    bool firstFailure = false;
    std::string host; // of the address, lower case: the bound per host counts it
    std::unique_ptr<PageTransfer> transfer;
    std::chrono::steady_clock::time_point started;
    bool ended = false;
    bool secondLook = false;                   // the look again after a failure
    std::uint64_t questions = 0;               // PageTransfer::Questions() at its start
    bool heldUp = false;                       // taken again after a log-in question
    std::chrono::steady_clock::time_point due; // of the second look
};

struct CheckPass::Schedule
{
    int parallel = 1;
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
    m_alerts.PassStarted();
    Schedule schedule;
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
    if (m_observer)
        m_observer->PassStarted();

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
            if (stopping || (schedule.waiting.empty() && schedule.next >= m_list.RowCount()))
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

    // Also for an empty list: the file then holds no entries.
    bool saved = true;
    if (m_saver)
        saved = m_saver->SaveAndWait(m_list);
    if (m_recorder)
        m_recorder->PassFinished();
    if (m_observer)
        m_observer->PassEnded(saved);
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
        // Past the rows already started, the first one whose host is free.
        const int rows = m_list.RowCount();
        while (schedule.next < rows && schedule.started.count(m_list.IdAt(schedule.next)) > 0)
            ++schedule.next;
        bool started = false;
        for (int row = schedule.next; row < std::min(rows, schedule.next + kLookAhead); ++row) {
            const EntryId id = m_list.IdAt(row);
            if (id == 0 || schedule.started.count(id) > 0)
                continue;
            // Looked at again and again while its host is busy: its host
            // is worked out once (TakeRow takes the address afresh).
            auto known = schedule.hostOf.find(id);
            if (known == schedule.hostOf.end())
                known = schedule.hostOf.emplace(id, HostOf(m_list.Text(row, SiteEntry::Url))).first;
            if (!hostFree(known->second))
                continue;
            if (!MayBegin(schedule))
                return;
            started = TakeRow(schedule, row);
            break;
        }
        if (!started)
            return;
    }
}

bool CheckPass::TakeRow(Schedule& schedule, int row)
{
    auto check = std::make_unique<Check>();
    Turn& turn = check->turn;
    bool busy = false;
    const EntryId id = m_list.UpdateRow(row, [&](SiteEntry& e) -> unsigned {
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
        e.field(SiteEntry::Status) = kChecking;
        return kStatusBit;
    });
    if (id == 0)
        return false; // the row went away just now; the walk ends at the count
    if (busy) {
        schedule.hostOf[id] = check->host;
        return false;
    }
    schedule.started.insert(id);
    if (row == schedule.next)
        ++schedule.next;
    check->id = id;
    check->firstFailure = turn.status != kError;
    Begin(schedule, std::move(check));
    return true;
}

void CheckPass::Begin(Schedule& schedule, std::unique_ptr<Check> check)
{
    Check& c = *check;
    c.ended = false;
    c.started = std::chrono::steady_clock::now();
    c.questions = PageTransfer::Questions();
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
    std::string page = transfer.PageText().TakeText();
    const std::string reason = Verdict(outcome, page, turn.searchText);
    const bool found = reason == kTextFound;
    if (!found && !check->heldUp && !transfer.CredentialsTried() &&
        PageTransfer::Questions() != check->questions) {
        // A log-in question was open while this page came, and held up
        // the loop's transfers: its time bounds ran out on the user's
        // time, not the server's. Taken again at once, once.
        check->heldUp = true;
        check->due = std::chrono::steady_clock::now();
        check->transfer.reset();
        schedule.waiting.insert(schedule.waiting.begin(), std::move(check));
        return;
    }
    check->transfer.reset(); // its connection stays with the loop
    if (!found && schedule.confirm.count() > 0 && !check->secondLook) {
        // Only a second failure counts; the row shows "CHECKING" till then.
        check->secondLook = true;
        check->due = std::chrono::steady_clock::now() + schedule.confirm;
        schedule.waiting.push_back(std::move(check));
        return;
    }
    const double seconds = std::chrono::duration<double>(fetchTime).count();
    const std::time_t checkedAt = Clock::Now();
    const std::string stamp = TimeText::Local(checkedAt);
    const bool firstFailure = check->firstFailure;

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
            return 0;
        }
        fate = Fate::Written;
        e.field(SiteEntry::Status) = found ? kOk : kError;
        e.mark = found ? 0 : SiteEntry::kErrorMark;
        e.field(SiteEntry::LastCheck) = stamp;
        e.field(SiteEntry::LastResponse) = std::move(page);
        e.reason = reason;
        e.seconds = seconds;
        alert.emailAddress = e.field(SiteEntry::EmailAddress);
        return kStatusBit | SiteList::ColumnBit(SiteEntry::LastCheck) |
               SiteList::ColumnBit(SiteEntry::LastResponse) | SiteList::Observer::kMarkBit;
    });
    if (fate == Fate::Edited)
        RestoreStatus(m_list, id, turn.status); // the outcome belongs to the old values
    if (fate != Fate::Written)
        return; // removed: nothing to write, nobody to alert

    RowResult result;
    result.id = id;
    result.url = FetchAddress::Shown(turn.url);
    result.siteName = SiteName(turn.url);
    result.firstFailure = firstFailure;
    result.reason = reason;
    result.httpStatus = static_cast<int>(outcome.status);
    result.seconds = seconds;
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
    if (m_recorder)
        m_recorder->Record(CheckRecord{
            checkedAt, HistoryStore::SiteKey(turn.url), found, result.reason, result.httpStatus,
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
