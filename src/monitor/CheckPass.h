#pragma once

#include "monitor/AlertSink.h"
#include "monitor/OfflineHold.h"
#include "monitor/PassGate.h"
#include "monitor/RouteProbe.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct FetchOutcome;
class CheckRecorder;
class DataFileSaver;
class SiteList;

// One check pass over a site list: each row is marked "CHECKING" when its
// page is asked for, its search text looked for, and the outcome written
// into the entry as soon as its page has come; a site whose text is missing
// goes to the alert sink. At the end the list is saved to the data file.
//
// Several pages are fetched at once (SetParallelChecks), at most
// kChecksPerHost of them from one host, so that a pass takes about as long
// as its slowest sites rather than the sum of all. Rows are taken in row
// order; one whose host is busy lets a later row of another host go first.
// Outcomes are handled one at a time on the pass's thread, in the order the
// pages end. With one check at a time the pass goes row after row.
//
// The pass walks by index but writes by identity: the user may add, remove,
// sort and edit rows while fetches wait, and the outcome must reach the
// entry whose page was fetched, wherever it now stands. An entry removed
// during its fetch gets nothing and raises no alert; one whose URL or search
// text was edited meanwhile gets its earlier Status back, since the outcome
// belongs to the old values.
//
// When the computer has no network every site fails alike, and none of it
// is news about the sites: a pass in which no site could be reached, and
// whose probe confirms that there is no network, writes nothing, alerts
// nobody and tells the observer it was offline (see OfflineHold).
//
// The desktop program and the command-line checker each make one CheckPass
// over their list. All passes of a process go through one gate, so at most
// one runs at a time and requests made meanwhile become one more pass.
class CheckPass
{
public:
    static constexpr const char* kChecking = "CHECKING";
    static constexpr const char* kOk = "OK";
    static constexpr const char* kError = "ERROR";
    static constexpr const char* kTextFound = "text found";
    static constexpr const char* kTextNotFound = "text not found";

    // What the pass tells about each row whose check has ended.
    struct RowResult
    {
        EntryId id = 0;  // the entry the outcome was written to
        std::string url; // as it may be shown: without a password in it
        std::string siteName;
        std::string status;      // kOk or kError
        std::string balloonText; // empty for kOk
        bool firstFailure = false;
        // Why the check ended as it did, one short phrase ("text found",
        // "text not found", ...), the final HTTP status (0 when no answer
        // came) and how long the fetch took.
        std::string reason;
        int httpStatus = 0;
        double seconds = 0;
        std::time_t checkedAt = 0;
        // The server certificate's end of validity; 0 when not https or
        // not known.
        std::time_t certificateExpiry = 0;
    };

    // Told as the pass goes, on the pass's thread. Not owned.
    struct Observer
    {
        virtual ~Observer() = default;
        // Before the first row.
        virtual void PassStarted() {}
        virtual void RowChecked(const RowResult& result) = 0;
        // Before PassEnded, when the pass found the computer offline: the
        // rows it could not reach kept their Status, and none was alerted.
        virtual void PassOffline() {}
        // After the save; `saved` is false when a save was due and failed.
        virtual void PassEnded(bool saved) { (void)saved; }
    };

    // Sixteen at once: over a list of a hundred sites on fifty servers 20 ms
    // away, eight at once cannot come within 1.5 times of what a browser-like
    // sixteen take (a first page costs two round trips and the host's next
    // one, over the kept connection, one: 150 round trips over eight lanes
    // against 200 over sixteen). The bound per host keeps any one server
    // from seeing more than two.
    static constexpr int kDefaultParallelChecks = 16;
    static constexpr int kMostParallelChecks = 64;
    static constexpr int kChecksPerHost = 2;
    static constexpr int kMostConfirmSeconds = 3600;

    // The gate shared by every pass of the process.
    static PassGate& ProcessGate();

    // Without a saver the passes save nothing (the checker without --save).
    // With one, the pass's thread waits at the end until its list is
    // written. The list, the saver, the sink and the gate must outlive the
    // object.
    CheckPass(SiteList& list, DataFileSaver* saver, AlertSink& alerts,
              PassGate& gate = ProcessGate());

    void SetObserver(Observer* observer) { m_observer = observer; }
    // Each written outcome goes to the recorder as well, on the pass's
    // thread; it is told the pass's end before the observer. Not owned.
    void SetRecorder(CheckRecorder* recorder) { m_recorder = recorder; }
    // What confirms that the computer is offline; without one, the
    // system's routing tables (RouteProbe). Not owned.
    void SetProbe(NetworkProbe* probe) { m_probe = probe; }
    // A site that is up on a certificate that runs out within this many
    // days says so as its reason ("certificate expires in 6 days") and goes
    // to the alert sink's CertificateExpiring. 0, the start: never. Any
    // thread; the checks that end afterwards use it.
    void SetCertificateWarnDays(int days) { m_certWarnDays.store(days); }

    // How many pages a pass fetches at once (1 to kMostParallelChecks;
    // others are brought into that range). Read as each pass starts; any
    // thread.
    void SetParallelChecks(int count);
    // With seconds above 0, a site whose check fails is checked once more
    // that long afterwards, while the others go on, and only a second
    // failure counts: its row stays "CHECKING" until then, and the pass
    // ends once every second look has. 0 (the default) counts the first.
    // Read as each pass starts; any thread.
    void SetConfirmSeconds(int seconds);

    // Runs a pass, and the one owed to requests made while it ran. When a
    // pass is running already, the request is remembered and the call
    // returns false at once. Nothing is thrown.
    bool CheckSites();
    // Checks the one entry as a pass checks it, for an entry whose log-in
    // was just given; an entry gone by then is not checked. While a pass
    // runs, the entry is checked when that pass ends. The observer is not
    // told: it hears of whole passes. Nothing is thrown.
    bool CheckSite(EntryId id);

    // The reason a check ends with: the fetch's failure when it had one,
    // else kTextFound when the text went by in the body, is in the page or
    // in the page's text as a browser shows it, else kTextNotFound.
    static std::string Verdict(const FetchOutcome& outcome, const std::string& pageText,
                               const std::string& searchText);

    // Ends the running pass early and keeps every later one from checking,
    // from any thread: the fetches under way are cancelled and their rows
    // get their earlier Status back, as do rows waiting for a second look;
    // rows not reached are left as they are, and the pass then saves and
    // ends as usual. Told to nobody.
    void Stop();

    // The short name of a site for messages: the address up to the slash that
    // begins its path, with every "http://", "HTTP://", "https://",
    // "HTTPS://", "www." and "WWW." removed, and without a password in it.
    static std::string SiteName(const std::string& url);

    // The case-sensitive byte test; an empty search text is always found.
    static bool Found(const std::string& pageText, const std::string& searchText);

    static std::string BalloonText(const std::string& searchText, const std::string& url);
    static std::string BalloonTitle(const std::string& url);

private:
    struct Check;    // one site's check in a pass
    struct Schedule; // the checks of the running pass

    // One check's outcome, between its fetch and its writing.
    struct Finished
    {
        EntryId id = 0;
        std::string url, searchText, status; // status: before the check
        std::string page, reason;
        int httpStatus = 0;
        int fetchMs = 0;
        double seconds = 0;
        std::time_t checkedAt = 0;
        std::time_t certificateExpiry = 0;
        bool firstFailure = false;
        bool wasLogIn = false;        // the check before wanted a log-in
        Observer* observer = nullptr; // none for a check of single sites
    };

    bool RunGate();
    void RunPass();
    // Starts what may start now: due second looks first, then rows (or,
    // for a check of single sites, those entries).
    void StartChecks(Schedule& schedule);
    enum class Take
    {
        Started,
        Busy, // its host has as many checks as it may
        Gone
    };
    Take TakeRow(Schedule& schedule, int row, EntryId only);
    void Begin(Schedule& schedule, std::unique_ptr<Check> check);
    bool MayBegin(Schedule& schedule);
    // Everything that follows from one check's end, in whatever order the
    // checks end: the second look, the offline hold, then WriteOutcome.
    void Conclude(Schedule& schedule, std::unique_ptr<Check> check);
    // The verdict written to the entry, the alerts, the recorder and the
    // observer.
    void WriteOutcome(Finished& done);
    void EndSchedule(Schedule& schedule);

    SiteList& m_list;
    DataFileSaver* m_saver;
    AlertSink& m_alerts;
    PassGate& m_gate;
    Observer* m_observer = nullptr;
    CheckRecorder* m_recorder = nullptr;
    NetworkProbe* m_probe = nullptr;
    RouteProbe m_routes;
    OfflineHold m_hold;
    std::atomic<int> m_written{0}; // outcomes the running pass wrote
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_wholePassOwed{false};
    std::mutex m_owedMutex;
    std::vector<EntryId> m_owedSites; // asked for by CheckSite, not yet checked
    std::atomic<int> m_certWarnDays{0};
    std::atomic<int> m_parallelChecks{kDefaultParallelChecks};
    std::atomic<int> m_confirmSeconds{0};
    std::mutex m_scheduleMutex;
    Schedule* m_schedule = nullptr; // the running pass's, for Stop
};
