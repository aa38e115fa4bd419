#include "monitor/SiteList.h"

#include "monitor/CheckPass.h"
#include "support/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

SiteEntry Entry(const std::string& url)
{
    SiteEntry e;
    e.field(SiteEntry::Url) = url;
    e.field(SiteEntry::Status) = "-";
    return e;
}

bool ByUrlDescending(const SiteEntry& l, const SiteEntry& r)
{
    return l.field(SiteEntry::Url) > r.field(SiteEntry::Url);
}

TEST(SiteList, RowsThatAreGoneReadEmptyAndTakeNoWrites)
{
    SiteList list;
    list.Append(Entry("a.test"));
    EXPECT_EQ(list.Text(0, SiteEntry::Url), "a.test");
    EXPECT_EQ(list.Text(1, SiteEntry::Url), "");
    EXPECT_EQ(list.Text(0, 6), "");
    EXPECT_FALSE(list.SetText(1, SiteEntry::Status, "OK"));
    EXPECT_FALSE(list.SetText(-1, SiteEntry::Status, "OK"));
    EXPECT_FALSE(list.SetMark(3, SiteEntry::kErrorMark));
    EXPECT_EQ(list.Mark(3), 0);
    EXPECT_FALSE(list.Row(1).has_value());
    EXPECT_EQ(list.IdAt(1), 0u);
    EXPECT_EQ(list.RowOf(0), -1);
    EXPECT_EQ(list.TextSize(1, SiteEntry::Url), 0u);
    EXPECT_EQ(list.RowCount(), 1);
}

TEST(SiteList, IdentitiesAreNeverReusedAndFollowTheirEntry)
{
    SiteList list;
    list.Append(Entry("a.test"));
    list.Append(Entry("b.test"));
    list.Append(Entry("c.test"));
    const EntryId a = list.IdAt(0), b = list.IdAt(1), c = list.IdAt(2);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(list.Sort(ByUrlDescending), (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(list.RowOf(a), 2);
    EXPECT_EQ(list.RowOf(c), 0);
    list.Remove(1);
    EXPECT_EQ(list.RowOf(b), -1);
    EXPECT_EQ(list.RowOf(a), 1);
    list.Append(Entry("b.test"));
    EXPECT_NE(list.IdAt(2), b);
    list.Assign({Entry("a.test")});
    EXPECT_EQ(list.RowOf(a), -1);
    EXPECT_NE(list.IdAt(0), a);
}

// What a Qt model over the list does: it keeps its own view of the rows,
// changes it from the structural notifications as they come (on the UI
// thread), and queues the field changes, which may come from a pass's
// thread, to handle them on the UI thread, where it finds the row by
// identity.
class ModelCopy : public SiteList::Observer
{
public:
    explicit ModelCopy(const SiteList& list) : m_list(list) { Reset(); }

    void RowsInserted(int first, int last) override
    {
        for (int r = first; r <= last; ++r)
            m_rows.insert(m_rows.begin() + r, {m_list.IdAt(r), *m_list.Row(r)});
    }
    void RowsRemoved(int first, int last) override
    {
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
    }
    void Sorted(const std::vector<int>& newRowOf) override
    {
        std::vector<std::pair<EntryId, SiteEntry>> next(m_rows.size());
        for (std::size_t old = 0; old < m_rows.size(); ++old)
            next[static_cast<size_t>(newRowOf[old])] = m_rows[old];
        m_rows = std::move(next);
    }
    void Reset() override
    {
        m_rows.clear();
        for (int r = 0; r < m_list.RowCount(); ++r)
            m_rows.push_back({m_list.IdAt(r), *m_list.Row(r)});
    }
    void EntryChanged(EntryId id, unsigned columns) override
    {
        std::lock_guard lock(m_mutex);
        m_queued.push_back({id, columns});
    }

    // The queued field changes, handled as the UI thread would.
    void HandleQueued()
    {
        std::vector<std::pair<EntryId, unsigned>> queued;
        {
            std::lock_guard lock(m_mutex);
            queued.swap(m_queued);
        }
        for (const auto& [id, columns] : queued) {
            const int row = m_list.RowOf(id);
            if (row < 0)
                continue; // removed since
            auto& mine = m_rows.at(static_cast<size_t>(row));
            ASSERT_EQ(mine.first, id);
            const SiteEntry now = *m_list.Row(row);
            for (int c = 0; c < SiteEntry::kColumnCount; ++c)
                if (columns & SiteList::ColumnBit(c))
                    mine.second.field(c) = now.field(c);
            if (columns & kMarkBit)
                mine.second.mark = now.mark;
        }
    }

    void ExpectSameAs(const SiteList& list) const
    {
        ASSERT_EQ(static_cast<int>(m_rows.size()), list.RowCount());
        for (int r = 0; r < list.RowCount(); ++r) {
            const auto& [id, entry] = m_rows[static_cast<size_t>(r)];
            EXPECT_TRUE(id == list.IdAt(r) && entry.fields == list.Row(r)->fields &&
                        entry.mark == list.Row(r)->mark)
                << "row " << r;
        }
    }

private:
    const SiteList& m_list;
    std::vector<std::pair<EntryId, SiteEntry>> m_rows;
    std::mutex m_mutex;
    std::vector<std::pair<EntryId, unsigned>> m_queued;
};

class NoAlerts : public AlertSink
{
public:
    void RaiseAlerts(const SiteAlert&) override {}
};

TEST(SiteList, NotificationsKeepAModelsCopyExact)
{
    ScriptedHttpServer server;
    server.SetDefault([](const std::string& request) {
        // Some pages hold the text, some do not: both outcomes and marks.
        const bool up = request.find("up") != std::string::npos;
        return ScriptedHttpServer::Bytes(
            ScriptedHttpServer::Response(200, "OK", {}, up ? "text" : "none"));
    });
    SiteList list;
    auto site = [&](int n) {
        SiteEntry e = Entry(server.url((n % 2 ? "/up" : "/down") + std::to_string(n)));
        e.field(SiteEntry::SearchText) = "text";
        return e;
    };
    for (int n = 0; n < 20; ++n)
        list.Append(site(n));
    ModelCopy copy(list);
    list.AddObserver(&copy);

    NoAlerts alerts;
    PassGate gate;
    CheckPass pass(list, nullptr, alerts, gate);
    std::atomic<bool> passEnded{false};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            pass.CheckSites();
        passEnded = true;
    });
    // The UI thread's share, while the passes run.
    for (int n = 20; !passEnded || n < 40; ++n) {
        switch (n % 4) {
        case 0:
            list.Append(site(n));
            break;
        case 1:
            list.Remove(n % list.RowCount());
            break;
        case 2:
            list.Sort(ByUrlDescending);
            break;
        case 3:
            list.SetText(n % list.RowCount(), SiteEntry::EmailAddress, "a@b.test");
            list.Append(site(n));
            break;
        }
        copy.HandleQueued();
        std::this_thread::yield();
    }
    worker.join();
    copy.HandleQueued();
    copy.ExpectSameAs(list);
    list.Clear();
    copy.ExpectSameAs(list);
    list.RemoveObserver(&copy);
}

TEST(SiteList, RemovingAnObserverWaitsForItsRunningCallback)
{
    struct Blocking : SiteList::Observer
    {
        std::mutex m;
        std::condition_variable cv;
        bool inside = false, release = false;
        std::atomic<bool> removed{false};
        bool removedWhileInside = false;
        int calls = 0;
        void EntryChanged(EntryId, unsigned) override
        {
            std::unique_lock lock(m);
            ++calls;
            inside = true;
            cv.notify_all();
            cv.wait(lock, [&] { return release; });
            removedWhileInside = removed;
        }
    } observer;
    SiteList list;
    list.Append(Entry("a.test"));
    list.AddObserver(&observer);
    std::thread writer([&] { list.SetText(0, SiteEntry::Status, "OK"); });
    {
        std::unique_lock lock(observer.m);
        observer.cv.wait(lock, [&] { return observer.inside; });
    }
    std::thread remover([&] {
        list.RemoveObserver(&observer);
        observer.removed = true;
    });
    // Give the remover its chance to return too early, then let the
    // callback end.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard lock(observer.m);
        observer.release = true;
        observer.cv.notify_all();
    }
    writer.join();
    remover.join();
    EXPECT_FALSE(observer.removedWhileInside);
    list.SetText(0, SiteEntry::Status, "ERROR");
    EXPECT_EQ(observer.calls, 1);
}

TEST(SiteList, WritersAndARemoverOnOtherThreadsNeverTearARow)
{
    SiteList list;
    for (int i = 0; i < 200; ++i)
        list.Append(Entry("site" + std::to_string(i)));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop; ++round)
            for (int i = 0; i < list.RowCount(); ++i)
                list.SetText(i, SiteEntry::Status, round % 2 ? "OK" : "ERROR");
    });
    while (list.RowCount() > 0)
        list.Remove(0);
    stop = true;
    writer.join();
    EXPECT_EQ(list.RowCount(), 0);
}

// A save copies the list while a pass writes outcomes and the user sorts:
// the copy must be the list as it stood at one moment, not rows taken at
// different times. Row a is always written before row b, so at any moment
// a's count is b's or one more; and at any moment the rows are in one order.
TEST(SiteList, ASnapshotIsTheListAtOneMoment)
{
    SiteList list;
    for (int i = 0; i < 40; ++i) {
        SiteEntry e = Entry("site" + std::to_string(10 + i));
        e.field(SiteEntry::LastResponse) = std::string(50000, 'p');
        list.Append(std::move(e));
    }
    const EntryId a = list.IdAt(7);
    const EntryId b = list.IdAt(31);
    const auto count = [](int n) {
        return [n](SiteEntry& e) {
            e.field(SiteEntry::Status) = std::to_string(n);
            return SiteList::ColumnBit(SiteEntry::Status);
        };
    };
    list.UpdateEntry(a, count(0));
    list.UpdateEntry(b, count(0));

    std::atomic<bool> done{false};
    std::thread pass([&] {
        for (int n = 1; !done; ++n) {
            list.UpdateEntry(a, count(n));
            list.UpdateEntry(b, count(n));
        }
    });
    std::thread user([&] {
        for (bool up = true; !done; up = !up)
            list.Sort([up](const SiteEntry& l, const SiteEntry& r) {
                return up ? l.field(SiteEntry::Url) < r.field(SiteEntry::Url)
                          : ByUrlDescending(l, r);
            });
    });
    const std::string urlA = "site17", urlB = "site41";
    int mixedOrders = 0, torn = 0;
    for (int copy = 0; copy < 50; ++copy) {
        const std::vector<SiteEntry> rows = list.Snapshot();
        ASSERT_EQ(rows.size(), 40u);
        bool up = true, down = true;
        long countA = -1, countB = -1;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string& url = rows[i].field(SiteEntry::Url);
            if (i > 0) {
                up = up && rows[i - 1].field(SiteEntry::Url) < url;
                down = down && rows[i - 1].field(SiteEntry::Url) > url;
            }
            if (url == urlA)
                countA = std::stol(rows[i].field(SiteEntry::Status));
            if (url == urlB)
                countB = std::stol(rows[i].field(SiteEntry::Status));
        }
        mixedOrders += !(up || down);
        torn += !(countA == countB || countA == countB + 1);
    }
    done = true;
    pass.join();
    user.join();
    EXPECT_EQ(mixedOrders, 0);
    EXPECT_EQ(torn, 0);
}

} // namespace
