#include "monitor/SiteList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

SiteEntry Entry(const std::string& url)
{
    SiteEntry e;
    e.field(SiteEntry::Url) = url;
    return e;
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
    EXPECT_EQ(list.RowCount(), 1);
}

TEST(SiteList, ObserverHearsEveryChange)
{
    struct Recorder : SiteList::Observer
    {
        int fields = 0, marks = 0, rows = 0;
        void FieldChanged(int, int) override { ++fields; }
        void MarkChanged(int) override { ++marks; }
        void RowsChanged() override { ++rows; }
    } rec;
    SiteList list;
    list.SetObserver(&rec);
    list.Append(Entry("b.test"));
    list.Append(Entry("a.test"));
    list.SetText(0, SiteEntry::Status, "OK");
    list.SetMark(0, 101);
    list.Sort([](const SiteEntry& l, const SiteEntry& r) {
        return l.field(SiteEntry::Url) < r.field(SiteEntry::Url);
    });
    list.Remove(0);
    EXPECT_EQ(list.Text(0, SiteEntry::Url), "b.test");
    EXPECT_EQ(list.Text(0, SiteEntry::Status), "OK");
    EXPECT_EQ(list.Mark(0), 101);
    EXPECT_EQ(rec.fields, 1);
    EXPECT_EQ(rec.marks, 1);
    EXPECT_EQ(rec.rows, 4);
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

} // namespace
