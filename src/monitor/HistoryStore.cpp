#include "monitor/HistoryStore.h"

#include "net/FetchAddress.h"
#include "platform/AppPaths.h"

#include <sqlite3.h>

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kSchemaVersion = 1;
constexpr std::time_t kDay = 24 * 60 * 60;

// Checks are stored without a row id, in the order of (site, at): a site's
// checks lie together on disk, and reading a month of one site touches only
// that month. The flag and the status code of an OK check take no room at
// all (SQLite stores 0 and 1 in the row's header), a reason only an id.
const char* const kSchema = R"(
CREATE TABLE IF NOT EXISTS sites(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS reasons(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS checks(
    site INTEGER NOT NULL, at INTEGER NOT NULL, ok INTEGER NOT NULL,
    http INTEGER NOT NULL, ms INTEGER NOT NULL, reason INTEGER,
    PRIMARY KEY(site, at)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
)";

// One prepared statement, finalised when it goes.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return m_stmt != nullptr; }
    Statement& Bind(int at, long long value)
    {
        sqlite3_bind_int64(m_stmt, at, value);
        return *this;
    }
    Statement& Bind(int at, const std::string& text)
    {
        sqlite3_bind_text(m_stmt, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindNull(int at)
    {
        sqlite3_bind_null(m_stmt, at);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return sqlite3_step(m_stmt); }
    void Reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    long long Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    std::string Text(int column) const
    {
        const auto* text = sqlite3_column_text(m_stmt, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

std::string Lower(std::string text)
{
    for (char& ch : text)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

} // namespace

HistoryStore::HistoryStore(std::string path) : m_path(std::move(path)) {}

HistoryStore::~HistoryStore()
{
    Close();
}

std::string HistoryStore::DefaultPath()
{
    std::string path = AppPaths::DataFile();
    path.resize(path.rfind(AppPaths::kSeparator) + 1);
    return path + kFileName;
}

std::string HistoryStore::SiteKey(const std::string& url)
{
    const std::string full = FetchAddress::FullAddress(url);
    const auto parts = FetchAddress::Split(FetchAddress::Canonicalize(full));
    if (!parts)
        return full;
    std::string key = parts->scheme + "://" + Lower(parts->server);
    if (parts->port != (parts->secure() ? 443 : 80))
        key += ":" + std::to_string(parts->port);
    return key + parts->objectPath;
}

std::string HistoryStore::LengthText(long long seconds)
{
    if (seconds < 60)
        return std::to_string(seconds < 0 ? 0 : seconds) + " s";
    const long long minutes = seconds / 60, hours = minutes / 60, days = hours / 24;
    if (days > 0)
        return std::to_string(days) + " d " + std::to_string(hours % 24) + " h";
    if (hours > 0)
        return std::to_string(hours) + " h " + std::to_string(minutes % 60) + " min";
    return std::to_string(minutes) + " min";
}

bool HistoryStore::OpenForWriting()
{
    Close();
    // Made by hand first, private to the user: it names the user's sites.
    // SQLite gives its side files the same mode.
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    if (!Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))
        return false;
    // Kept even when a pass is cut short by a power loss, which the WAL
    // journal with NORMAL syncs gives at a fraction of FULL's cost.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL"))
        return false;
    Statement version(m_db, "PRAGMA user_version");
    if (!version || version.Step() != SQLITE_ROW)
        return Fail("cannot read the history's version");
    const long long found = version.Int(0);
    if (found > kSchemaVersion)
        return Fail("the history was written by a newer Kestrelle");
    if (found == kSchemaVersion)
        return true;
    return Exec("BEGIN IMMEDIATE") && Exec(kSchema) && Exec("PRAGMA user_version=1") &&
           Exec("COMMIT");
}

bool HistoryStore::OpenForReading()
{
    Close();
    struct stat st;
    if (::stat(m_path.c_str(), &st) != 0 && errno == ENOENT) {
        m_missing = true;
        m_error = "no checks have been recorded yet";
        return false;
    }
    // Read-write even for reading: a reader of a WAL file may have to set
    // up its shared index. A file the user may not write is opened
    // read-only by SQLite all the same.
    if (!Open(SQLITE_OPEN_READWRITE))
        return false;
    Statement version(m_db, "PRAGMA user_version");
    if (!version || version.Step() != SQLITE_ROW)
        return Fail("cannot read the history");
    if (version.Int(0) != kSchemaVersion)
        return Fail(version.Int(0) == 0 ? "the history holds no tables"
                                        : "the history was written by a newer Kestrelle");
    return true;
}

bool HistoryStore::Open(int flags)
{
    m_missing = false;
    m_error.clear();
    if (sqlite3_open_v2(m_path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        Fail("cannot open " + m_path);
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    return true;
}

void HistoryStore::Close()
{
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_siteIds.clear();
    m_reasonIds.clear();
}

bool HistoryStore::Exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return Fail("cannot use " + m_path);
    return true;
}

bool HistoryStore::Fail(const std::string& what)
{
    m_error = what;
    if (m_db) {
        m_error += ": ";
        m_error += sqlite3_errmsg(m_db);
    }
    return false;
}

bool HistoryStore::SiteId(const std::string& key, bool create, long long& id)
{
    if (const auto known = m_siteIds.find(key); known != m_siteIds.end()) {
        id = known->second;
        return true;
    }
    if (create) {
        Statement insert(m_db, "INSERT OR IGNORE INTO sites(key) VALUES(?)");
        if (!insert || insert.Bind(1, key).Step() != SQLITE_DONE)
            return Fail("cannot record a site");
    }
    Statement select(m_db, "SELECT id FROM sites WHERE key=?");
    if (!select)
        return Fail("cannot read the sites");
    const int step = select.Bind(1, key).Step();
    if (step == SQLITE_DONE) {
        id = 0; // never checked
        return true;
    }
    if (step != SQLITE_ROW)
        return Fail("cannot read the sites");
    id = select.Int(0);
    m_siteIds.emplace(key, id);
    return true;
}

bool HistoryStore::ReasonId(const std::string& text, long long& id)
{
    if (const auto known = m_reasonIds.find(text); known != m_reasonIds.end()) {
        id = known->second;
        return true;
    }
    Statement insert(m_db, "INSERT OR IGNORE INTO reasons(text) VALUES(?)");
    Statement select(m_db, "SELECT id FROM reasons WHERE text=?");
    if (!insert || !select || insert.Bind(1, text).Step() != SQLITE_DONE ||
        select.Bind(1, text).Step() != SQLITE_ROW)
        return Fail("cannot record a reason");
    id = select.Int(0);
    m_reasonIds.emplace(text, id);
    return true;
}

bool HistoryStore::Write(const std::vector<CheckRecord>& records)
{
    if (!m_db)
        return Fail("the history is not open");
    if (!Exec("BEGIN IMMEDIATE"))
        return false;
    Statement insert(m_db, "INSERT INTO checks(site, at, ok, http, ms, reason) "
                           "VALUES(?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING");
    bool ok = static_cast<bool>(insert);
    if (!ok)
        Fail("cannot record the checks");
    for (size_t i = 0; ok && i < records.size(); ++i) {
        const CheckRecord& r = records[i];
        long long site = 0, reason = 0;
        ok = SiteId(r.siteKey, true, site) && (r.reason.empty() || ReasonId(r.reason, reason));
        // A taken second means the same site checked twice at once: the
        // later one moves on by a second rather than being lost.
        for (long long at = r.at; ok; ++at) {
            insert.Reset();
            insert.Bind(1, site).Bind(2, at).Bind(3, r.ok ? 1 : 0).Bind(4, r.httpStatus);
            insert.Bind(5, r.responseMs);
            if (reason)
                insert.Bind(6, reason);
            else
                insert.BindNull(6);
            if (insert.Step() != SQLITE_DONE)
                ok = Fail("cannot record the checks");
            else if (sqlite3_changes(m_db) > 0)
                break;
        }
    }
    if (ok && Exec("COMMIT"))
        return true;
    const std::string error = m_error;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    // Ids read inside the lost transaction may not exist.
    m_siteIds.clear();
    m_reasonIds.clear();
    m_error = error;
    return false;
}

bool HistoryStore::PruneIfDue(std::time_t now)
{
    if (!m_db)
        return Fail("the history is not open");
    {
        Statement last(m_db, "SELECT value FROM meta WHERE name='pruned'");
        if (!last)
            return Fail("cannot read the history");
        if (last.Step() == SQLITE_ROW && now - last.Int(0) < kDay && last.Int(0) <= now)
            return true;
    }
    if (!Exec("BEGIN IMMEDIATE"))
        return false;
    // Site by site, so that each delete is a range of the key.
    Statement sites(m_db, "SELECT id FROM sites");
    Statement drop(m_db, "DELETE FROM checks WHERE site=? AND at<?");
    Statement mark(m_db, "INSERT OR REPLACE INTO meta(name, value) VALUES('pruned', ?)");
    bool ok = sites && drop && mark;
    int step = SQLITE_DONE;
    while (ok && (step = sites.Step()) == SQLITE_ROW) {
        drop.Reset();
        ok = drop.Bind(1, sites.Int(0)).Bind(2, now - kKeepDays * kDay).Step() == SQLITE_DONE;
    }
    ok = ok && step == SQLITE_DONE && mark.Bind(1, now).Step() == SQLITE_DONE;
    if (ok && Exec("COMMIT"))
        return true;
    Fail("cannot drop old checks");
    const std::string error = m_error;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_error = error;
    return false;
}

bool HistoryStore::ReadUptime(const std::string& siteKey, std::time_t from, std::time_t to,
                              Uptime& out)
{
    out = Uptime();
    long long site = 0;
    if (!m_db || !SiteId(siteKey, false, site))
        return Fail("cannot read the history");
    if (site == 0)
        return true;
    Statement count(m_db, "SELECT count(*), total(ok) FROM checks WHERE site=? AND at>=? AND at<?");
    if (!count || count.Bind(1, site).Bind(2, from).Bind(3, to).Step() != SQLITE_ROW)
        return Fail("cannot read the history");
    out.checks = count.Int(0);
    out.ok = count.Int(1);
    return true;
}

bool HistoryStore::ReadOutages(const std::string& siteKey, std::time_t from, std::time_t to,
                               std::vector<Outage>& out)
{
    out.clear();
    long long site = 0;
    if (!m_db || !SiteId(siteKey, false, site))
        return Fail("cannot read the history");
    if (site == 0)
        return true;
    // Only the checks where the status changes come back. Reading starts at
    // the last OK check before `from`, so that an outage under way at
    // `from` keeps its start.
    Statement changes(m_db, R"(
        SELECT at, ok, (SELECT text FROM reasons WHERE id=reason) FROM (
            SELECT at, ok, reason, lag(ok) OVER (ORDER BY at) AS before FROM checks
            WHERE site=?1 AND at<?3 AND at>=coalesce(
                (SELECT max(at) FROM checks WHERE site=?1 AND at<?2 AND ok=1), ?2))
        WHERE before IS NULL OR before<>ok ORDER BY at)");
    if (!changes)
        return Fail("cannot read the history");
    changes.Bind(1, site).Bind(2, from).Bind(3, to);
    int step;
    while ((step = changes.Step()) == SQLITE_ROW) {
        if (changes.Int(1) == 0) {
            Outage outage;
            outage.start = changes.Int(0);
            outage.reason = changes.Text(2);
            out.push_back(std::move(outage));
        } else if (!out.empty() && out.back().end == 0) {
            out.back().end = changes.Int(0);
        }
    }
    if (step != SQLITE_DONE)
        return Fail("cannot read the history");
    if (!out.empty() && out.front().end != 0 && out.front().end <= from)
        out.erase(out.begin());
    return true;
}

bool HistoryStore::ReadBuckets(const std::string& siteKey, std::time_t from, std::time_t to,
                               int bucketSeconds, std::vector<Bucket>& out)
{
    out.clear();
    long long site = 0;
    if (!m_db || !SiteId(siteKey, false, site))
        return Fail("cannot read the history");
    if (site == 0 || bucketSeconds <= 0)
        return true;
    Statement buckets(m_db, R"(
        SELECT (at-?2)/?4, count(*), count(*)-total(ok), avg(CASE WHEN ok THEN ms END)
        FROM checks WHERE site=?1 AND at>=?2 AND at<?3 GROUP BY 1 ORDER BY 1)");
    if (!buckets)
        return Fail("cannot read the history");
    buckets.Bind(1, site).Bind(2, from).Bind(3, to).Bind(4, bucketSeconds);
    int step;
    while ((step = buckets.Step()) == SQLITE_ROW) {
        Bucket b;
        b.start = from + static_cast<std::time_t>(buckets.Int(0)) * bucketSeconds;
        b.checks = static_cast<int>(buckets.Int(1));
        b.failed = static_cast<int>(buckets.Int(2));
        b.averageMs = buckets.IsNull(3) ? -1 : static_cast<int>(buckets.Int(3));
        out.push_back(b);
    }
    if (step != SQLITE_DONE)
        return Fail("cannot read the history");
    return true;
}

bool HistoryStore::ReadLastReason(const std::string& siteKey, std::string& out)
{
    out.clear();
    if (!m_db)
        return Fail("cannot read the history");
    Statement last(m_db, R"(
        SELECT (SELECT text FROM reasons WHERE id=checks.reason) FROM checks
        JOIN sites ON sites.id=checks.site WHERE sites.key=?1 ORDER BY at DESC LIMIT 1)");
    if (!last)
        return Fail("cannot read the history");
    last.Bind(1, siteKey);
    const int step = last.Step();
    if (step == SQLITE_ROW)
        out = last.Text(0);
    else if (step != SQLITE_DONE)
        return Fail("cannot read the history");
    return true;
}

bool HistoryStore::ReadSiteKeys(std::vector<std::string>& out)
{
    out.clear();
    if (!m_db)
        return Fail("the history is not open");
    Statement keys(m_db, "SELECT key FROM sites ORDER BY key");
    if (!keys)
        return Fail("cannot read the history");
    int step;
    while ((step = keys.Step()) == SQLITE_ROW)
        out.push_back(keys.Text(0));
    if (step != SQLITE_DONE)
        return Fail("cannot read the history");
    return true;
}
