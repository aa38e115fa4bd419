#pragma once

#include "monitor/CheckRecord.h"

#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;

// The history of every check, in an SQLite database: one row per check,
// sites keyed by their normalised address. Several processes may use one
// file at once (WAL mode; a writer that finds the file locked waits up to
// kBusyTimeoutMs). One object is one connection, used by one thread at a
// time. Nothing is thrown: a failed call returns false and leaves a
// one-line reason in Error(); after a failure the caller closes and opens
// again.
class HistoryStore
{
public:
    static constexpr int kKeepDays = 400;
    static constexpr int kBusyTimeoutMs = 5000;
    static constexpr const char* kFileName = "history.sqlite";
    // A check written at a second its site already holds moves on by a
    // second (see Write): reads "up to now" reach this far past it.
    static constexpr std::time_t kAheadSeconds = 60;

    struct Uptime
    {
        long long checks = 0;
        long long ok = 0;
        // Percentage of checks that were OK; negative when there were none.
        double Percent() const { return checks > 0 ? 100.0 * double(ok) / double(checks) : -1.0; }
    };

    // Consecutive failed checks of one site. It ends with the first OK check
    // after them; `end` stays 0 while the site has not been seen up again.
    struct Outage
    {
        std::time_t start = 0;
        std::time_t end = 0;
        std::string reason; // the first failed check's
        long long Length(std::time_t now) const { return (end ? end : now) - start; }
    };

    // Checks of one site within [start, start + width).
    struct Bucket
    {
        std::time_t start = 0;
        int checks = 0;
        int failed = 0;
        int averageMs = -1; // over the OK checks; -1 when none was OK
    };

    explicit HistoryStore(std::string path);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // $XDG_DATA_HOME/Kestrelle/history.sqlite, beside the site list.
    static std::string DefaultPath();

    // The stable identity of a site: the address as the fetcher reads it,
    // scheme and server in lower case, a default port and the fragment left
    // out ("HTTP://Shop.test:80/a#x" and "shop.test/a" are one site). An
    // address the fetcher cannot read is kept as typed, without blanks.
    static std::string SiteKey(const std::string& url);

    // "2 d 3 h", "1 h 30 min", "45 min", "20 s".
    static std::string LengthText(long long seconds);

    // Writing makes the file (mode 0600) and its tables when missing.
    // Reading never makes anything: a missing file fails with Missing() set.
    bool OpenForWriting();
    bool OpenForReading();
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    bool Missing() const { return m_missing; }
    const std::string& Error() const { return m_error; }
    const std::string& Path() const { return m_path; }

    // All records in one transaction: all are kept or none. A check of a
    // site at a second that already holds one (two processes checking the
    // same address at once) is kept a second later.
    bool Write(const std::vector<CheckRecord>& records);

    // Drops the checks older than kKeepDays, at most once a day across all
    // processes that share the file.
    bool PruneIfDue(std::time_t now);

    // Reads, for the checks of `siteKey` at or after `from` and before `to`.
    // A site without checks gives empty figures, not a failure.
    bool ReadUptime(const std::string& siteKey, std::time_t from, std::time_t to, Uptime& out);
    // The outages that overlap [from, to), oldest first; one that began
    // before `from` keeps its real start.
    bool ReadOutages(const std::string& siteKey, std::time_t from, std::time_t to,
                     std::vector<Outage>& out);
    // Only buckets that hold checks, oldest first.
    bool ReadBuckets(const std::string& siteKey, std::time_t from, std::time_t to,
                     int bucketSeconds, std::vector<Bucket>& out);
    bool ReadSiteKeys(std::vector<std::string>& out);
    // The reason of the site's latest check; empty for a site without
    // checks, or whose latest check found its text.
    bool ReadLastReason(const std::string& siteKey, std::string& out);

private:
    bool Open(int flags);
    bool Exec(const char* sql);
    bool Fail(const std::string& what);
    bool SiteId(const std::string& key, bool create, long long& id);
    bool ReasonId(const std::string& text, long long& id);
    bool WriteOne(const CheckRecord& record);

    std::string m_path;
    sqlite3* m_db = nullptr;
    std::string m_error;
    bool m_missing = false;
    std::unordered_map<std::string, long long> m_siteIds;
    std::unordered_map<std::string, long long> m_reasonIds;
};
