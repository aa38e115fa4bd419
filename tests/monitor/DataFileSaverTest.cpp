#include "monitor/DataFileSaver.h"

#include "monitor/DataFile.h"
#include "monitor/SiteList.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>

namespace {

SiteEntry Entry(const std::string& url, const std::string& status, std::size_t pageBytes)
{
    SiteEntry e;
    e.field(SiteEntry::Url) = url;
    e.field(SiteEntry::Status) = status;
    e.field(SiteEntry::LastResponse) = std::string(pageBytes, 'p');
    return e;
}

// The version a saved file holds: the Status line of its first entry.
int VersionIn(const std::string& bytes)
{
    const std::size_t first = bytes.find("\r\n");
    if (first == std::string::npos)
        return 0;
    return std::atoi(bytes.c_str() + first + 2);
}

TEST(DataFileSaver, SavesKeepTheirOrderAndTheNewestWins)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    SiteList list;
    list.Append(Entry("http://a.test/", "1", 1 << 20));
    DataFileSaver saver(path);

    // A reader that sees the versions as the writer replaces the file: an
    // older list must never come after a newer one.
    std::atomic<bool> done{false};
    std::atomic<int> wentBack{0};
    std::thread reader([&] {
        int last = 0;
        while (!done) {
            const int now = VersionIn(TempDir::ReadFile(path));
            if (now != 0 && now < last)
                ++wentBack;
            last = std::max(last, now);
        }
    });
    for (int v = 1; v <= 40; ++v) {
        list.SetText(0, SiteEntry::Status, std::to_string(v));
        saver.Save(list);
    }
    EXPECT_TRUE(saver.Flush());
    done = true;
    reader.join();
    EXPECT_EQ(wentBack, 0);
    EXPECT_EQ(VersionIn(TempDir::ReadFile(path)), 40);
}

TEST(DataFileSaver, FlushTellsAFailedSave)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    TempDir::WriteFile(path, "kept");
    chmod(path.c_str(), 0444);
    SiteList list;
    list.Append(Entry("http://a.test/", "OK", 10));
    DataFileSaver saver(path);
    testing::internal::CaptureStderr();
    saver.Save(list);
    EXPECT_FALSE(saver.Flush());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(TempDir::ReadFile(path), "kept");
}

TEST(DataFileSaverDeathTest, ASaveUnderWayIsFinishedBeforeANormalEnd)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    // Large enough that the writer is still at it when exit is called.
    EXPECT_EXIT(
        {
            SiteList list;
            for (int i = 0; i < 200; ++i)
                list.Append(Entry("http://s" + std::to_string(i) + ".test/", "OK", 100000));
            auto* saver = new DataFileSaver(path); // never destroyed, as a window's member
            saver->Save(list);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    SiteList loaded;
    ASSERT_TRUE(DataFile::LoadSites(loaded, path));
    EXPECT_EQ(loaded.RowCount(), 200);
}

} // namespace
