#pragma once

#include "monitor/AlertSink.h"
#include "monitor/OfflineHold.h"
#include "monitor/PassGate.h"
#include "monitor/RouteProbe.h"

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

struct FetchOutcome;
class CheckRecorder;
class CPageFetcher;
class DataFileSaver;
class SiteList;

// One check pass over a site list: each row in turn is marked "CHECKING",
// its page fetched, its search text looked for, and the outcome written into
// the entry; a site whose text is missing goes to the alert sink. At the end
// the list is saved to the data file.
//
// The pass walks by index but writes by identity: the user may add, remove,
// sort and edit rows while a fetch waits, and the outcome must reach the
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
    // from any thread: the fetch under way is cancelled and its row gets
    // its earlier Status back, rows not reached are left as they are, and
    // the pass then saves and ends as usual. Told to nobody.
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

    void WriteOutcome(Finished& done);

    bool RunGate();
    void RunPass();
    // The entry at `row`, or the entry `only` wherever it stands.
    void CheckRow(int row, CPageFetcher& fetcher, EntryId only, Observer* observer);

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
    std::mutex m_fetcherMutex;
    CPageFetcher* m_fetcher = nullptr; // the running pass's, for Stop
};
