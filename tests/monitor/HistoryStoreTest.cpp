#include "monitor/HistoryStore.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::time_t kT0 = 1700000000;
constexpr std::time_t kDay = 24 * 60 * 60;
const std::string kSite = "http://shop.test/";

CheckRecord Check(std::time_t at, bool ok, const std::string& reason = "", int ms = 100,
                  const std::string& site = kSite)
{
    return CheckRecord{at, site, ok, reason, ok ? 200 : 503, ms};
}

class HistoryStoreTest : public ::testing::Test
{
protected:
    void Write(const std::vector<CheckRecord>& records)
    {
        HistoryStore writer(path);
        ASSERT_TRUE(writer.OpenForWriting()) << writer.Error();
        ASSERT_TRUE(writer.Write(records)) << writer.Error();
    }

    TempDir dir;
    std::string path = dir.file("history.sqlite");
};

} // namespace

TEST(HistoryStoreKey, OneSiteWhateverTheSpelling)
{
    const struct
    {
        const char* url;
        const char* key;
    } cases[] = {
        {"http://shop.test/", "http://shop.test/"},
        {"  HTTP://Shop.TEST:80/  ", "http://shop.test/"},
        {"shop.test", "http://shop.test/"},
        {"https://shop.test:443/a?B=1#top", "https://shop.test/a?B=1"},
        {"http://shop.test:8080/Path", "http://shop.test:8080/Path"},
        {"ftp://shop.test/", "http://ftp://shop.test/"}, // as the fetcher would read it
    };
    for (const auto& c : cases)
        EXPECT_EQ(HistoryStore::SiteKey(c.url), c.key) << c.url;
}

TEST_F(HistoryStoreTest, UptimeOutagesAndBucketsFromKnownChecks)
{
    // Every 5 minutes from kT0: down at 20 and 25 (refused), up at 30, down
    // from 50 on and still down at 60. Another site's checks must not count.
    std::vector<CheckRecord> checks;
    for (int minute = 0; minute <= 60; minute += 5) {
        const bool ok = (minute < 20 || minute >= 30) && minute < 50;
        checks.push_back(Check(kT0 + minute * 60, ok,
                               ok            ? ""
                               : minute < 50 ? "refused"
                                             : "503",
                               minute * 10));
        checks.push_back(Check(kT0 + minute * 60, false, "x", 1, "http://other.test/"));
    }
    Write(checks);

    HistoryStore store(path);
    ASSERT_TRUE(store.OpenForReading()) << store.Error();
    const struct
    {
        std::time_t from, to;
        long long checks, ok;
    } uptimes[] = {
        {kT0, kT0 + 3601, 13, 8},
        {kT0 + 20 * 60, kT0 + 30 * 60, 2, 0},
        {kT0 - kDay, kT0, 0, 0},
    };
    for (const auto& u : uptimes) {
        HistoryStore::Uptime uptime;
        ASSERT_TRUE(store.ReadUptime(kSite, u.from, u.to, uptime));
        EXPECT_EQ(uptime.checks, u.checks) << u.from - kT0;
        EXPECT_EQ(uptime.ok, u.ok) << u.from - kT0;
    }

    const struct
    {
        std::time_t from;
        std::vector<std::tuple<std::time_t, std::time_t, std::string>> outages;
    } spans[] = {
        {kT0, {{kT0 + 1200, kT0 + 1800, "refused"}, {kT0 + 3000, 0, "503"}}},
        // Reading from inside the first outage keeps its real start.
        {kT0 + 1500, {{kT0 + 1200, kT0 + 1800, "refused"}, {kT0 + 3000, 0, "503"}}},
        // One that ended at or before the start of the span is left out.
        {kT0 + 1800, {{kT0 + 3000, 0, "503"}}},
    };
    for (const auto& s : spans) {
        std::vector<HistoryStore::Outage> outages;
        ASSERT_TRUE(store.ReadOutages(kSite, s.from, kT0 + 3601, outages));
        ASSERT_EQ(outages.size(), s.outages.size()) << s.from - kT0;
        for (size_t i = 0; i < outages.size(); ++i) {
            EXPECT_EQ(outages[i].start, std::get<0>(s.outages[i]));
            EXPECT_EQ(outages[i].end, std::get<1>(s.outages[i]));
            EXPECT_EQ(outages[i].reason, std::get<2>(s.outages[i]));
        }
    }
    EXPECT_EQ((HistoryStore::Outage{kT0, kT0 + 5400, ""}.Length(0)), 5400);
    EXPECT_EQ((HistoryStore::Outage{kT0, 0, ""}.Length(kT0 + 60)), 60);

    // Half-hour buckets: the average is over OK checks only.
    std::vector<HistoryStore::Bucket> buckets;
    ASSERT_TRUE(store.ReadBuckets(kSite, kT0, kT0 + 3601, 1800, buckets));
    ASSERT_EQ(buckets.size(), 3u);
    EXPECT_EQ(buckets[0].checks, 6);
    EXPECT_EQ(buckets[0].failed, 2);
    EXPECT_EQ(buckets[0].averageMs, 75); // minutes 0, 5, 10, 15
    EXPECT_EQ(buckets[1].start, kT0 + 1800);
    EXPECT_EQ(buckets[1].failed, 2);
    EXPECT_EQ(buckets[2].averageMs, -1); // only the failed check at 60

    std::vector<HistoryStore::Outage> none;
    ASSERT_TRUE(store.ReadOutages("http://never.test/", kT0, kT0 + 3600, none));
    EXPECT_TRUE(none.empty());
}

TEST_F(HistoryStoreTest, TwoProcessesWritingAtOnceLoseNothing)
{
    // Both write the same sites at the same seconds, one pass at a time, as
    // the desktop program and a cron checker may.
    constexpr int kPasses = 40, kSites = 25;
    Write({});
    pid_t children[2];
    for (pid_t& child : children) {
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            HistoryStore store(path);
            bool ok = store.OpenForWriting();
            for (int pass = 0; ok && pass < kPasses; ++pass) {
                std::vector<CheckRecord> records;
                for (int site = 0; site < kSites; ++site)
                    records.push_back(Check(kT0 + pass * 300, true, "", 5,
                                            "http://s" + std::to_string(site) + ".test/"));
                ok = store.Write(records);
            }
            _exit(ok ? 0 : 1);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HistoryStore store(path);
    ASSERT_TRUE(store.OpenForReading());
    for (int site = 0; site < kSites; ++site) {
        HistoryStore::Uptime uptime;
        ASSERT_TRUE(store.ReadUptime("http://s" + std::to_string(site) + ".test/", kT0, kT0 + kDay,
                                     uptime));
        EXPECT_EQ(uptime.checks, 2 * kPasses) << site;
    }
}

TEST_F(HistoryStoreTest, DropsChecksOlderThanItsKeepOnceADay)
{
    const std::time_t now = kT0 + 500 * kDay;
    const std::time_t edge = now - HistoryStore::kKeepDays * kDay;
    Write({Check(edge - 1, true), Check(edge, true), Check(now, false)});
    HistoryStore store(path);
    ASSERT_TRUE(store.OpenForWriting());
    ASSERT_TRUE(store.PruneIfDue(now));
    HistoryStore::Uptime uptime;
    ASSERT_TRUE(store.ReadUptime(kSite, 0, now + 1, uptime));
    EXPECT_EQ(uptime.checks, 2);

    // Within the day nothing more goes; a day later it does.
    ASSERT_TRUE(store.PruneIfDue(now + kDay - 1));
    ASSERT_TRUE(store.ReadUptime(kSite, 0, now + 1, uptime));
    EXPECT_EQ(uptime.checks, 2);
    ASSERT_TRUE(store.PruneIfDue(now + kDay));
    ASSERT_TRUE(store.ReadUptime(kSite, 0, now + 1, uptime));
    EXPECT_EQ(uptime.checks, 1);
}
